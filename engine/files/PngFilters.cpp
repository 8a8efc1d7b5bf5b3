#include "engine/files/PngFilters.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kx {

namespace {

uint8_t Paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

void PlainRow(int filter, const uint8_t* in, uint8_t* out, const uint8_t* prior, size_t bytes, size_t n)
{
    for (size_t i = 0; i < bytes; ++i) {
        const int a = i >= n ? out[i - n] : 0, b = prior[i], c = i >= n ? prior[i - n] : 0;
        const int predicted = filter == 1 ? a : filter == 3 ? (a + b) >> 1 : Paeth(a, b, c);
        out[i] = static_cast<uint8_t>(in[i] + predicted);
    }
}

#if defined(__SSE2__)
// Four bytes into the low lanes, as 16-bit numbers: a pixel of 4, or of 3
// and the next one's first byte, whose lane is never stored.
__m128i LoadPixel(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128());
}

// The last pixel of 3 bytes, which has no byte after it.
__m128i LoadLastPixel(const uint8_t* p)
{
    uint8_t v[4]{p[0], p[1], p[2], 0};
    return LoadPixel(v);
}

template <size_t n>
void StorePixel(uint8_t* p, __m128i v)
{
    const uint32_t bytes = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    std::memcpy(p, &bytes, n);
}

__m128i Abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

// Sub, Average and Paeth on pixels of n = 3 or 4 bytes: each step predicts
// a whole pixel from the one before (a), the one above (b) and the one
// above that (c), with the plain loop's whole-number arithmetic.
template <int filter, size_t n>
void PixelRow(const uint8_t* in, uint8_t* out, const uint8_t* prior, size_t bytes)
{
    const __m128i low = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (size_t i = 0; i + n <= bytes; i += n) {
        const bool last = n == 3 && i + 4 > bytes;
        const __m128i x = last ? LoadLastPixel(in + i) : LoadPixel(in + i);
        const __m128i b = last ? LoadLastPixel(prior + i) : LoadPixel(prior + i);
        __m128i predicted;
        if constexpr (filter == 1) {
            predicted = a;
        } else if constexpr (filter == 3) {
            predicted = _mm_srli_epi16(_mm_add_epi16(a, b), 1);
        } else {
            const __m128i signedA = _mm_sub_epi16(b, c), signedB = _mm_sub_epi16(a, c);
            const __m128i pa = Abs16(signedA), pb = Abs16(signedB),
                          pc = Abs16(_mm_add_epi16(signedA, signedB));
            // a where pa <= pb and pa <= pc, else b where pb <= pc, else c.
            const __m128i takeA = _mm_andnot_si128(
                _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc)), _mm_set1_epi16(-1));
            const __m128i takeB = _mm_andnot_si128(_mm_cmpgt_epi16(pb, pc), _mm_set1_epi16(-1));
            const __m128i bOrC = _mm_or_si128(_mm_and_si128(takeB, b), _mm_andnot_si128(takeB, c));
            predicted = _mm_or_si128(_mm_and_si128(takeA, a), _mm_andnot_si128(takeA, bOrC));
        }
        a = _mm_and_si128(_mm_add_epi16(x, predicted), low);
        StorePixel<n>(out + i, a);
        c = b;
    }
}
#endif

}  // namespace

bool UnfilterPngRow(int filter, const uint8_t* in, uint8_t* out, const uint8_t* prior, size_t bytes,
                    int pixelBytes)
{
    const size_t n = static_cast<size_t>(pixelBytes);
    switch (filter) {
    case 0: std::memmove(out, in, bytes); return true;
    case 2: {
        size_t i = 0;
#if defined(__SSE2__)
        for (; i + 16 <= bytes; i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_add_epi8(x, b));
        }
#endif
        for (; i < bytes; ++i) out[i] = static_cast<uint8_t>(in[i] + prior[i]);
        return true;
    }
    case 1:
    case 3:
    case 4:
#if defined(__SSE2__)
        if ((n == 3 || n == 4) && bytes % n == 0) {
            using Row = void (*)(const uint8_t*, uint8_t*, const uint8_t*, size_t);
            static constexpr Row kRows[2][3]{{PixelRow<1, 3>, PixelRow<3, 3>, PixelRow<4, 3>},
                                             {PixelRow<1, 4>, PixelRow<3, 4>, PixelRow<4, 4>}};
            kRows[n - 3][filter == 1 ? 0 : filter == 3 ? 1 : 2](in, out, prior, bytes);
            return true;
        }
#endif
        PlainRow(filter, in, out, prior, bytes, n);
        return true;
    default: return false;
    }
}

}  // namespace kx
