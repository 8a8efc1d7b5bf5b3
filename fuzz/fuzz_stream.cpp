// The modern mode's streaming path on the fuzzer's bytes as a file (any
// streaming format: JPEG, PNG, BMP, TIFF, WebP), with the memory budget at
// its production default. The target size and the orientation setting come
// from the input's length, so that every input is also tried at other sizes
// as the fuzzer trims it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzFile.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/RowSources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = kx::fuzz::BytesAsFile(data, size);
    kx::SetMemoryLimit(0);
    // A third of the inputs have their rows reduced on a second thread.
    const kx::StreamRequest request{static_cast<kx::Long>(1 + size % 37),
                                    static_cast<kx::Long>(1 + size % 23), size % 2 == 0, false,
                                    size % 3 == 0 ? kx::ReduceThread::Always : kx::ReduceThread::Never};
    kx::cDIBSection surface;
    kx::PictureMetadata metadata;
    const kx::StreamOutcome outcome = kx::LoadReducedPicture(path, request, surface, metadata);
    kx::ReleasePictureMemory();
    if (outcome != kx::StreamOutcome::Done) {
        if (surface.IsLive()) std::abort();  // nothing is held after a refusal
        return 0;
    }
    // A success is the size asked for, upright unless told otherwise, and
    // every row can be read.
    if (surface.Width() != request.Width || surface.Height() != request.Height) std::abort();
    if (request.AutoOrient && metadata.Orientation != 1) std::abort();
    volatile uint8_t sum = 0;
    for (kx::Long y = 0; y < surface.Height(); ++y)
        sum = sum + surface.PictureRow(y)[surface.Width() * 3 - 1];
    return 0;
}
