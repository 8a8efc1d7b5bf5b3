// BMP rows for the streaming path: uncompressed rows of any depth are read
// from the file one at a time, from the bottom of the file for the usual
// bottom-up pictures. RLE pictures take the whole-picture path.
#include "engine/files/FailureReason.h"
#include "engine/files/PictureDecoders.h"
#include "engine/files/PictureFile.h"
#include "engine/files/RowSources.h"

namespace kx {

StreamOutcome StreamBmp(const PictureSource& file, RowReducer& reducer, PictureMetadata&)
{
    StreamOutcome outcome = StreamOutcome::WholePicture;
    BmpRowCalls calls;
    calls.start = [&](Long width, Long height) {
        if (!reducer.Reduces(width, height, 1)) return false;
        outcome = StreamOutcome::Failed;
        if (!reducer.Start(int64_t{width} * 8 + 64)) return false;
        outcome = StreamOutcome::Done;
        return true;
    };
    calls.read = [&](int64_t offset, std::span<uint8_t> into) {
        if (ReadAt(file.Fd, into.data(), into.size(), offset) == static_cast<int64_t>(into.size()))
            return true;
        SetFailureReason("truncated BMP data");
        outcome = StreamOutcome::Failed;
        return false;
    };
    calls.push = [&](const uint8_t* bgr) { reducer.Push(bgr); };
    if (!ReadBmpRows(file.Head, file.Size, calls)) return StreamOutcome::WholePicture;
    return outcome;
}

}  // namespace kx
