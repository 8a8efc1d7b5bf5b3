/*
 * Kestrix: an image engine that resizes, frames and labels picture files.
 *
 * Formats: every method reads a picture file in JPEG, PNG, GIF, BMP,
 * HEIF/HEIC, AVIF, WebP or TIFF, told by the file's content, never by its
 * name. It works on the picture and writes the result as a JPEG file, or as
 * PNG, WebP or AVIF after cKestrix_SetOutputFormat; the output's name is not
 * looked at. A file already at the output's path is replaced only by a
 * complete new file.
 * Methods return KESTRIX_TRUE (-1) on success and KESTRIX_FALSE (0) on
 * failure; cKestrix_ErrorCode then says why. Paths and texts are UTF-8.
 *
 * State: an object holds settings (resample filter, proportions, output
 * format, decoration quality, orientation and metadata handling), set by the
 * cKestrix_Set... functions below; a new object has the defaults. Methods
 * only read them and keep nothing else between calls.
 *
 * Threads: any number of threads may call methods at the same time, on one
 * object or on several, as long as no thread changes an object's settings
 * while another uses it: set them first, then share the object. The result
 * code (cKestrix_ErrorCode), Kestrix_LastErrorText and
 * Kestrix_LastWarningText belong to the calling thread and are shared by
 * all objects used on it: read them before the next call on that thread.
 * Kestrix_SetReportHandler may be called from any thread at any time.
 *
 * Arguments outside the usual:
 * - A NULL object is taken as a fresh object with the default settings:
 *   methods work, and cKestrix_ErrorCode(NULL) reads the thread's code.
 * - A TEXT_POSITION outside KESTRIX_TOP_LEFT..KESTRIX_BOTTOM_RIGHT places the
 *   text with top 0 and left 0, that is two rows higher and two columns
 *   further left than KESTRIX_TOP_LEFT; its top two rows fall outside the
 *   picture. The call succeeds.
 * - A quality outside 1 to 100 (other than KESTRIX_DEFAULT_QUALITY) writes
 *   nothing and fails with KESTRIX_OUTPUT_NOT_WRITTEN.
 */
#ifndef KESTRIX_H
#define KESTRIX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KESTRIX_API __attribute__((visibility("default")))
#else
#define KESTRIX_API
#endif

/* Booleans at this interface. */
typedef int32_t KestrixBool;
#define KESTRIX_TRUE (-1)
#define KESTRIX_FALSE 0

/* Pass as lngQuality to use the default quality, 90. Any other value is
 * handed to the encoder unchanged: 1 (smallest) to 100 (best); values
 * outside that range fail with error code 2 and write nothing. */
#define KESTRIX_DEFAULT_QUALITY INT32_MIN

/* The largest picture the engine makes or reads: at most this many pixels
 * wide and high, and at most KESTRIX_MAX_PIXELS pixels in all (the 24-bit
 * rows, each padded to 4 bytes, fit in 2^31 - 1 bytes). */
#define KESTRIX_MAX_SIDE 65535
#define KESTRIX_MAX_PIXELS 715827882

/* Values of cKestrix_ErrorCode. */
enum {
    KESTRIX_OK = 0,                 /* no failure recorded */
    KESTRIX_INPUT_NOT_LOADED = 1,   /* the input picture was not loaded */
    KESTRIX_OUTPUT_NOT_WRITTEN = 2, /* the output file was not written */
    KESTRIX_BAD_WIDTH = 3,          /* width 0 or negative */
    KESTRIX_BAD_HEIGHT = 4,         /* height 0 or negative */
    KESTRIX_BAD_PERCENTAGE = 5,     /* percentage 0 or negative */
    KESTRIX_UNEXPECTED_ERROR = 6,   /* an unexpected error, already reported */
    KESTRIX_RESAMPLE_FAILED = 7     /* the resampling step failed */
};

/* The nine standard places for a text on a picture. The names without the
 * KESTRIX_ prefix are the same values, kept for existing programs. */
