// The antialiased reduction of LanczosResample.h for pictures that arrive a
// row at a time, top row first. The source rows that the kernel still needs
// are kept in a ring; when the last source row of an output row has come,
// the output row is made from the ring (the vertical pass, in blocks of
// columns whose sums stay in the processor's cache) and reduced (the
// horizontal pass). The ring holds as many rows as one output row's kernel
// spans, so the memory depends on the widths and the reduction, never on the
// source's height.
//
// The weights and the arithmetic are LanczosResample's, so the result is
// byte for byte that of ResampleLanczos on the whole picture. The vector
// path (AVX2, where the processor has it and ResamplePaths.h allows it) and
// the plain path give the same bytes: both add the same whole numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/surface/LanczosResample.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

class StreamingLanczos {
public:
    // The bytes Start will allocate for a reduction of sourceWidth x
    // sourceHeight to targetWidth x targetHeight, besides the output surface
    // (all sizes >= 1).
    static int64_t WorkingBytes(Long sourceWidth, Long sourceHeight, Long targetWidth, Long targetHeight);

    // Makes `out` a live targetWidth x targetHeight surface for the result
    // and gets ready for the source's rows. False when `out` cannot be made.
    bool Start(Long sourceWidth, Long sourceHeight, Long targetWidth, Long targetHeight, cDIBSection& out);

    // Takes the next source row: sourceWidth BGR pixels. Rows beyond the
    // source's height are ignored.
    void Push(const uint8_t* row);

    // Source rows taken so far.
    Long RowsTaken() const { return next_; }

    // Finishes the picture: rows never pushed count as black, as in a
    // surface a decoder stopped filling.
    void Finish();

private:
    void FinishRow(Long i);
    const uint8_t* Kept(Long sourceRow) const
    {
        return ring_.data() +
               static_cast<size_t>(sourceRow % ringRows_) * 3 * static_cast<size_t>(sourceWidth_);
    }

    LanczosAxis columns_, rows_;
    Long sourceWidth_ = 0, sourceHeight_ = 0, targetWidth_ = 0;
    Long next_ = 0;      // the next source row
    Long finished_ = 0;  // output rows done
    Long ringRows_ = 0;  // source rows kept: the most an output row's kernel spans
    std::vector<uint8_t> ring_;
    std::vector<const uint8_t*> rowsOfKernel_;
    std::vector<int16_t> between_;
    std::vector<uint8_t> black_;
    cDIBSection* out_ = nullptr;
};

}  // namespace kx
