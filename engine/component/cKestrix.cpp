// The public methods: each resets the thread's result code, runs one image
// operation and turns its outcome into the interface's Boolean. Nothing is
// thrown across the interface.
#include "cKestrix.h"

#include <cstring>
#include <initializer_list>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "DecodeLimits.h"
#include "FailureReason.h"
#include "MemoryBudget.h"
#include "PictureFormats.h"
#include "PictureLoader.h"
#include "modErrorReport.h"
#include "modMain.h"

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