typedef enum TEXT_POSITION {
    KESTRIX_TOP_LEFT = 0,
    KESTRIX_TOP_CENTRE = 1,
    KESTRIX_TOP_RIGHT = 2,
    KESTRIX_MIDDLE_LEFT = 3,
    KESTRIX_MIDDLE_CENTRE = 4,
    KESTRIX_MIDDLE_RIGHT = 5,
    KESTRIX_BOTTOM_LEFT = 6,
    KESTRIX_BOTTOM_CENTRE = 7,
    KESTRIX_BOTTOM_RIGHT = 8,
    TopLeft = KESTRIX_TOP_LEFT,
    TopCentre = KESTRIX_TOP_CENTRE,
    TopRight = KESTRIX_TOP_RIGHT,
    MiddleLeft = KESTRIX_MIDDLE_LEFT,
    MiddleCentre = KESTRIX_MIDDLE_CENTRE,
    MiddleRight = KESTRIX_MIDDLE_RIGHT,
    BottomLeft = KESTRIX_BOTTOM_LEFT,
    BottomCentre = KESTRIX_BOTTOM_CENTRE,
    BottomRight = KESTRIX_BOTTOM_RIGHT
} TEXT_POSITION;

/* A font: family name (UTF-8, for example "DejaVu Sans" or "Sans"), size in
 * points (fractional; 96 pixels to the inch), style flags (KestrixBool) and
 * character set (0 to 255). */
typedef struct KestrixFont {
    const char* Name;
    double Size;
    KestrixBool Bold;
    KestrixBool Italic;
    KestrixBool Underline;
    KestrixBool Strikethrough;
    int16_t Charset;
} KestrixFont;

/* The engine object. */
typedef struct cKestrix cKestrix;

/* Creates an engine object; NULL only when memory is exhausted. */
KESTRIX_API cKestrix* cKestrix_Create(void);
/* Releases an object made by cKestrix_Create; NULL is ignored. */
KESTRIX_API void cKestrix_Release(cKestrix* object);

/* Settings of an object, for all its later methods (NULL is ignored).
 *
 * Orientation: a camera or phone often stores a picture on its side with an
 * EXIF orientation tag (1 to 8) that viewers follow. With bAutoOrient
 * KESTRIX_TRUE (the default) every method works on the picture as it is
 * meant to be seen: it is turned and/or mirrored upright, sizes and text
 * places refer to the upright picture, and the output needs no tag. With
 * KESTRIX_FALSE the pixels are used as stored and the tag is written into
 * the output, so that viewers still turn it.
 *
 * Metadata: by default an output carries the input's RGB ICC colour profile
 * and nothing else of it (no camera data, no GPS position). With
 * bKeepMetadata KESTRIX_TRUE the input's EXIF record (its orientation
 * brought in line with the output's pixels, its preview picture removed,
 * its pixel dimensions set to the output's) and XMP packet are written too. */
KESTRIX_API void cKestrix_SetAutoOrient(cKestrix* object, KestrixBool bAutoOrient);
KESTRIX_API void cKestrix_SetKeepMetadata(cKestrix* object, KestrixBool bKeepMetadata);

/* Colour: by default CMYK and YCCK JPEG and CMYK TIFF pictures are turned
 * into RGB by the classic rule (each ink times black), ignoring their
 * profile; Lab TIFFs go through libtiff's own Lab conversion and a JPEG with
 * a Lab profile is read as if its samples were RGB. With bColourManage
 * KESTRIX_TRUE they go to sRGB through their embedded CMYK or Lab ICC profile
 * (lcms2, perceptual intent), or through a standard one when they carry none
 * (Ghostscript's default CMYK, or CIE Lab relative to D50; without the CMYK
 * one, the classic rule); the output then carries no profile, meaning sRGB. */
KESTRIX_API void cKestrix_SetColourManagement(cKestrix* object, KestrixBool bColourManage);

/* sRGB output: with KESTRIX_SRGB_KEEP (the default) an RGB picture keeps its
 * profile (Display P3, Adobe RGB, ...). With KESTRIX_SRGB_PLAIN its pixels are
 * converted to sRGB (lcms2, perceptual intent) and the output carries no
 * profile, which every viewer and browser takes as sRGB; with
 * KESTRIX_SRGB_PROFILE they are converted and lcms2's compact sRGB profile
 * is embedded. A picture without a profile is left as it is. False for
 * another value, the setting unchanged. */
