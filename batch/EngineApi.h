// The engine's C interface as a table of function pointers, so that a
// program can call an engine it linked or one it loaded at run time the same
// way. The list of functions is written once, here; everything that fills a
// table goes through it.
#pragma once

#include <string>

#include "kestrix.h"

namespace kx::batch {

// X(member, function) for every function of kestrix.h that a front end calls.
#define KX_ENGINE_FUNCTIONS(X)                                                                               \
    X(Create, cKestrix_Create)                                                                               \
    X(Release, cKestrix_Release)                                                                             \
    X(ImageResize, cKestrix_ImageResize)                                                                     \
    X(ImagePercentageResize, cKestrix_ImagePercentageResize)                                                 \
    X(ImageResizeMaxWidth, cKestrix_ImageResizeMaxWidth)                                                     \
    X(ImageResizeMaxHeight, cKestrix_ImageResizeMaxHeight)                                                   \
    X(ImageResizeWithinDimensions, cKestrix_ImageResizeWithinDimensions)                                     \
    X(ImageResizeToFill, cKestrix_ImageResizeToFill)                                                         \
    X(AddBorderToExistingImage, cKestrix_AddBorderToExistingImage)                                           \
    X(AddTextToImage, cKestrix_AddTextToImage)                                                               \
    X(AddTextToImageUsingSpecifiedPosition, cKestrix_AddTextToImageUsingSpecifiedPosition)                   \
    X(ErrorCode, cKestrix_ErrorCode)                                                                         \
    X(LastErrorText, Kestrix_LastErrorText)                                                                  \
    X(LastWarningText, Kestrix_LastWarningText)                                                              \
    X(SetReportHandler, Kestrix_SetReportHandler)                                                            \
    X(SetResampleFilter, cKestrix_SetResampleFilter)                                                         \
    X(SetTrueProportions, cKestrix_SetTrueProportions)                                                       \
    X(SetJpegCoding, cKestrix_SetJpegCoding)                                                                 \
    X(SetKeepAlpha, cKestrix_SetKeepAlpha)                                                                   \
    X(SetColourManagement, cKestrix_SetColourManagement)                                                     \
    X(SetOutputFormat, cKestrix_SetOutputFormat)                                                             \
    X(Version, Kestrix_Version)

struct EngineApi {
#define KX_ENGINE_MEMBER(member, function) decltype(&function) member = nullptr;
    KX_ENGINE_FUNCTIONS(KX_ENGINE_MEMBER)
#undef KX_ENGINE_MEMBER
};

// The table of the engine this program is linked to. Inline, so that only a
// program that calls it needs libkestrix at link time.
inline EngineApi LinkedEngineApi()
{
    EngineApi api;
#define KX_ENGINE_LINKED(member, function) api.member = &function;
    KX_ENGINE_FUNCTIONS(KX_ENGINE_LINKED)
#undef KX_ENGINE_LINKED
    return api;
}

// Fills `api` through `lookup(name)`, which gives a function's address or
// null. False, with the name of the first missing function in `missing`,
// when a function is not found.
template <typename Lookup>
bool ResolveEngineApi(EngineApi& api, Lookup&& lookup, std::string& missing)
{
#define KX_ENGINE_RESOLVE(member, function)                                                                  \
    if (void* address = lookup(#function)) {                                                                 \
        api.member = reinterpret_cast<decltype(api.member)>(address);                                        \
    } else {                                                                                                 \
        missing = #function;                                                                                 \
        return false;                                                                                        \
    }
    KX_ENGINE_FUNCTIONS(KX_ENGINE_RESOLVE)
#undef KX_ENGINE_RESOLVE
    return true;
}

// Sets an engine object's filter, proportions, JPEG coding, transparency and
// colour management for the modern mode (the Lanczos filter, true
// proportions, 4:4:4 and optimised tables, alpha kept where the output has
// it, CMYK through its profile) or the classic one (the exact sampler,
// whole-percent proportions, Folvane's bytes). `filter` (KESTRIX_FILTER_...) overrides the mode's filter when not -1.
inline void SetEngineMode(const EngineApi& api, cKestrix* object, bool classic, int32_t filter = -1)
{
    api.SetResampleFilter(object,
                          filter >= 0 ? filter : (classic ? KESTRIX_FILTER_EXACT : KESTRIX_FILTER_LANCZOS));
    api.SetTrueProportions(object, classic ? KESTRIX_FALSE : KESTRIX_TRUE);
    api.SetJpegCoding(object, classic ? KESTRIX_JPEG_CLASSIC : KESTRIX_JPEG_MODERN);
    api.SetKeepAlpha(object, classic ? KESTRIX_FALSE : KESTRIX_TRUE);
    api.SetColourManagement(object, classic ? KESTRIX_FALSE : KESTRIX_TRUE);
}

}  // namespace kx::batch
