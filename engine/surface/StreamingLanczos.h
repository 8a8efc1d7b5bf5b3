// The antialiased reduction of LanczosResample.h for pictures that arrive a
// row at a time: each source row, top row first, is weighted into the output
// rows whose kernels reach it, and an output row is finished (the horizontal
// pass) as soon as its last source row has come. Only the output rows still
// open are held, as 32-bit sums of the source's width, so the memory depends
// on the widths and the reduction, never on the source's height.
//
// The weights and the arithmetic are LanczosResample's, so the result is
// byte for byte that of ResampleLanczos on the whole picture. The vector
// path (AVX2, where the processor has it and ResamplePaths.h allows it) and
// the plain path give the same bytes: both add the same whole numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "LanczosResample.h"
#include "cDIBSection.h"

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

    LanczosAxis columns_, rows_;
    Long sourceWidth_ = 0, sourceHeight_ = 0, targetWidth_ = 0;
    Long next_ = 0;      // the next source row
    Long finished_ = 0;  // output rows done
    Long slots_ = 0;     // output rows open at most at once
    std::vector<int32_t> sums_;
    std::vector<int16_t> between_;
    std::vector<uint8_t> black_;
    cDIBSection* out_ = nullptr;
};

}  // namespace kx