enum KestrixSrgb { KESTRIX_SRGB_KEEP = 0, KESTRIX_SRGB_PLAIN = 1, KESTRIX_SRGB_PROFILE = 2 };
KESTRIX_API KestrixBool cKestrix_SetSrgbOutput(cKestrix* object, int32_t srgb);

/* Resizes to exactly Width x Height pixels (the proportions are not kept). */
KESTRIX_API KestrixBool cKestrix_ImageResize(cKestrix* object, const char* InImage, const char* OutImage,
                                             int32_t Height, int32_t Width, int32_t lngQuality);
/* Resizes to Percentage percent of the picture's width and height. */
KESTRIX_API KestrixBool cKestrix_ImagePercentageResize(cKestrix* object, const char* InImage,
                                                       const char* OutImage, int32_t Percentage,
                                                       int32_t lngQuality);
/* Resizes to exactly Width pixels wide; the height follows in proportion,
 * to the nearest whole percent of the change. Enlarges narrower pictures. */
KESTRIX_API KestrixBool cKestrix_ImageResizeMaxWidth(cKestrix* object, const char* InImage,
                                                     const char* OutImage, int32_t Width, int32_t lngQuality);
/* Resizes to exactly Height pixels high; the width follows in proportion. */
KESTRIX_API KestrixBool cKestrix_ImageResizeMaxHeight(cKestrix* object, const char* InImage,
                                                      const char* OutImage, int32_t Height,
                                                      int32_t lngQuality);
/* Fits the picture within Height x Width keeping its proportions; never
 * enlarges (a picture that fits is re-encoded at its own size). */
KESTRIX_API KestrixBool cKestrix_ImageResizeWithinDimensions(cKestrix* object, const char* InImage,
                                                             const char* OutImage, int32_t Height,
                                                             int32_t Width, int32_t lngQuality);
/* Covers a Width x Height box keeping the picture's true proportions (the
 * side that needs the larger scale exactly on the box, enlarging if need
 * be), then keeps exactly the middle Width x Height (or the part that
 * cKestrix_SetFillPlace names): the thumbnail crop.
 * Uses the object's resample filter; ignores its proportion setting. */
KESTRIX_API KestrixBool cKestrix_ImageResizeToFill(cKestrix* object, const char* InImage,
                                                   const char* OutImage, int32_t Height, int32_t Width,
                                                   int32_t lngQuality);
/* Adds borders of the given sizes in pixels, in one colour 0x00BBGGRR (red
 * in the low byte); written at quality 100 (see
 * cKestrix_SetDecorationQuality). Negative sizes crop. */
KESTRIX_API KestrixBool cKestrix_AddBorderToExistingImage(cKestrix* object, const char* InImage,
                                                          const char* OutImage, int32_t lngBorderColour,
                                                          int16_t intBorderTopSize,
                                                          int16_t intBorderBottomSize,
                                                          int16_t intBorderLeftSize,
                                                          int16_t intBorderRightSize);
/* Draws strText (lines separated by "\n"; "&" underlines the next character,
 * "&&" draws one "&") in the font and colour 0x00BBGGRR with its top-left at
 * (intLeftPos, intTopPos - 2) pixels; written at quality 100. */
KESTRIX_API KestrixBool cKestrix_AddTextToImage(cKestrix* object, const char* InImage, const char* OutImage,
                                                const char* strText, const KestrixFont* fontStdFnt,
                                                int32_t lngColour, int16_t intTopPos, int16_t intLeftPos);
/* Draws strText at one of the nine standard places, 2 pixels from the edges;
 * written at quality 100. */
KESTRIX_API KestrixBool cKestrix_AddTextToImageUsingSpecifiedPosition(
    cKestrix* object, const char* InImage, const char* OutImage, const char* strText,
    const KestrixFont* fontStdFnt, int32_t lngColour, TEXT_POSITION txtPos);

/* Settings of an object. A new object has the classic ones: the exact
 * sampler and whole-percent proportions, whose output bytes never change.
 * Each setter returns KESTRIX_FALSE (changing nothing) for a NULL object or
 * an unknown value, else KESTRIX_TRUE. Setters do not touch the result code.
 * Set them before sharing the object between threads. */

