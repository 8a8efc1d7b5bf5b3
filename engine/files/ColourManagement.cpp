#include "engine/files/ColourManagement.h"

#include <lcms2.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace kx {

namespace {

thread_local bool throughProfile = false;
thread_local CmykProfileScope* activeScope = nullptr;

bool IsCmykProfile(std::span<const uint8_t> profile)
{
    return profile.size() >= 128 && std::memcmp(profile.data() + 16, "CMYK", 4) == 0;
}

}  // namespace

void SetCmykThroughProfile(bool on) { throughProfile = on; }
bool CmykThroughProfile() { return throughProfile; }

CmykProfileScope::CmykProfileScope(std::span<const uint8_t> profile)
    : profile_(profile)
    , outer_(activeScope)
{
    if (throughProfile) activeScope = this;
}

CmykProfileScope::~CmykProfileScope()
{
    if (activeScope == this) activeScope = outer_;
    if (transform_) cmsDeleteTransform(transform_);
}

void* CmykProfileScope::Transform()
{
    if (tried_) return transform_;
    tried_ = true;
    cmsHPROFILE cmyk =
        IsCmykProfile(profile_)
            ? cmsOpenProfileFromMem(profile_.data(), static_cast<cmsUInt32Number>(profile_.size()))
            : cmsOpenProfileFromFile(kStandardCmykProfile, "r");
    if (cmyk && cmsGetColorSpace(cmyk) != cmsSigCmykData) {
        cmsCloseProfile(cmyk);
        cmyk = nullptr;
    }
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    // Adobe's CMYK JPEGs store inverted samples: 255 is no ink.
    if (cmyk && srgb)
        transform_ = cmsCreateTransform(cmyk, TYPE_CMYK_8_REV, srgb, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    if (cmyk) cmsCloseProfile(cmyk);
    if (srgb) cmsCloseProfile(srgb);
    return transform_;
}

bool CmykRowThroughProfile(const uint8_t* in, uint8_t* out, int width)
{
    void* transform = activeScope ? activeScope->Transform() : nullptr;
    if (!transform) return false;
    cmsDoTransform(transform, in, out, static_cast<cmsUInt32Number>(width));
    return true;
}

bool ConvertToSrgb(cDIBSection& surface, std::span<const uint8_t> profile)
{
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = nullptr;
    if (in && srgb && cmsGetColorSpace(in) == cmsSigRgbData)
        transform = cmsCreateTransform(in, TYPE_BGR_8, srgb, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    if (in) cmsCloseProfile(in);
    if (srgb) cmsCloseProfile(srgb);
    if (!transform) return false;
    for (Long y = 0; y < surface.Height(); ++y)
        cmsDoTransform(transform, surface.PictureRow(y), surface.PictureRow(y),
                       static_cast<cmsUInt32Number>(surface.Width()));
    cmsDeleteTransform(transform);
    return true;
}

std::vector<uint8_t> SrgbProfile()
{
    std::vector<uint8_t> bytes;
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    if (srgb && cmsSaveProfileToMem(srgb, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(srgb, bytes.data(), &size)) bytes.clear();
    }
    if (srgb) cmsCloseProfile(srgb);
    // lcms2 stamps the profile with the time it was made; a fixed date keeps
    // the outputs the same bytes on every run (2000-01-01 00:00:00).
    constexpr uint8_t kFixedDate[12] = {0x07, 0xD0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};
    if (bytes.size() >= 128) std::copy(std::begin(kFixedDate), std::end(kFixedDate), bytes.begin() + 24);
    return bytes;
}

}  // namespace kx
