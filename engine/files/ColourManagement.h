// Colour management of CMYK pictures through lcms2: their samples go to sRGB
// through the picture's own CMYK profile, or a standard one when it has none.
// The engine's classic conversion (each ink times black) stays the default;
// a thread turns profile conversion on for the pictures it reads.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/surface/cDIBSection.h"

namespace kx {

// Whether CMYK pictures read on this thread go through their profile.
void SetCmykThroughProfile(bool on);
bool CmykThroughProfile();

// The standard CMYK profile used for a CMYK picture without one (Ghostscript's
// default CMYK, a press profile Debian ships in libgs-common).
inline constexpr const char* kStandardCmykProfile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

// While it lives, and when profile conversion is on for this thread,
// CmykRowToBgr converts through `profile` (kept by the caller) when it is a
// CMYK one, else through the standard profile; when neither can be used the
// classic conversion stays. The transform is made at the first CMYK row, so
// RGB pictures cost nothing.
class CmykProfileScope {
public:
    explicit CmykProfileScope(std::span<const uint8_t> profile);
    ~CmykProfileScope();
    CmykProfileScope(const CmykProfileScope&) = delete;
    CmykProfileScope& operator=(const CmykProfileScope&) = delete;

    // The transform, made on first use; null when it cannot be made.
    void* Transform();

private:
    std::span<const uint8_t> profile_;
    CmykProfileScope* outer_ = nullptr;
    void* transform_ = nullptr;
    bool tried_ = false;
};

// Inverted (Adobe) CMYK samples, as libjpeg hands them over, to BGR through
// the profile of the live scope; false when no scope converts.
bool CmykRowThroughProfile(const uint8_t* in, uint8_t* out, int width);

// Converts the BGR pixels of `surface`, in the colour space of the RGB
// `profile`, to sRGB in place. False, the surface unchanged, when lcms2 cannot
// read the profile or it is not an RGB one.
bool ConvertToSrgb(cDIBSection& surface, std::span<const uint8_t> profile);

// lcms2's own sRGB profile as ICC bytes (about 3 KB), dated 2000-01-01 so
// that it is the same bytes on every run; empty if it cannot be made.
std::vector<uint8_t> SrgbProfile();

}  // namespace kx