/* How pixels are resampled by the resize methods. */
#define KESTRIX_FILTER_EXACT                                                                                 \
    0 /* default: two-pass bilinear, 2 x 2 pixels
                                    read per output pixel, bit-exact */
#define KESTRIX_FILTER_LANCZOS                                                                               \
    1 /* antialiased Lanczos-3: on reduction the
                                    kernel widens with the reduction so every
                                    pixel counts (no grit or jagged edges);
                                    plain Lanczos-3 on enlargement. A JPEG
                                    input at least twice the target decodes
                                    at 1/2, 1/4 or 1/8 scale first, keeping
                                    twice the target's pixels. Deterministic:
                                    the same bytes on any machine. */
KESTRIX_API KestrixBool cKestrix_SetResampleFilter(cKestrix* object, int32_t filter);

/* KESTRIX_TRUE: sizes keep the picture's true proportions. Scale to width
 * gives height round(h0 * Width / w0) (never 0), scale to height the mirror,
 * fit within scales by min(Width / w0, Height / h0) with the binding side
 * exactly on its target, in one decode and one encode (a picture that fits
 * is re-encoded at its own size); a percentage never gives a 0 side; a
 * missing or unreadable input fails with KESTRIX_INPUT_NOT_LOADED.
 * KESTRIX_FALSE (default): the height or width follows the whole percentage
 * of the change, and fit within works in passes. */
KESTRIX_API KestrixBool cKestrix_SetTrueProportions(cKestrix* object, KestrixBool on);

/* Output formats for cKestrix_SetOutputFormat. The quality argument of the
 * methods (1 to 100, default 90; borders, texts and the steps of a fit use
 * 100) means, for each:
 *   KESTRIX_FORMAT_JPEG: the JPEG quality (libjpeg's scale), 4:2:0 (see
 *                        cKestrix_SetJpegCoding for 4:4:4).
 *   KESTRIX_FORMAT_PNG:  nothing; PNG is lossless (24-bit RGB).
 *   KESTRIX_FORMAT_WEBP: libwebp's lossy quality factor, the same number
 *                        (4:2:0; 100 is the best lossy quality).
 *   KESTRIX_FORMAT_AVIF: the AV1 encoder's lossy quality through libheif, the
 *                        same number (4:2:0; 100 is the best lossy quality).
 * A quality outside 1 to 100 fails with error code 2 in every format. The
 * input picture's ICC colour profile is embedded in every format. */
typedef enum KestrixFormat {
    KESTRIX_FORMAT_JPEG = 0,
    KESTRIX_FORMAT_PNG = 1,
    KESTRIX_FORMAT_WEBP = 2,
    KESTRIX_FORMAT_AVIF = 3
} KestrixFormat;

/* Makes every later method of `object` write `format` (the file's name is
 * not looked at: "out.jpg" then holds a WebP picture, say). A fresh object
 * writes JPEG. Returns KESTRIX_FALSE, changing nothing, for a NULL object or
 * a value that is not a KestrixFormat. Not to be called while another thread
 * runs a method of the same object. */
KESTRIX_API KestrixBool cKestrix_SetOutputFormat(cKestrix* object, int32_t format);

/* How JPEG outputs are coded, for cKestrix_SetJpegCoding.
 * KESTRIX_JPEG_CLASSIC (the default): 4:2:0 chroma and the standard Huffman
 *   tables at every quality; the bytes never change.
 * KESTRIX_JPEG_MODERN: no chroma subsampling (4:4:4) from quality 90 up,
 *   4:2:0 below; Huffman tables optimised for each picture (smaller files,
 *   the same pixels) and the accurate DCT at every quality. The same bytes
 *   on any machine. */
#define KESTRIX_JPEG_CLASSIC 0
#define KESTRIX_JPEG_MODERN 1
/* Sets how the object's methods code JPEG outputs (the tool's modern mode
 * uses KESTRIX_JPEG_MODERN). Other output formats are not affected. */
KESTRIX_API KestrixBool cKestrix_SetJpegCoding(cKestrix* object, int32_t coding);

