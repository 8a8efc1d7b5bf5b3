#include "engine/surface/cDIBSection.h"

#include <algorithm>
#include <cstring>

#include "engine/surface/SurfaceMemory.h"

namespace kx {

Long cDIBSection::BytesPerScanLine() const
{
    const Long bytes = CheckedAdd<Long>(CheckedMul<Long>(header_.biWidth, 3), 3);
    return bytes & ~Long{3};
}

bool cDIBSection::Create(Long lWidth, Long lHeight)
{
    ClearUp();
    hasContext_ = true;
    const void* dib = nullptr;
    if (!CreateDIB(hdc(), lWidth, lHeight, dib)) {
        hasContext_ = false;
        return false;
    }
    return true;
}

bool cDIBSection::CreateDIB(HDC lhDC, Long lWidth, Long lHeight, const void*& hDib)
{
    header_ = BitmapInfoHeader{};
    header_.biSize = 40;
    header_.biWidth = lWidth;
    header_.biHeight = lHeight;
    header_.biPlanes = 1;
    header_.biBitCount = 24;
    header_.biCompression = 0;
    // An overflow here leaves the context without a bitmap until ClearUp.
    const Long imageSize = CheckedMul<Long>(BytesPerScanLine(), lHeight);
    header_.biSizeImage = static_cast<uint32_t>(imageSize);

    hDib = nullptr;
    if (lhDC == nullptr || lWidth <= 0 || lHeight <= 0) return false;
    size_t capacity = 0;
    uint8_t* memory = AcquireZeroedBuffer(static_cast<size_t>(imageSize), capacity);
    if (memory == nullptr) return false;
    bits_ = std::unique_ptr<uint8_t, SurfaceBufferRelease>(memory, SurfaceBufferRelease{capacity});
    stride_ = static_cast<size_t>(BytesPerScanLine());
    hDib = bits_.get();
    return true;
}

void cDIBSection::CreateFromPicture(const cDIBSection& picThis)
{
    if (!Create(picThis.Width(), picThis.Height())) return;
    LoadPictureBlt(const_cast<cDIBSection*>(&picThis), 0, 0, -1, -1, SRCCOPY);
}

void cDIBSection::LoadPictureBlt(HDC lhDC, Long lSrcLeft, Long lSrcTop, Long lSrcWidth, Long lSrcHeight,
                                 Long /*eRop*/)
{
    if (lhDC == nullptr) return;
    if (lSrcWidth < 0) lSrcWidth = Width();
    if (lSrcHeight < 0) lSrcHeight = Height();
    BlockCopy(*this, 0, 0, *lhDC, lSrcLeft, lSrcTop, lSrcWidth, lSrcHeight);
}

void cDIBSection::PaintPicture(HDC lhDC, Long lDestLeft, Long lDestTop, Long lDestWidth, Long lDestHeight,
                               Long lSrcLeft, Long lSrcTop, Long /*eRop*/) const
{
    if (lhDC == nullptr) return;
    if (lDestWidth < 0) lDestWidth = Width();
    if (lDestHeight < 0) lDestHeight = Height();
    BlockCopy(*lhDC, lDestLeft, lDestTop, *this, lSrcLeft, lSrcTop, lDestWidth, lDestHeight);
}

uint8_t* cDIBSection::RowChecked(Long r)
{
    if (!bits_ || r < 0 || r >= header_.biHeight) Raise(errSubscript);
    return Row(r);
}

void SurfaceBufferRelease::operator()(uint8_t* p) const { ReleaseBuffer(p, capacity); }

void cDIBSection::ClearUp()
{
    bits_.reset();
    stride_ = 0;
    hasContext_ = false;
}

bool cDIBSection::CopyToClipboard(bool /*bAsDIB*/) { return false; }

void BlockCopy(cDIBSection& destination, Long destLeft, Long destTop, const cDIBSection& source, Long srcLeft,
               Long srcTop, Long width, Long height)
{
    if (!destination.IsLive() || !source.IsLive()) return;
    // Clip in 64 bits so that no coordinate sum can overflow.
    int64_t w = width, h = height;
    int64_t sx = srcLeft, sy = srcTop, dx = destLeft, dy = destTop;
    auto clip = [](int64_t& start, int64_t& other, int64_t& extent, int64_t limit) {
        if (start < 0) {
            other -= start;
            extent += start;
            start = 0;
        }
        extent = std::min(extent, limit - start);
    };
    clip(sx, dx, w, source.Width());
    clip(sy, dy, h, source.Height());
    clip(dx, sx, w, destination.Width());
    clip(dy, sy, h, destination.Height());
    if (w <= 0 || h <= 0) return;

    // On one surface, copy downward moves from the bottom so no row is
    // overwritten before it is read.
    const bool bottomFirst = &destination == &source && dy > sy;
    for (int64_t i = 0; i < h; ++i) {
        const int64_t row = bottomFirst ? h - 1 - i : i;
        const uint8_t* from = source.PictureRow(static_cast<Long>(sy + row)) + sx * 3;
        uint8_t* to = destination.PictureRow(static_cast<Long>(dy + row)) + dx * 3;
        std::memmove(to, from, static_cast<size_t>(w) * 3);
    }
}

}  // namespace kx
