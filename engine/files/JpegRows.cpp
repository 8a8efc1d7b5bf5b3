// JPEG rows for the streaming path: libjpeg reads the file through a small
// buffer and hands over scanlines, scaled down by the decoder itself as the
// whole-picture decoder scales them (ShrinkOnLoad.h). libjpeg reports errors
// by longjmp, so its calls run in the Guarded* functions below, which hold
// no object with a destructor.
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "engine/files/ColourManagement.h"
#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/JpegSegments.h"
#include "engine/files/MetadataTransfer.h"
#include "engine/files/PictureFile.h"
#include "engine/files/PictureLoader.h"
#include "engine/files/RowSources.h"

namespace kx {

namespace {

// As the whole-picture decoder: at most 2048 pixels per byte of file.
constexpr int64_t kJpegMaxPixelsPerByte = 2048;
// The segments before the frame header: an ICC profile takes up to 255 of
// 64 KB.
constexpr size_t kMaxSegmentBytes = size_t{24} << 20;
constexpr size_t kReadBufferBytes = size_t{64} << 10;
constexpr int kStripRows = 16;

struct FileSource {
    jpeg_source_mgr manager;
    int fd;
    int64_t offset;
    uint8_t* buffer;
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// The file's next bytes; at its end a warning and an end-of-image marker, as
// libjpeg's own sources do, so that what was decoded is kept.
boolean FillInput(j_decompress_ptr info)
{
    auto* source = reinterpret_cast<FileSource*>(info->src);
    int64_t got = ReadAt(source->fd, source->buffer, kReadBufferBytes, source->offset);
    if (got <= 0) {
        WARNMS(info, JWRN_JPEG_EOF);
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        got = 2;
    } else {
        source->offset += got;
    }
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = static_cast<size_t>(got);
    return TRUE;
}

void SkipInput(j_decompress_ptr info, long count)
{
    auto* source = reinterpret_cast<FileSource*>(info->src);
    if (count <= 0) return;
    if (static_cast<size_t>(count) <= source->manager.bytes_in_buffer) {
        source->manager.next_input_byte += count;
        source->manager.bytes_in_buffer -= static_cast<size_t>(count);
        return;
    }
    source->offset =
        std::min<int64_t>(source->offset + (count - static_cast<long>(source->manager.bytes_in_buffer)),
                          kMaxPictureFileBytes + 1);
    source->manager.bytes_in_buffer = 0;
}

struct Errors {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX] = {};
    (*info->err->format_message)(info, text);
    SetFailureReasonInCallback("the JPEG decoder says: ", text);
    std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
}

// The first warning (a truncated or damaged stream) is noted; decoding goes on.
void OnMessage(j_common_ptr info, int level)
{
    if (level >= 0) return;
    if (info->err->num_warnings++ > 0) return;
    char text[JMSG_LENGTH_MAX] = {};
    (*info->err->format_message)(info, text);
    try {
        NoteDecodeWarning(text);
    } catch (...) {}  // nothing may be thrown through libjpeg
}

// A hostile progressive file with thousands of tiny scans must not take
// minutes: more than 500 scans is an error, as for the whole picture.
void LimitScans(j_common_ptr info)
{
    if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > 500) {
        SetFailureReasonInCallback("the JPEG decoder says: ", "too many scans");
        std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
    }
}

struct Decode {
    jpeg_decompress_struct info;
    Errors errors;
    FileSource source;
    jpeg_progress_mgr progress;
};

bool GuardedReadHeader(Decode* d)
{
    if (setjmp(d->errors.jump)) return false;
    jpeg_create_decompress(&d->info);
    d->info.src = &d->source.manager;
    d->progress.progress_monitor = LimitScans;
    d->info.progress = &d->progress;
    jpeg_read_header(&d->info, TRUE);
    return true;
}

bool GuardedScale(Decode* d, int denominator, bool cmyk)
{
    if (setjmp(d->errors.jump)) return false;
    d->info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    d->info.scale_num = 1;
    d->info.scale_denom = static_cast<unsigned>(denominator);
    jpeg_calc_output_dimensions(&d->info);
    return true;
}

bool GuardedRows(Decode* d, uint8_t* strip, size_t pitch, uint8_t* bgr, RowReducer* reducer)
{
    if (setjmp(d->errors.jump)) return false;
    const bool cmyk = d->info.out_color_space == JCS_CMYK;
    const JDIMENSION width = d->info.output_width;
    jpeg_start_decompress(&d->info);
    if (d->info.output_width != width || static_cast<Long>(width) != reducer->Width()) return false;
    JSAMPROW rows[kStripRows];
    for (int i = 0; i < kStripRows; ++i) rows[i] = strip + static_cast<size_t>(i) * pitch;
    while (d->info.output_scanline < d->info.output_height) {
        const JDIMENSION n = jpeg_read_scanlines(&d->info, rows, kStripRows);
        if (n == 0) break;
        for (JDIMENSION i = 0; i < n; ++i) {
            if (cmyk)
                CmykRowToBgr(rows[i], bgr, static_cast<int>(width));
            else if (d->info.jpeg_color_space != JCS_GRAYSCALE)
                LabRowThroughProfile(rows[i], static_cast<int>(width));  // a Lab JPEG, in the modern mode
            reducer->Push(cmyk ? bgr : rows[i]);
        }
    }
    jpeg_finish_decompress(&d->info);
    return true;
}

// The file's segments up to its first frame header (EXIF, XMP, ICC), read
// from the file as far as they go.
std::vector<uint8_t> HeaderSegments(const PictureSource& file)
{
    std::vector<uint8_t> bytes(file.Head.begin(), file.Head.end());
    const auto cover = [&](size_t end) {
        if (end <= bytes.size()) return true;
        const size_t want = std::min<int64_t>({static_cast<int64_t>(std::max(end, 2 * bytes.size())),
                                               file.Size, static_cast<int64_t>(kMaxSegmentBytes)});
        if (want <= bytes.size()) return false;
        const size_t had = bytes.size();
        bytes.resize(want);
        const int64_t got = ReadAt(file.Fd, bytes.data() + had, want - had, static_cast<int64_t>(had));
        bytes.resize(had + static_cast<size_t>(std::max<int64_t>(got, 0)));
        return end <= bytes.size();
    };
    size_t at = 2;
    while (cover(at + 4) && bytes[at] == 0xFF) {
        const uint8_t code = bytes[at + 1];
        if (code == 0xFF) {
            ++at;
            continue;
        }
        if ((code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) || code == 0xDA ||
            code == 0xD9)
            break;
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
            at += 2;
            continue;
        }
        at += 2 + (size_t{bytes[at + 2]} << 8 | bytes[at + 3]);
    }
    return bytes;
}