/* The quality at which cKestrix_AddBorderToExistingImage and the two text
 * methods write, in the object's output format, 1 to 100;
 * KESTRIX_DEFAULT_QUALITY restores the default, 100. KESTRIX_FALSE, changing
 * nothing, for any other value or a NULL object. */
KESTRIX_API KestrixBool cKestrix_SetDecorationQuality(cKestrix* object, int32_t lngQuality);

/* The most memory, in bytes, that the pictures being worked on may take
 * together in this process: the limit is for the whole process, shared by
 * every object and every thread, not a setting of one object. Before a
 * picture is decoded, the memory it needs (its pixels and the decoding
 * library's buffers) is counted against the limit. A picture that does not
 * fit beside those of other threads waits until they are done; one that
 * alone needs more is refused with KESTRIX_INPUT_NOT_LOADED and a reason
 * such as "this picture needs 4.1 GB, more than the 1 GB memory limit"
 * (Kestrix_LastErrorText). 0 restores the default: 1 GiB, or a quarter of
 * the machine's memory where that is less. KESTRIX_FALSE, changing nothing,
 * for a negative value. May be called at any time from any thread; a
 * larger limit lets waiting pictures start. */
KESTRIX_API KestrixBool cKestrix_SetMemoryLimit(int64_t bytes);

/* The part of the covering picture that cKestrix_ImageResizeToFill keeps, as
 * a TEXT_POSITION: TopLeft keeps the top-left corner, TopCentre the middle
 * of the top edge, ..., MiddleCentre (the default) the middle. KESTRIX_FALSE,
 * changing nothing, for any other value or a NULL object. */
KESTRIX_API KestrixBool cKestrix_SetFillPlace(cKestrix* object, int32_t place);

/* Pictures in memory: the resize methods from bytes to bytes.
 *
 * Methods for cKestrix_ResizeBuffer; each works as the file method named. */
typedef enum KestrixMethod {
    KESTRIX_METHOD_RESIZE = 0,     /* exactly Width x Height: cKestrix_ImageResize */
    KESTRIX_METHOD_MAX_WIDTH = 1,  /* Width wide (Height unused): cKestrix_ImageResizeMaxWidth */
    KESTRIX_METHOD_MAX_HEIGHT = 2, /* Height high (Width unused): cKestrix_ImageResizeMaxHeight */
    KESTRIX_METHOD_FIT = 3,        /* within Width x Height: cKestrix_ImageResizeWithinDimensions */
    KESTRIX_METHOD_FILL = 4,       /* cover and crop: cKestrix_ImageResizeToFill */
    KESTRIX_METHOD_PERCENT = 5     /* Width is the percentage (Height unused):
                                      cKestrix_ImagePercentageResize */
} KestrixMethod;

/* Resizes the picture held in the inputSize bytes at `input` (any format the
 * file methods read) by `method`, and hands the output picture back as bytes
 * in the object's output format: *output points to *outputSize bytes that
 * the caller releases with cKestrix_FreeBuffer. Nothing touches the disk.
 *
 * Everything else is as for the file method: the object's settings (format,
 * filter, proportions, JPEG coding, orientation, metadata), the sizes and
 * quality (KESTRIX_DEFAULT_QUALITY for 90), the memory limit and the largest
 * picture, the result code, Kestrix_LastErrorText and
 * Kestrix_LastWarningText; the output bytes are those the file method writes.
 * Sizes come width first here. `input` is only read, and may be released as
 * soon as the call returns.
 *
 * On failure *output is NULL and *outputSize 0. An unknown method, a NULL
 * output or outputSize, or a NULL input with inputSize above 0 fail with
 * KESTRIX_UNEXPECTED_ERROR (nothing reported); an input of more than 1 GiB
 * fails with KESTRIX_INPUT_NOT_LOADED. The input is copied into an anonymous
 * memory file, so the call needs memory for that copy and one file
 * descriptor, a pipe and a thread while it runs. */
KESTRIX_API KestrixBool cKestrix_ResizeBuffer(cKestrix* object, int32_t method, const void* input,
                                              size_t inputSize, int32_t Width, int32_t Height,
                                              int32_t lngQuality, void** output, size_t* outputSize);

