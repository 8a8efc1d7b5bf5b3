// The whole-picture loader on the fuzzer's bytes as a file (any format),
// with the memory budget at its production default, so that a picture
// claiming more than it holds is found as a refusal, not as memory blown.
// The length picks whether the loader turns the picture upright itself or
// hands over the orientation for TurnUpright, and the shrink target.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzFile.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/Orientation.h"
#include "engine/files/PictureLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = kx::fuzz::BytesAsFile(data, size);
    kx::SetMemoryLimit(0);
    const bool autoOrient = size % 2 == 0;
    const kx::ShrinkTarget shrink = size % 3 == 0 ? kx::ShrinkTarget{}
                                                  : kx::ShrinkTarget{1 + static_cast<kx::Long>(size % 61),
                                                                     1 + static_cast<kx::Long>(size % 47)};
    kx::cDIBSection surface;
    kx::PictureMetadata metadata;
    const bool loaded = kx::LoadPicture(path, surface, metadata, autoOrient, shrink);
    if (!loaded) {
        if (surface.IsLive()) std::abort();  // nothing is held after a refusal
        kx::ReleasePictureMemory();
        return 0;
    }
    if (metadata.Orientation < 1 || metadata.Orientation > 8 || (autoOrient && metadata.Orientation != 1))
        std::abort();
    const kx::Long storedWidth = surface.Width(), storedHeight = surface.Height();
    if (!autoOrient && kx::TurnUpright(surface, metadata.Orientation)) {
        const bool swaps = metadata.Orientation >= 5;
        if (surface.Width() != (swaps ? storedHeight : storedWidth) ||
            surface.Height() != (swaps ? storedWidth : storedHeight))
            std::abort();
    }
    kx::ReleasePictureMemory();
    // A success leaves a whole, readable surface: touch every row.
    volatile uint8_t sum = 0;
    for (kx::Long y = 0; y < surface.Height(); ++y)
        sum = sum + surface.PictureRow(y)[0] + surface.PictureRow(y)[surface.Width() * 3 - 1];
    return 0;
}
