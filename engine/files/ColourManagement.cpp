#include "engine/files/ColourManagement.h"

#include <lcms2.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <utility>

namespace kx {

namespace {

thread_local bool throughProfile = false;
thread_local CmykProfileScope* activeScope = nullptr;

bool ProfileSpaceIs(std::span<const uint8_t> profile, const char (&space)[5])
{
    return profile.size() >= 128 && std::memcmp(profile.data() + 16, space, 4) == 0;
}

cmsUInt32Number InputType(SampleKind kind)
{
    switch (kind) {
    case SampleKind::AdobeCmyk8: return TYPE_CMYK_8_REV;
    case SampleKind::Cmyk8: return TYPE_CMYK_8;
    case SampleKind::Cmyk16: return TYPE_CMYK_16;
    case SampleKind::Lab8: return TYPE_Lab_8;
    case SampleKind::BgrLab8: return TYPE_Lab_8 | DOSWAP_SH(1);
    case SampleKind::Lab16: return TYPE_LabV2_16;
    }
    return 0;
}

}  // namespace

void SetCmykThroughProfile(bool on) { throughProfile = on; }
bool CmykThroughProfile() { return throughProfile; }

bool IsCmykProfile(std::span<const uint8_t> profile) { return ProfileSpaceIs(profile, "CMYK"); }
bool IsLabProfile(std::span<const uint8_t> profile) { return ProfileSpaceIs(profile, "Lab "); }

SrgbTransform::SrgbTransform(std::span<const uint8_t> profile, SampleKind kind, PixelOut out)
{
    const bool lab = kind == SampleKind::Lab8 || kind == SampleKind::BgrLab8 || kind == SampleKind::Lab16;
    const cmsColorSpaceSignature space = lab ? cmsSigLabData : cmsSigCmykData;
    cmsHPROFILE from = nullptr;
    if (lab ? IsLabProfile(profile) : IsCmykProfile(profile))
        from = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    if (from && cmsGetColorSpace(from) != space) {
        cmsCloseProfile(from);
        from = nullptr;
    }
    if (!from) from = lab ? cmsCreateLab4Profile(nullptr) : cmsOpenProfileFromFile(kStandardCmykProfile, "r");
    if (from && cmsGetColorSpace(from) != space) {
        cmsCloseProfile(from);
        from = nullptr;
    }
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    // libtiff's raster words are R, G, B, A from the low byte up.
    const cmsUInt32Number words = std::endian::native == std::endian::little ? TYPE_RGBA_8 : TYPE_ABGR_8;
    if (from && srgb)
        transform_ = cmsCreateTransform(from, InputType(kind), srgb,
                                        out == PixelOut::Bgr ? TYPE_BGR_8 : words, INTENT_PERCEPTUAL, 0);
    if (from) cmsCloseProfile(from);
    if (srgb) cmsCloseProfile(srgb);
}

SrgbTransform::~SrgbTransform()
{
    if (transform_) cmsDeleteTransform(transform_);
}

SrgbTransform::SrgbTransform(SrgbTransform&& other) noexcept
    : transform_(std::exchange(other.transform_, nullptr))
{}

SrgbTransform& SrgbTransform::operator=(SrgbTransform&& other) noexcept
{
    if (this != &other) {
        if (transform_) cmsDeleteTransform(transform_);
        transform_ = std::exchange(other.transform_, nullptr);
    }
    return *this;
}

void SrgbTransform::Convert(const void* in, void* out, int width) const
{
    cmsDoTransform(transform_, in, out, static_cast<cmsUInt32Number>(width));
}

int64_t TransformBytes(std::span<const uint8_t> profile)
{
    // The profile parsed into pipelines (a few times its size) and the
    // optimised table: 17^4 nodes of three 16-bit outputs for CMYK.
    return 4 * static_cast<int64_t>(profile.size()) + (int64_t{1} << 20);
}

CmykProfileScope::CmykProfileScope(std::span<const uint8_t> profile)
    : profile_(profile)
    , outer_(activeScope)
{
    if (throughProfile) activeScope = this;
}

CmykProfileScope::~CmykProfileScope()
{
    if (activeScope == this) activeScope = outer_;
}

const SrgbTransform& CmykProfileScope::Cmyk()
{
    if (!triedCmyk_) cmyk_ = SrgbTransform(profile_, SampleKind::AdobeCmyk8, PixelOut::Bgr);
    triedCmyk_ = true;
    return cmyk_;
}

const SrgbTransform& CmykProfileScope::Lab()
{
    // Only a Lab profile says that the three samples are Lab.
    if (!triedLab_ && IsLabProfile(profile_))
        lab_ = SrgbTransform(profile_, SampleKind::BgrLab8, PixelOut::Bgr);
    triedLab_ = true;
    return lab_;
}

int64_t ScopeTransformBytes(bool cmyk)
{
    if (!activeScope || !(cmyk || IsLabProfile(activeScope->Profile()))) return 0;
    return TransformBytes(activeScope->Profile());
}

bool CmykRowThroughProfile(const uint8_t* in, uint8_t* out, int width)
{
    if (!activeScope || !activeScope->Cmyk()) return false;
    activeScope->Cmyk().Convert(in, out, width);
    return true;
}

bool LabRowThroughProfile(uint8_t* bgr, int width)
{
    if (!activeScope || !activeScope->Lab()) return false;
    activeScope->Lab().Convert(bgr, bgr, width);
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
