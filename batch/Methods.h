// The ways a picture is sized: the desktop program's five and the tool's
// fill. Everything a front end needs to know about one method lives in its
// row of kMethods: its name, the sizes it reads, the engine call, whether it
// can enlarge (so that shrink-only applies) and its caption.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

#include "batch/EngineApi.h"

namespace kx::batch {

// In the order of the desktop program's method boxes (0 to 4); Fill (cover
// the box, crop its centre) is the tool's alone.
enum class Method { Resize, Percent, MaxHeight, MaxWidth, Fit, Fill };

// The sizes a run hands to the engine; a method reads only its own.
struct Sizes {
    int32_t Height = 0;
    int32_t Width = 0;
    int32_t Percentage = 0;
    // A percentage with decimals (50.5): each picture is resized to that
    // share of its own width and height, rounded (halves to even).
    double DecimalPercentage = 0;
};

struct MethodSpec {
    Method method;
    const char* Name;        // the tool's sub-command and option ("max-width")
    const char* EngineName;  // the engine method it calls
    bool UsesHeight, UsesWidth, UsesPercentage;
    bool CanEnlarge;      // shrink-only keeps a picture it would enlarge at its own size
    const char* Caption;  // the desktop program's method box
    // The desktop program's job parameters; %W, %H and %P stand for the sizes as typed.
    const char* Summary;
    KestrixBool (*Call)(const EngineApi& api, cKestrix* object, const char* in, const char* out,
                        const Sizes& sizes, int32_t quality);

    bool TwoSides() const { return UsesWidth && UsesHeight; }
};

inline constexpr MethodSpec kMethods[] = {
    {Method::Resize, "resize", "ImageResize", true, true, false, false, "Height & Width",
     "Height & Width, %W x %H pixels.",
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImageResize(o, in, out, s.Height, s.Width, q);
     }},
    {Method::Percent, "percent", "ImagePercentageResize", false, false, true, true, "Percentage",
     "Percentage enlargment/reduction, %P%.",
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImagePercentageResize(o, in, out, s.Percentage, q);
     }},
    {Method::MaxHeight, "max-height", "ImageResizeMaxHeight", true, false, false, true, "Scale to Height",
     "Scale to Height, %H pixels.",
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImageResizeMaxHeight(o, in, out, s.Height, q);
     }},
    {Method::MaxWidth, "max-width", "ImageResizeMaxWidth", false, true, false, true, "Scale to Width",
     "Scale to width, %W pixels.",
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImageResizeMaxWidth(o, in, out, s.Width, q);
     }},
    {Method::Fit, "fit", "ImageResizeWithinDimensions", true, true, false, false, "Set Maximum Sizes",
     "Maximum allowed size = %W x %H pixels.",
     [](const EngineApi& api, cKestrix* o, const char* in, const char* out, const Sizes& s, int32_t q) {
         return api.ImageResizeWithinDimensions(o, in, out, s.Height, s.Width, q);
     }},
    {Method::Fill, "fill", "ImageResizeToFill", true, true, false, false, "Fill & Crop",
     "Fill & crop, %W x %H pixels.",
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

// The row's Summary with the sizes put in.
std::string SummaryOf(Method method, const std::string& width, const std::string& height,
                      const std::string& percentage);

// With shrink-only: true when the method would enlarge the picture at `in`
// (percent above 100, or a stored width or height already within the size,
// read from its header), which then keeps its own size (a 100 percent resize).
bool KeepsOwnSize(Method method, const std::string& in, const Sizes& sizes);

}  // namespace kx::batch