// What libjpeg will allocate: the coefficients of the whole picture for a
// progressive file (one row of blocks otherwise), the components' sample
// rows and the upsampler's, the strip and the tables.
int64_t DecoderBytes(const jpeg_decompress_struct& info, bool multiScan)
{
    int64_t bytes = int64_t{2} << 20;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& comp = info.comp_info[c];
        const int64_t h = std::max(1, comp.h_samp_factor), v = std::max(1, comp.v_samp_factor);
        const int64_t blocksWide = (int64_t{comp.width_in_blocks} + h - 1) / h * h;
        const int64_t blocksHigh = (int64_t{comp.height_in_blocks} + v - 1) / v * v;
        bytes += multiScan ? blocksWide * blocksHigh * 128 : blocksWide * v * 128;
        bytes += blocksWide * 8 * v * 8 * 3;
    }
    return bytes + int64_t{info.output_width} * 4 * (kStripRows + 2 * 8 * info.max_v_samp_factor) +
           int64_t{info.output_width} * 3;
}

struct DecodeEnd {
    Decode* d;
    ~DecodeEnd() { jpeg_destroy_decompress(&d->info); }
};

}  // namespace

StreamOutcome StreamJpeg(const PictureSource& file, RowReducer& reducer, PictureMetadata& metadata)
{
    metadata = ReadJpegSegments(HeaderSegments(file));
    const int orientation = ExifOrientation(metadata.Exif);
    std::vector<uint8_t> readBuffer(kReadBufferBytes);
    Decode d{};
    d.info.err = jpeg_std_error(&d.errors.manager);
    d.errors.manager.error_exit = OnError;
    d.errors.manager.emit_message = OnMessage;
    d.source.manager.init_source = InitSource;
    d.source.manager.fill_input_buffer = FillInput;
    d.source.manager.skip_input_data = SkipInput;
    d.source.manager.resync_to_restart = jpeg_resync_to_restart;
    d.source.manager.term_source = TermSource;
    d.source.fd = file.Fd;
    d.source.buffer = readBuffer.data();
    const DecodeEnd end{&d};
    if (!GuardedReadHeader(&d)) return StreamOutcome::WholePicture;
    const int64_t width = d.info.image_width, height = d.info.image_height;
    if (!StreamedSizeAllowed(width, height, file.Size) ||
        !SizePlausible(width, height, file.Size, kJpegMaxPixelsPerByte))
        return StreamOutcome::WholePicture;
    const bool cmyk = d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK;
    const Long denominator = ShrinkOnLoadDenominator(static_cast<Long>(width), static_cast<Long>(height),
                                                     reducer.StoredTarget(orientation));
    if (!GuardedScale(&d, static_cast<int>(denominator), cmyk)) return StreamOutcome::WholePicture;
    const Long outWidth = static_cast<Long>(d.info.output_width);
    if (!reducer.Reduces(outWidth, static_cast<Long>(d.info.output_height), orientation))
        return StreamOutcome::WholePicture;
    const CmykProfileScope colour(metadata.IccProfile);
    if (!reducer.Start(DecoderBytes(d.info, jpeg_has_multiple_scans(&d.info) != 0) +
                       ScopeTransformBytes(cmyk)))
        return StreamOutcome::Failed;
    const size_t pitch = static_cast<size_t>(outWidth) * (cmyk ? 4 : 3);
    std::vector<uint8_t> strip(pitch * kStripRows);
    std::vector<uint8_t> bgr(cmyk ? static_cast<size_t>(outWidth) * 3 : 0);
    if (!GuardedRows(&d, strip.data(), pitch, bgr.data(), &reducer)) return StreamOutcome::Failed;
    return StreamOutcome::Done;
}

}  // namespace kx