/* Releases an output of cKestrix_ResizeBuffer; NULL is ignored. */
KESTRIX_API void cKestrix_FreeBuffer(void* buffer);

/* Formats told by Kestrix_ProbePicture. */
enum {
    KESTRIX_PICTURE_PNG = 1,
    KESTRIX_PICTURE_GIF = 2,
    KESTRIX_PICTURE_JPEG = 3,
    KESTRIX_PICTURE_BMP = 4,
    KESTRIX_PICTURE_HEIF = 5, /* HEIF with HEVC: .heic, .heif */
    KESTRIX_PICTURE_AVIF = 6,
    KESTRIX_PICTURE_WEBP = 7,
    KESTRIX_PICTURE_TIFF = 8
};

/* Reads the size and format of the picture file at `path` from its header,
 * without decoding it: *width and *height in pixels as the picture is seen
 * (turned upright by its orientation tag), *format a KESTRIX_PICTURE_ value.
 * Any of the three may be NULL. A missing, unreadable or unrecognised file
 * gives KESTRIX_FALSE with 0 in all three, result code
 * KESTRIX_INPUT_NOT_LOADED and a reason ("no such file or folder", "not a
 * picture the engine reads"). A recognised header does not promise that the
 * picture decodes. */
KESTRIX_API KestrixBool Kestrix_ProbePicture(const char* path, int32_t* width, int32_t* height,
                                             int32_t* format);

/* With KESTRIX_TRUE, the resizing methods keep the transparency of PNG,
 * WebP, HEIF/AVIF, TIFF and GIF pictures (an alpha channel or a transparent
 * colour) in PNG, WebP and AVIF outputs, when the object resamples with
 * KESTRIX_FILTER_LANCZOS: the filter works on colour premultiplied by alpha,
 * so edges get no dark fringe. JPEG outputs are flattened onto white, as
 * with KESTRIX_FALSE (the default), which flattens every picture onto white
 * as it is read. KESTRIX_FALSE for a NULL object. */
KESTRIX_API KestrixBool cKestrix_SetKeepAlpha(cKestrix* object, KestrixBool on);

/* With alpha kept (cKestrix_SetKeepAlpha), flattens pictures with
 * transparency onto this colour code (0x00BBGGRR, as the border colour)
 * after resampling, in every output format; -1 (the default) keeps the
 * transparency. KESTRIX_FALSE, changing nothing, for a NULL object or a
 * value outside -1 to 0xFFFFFF. */
KESTRIX_API KestrixBool cKestrix_SetBackground(cKestrix* object, int32_t colour);

/* Why the last method called on this thread failed (KESTRIX_OK after a
 * success). */
KESTRIX_API int32_t cKestrix_ErrorCode(const cKestrix* object);

/* Why the last method called on this thread failed, in words for the user:
 * "no such file or folder", "the JPEG decoder says: ...", "the picture is
 * 70000 x 10 pixels; ...", "permission denied", "disk full", ... Empty after
 * a success. The text belongs to the calling thread and stays valid until
 * its next call of a method; never NULL. */
KESTRIX_API const char* Kestrix_LastErrorText(void);

/* What the decoder noted about an input that the last method called on this
 * thread still used, for example "Premature end of JPEG file" for a
 * truncated JPEG (drawn as far as its data goes, the rest grey): UTF-8
 * lines ending in "\n", or "" when nothing was noted. Valid until the next
 * method call on this thread. */
KESTRIX_API const char* Kestrix_LastWarningText(void);

/* Receives the text of an unexpected error's report ("Error in : ...", CR LF,
 * "Error Number : ...", CR LF, "Error Desc : ..."). The engine waits until
 * the handler returns; reports from several threads come one at a time.
 * Without a handler the text goes to standard error. NULL removes it. */
typedef void (*KestrixReportHandler)(const char* text, void* user);
KESTRIX_API void Kestrix_SetReportHandler(KestrixReportHandler handler, void* user);

/* The library's version, "major.minor.patch". */
KESTRIX_API const char* Kestrix_Version(void);

#ifdef __cplusplus
}
#endif

#endif /* KESTRIX_H */
