// The public methods: each resets the thread's result code, runs one image
// operation and turns its outcome into the interface's Boolean. Nothing is
// thrown across the interface.
#include "engine/component/cKestrix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "common/PictureFormats.h"
#include "common/modErrorReport.h"
#include "common/modImageInfo.h"
#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/PictureLoader.h"
#include "engine/files/RowSources.h"
#include "engine/operations/modMain.h"

namespace {

using kx::ErrorCode;

// The public places and codes are the engine's own, value for value.
constexpr bool SameValues(std::initializer_list<std::pair<int, int>> pairs)
{
    for (const auto& [published, engine] : pairs)
        if (published != engine) return false;
    return true;
}
static_assert(SameValues({{TopLeft, kx::TopLeft},
                          {TopCentre, kx::TopCentre},
                          {TopRight, kx::TopRight},
                          {MiddleLeft, kx::MiddleLeft},
                          {MiddleCentre, kx::MiddleCentre},
                          {MiddleRight, kx::MiddleRight},
                          {BottomLeft, kx::BottomLeft},
                          {BottomCentre, kx::BottomCentre},
                          {BottomRight, kx::BottomRight},
                          {KESTRIX_TOP_LEFT, TopLeft},
                          {KESTRIX_TOP_CENTRE, TopCentre},
                          {KESTRIX_TOP_RIGHT, TopRight},
                          {KESTRIX_MIDDLE_LEFT, MiddleLeft},
                          {KESTRIX_MIDDLE_CENTRE, MiddleCentre},
                          {KESTRIX_MIDDLE_RIGHT, MiddleRight},
                          {KESTRIX_BOTTOM_LEFT, BottomLeft},
                          {KESTRIX_BOTTOM_CENTRE, BottomCentre},
                          {KESTRIX_BOTTOM_RIGHT, BottomRight}}));
static_assert(SameValues({{KESTRIX_INPUT_NOT_LOADED, kx::ecInputNotLoaded},
                          {KESTRIX_OUTPUT_NOT_WRITTEN, kx::ecOutputNotWritten},
                          {KESTRIX_BAD_WIDTH, kx::ecBadWidth},
                          {KESTRIX_BAD_HEIGHT, kx::ecBadHeight},
                          {KESTRIX_BAD_PERCENTAGE, kx::ecBadPercentage},
                          {KESTRIX_UNEXPECTED_ERROR, kx::ecUnexpectedError},
                          {KESTRIX_RESAMPLE_FAILED, kx::ecResampleFailed}}));

static_assert(KESTRIX_MAX_SIDE == kx::kMaxPictureSide && KESTRIX_MAX_PIXELS == kx::kMaxSurfaceBytes / 3);

// The default of the optional quality argument.
constexpr int32_t kDefaultQuality = 90;

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

// A NULL object behaves as a fresh one.
const kx::EngineSettings& SettingsOf(const cKestrix* object)
{
    static const kx::EngineSettings defaults;
    return object ? object->settings : defaults;
}

int32_t QualityOf(int32_t lngQuality)
{
    return lngQuality == KESTRIX_DEFAULT_QUALITY ? kDefaultQuality : lngQuality;
}

kx::StdFont FontOf(const KestrixFont* font)
{
    kx::StdFont result;
    if (font == nullptr) return result;
    if (font->Name != nullptr) result.Name = font->Name;
    result.Size = font->Size;
    result.Bold = font->Bold != KESTRIX_FALSE;
    result.Italic = font->Italic != KESTRIX_FALSE;
    result.Underline = font->Underline != KESTRIX_FALSE;
    result.Strikethrough = font->Strikethrough != KESTRIX_FALSE;
    result.Charset = font->Charset;
    return result;
}

// The reason of a failure whose code says it all.
std::string CodeReason(int32_t code, kx::OutputFormat format)
{
    switch (code) {
    case kx::ecInputNotLoaded: return "the picture could not be read";
    case kx::ecOutputNotWritten:
        return "the " + std::string(kx::OutputFormatTitle(static_cast<int>(format))) +
               " file could not be written";
    case kx::ecBadWidth: return "the width must be 1 or more";
    case kx::ecBadHeight: return "the height must be 1 or more";
    case kx::ecBadPercentage: return "the percentage must be 1 or more";
    case kx::ecResampleFailed: return "the picture could not be resampled (it is 1 pixel wide or high)";
    default: return "an unexpected error (reported)";
    }
}

// Runs one operation for the method `name`, reporting what it throws.
template <typename Operation>
KestrixBool RunReported(const char* name, const cKestrix* object, Operation& operation)
{
    const kx::PictureMemoryScope reservation;  // given back however the method ends
    const kx::PictureWorkScope working;
    ErrorCode() = kx::ecNone;
    kx::ClearDecodeWarnings();
    kx::ClearFailureReason();
    bool ok = false;
    try {
        ok = operation();
    } catch (const kx::RunTimeError& e) {
        kx::ReportError(name, e.Description(), e.Number());
    } catch (const std::bad_alloc&) {
        kx::ReportError(name, kx::StandardDescription(kx::errOutOfMemory), kx::errOutOfMemory);
    } catch (...) {
        kx::ReportError(name, kx::StandardDescription(kx::errInvalidCall), kx::errInvalidCall);
    }
    if (ErrorCode() == kx::ecNone && !ok) ErrorCode() = kx::ecUnexpectedError;
    if (ErrorCode() == kx::ecNone) {
        kx::ClearFailureReason();
        return KESTRIX_TRUE;
    }
    kx::SetFailureReason(
        CodeReason(ErrorCode(), SettingsOf(object).Format));  // when nothing more precise was said
    return KESTRIX_FALSE;
}

// Runs one operation for the method `name`. An operation that stopped on an
// unexpected error has already reported it and returned false without a
// code: the method then fails with KESTRIX_UNEXPECTED_ERROR. Nothing is
// thrown to the C caller, not even when the report itself fails.
template <typename Operation>
KestrixBool RunMethod(const char* name, const cKestrix* object, Operation&& operation) noexcept
{
    try {
        return RunReported(name, object, operation);
    } catch (...) {
        ErrorCode() = kx::ecUnexpectedError;
        return KESTRIX_FALSE;
    }
}

// Pictures in memory. The engine reads and writes files by path, so the
// input bytes become an anonymous memory file (memfd, sealed so that nothing
// can change it under the decoder), read through its /proc/self/fd path like
// any ordinary file: the loader, its limits and the memory budget see no
// difference. The output goes to a pipe, which the writers treat as a stream:
// written in place, never replaced through a temporary file beside it (a
// memfd could not be, as its /proc link leads to no folder). A thread drains
// the pipe into a malloc'd buffer while the engine writes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1)
        : fd_(fd)
    {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd)
    {
        Close();
        fd_ = fd;
    }
    void Close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

// Fails the call under way with `code` and the reason of errno.
bool FailWithErrno(int32_t code)
{
    kx::SetFailureReason(kx::ErrnoReason(errno));
    ErrorCode() = code;
    return false;
}

// The bytes as a sealed memory file; false (the call failed) when the
// system gives none.
bool MakeInputFile(const void* bytes, size_t size, Descriptor& file)
{
    if (size > static_cast<uint64_t>(kx::kMaxPictureFileBytes)) {
        kx::SetFailureReason("the picture is " + std::to_string(size) +
                             " bytes; the engine reads files up to " +
                             std::to_string(kx::kMaxPictureFileBytes) + " bytes");
        ErrorCode() = kx::ecInputNotLoaded;
        return false;
    }
    file.Reset(::memfd_create("kestrix-input", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (file.Get() < 0) return FailWithErrno(kx::ecInputNotLoaded);
    const auto* at = static_cast<const unsigned char*>(bytes);
    for (size_t left = size; left > 0;) {
        const ssize_t n = ::write(file.Get(), at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return FailWithErrno(kx::ecInputNotLoaded);
        at += n;
        left -= static_cast<size_t>(n);
    }
    if (::fcntl(file.Get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0)
        return FailWithErrno(kx::ecInputNotLoaded);
    return true;
}

// What the engine writes to Path(), gathered by a thread until Finish.
class OutputPipe {
public:
    // False (the call failed) when the system gives no pipe or thread.
    bool Open()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return FailWithErrno(kx::ecOutputNotWritten);
        read_.Reset(ends[0]);
        write_.Reset(ends[1]);
        // A larger pipe (where allowed) holds a whole thumbnail: the engine's
        // writes need not wait for the thread to be scheduled on a busy machine.
        ::fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
        drain_ = std::thread([this] { Drain(); });
        return true;
    }
    ~OutputPipe()
    {
        write_.Close();
        if (drain_.joinable()) drain_.join();
        std::free(bytes_);
    }
    std::string Path() const { return write_.Path(); }
    // Ends the output: true, handing over the bytes, when all were read.
    bool Finish(void** bytes, size_t* size)
    {
        write_.Close();
        drain_.join();
        if (!ok_) {
            errno = ENOMEM;
            return FailWithErrno(kx::ecOutputNotWritten);
        }
        *bytes = std::exchange(bytes_, nullptr);
        *size = size_;
        return true;
    }

private:
    // Reads until the engine closes its end. Without memory for more, the
    // rest is read and dropped: the engine's writes must not block, nor meet
    // a closed pipe (SIGPIPE).
    void Drain()
    {
        size_t capacity = 0;
        unsigned char dropped[4096];
        for (;;) {
            if (ok_ && size_ == capacity) {
                const size_t grown = capacity ? capacity * 2 : size_t{64} << 10;
                void* larger = std::realloc(bytes_, grown);
                ok_ = larger != nullptr;
                if (ok_) bytes_ = static_cast<unsigned char*>(larger), capacity = grown;
            }
            const ssize_t n = ok_ ? ::read(read_.Get(), bytes_ + size_, capacity - size_)
                                  : ::read(read_.Get(), dropped, sizeof dropped);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok_ = false;
            if (n <= 0) return;
            if (ok_) size_ += static_cast<size_t>(n);
        }
    }

    Descriptor read_, write_;
    std::thread drain_;
    unsigned char* bytes_ = nullptr;
    size_t size_ = 0;
    bool ok_ = true;
};

// Runs the file method `method` (input path, output path) from `input` to a
// new buffer.
template <typename FileMethod>
bool OnBytes(const void* input, size_t inputSize, void** output, size_t* outputSize, FileMethod&& method)
{
    Descriptor in;
    OutputPipe out;
    if (!MakeInputFile(input, inputSize, in) || !out.Open()) return false;
    const bool ok = method(in.Path(), out.Path());
    void* bytes = nullptr;
    size_t size = 0;
    if (!out.Finish(&bytes, &size) || !ok) {
        std::free(bytes);
        return false;
    }
    *output = bytes;
    *outputSize = size;
    return true;
}

// One resize method on files, by its KestrixMethod number.
bool ResizeFile(int32_t method, const std::string& in, const std::string& out, int32_t width, int32_t height,
                int32_t quality, const kx::EngineSettings& settings)
{
    switch (method) {
    case KESTRIX_METHOD_RESIZE: return kx::ResizeImage(in, out, height, width, quality, settings);
    case KESTRIX_METHOD_MAX_WIDTH: return kx::ResizeMaxWidth(in, out, width, quality, settings);
    case KESTRIX_METHOD_MAX_HEIGHT: return kx::ResizeMaxHeight(in, out, height, quality, settings);
    case KESTRIX_METHOD_FIT: return kx::ResizeWithDimensions(in, out, height, width, quality, settings);
    case KESTRIX_METHOD_FILL: return kx::ResizeToFill(in, out, height, width, quality, settings);
    case KESTRIX_METHOD_PERCENT: return kx::PercentageResize(in, out, width, quality, settings);
    default:
        kx::SetFailureReason("unknown method " + std::to_string(method));
        ErrorCode() = kx::ecUnexpectedError;
        return false;
    }
}

// The resize `method` from bytes to bytes, through the file method. The
// classic fit's passes before the last go to a temporary file of the
// engine's, as for any output that is a stream.
bool ResizeBytes(int32_t method, const void* input, size_t inputSize, int32_t width, int32_t height,
                 int32_t quality, const kx::EngineSettings& settings, void** output, size_t* outputSize)
{
    return OnBytes(input, inputSize, output, outputSize, [&](const std::string& in, const std::string& out) {
        return ResizeFile(method, in, out, width, height, quality, settings);
    });
}

}  // namespace

extern "C" {

cKestrix* cKestrix_Create(void) { return new (std::nothrow) cKestrix; }

void cKestrix_Release(cKestrix* object) { delete object; }

void cKestrix_SetAutoOrient(cKestrix* object, KestrixBool bAutoOrient)
{
    if (object) object->settings.AutoOrient = bAutoOrient != KESTRIX_FALSE;
}

void cKestrix_SetKeepMetadata(cKestrix* object, KestrixBool bKeepMetadata)
{
    if (object) object->settings.KeepMetadata = bKeepMetadata != KESTRIX_FALSE;
}

KestrixBool cKestrix_SetSrgbOutput(cKestrix* object, int32_t srgb)
{
    if (!object || srgb < KESTRIX_SRGB_KEEP || srgb > KESTRIX_SRGB_PROFILE) return KESTRIX_FALSE;
    object->settings.Srgb = srgb;
    return KESTRIX_TRUE;
}

void cKestrix_SetColourManagement(cKestrix* object, KestrixBool bColourManage)
{
    if (object) object->settings.ColourManage = bColourManage != KESTRIX_FALSE;
}

KestrixBool cKestrix_ImageResize(cKestrix* object, const char* InImage, const char* OutImage, int32_t Height,
                                 int32_t Width, int32_t lngQuality)
{
    return RunMethod("ImageResize", object, [&] {
        return kx::ResizeImage(Text(InImage), Text(OutImage), Height, Width, QualityOf(lngQuality),
                               SettingsOf(object));
    });
}

KestrixBool cKestrix_ImagePercentageResize(cKestrix* object, const char* InImage, const char* OutImage,
                                           int32_t Percentage, int32_t lngQuality)
{
    return RunMethod("ImagePercentageResize", object, [&] {
        return kx::PercentageResize(Text(InImage), Text(OutImage), Percentage, QualityOf(lngQuality),
                                    SettingsOf(object));
    });
}

KestrixBool cKestrix_ImageResizeMaxWidth(cKestrix* object, const char* InImage, const char* OutImage,
                                         int32_t Width, int32_t lngQuality)
{
    return RunMethod("ImageResizeMaxWidth", object, [&] {
        return kx::ResizeMaxWidth(Text(InImage), Text(OutImage), Width, QualityOf(lngQuality),
                                  SettingsOf(object));
    });
}

KestrixBool cKestrix_ImageResizeMaxHeight(cKestrix* object, const char* InImage, const char* OutImage,
                                          int32_t Height, int32_t lngQuality)
{
    return RunMethod("ImageResizeMaxHeight", object, [&] {
        return kx::ResizeMaxHeight(Text(InImage), Text(OutImage), Height, QualityOf(lngQuality),
                                   SettingsOf(object));
    });
}

KestrixBool cKestrix_ImageResizeWithinDimensions(cKestrix* object, const char* InImage, const char* OutImage,
                                                 int32_t Height, int32_t Width, int32_t lngQuality)
{
    return RunMethod("ImageResizeWithinDimensions", object, [&] {
        return kx::ResizeWithDimensions(Text(InImage), Text(OutImage), Height, Width, QualityOf(lngQuality),
                                        SettingsOf(object));
    });
}

KestrixBool cKestrix_ImageResizeToFill(cKestrix* object, const char* InImage, const char* OutImage,
                                       int32_t Height, int32_t Width, int32_t lngQuality)
{
    return RunMethod("ImageResizeToFill", object, [&] {
        return kx::ResizeToFill(Text(InImage), Text(OutImage), Height, Width, QualityOf(lngQuality),
                                SettingsOf(object));
    });
}

KestrixBool cKestrix_SetDecorationQuality(cKestrix* object, int32_t lngQuality)
{
    if (lngQuality == KESTRIX_DEFAULT_QUALITY) lngQuality = 100;
    if (object == nullptr || lngQuality < 1 || lngQuality > 100) return KESTRIX_FALSE;
    object->settings.DecorationQuality = lngQuality;
    return KESTRIX_TRUE;
}

KestrixBool cKestrix_SetFillPlace(cKestrix* object, int32_t place)
{
    if (object == nullptr || place < TopLeft || place > BottomRight) return KESTRIX_FALSE;
    object->settings.FillPlace = place;
    return KESTRIX_TRUE;
}

KestrixBool cKestrix_SetKeepAlpha(cKestrix* object, KestrixBool on)
{
    if (object == nullptr) return KESTRIX_FALSE;
    object->settings.KeepAlpha = on != KESTRIX_FALSE;
    return KESTRIX_TRUE;
}

KestrixBool cKestrix_SetBackground(cKestrix* object, int32_t colour)
{
    if (object == nullptr || colour < -1 || colour > 0xFFFFFF) return KESTRIX_FALSE;
    object->settings.Background = colour;
    return KESTRIX_TRUE;
}

KestrixBool cKestrix_SetResampleFilter(cKestrix* object, int32_t filter)
{
    if (object == nullptr) return KESTRIX_FALSE;
    switch (filter) {
    case KESTRIX_FILTER_EXACT: object->settings.Filter = kx::ResampleFilter::Exact; return KESTRIX_TRUE;
    case KESTRIX_FILTER_LANCZOS: object->settings.Filter = kx::ResampleFilter::Lanczos; return KESTRIX_TRUE;
    default: return KESTRIX_FALSE;
    }
}

KestrixBool cKestrix_SetTrueProportions(cKestrix* object, KestrixBool on)
{
    if (object == nullptr) return KESTRIX_FALSE;
    object->settings.TrueProportions = on != KESTRIX_FALSE;
    return KESTRIX_TRUE;
}

KestrixBool cKestrix_AddBorderToExistingImage(cKestrix* object, const char* InImage, const char* OutImage,
                                              int32_t lngBorderColour, int16_t intBorderTopSize,
                                              int16_t intBorderBottomSize, int16_t intBorderLeftSize,
                                              int16_t intBorderRightSize)
{
    return RunMethod("AddBorderToExistingImage", object, [&] {
        return kx::ImageAddBorder(Text(InImage), Text(OutImage), lngBorderColour, intBorderTopSize,
                                  intBorderBottomSize, intBorderLeftSize, intBorderRightSize,
                                  SettingsOf(object));
    });
}

KestrixBool cKestrix_AddTextToImage(cKestrix* object, const char* InImage, const char* OutImage,
                                    const char* strText, const KestrixFont* fontStdFnt, int32_t lngColour,
                                    int16_t intTopPos, int16_t intLeftPos)
{
    return RunMethod("AddTextToImage", object, [&] {
        return kx::ImageAddText(Text(InImage), Text(OutImage), Text(strText), FontOf(fontStdFnt), lngColour,
                                intTopPos, intLeftPos, SettingsOf(object));
    });
}

KestrixBool cKestrix_AddTextToImageUsingSpecifiedPosition(cKestrix* object, const char* InImage,
                                                          const char* OutImage, const char* strText,
                                                          const KestrixFont* fontStdFnt, int32_t lngColour,
                                                          TEXT_POSITION txtPos)
{
    // A C caller may pass any int for the enumeration: its bits are read as
    // one, since a C++ load of a value outside the enumeration's range is
    // undefined.
    static_assert(sizeof(TEXT_POSITION) == sizeof(int32_t));
    int32_t place = 0;
    std::memcpy(&place, &txtPos, sizeof place);
    return RunMethod("AddTextToImageUsingSpecifiedPosition", object, [&] {
        return kx::ImageAddTextUsingSpecifiedPosition(Text(InImage), Text(OutImage), Text(strText),
                                                      FontOf(fontStdFnt), lngColour, place,
                                                      SettingsOf(object));
    });
}

KestrixBool cKestrix_SetOutputFormat(cKestrix* object, int32_t format)
{
    static_assert(SameValues({{KESTRIX_FORMAT_JPEG, static_cast<int>(kx::OutputFormat::Jpeg)},
                              {KESTRIX_FORMAT_PNG, static_cast<int>(kx::OutputFormat::Png)},
                              {KESTRIX_FORMAT_WEBP, static_cast<int>(kx::OutputFormat::Webp)},
                              {KESTRIX_FORMAT_AVIF, static_cast<int>(kx::OutputFormat::Avif)},
                              {KESTRIX_FORMAT_JPEG, kx::kFormatJpeg},
                              {KESTRIX_FORMAT_PNG, kx::kFormatPng},
                              {KESTRIX_FORMAT_WEBP, kx::kFormatWebp},
                              {KESTRIX_FORMAT_AVIF, kx::kFormatAvif}}));
    if (object == nullptr || format < KESTRIX_FORMAT_JPEG || format > KESTRIX_FORMAT_AVIF)
        return KESTRIX_FALSE;
    object->settings.Format = static_cast<kx::OutputFormat>(format);
    return KESTRIX_TRUE;
}

KestrixBool cKestrix_SetJpegCoding(cKestrix* object, int32_t coding)
{
    if (object == nullptr || (coding != KESTRIX_JPEG_CLASSIC && coding != KESTRIX_JPEG_MODERN))
        return KESTRIX_FALSE;
    object->settings.ModernJpeg = coding == KESTRIX_JPEG_MODERN;
    return KESTRIX_TRUE;
}

KestrixBool cKestrix_SetMemoryLimit(int64_t bytes)
{
    if (bytes < 0) return KESTRIX_FALSE;
    kx::SetMemoryLimit(bytes);
    return KESTRIX_TRUE;
}

KestrixBool cKestrix_ResizeBuffer(cKestrix* object, int32_t method, const void* input, size_t inputSize,
                                  int32_t Width, int32_t Height, int32_t lngQuality, void** output,
                                  size_t* outputSize)
{
    if (output) *output = nullptr;
    if (outputSize) *outputSize = 0;
    return RunMethod("ResizeBuffer", object, [&] {
        if (output == nullptr || outputSize == nullptr || (input == nullptr && inputSize > 0)) {
            kx::SetFailureReason("no input bytes or no place for the output");
            ErrorCode() = kx::ecUnexpectedError;
            return false;
        }
        return ResizeBytes(method, input, inputSize, Width, Height, QualityOf(lngQuality), SettingsOf(object),
                           output, outputSize);
    });
}

void cKestrix_FreeBuffer(void* buffer) { std::free(buffer); }

KestrixBool Kestrix_ProbePicture(const char* path, int32_t* width, int32_t* height, int32_t* format)
{
    return RunMethod("ProbePicture", nullptr, [&] {
        const kx::ImageInfo info = kx::GetImageInfo(Text(path), kx::ProbedSizes::Streamed);
        const bool known = info.ImageType != kx::ImageTypeNone;
        if (width) *width = known ? info.Width : 0;
        if (height) *height = known ? info.Height : 0;
        if (format) *format = known ? info.ImageType : 0;
        if (known) return true;
        // Why: the file's own error, or what it holds.
        const int fd = ::open(Text(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) return FailWithErrno(kx::ecInputNotLoaded);
        ::close(fd);
        kx::SetFailureReason("not a picture the engine reads");
        ErrorCode() = kx::ecInputNotLoaded;
        return false;
    });
}

int32_t cKestrix_ErrorCode(const cKestrix*) { return ErrorCode(); }

void Kestrix_SetReportHandler(KestrixReportHandler handler, void* user)
{
    try {
        if (handler == nullptr) {
            kx::SetReportHandler(nullptr);
            return;
        }
        // The handler sees one report at a time, whichever threads raise them.
        kx::SetReportHandler([handler, user](const std::string& text) {
            static std::mutex oneAtATime;
            std::lock_guard lock(oneAtATime);
            handler(text.c_str(), user);
        });
    } catch (...) {
        // Out of memory for the handler: reports keep going where they went.
    }
}

const char* Kestrix_LastWarningText(void) { return kx::DecodeWarnings().c_str(); }
const char* Kestrix_LastErrorText(void) { return kx::FailureReason().c_str(); }

const char* Kestrix_Version(void) { return KESTRIX_VERSION_STRING; }

}  // extern "C"
