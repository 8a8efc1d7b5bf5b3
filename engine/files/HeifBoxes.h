// A look at a HEIF file's item table before libheif decodes it. A derived
// picture ('grid' of tiles, 'iovl' overlay of layers) carries its own output
// size in its data, and libheif 1.15 allocates that size however small the
// picture's "ispe" property says it is; nothing of its API shows the data.
// And a derived picture (those two, or 'iden') made of an item that is no
// picture stops libheif 1.15 on a failed assertion.
#pragma once

#include <cstdint>
#include <span>

namespace kx {

// True when every derived picture that decoding the primary item reads (the
// primary, the derived pictures among its tiles or layers and those of its
// auxiliary pictures such as alpha) declares a size that fits the primary's
// coded size: `codedWidth` x `codedHeight`, as its "ispe" gives it, before
// rotation and crop. The primary's own must match it exactly; and every
// item such a picture is made of is a picture. Otherwise, or when such a
// picture's data lies outside the file, refuses with the reason. Files
// whose item table cannot be found are libheif's to judge: true.
bool HeifDerivedPicturesSound(std::span<const uint8_t> file, int64_t codedWidth, int64_t codedHeight);

}  // namespace kx
