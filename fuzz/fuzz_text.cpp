// Text drawing with arbitrary UTF-8 text and font names (see FuzzText.h).
#include <cstddef>
#include <cstdint>

#include "FuzzText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kx::fuzz::DrawFuzzText({data, size});
    return 0;
}
