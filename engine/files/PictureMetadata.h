// What a picture file says about its pixels besides the pixels: how to turn
// them upright, their colour profile, and the camera's other records. The
// decoders fill it where their format carries these; the writers take what
// the engine's settings let travel to the output.
#pragma once

#include <cstdint>
#include <vector>

namespace kx {

struct PictureMetadata {
    // The orientation tag, 1 to 8 (1: stored upright); 1 when missing,
    // unreadable or out of range.
    int Orientation = 1;
    // The whole embedded ICC profile; empty when none or unusable.
    std::vector<uint8_t> IccProfile;
    // The EXIF block from its TIFF header on; empty when none.
    std::vector<uint8_t> Exif;
    // The XMP packet; empty when none.
    std::vector<uint8_t> Xmp;
};

}  // namespace kx
