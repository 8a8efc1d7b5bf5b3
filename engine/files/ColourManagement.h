// Colour management through lcms2: CMYK and Lab pictures go to sRGB through
// the picture's own profile, or a standard one when it has none. The engine's
// classic handling (CMYK as each ink times black, Lab samples left to the
// decoder) stays the default; a thread turns profile conversion on for the
// pictures it reads.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/surface/cDIBSection.h"

namespace kx {

// Whether CMYK and Lab pictures read on this thread go through a profile.
void SetCmykThroughProfile(bool on);
bool CmykThroughProfile();

// The standard CMYK profile used for a CMYK picture without one (Ghostscript's
// default CMYK, a press profile Debian ships in libgs-common). Lab pictures
// without a Lab profile are taken as CIE Lab relative to D50.
inline constexpr const char* kStandardCmykProfile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

// How a picture's samples are laid out, for a conversion to sRGB.
enum class SampleKind {
    AdobeCmyk8,  // CMYK, 255 is no ink, as libjpeg hands over Adobe's CMYK JPEGs
    Cmyk8,       // CMYK, 0 is no ink, as TIFF stores it
    Cmyk16,      // the same, 16 bits a sample in the machine's order
    Lab8,        // L 0..255 for 0..100, a and b offset by 128 (the ICC encoding)
    BgrLab8,     // Lab8 with L last: a Lab JPEG decoded as if it were BGR
    Lab16,       // L 0..0xFF00 for 0..100, a and b offset by 0x8000 (the ICC v2 encoding)
};

// What a transform writes: BGR bytes, or 32-bit words with R in the low byte
// (libtiff's ABGR raster) whose alpha the caller sets.
enum class PixelOut { Bgr, RgbaWords };

// True when the ICC profile's data colour space is CMYK (or Lab).
bool IsCmykProfile(std::span<const uint8_t> profile);
bool IsLabProfile(std::span<const uint8_t> profile);

// A perceptual transform of `kind` samples to sRGB through `profile` when its
// colour space suits them, else through the standard profile for that kind.
// Empty when neither can be used.
class SrgbTransform {
public:
    SrgbTransform() = default;
    SrgbTransform(std::span<const uint8_t> profile, SampleKind kind, PixelOut out);
    ~SrgbTransform();
    SrgbTransform(SrgbTransform&& other) noexcept;
    SrgbTransform& operator=(SrgbTransform&& other) noexcept;

    explicit operator bool() const { return transform_ != nullptr; }
    // `width` pixels; `in` and `out` may be the same row when their pixels
    // are the same size.
    void Convert(const void* in, void* out, int width) const;

private:
    void* transform_ = nullptr;
};

// lcms2's tables beside the profile: a bound for the memory budget of a
// transform through `profile` (the parsed profile and the 4-D table of a
// CMYK one).
int64_t TransformBytes(std::span<const uint8_t> profile);

// While it lives, and when profile conversion is on for this thread,
// CmykRowToBgr converts through `profile` (kept by the caller) when it is a
// CMYK one, else through the standard profile, and LabRowThroughProfile
// converts when it is a Lab one; otherwise the classic handling stays. The
// transforms are made at the first row that needs one, so RGB pictures cost
// nothing.
class CmykProfileScope {
public:
    explicit CmykProfileScope(std::span<const uint8_t> profile);
    ~CmykProfileScope();
    CmykProfileScope(const CmykProfileScope&) = delete;
    CmykProfileScope& operator=(const CmykProfileScope&) = delete;

    // The transforms, made on first use; empty when they cannot be made.
    const SrgbTransform& Cmyk();
    const SrgbTransform& Lab();
    std::span<const uint8_t> Profile() const { return profile_; }

private:
    std::span<const uint8_t> profile_;
    CmykProfileScope* outer_ = nullptr;
    SrgbTransform cmyk_, lab_;
    bool triedCmyk_ = false, triedLab_ = false;
};

// What the live scope's transform for a picture of CMYK (`cmyk`) or three
// samples would hold, for the memory budget; 0 when no scope converts.
int64_t ScopeTransformBytes(bool cmyk);

// Inverted (Adobe) CMYK samples, as libjpeg hands them over, to BGR through
// the profile of the live scope; false when no scope converts.
bool CmykRowThroughProfile(const uint8_t* in, uint8_t* out, int width);

// A decoded BGR row that holds Lab samples (L in R's place), in place to sRGB
// through the live scope's Lab profile; false, the row unchanged, when no
// scope converts Lab.
bool LabRowThroughProfile(uint8_t* bgr, int width);

// Converts the BGR pixels of `surface`, in the colour space of the RGB
// `profile`, to sRGB in place. False, the surface unchanged, when lcms2 cannot
// read the profile or it is not an RGB one.
bool ConvertToSrgb(cDIBSection& surface, std::span<const uint8_t> profile);

// lcms2's own sRGB profile as ICC bytes (about 3 KB), dated 2000-01-01 so
// that it is the same bytes on every run; empty if it cannot be made.
std::vector<uint8_t> SrgbProfile();

}  // namespace kx
