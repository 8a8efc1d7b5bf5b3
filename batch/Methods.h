// The ways a batch run sizes its pictures: the desktop program's five and
// the tool's fill. Everything a front end needs to know about one method
// lives in its row of kMethods.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>

#include "EngineApi.h"

namespace kx::batch {

// In the order of the desktop program's method boxes (0 to 4); Fill (cover
// the box, crop its centre) is the tool's alone.
enum class Method { Resize, Percent, MaxHeight, MaxWidth, Fit, Fill };

// The sizes a run hands to the engine; a method reads only its own.
struct Sizes {
    int32_t Height = 0;
    int32_t Width = 0;
    int32_t Percentage = 0;
};

struct MethodSpec {
    Method method;
    const char* EngineName;  // the engine method it calls
    bool UsesHeight, UsesWidth, UsesPercentage;
    KestrixBool (*Call)(const EngineApi& api, cKestrix* object, const char* in, const char* out,
                        const Sizes& sizes, int32_t quality);
};

inline constexpr MethodSpec kMethods[] = {
    {Method::Resize, "ImageResize", true, true, false,
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImageResize(o, in, out, s.Height, s.Width, q);
     }},
    {Method::Percent, "ImagePercentageResize", false, false, true,
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImagePercentageResize(o, in, out, s.Percentage, q);
     }},
    {Method::MaxHeight, "ImageResizeMaxHeight", true, false, false,
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImageResizeMaxHeight(o, in, out, s.Height, q);
     }},
    {Method::MaxWidth, "ImageResizeMaxWidth", false, true, false,
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImageResizeMaxWidth(o, in, out, s.Width, q);
     }},
    {Method::Fit, "ImageResizeWithinDimensions", true, true, false,
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImageResizeWithinDimensions(o, in, out, s.Height, s.Width, q);
     }},
    {Method::Fill, "ImageResizeToFill", true, true, false,
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImageResizeToFill(o, in, out, s.Height, s.Width, q);
     }},
};

inline const MethodSpec& SpecOf(Method method) { return kMethods[static_cast<int>(method)]; }

// The method with the desktop program's number 0 to 4; nothing otherwise
// (the tool's Fill has no number there).
inline std::optional<Method> MethodFromNumber(int number)
{
    if (number < 0 || number > static_cast<int>(Method::Fit)) return std::nullopt;
    return static_cast<Method>(number);
}

}  // namespace kx::batch
