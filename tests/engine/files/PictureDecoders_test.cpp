// The BMP, GIF, PNG and JPEG decoders on small files laid out byte by byte,
// and every decoder against malformed files and decompression bombs.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <numeric>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/PictureDecoders.h"
#include "engine/files/PictureLoader.h"
#include "engine/files/PictureWriters.h"
#include "tests/support/CountingMalloc.h"
#include "tests/support/PhotoFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace kxtest;

constexpr Bgr kWhite{255, 255, 255};

// Palette of the 4- and 8-bit fixtures: index 0 K, 1 R, 2 G, 3 B, 4 W, 5 Y.
const std::vector<uint32_t> kPal{0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0xFFFF00};

// A 3x2 BMP of palette indices.
Bytes Indexed(uint16_t bits, uint32_t compression, const char* pixels)
{
    return Bmp({.bits = bits, .compression = compression, .palette = kPal, .pixels = Hex(pixels)});
}

// The loader reads an uncompressed 24-bit BMP's rows straight into the surface: the decoder's
// bytes, padding included; a file one byte short is refused by both.
TEST(BmpLoader, ReadsPlainRowsInPlaceExactlyAsTheDecoder)
{
    // 5 pixels a row: 15 bytes and one byte of padding, set in the file.
    Bytes pattern(3 * 16);
    std::iota(pattern.begin(), pattern.end(), uint8_t{11});
    const auto rows = [&](size_t junk) { return Concat({Bytes(junk, 0xEE), pattern}); };
    const BmpLayout cases[]{
        {.width = 5, .height = -3, .pixels = rows(0)},
        {.width = 5, .height = 3, .headerSize = 12, .pixels = rows(0)},
        {.width = 5, .height = 3, .pixels = rows(7), .offset = 14 + 40 + 7},  // a gap before the rows
        {.width = 5, .height = -3, .pixels = rows(70000), .offset = 14 + 40 + 70000},  // rows beyond 64 KiB
    };
    TempDir dir;
    const std::string path = dir / "plain.bmp";
    for (const BmpLayout& layout : cases) {
        SCOPED_TRACE(layout.pixels.size() + layout.headerSize);
        Bytes file = Bmp(layout);
        WriteFileBytes(path, file);
        kx::cDIBSection decoded, loaded;
        ASSERT_TRUE(kx::DecodeBmp(file, decoded));
        ASSERT_TRUE(kx::LoadPicture(path, loaded));
        ASSERT_EQ(std::pair(loaded.Width(), loaded.Height()), std::pair(5, 3));
        EXPECT_TRUE(
            std::equal(decoded.Row(0), decoded.Row(0) + 3 * 16, loaded.Row(0)));  // rows are contiguous

        file.pop_back();
        WriteFileBytes(path, file);
        EXPECT_FALSE(kx::DecodeBmp(file, decoded));
        EXPECT_FALSE(kx::LoadPicture(path, loaded));
        EXPECT_FALSE(loaded.IsLive());
    }
}

TEST(DecodeGif, TruncatedDataKeepsDecodedRowsAndLeavesTheRestWhite)
{
    // 64 x 64 blue, so that the data spans many sub-blocks.
    const Bytes file = Gif({64, 64, 0, 0, 64, 64, std::vector<Bytes>(64, Bytes(64, 2))});
    kx::cDIBSection surface;
    ASSERT_TRUE(kx::DecodeGif(Bytes(file.begin(), file.begin() + file.size() / 2), surface));
    EXPECT_EQ(std::pair(PixelAt(surface, 5, 0), PixelAt(surface, 5, 63)), std::pair(Bgr{255, 0, 0}, kWhite));
}

constexpr int64_t kMiB = int64_t{1} << 20;

// Headers claiming a size, with a palette and 64 bytes of pixels.
Bytes BmpClaim(int32_t width, int32_t height, uint16_t bits, uint32_t compression)
{
    const std::vector<uint32_t> palette(bits <= 8 ? 1u << bits : 0, 0x808080);
    return Bmp({width, height, bits, compression, 40, palette, {}, Bytes(64)});
}

// 8-bit grey, `raw` as the inflated image data, `chunks` before it.
Bytes GreyPng(uint32_t width, uint32_t height, const Bytes& raw,
              std::vector<std::pair<std::string, Bytes>> chunks = {})
{
    return Png({width, height, 8, 0, {}, {}, {}, chunks, raw});
}

Bytes Patched(Bytes file, size_t offset, const Bytes& bytes)
{
    std::copy(bytes.begin(), bytes.end(), file.begin() + offset);
    return file;
}

// Every variant decodes exactly (as sketched); malformed files are refused. Bombs (claims within the surface limit of about 2 GiB but far beyond
// what so small a file holds; streams expanding far beyond the picture) are refused before the large
// allocation or decode within the real picture's memory (malloc's peak, where the build counts it):
// text chunks are skipped unread, oversized profiles dropped, data beyond the last row or the GIF
// frame is left alone. Under a 4 MiB memory limit a plausible 1024 x 1024 picture is refused before
// its surface is made, with what it needs.
TEST(PictureDecoders, EveryVariantDecodesAndHostileFilesAndBombsAreRefused)
{
    kx::SetMemoryLimit(4 * kMiB);
    const Bytes px(24, 0x55), bmp = Bmp({.pixels = px}), pal8 = Hex("04000500 01020300");
    const char* const rgb = "RGB/WKY/";  // what most BMP variants show
    const Bytes v5 = Hex("ffffff0000000000ffff0000 ff00000000ff00000000ff00");
    // A 2 x 2 GIF: 6 + 7 bytes of header, 12 of colour table, 10 of image
    // descriptor, then the data and the trailer.
    const Bytes gif = Gif({2, 2, 0, 0, 2, 2, {{0, 1}, {1, 0}}});
    const Bytes head(gif.begin(), gif.begin() + 25), desc(gif.begin() + 25, gif.begin() + 35);
    const Bytes data(gif.begin() + 35, gif.end());
    Bytes noise(16 * 49);  // 16 rows of a filter byte (0) and 48 grey samples
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = i % 49 == 0 ? 0 : uint8_t(i * 7919);
    const Bytes goodPng = GreyPng(48, 16, noise);
    const Bytes jpeg = JpegOf(AsymmetricPicture(16, 16));
    // One kind stands for all: every colour JPEG takes the same library call, here
    // with odd rows that carry padding; the bare decode is top-down like the picture.
    const TempDir dir;
    EncodeJpegFile(dir / "p.jpg", AsymmetricPicture(37, 23), 90, TJSAMP_420, false);
    const Image bare = DecodeJpegFile(dir / "p.jpg");
    std::vector<Bgr> barePixels;
    for (size_t at = 0; at < bare.bgr.size(); at += 3)
        barePixels.push_back({bare.bgr[at], bare.bgr[at + 1], bare.bgr[at + 2]});
    // FF C0, length, precision, height, width
    const size_t sof = size_t(std::ranges::search(jpeg, Bytes{0xFF, 0xC0}).begin() - jpeg.begin());
    ASSERT_LT(sof, jpeg.size());

    // 100 x 100 grey: 10100 bytes of filtered rows, surface 30 KB.
    const Bytes rows(100 * 101, 0);
    // keyword, 0, method 0, then the deflated text (zTXt) or profile (iCCP).
    const Bytes textBomb = Concat({Bytes{'C', 'm', 't', 0, 0}, Deflate(Bytes(size_t{24} * kMiB, 'a'))});
    const Bytes xmpCut = XmpItxt(Bytes(200, ' ')), xmpBomb = XmpItxt(Bytes(size_t{24} * kMiB, 'a'));
    const Bytes profileBomb = Concat({Bytes{'i', 'c', 'c', 0, 0}, Deflate(Bytes(size_t{24} * kMiB, 0))});
    Bytes idatBomb = rows;
    idatBomb.resize(size_t{24} * kMiB, 0);
    // With 2-bit pixels the codes start 3 bits wide; "clear, 0, 0" repeated
    // keeps them there: 8 repeats are 16 black pixels in 9 bytes. A 4 x 4
    // frame with a megabyte of such data and no end code.
    const Bytes sixteenPixels{0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x00, 0x01, 0x02};
    Bytes lzw;
    const std::vector<uint32_t> kBw{0, 0xFFFFFF};  // black and white: 2-bit codes
    while (lzw.size() < kMiB) lzw.insert(lzw.end(), sixteenPixels.begin(), sixteenPixels.end());

    const struct {
        std::string name;  // the decoder's, then the variant or flaw
        Bytes file;        // BMP pixels bottom row first, rows padded to 4 bytes; GIF colours R, G, B, K
        const char* sketch = nullptr;  // of what loads, when given
        int64_t allowedBytes = kMiB;   // peak malloc allowed while decoding
        bool loads = sketch != nullptr;
        std::vector<Bgr> pixels = {};  // of what loads, when no sketch can show it
        const char* reason = nullptr;  // of a refusal, when checked
    } cases[]{
        {"bmp_1_bit", Indexed(1, 0, "a0000000 40000000"), "KRK/RKR/"},
        {"bmp_4_bits", Indexed(4, 0, "40500000 12300000"), rgb},
        {"bmp_core_header", Bmp({.bits = 8, .headerSize = 12, .palette = kPal, .pixels = pal8}), rgb},
        {"bmp_os2_2x_header", Bmp({.bits = 8, .headerSize = 16, .palette = kPal, .pixels = pal8}), rgb},
        // Runs, an end of line, a literal padded to 16 bits, the end.
        {"bmp_rle8", Indexed(8, 1, "0104 0100 0105 0000 000301020300 0001"), rgb},
        // A delta one row up leaves the skipped pixels black.
        {"bmp_rle8_delta", Indexed(8, 1, "0204 00020001 0103 0001"), "KKB/WWK/"},
        // A run, a delta one pixel right, an end of line, a literal.
        {"bmp_rle4", Indexed(4, 2, "0140 00020100 0150 0000 00031230 0001"), rgb},
        {"bmp_16_bits_555", Bmp({.bits = 16, .pixels = Hex("ff7f0000e07f0000 007ce0031f000000")}), rgb},
        {"bmp_565_fields",
         Bmp({3, 2, 16, 3, 40, {}, {0xF800, 0x7E0, 0x1F}, Hex("ffff0000e0ff0000 00f8e0071f000000")}), rgb},
        {"bmp_24_bits", Bmp({.pixels = Hex("ffffff00000000ffff000000 0000ff00ff00ff0000000000")}), rgb},
        {"bmp_top_down",
         Bmp({.height = -2, .pixels = Hex("0000ff00ff00ff0000000000 ffffff00000000ffff000000")}), rgb},
        // The fourth byte is unused, not alpha.
        {"bmp_32_bits", Bmp({.bits = 32, .pixels = Hex("ffffff090000000900ffff09 0000ff0900ff0009ff000009")}),
         rgb},
        {"bmp_v5_red_in_low_byte", Bmp({3, 2, 32, 3, 124, {}, {0xFF, 0xFF00, 0xFF0000}, v5}), rgb},
        // Damaged but readable: clipped at the row's end, the rest black.
        {"bmp_rle8_run_past_row", Indexed(8, 1, "0504 0101 0000 0102 0001"), "GKK/WWW/"},
        {"bmp_rle8_delta_past_row", Indexed(8, 1, "0002c800 0104 0000 000301020300 0001"), "RGB/KKK/"},
        {"bmp_rle8_truncated_literal", Indexed(8, 1, "0104 0100 0105 0000 000301"), "RKK/WKY/"},
        {"bmp_beyond_palette", Bmp({.bits = 8, .palette = {0, 0xFF0000}, .pixels = Hex("0109c800 0001ff00")}),
         "KRK/RKK/"},
        {"gif_offset_2_transparent", Gif({4, 3, 1, 1, 3, 2, {{0, 1, 2}, {3, 0, 1}}, 2}), "WWWW/WRGW/WKRG/"},
        {"gif_clipped_at_right_and_bottom", Gif({3, 2, 2, 1, 2, 2, {{1, 2}, {3, 3}}}), "WWW/WWG/"},
        {"gif_screen_0_takes_the_frame", Gif({0, 0, 1, 0, 1, 2, {{2}, {1}}}), "WB/WG/"},
        {"gif_beyond_table", Gif({4, 1, 0, 0, 4, 1, {{0, 1, 2, 3}}, -1, false, {0xFF0000, 0xFF00}}), "RGKK/"},
        // Stored rows 0, 4 | 2 | 1, 3, 5 hold the picture rows' own numbers.
        {"gif_interlaced", Gif({1, 6, 0, 0, 1, 6, {{0}, {0}, {2}, {1}, {3}, {1}}, -1, true}), "R/G/B/K/R/G/"},
        {"bmp_bad_signature", Patched(bmp, 1, {'A'})},
        {"bmp_header_size_unknown", Bmp({.headerSize = 100, .pixels = px})},
        {"bmp_header_cut_short", Bytes(bmp.begin(), bmp.begin() + 30)},
        {"bmp_zero_width", Bmp({.width = 0, .pixels = px})},
        {"bmp_height_int32_min", Bmp({.height = INT32_MIN, .pixels = px})},
        {"bmp_bad_planes", Bmp({.pixels = px, .planes = 2})},
        {"bmp_bad_bit_count", Bmp({.bits = 12, .pixels = px})},
        {"bmp_rle8_with_4_bits", Indexed(4, 1, "0001")},
        {"bmp_rle4_with_8_bits", Indexed(8, 2, "0001")},
        {"bmp_bit_fields_with_24_bits",
         Bmp({.compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}, .pixels = px})},
        {"bmp_jpeg_inside", Bmp({.compression = 4, .pixels = px})},
        {"bmp_os2_huffman", Bmp({.bits = 16, .compression = 3, .headerSize = 64, .pixels = px})},
        {"bmp_rle8_top_down",
         Bmp({.height = -2, .bits = 8, .compression = 1, .palette = kPal, .pixels = {0, 1}})},
        {"bmp_rle8_no_data", Indexed(8, 1, "")},
        {"bmp_pixel_offset_inside_header", Bmp({.pixels = px, .offset = 30})},
        {"bmp_truncated_rows", Bytes(bmp.begin(), bmp.end() - 1)},
        {"bmp_palette_missing", Bmp({.bits = 8, .pixels = px})},
        {"gif_base", gif, "RG/GR/"},
        {"gif_lzw_garbage", Concat({head, desc, {2, 3, 0xFF, 0xFF, 0xFF, 0, 0x3B}})},
        {"gif_no_colour_table", Gif({2, 2, 0, 0, 2, 2, {{0, 1}, {1, 0}}, -1, false, {}})},
        {"gif_no_image", Concat({head, {0x3B}})},
        {"gif_truncated_before_image_data", Concat({head, desc})},
        {"gif_unknown_record", Concat({head, {0x99}, desc, data})},
        {"gif_bad_signature", {'G', 'I', 'X', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0}},
        {"png_ihdr_zero_width", GreyPng(0, 16, noise)},
        {"png_truncated_idat", Bytes(goodPng.begin(), goodPng.begin() + goodPng.size() / 2)},
        {"png_bad_signature", Bytes(40, 'P')},
        {"jpeg_header_zero_width", Patched(jpeg, sof + 7, {0, 0})},
        {"jpeg_lossless_frame", Patched(jpeg, sof + 1, {0xC3})},
        {"jpeg_precision_12", Patched(jpeg, sof + 4, {12})},
        {"jpeg_truncated_in_header", Bytes(jpeg.begin(), jpeg.begin() + sof + 6)},
        {"jpeg_bad_signature", Bytes(64, 0xFF)},
        {"bmp_24bit_20000x20000", BmpClaim(20000, 20000, 24, 0)},
        {"bmp_rle8_20000x20000", BmpClaim(20000, 20000, 8, 1)},
        {"bmp_topdown_20000x-20000", BmpClaim(20000, -20000, 24, 0)},
        {"bmp_over_surface_limit", BmpClaim(65535, 65535, 1, 0)},
        {"bmp_width_beyond_side_limit", BmpClaim(70000, 1, 24, 0)},
        {"gif_screen_20000x20000", Gif({20000, 20000, 0, 0, 1, 1, {}, -1, false, kBw, Bytes{0x44, 1}})},
        {"gif_image_beyond_screen_0", Gif({0, 0, 0, 0, 20000, 20000, {}, -1, false, kBw, Bytes{0x44, 1}})},
        {"jpeg_20000x20000", Jpeg(0xC0, 20000, 20000, 1), nullptr, 2 * kMiB},
        {"jpeg_65535x65535", Jpeg(0xC0, 65535, 65535, 1), nullptr, 2 * kMiB},
        {"png_20000x20000", GreyPng(20000, 20000, Bytes(20001, 0)), nullptr, 2 * kMiB},
        {"png_over_side_limit", GreyPng(70000, 1, Bytes(70001, 0)), nullptr, 2 * kMiB},
        {"png_ztxt_24MiB", GreyPng(100, 100, rows, {{"zTXt", textBomb}}), nullptr, kMiB, true},
        // Read with the metadata (and the file's end): an XMP packet past its limit, or damaged, is left out.
        {"pngxmp_end_cut_off", Bytes(goodPng.begin(), goodPng.end() - 12), nullptr, kMiB, true},  // no IEND
        {"pngxmp_24MiB", GreyPng(100, 100, rows, {{"iTXt", xmpBomb}}), nullptr, 3 * kMiB, true},
        {"pngxmp_cut_short", GreyPng(100, 100, rows, {{"iTXt", Bytes(xmpCut.begin(), xmpCut.end() - 4)}}),
         nullptr, kMiB, true},
        {.name = "bmp_rle8_over_budget",
         .file = Bmp({1024, 1400, 8, 1, 40, kPal, {}, Concat({Bytes(200, 0), Hex("0001")})}),
         .reason = "this picture needs 4.1 MB, more than the 4 MB memory limit"},
        {.name = "gif_over_budget",
         .file = Gif({1024, 1024, 0, 0, 1, 1, {}, -1, false, kBw, Bytes{0x44, 1}}),
         .reason = "this picture needs 4.0 MB, more than the 4 MB memory limit"},
        {.name = "png_over_budget",
         .file = GreyPng(1024, 1024, Bytes(1024 * 1025, 0)),
         .reason = "this picture needs 4.0 MB, more than the 4 MB memory limit"},
        {.name = "jpeg_over_budget",
         .file = Jpeg(0xC2, 1024, 1024, 3),  // progressive: 2 bytes a sample of coefficients too
         .reason = "this picture needs 10 MB, more than the 4 MB memory limit"},
        {"png_iccp_24MiB", GreyPng(100, 100, rows, {{"iCCP", profileBomb}}), nullptr, 12 * kMiB, true},
        {"png_idat_24MiB_for_10KB", GreyPng(100, 100, idatBomb), nullptr, 2 * kMiB, true},
        // Colour types 0 grey, 3 palette, 6 RGBA; half alpha (128) over white is
        // (c * 128 + 255 * 127 + 127) / 255: 0 gives 127, 100 gives 177, 200 gives 227.
        {"png_1_bit", Png({3, 2, 1, 0, {{0xA0}, {0x40}}}), "WKW/KWK/"},
        {.name = "png_grey_trns_key_16",
         .file = Png({2, 1, 8, 0, {{16, 17}}, {}, {0, 16}}),
         .pixels = {kWhite, {17, 17, 17}}},
        {.name = "png_palette_2_bit_trns",
         .file = Png({3, 1, 2, 3, {{0x18}}, {255, 0, 0, 0, 255, 0, 0, 0, 255}, {255, 128}}),
         .pixels = {{0, 0, 255}, {127, 255, 127}, {255, 0, 0}}},
        {.name = "png_rgba",
         .file = Png({3, 1, 8, 6, {{200, 100, 0, 128, 10, 20, 30, 0, 10, 20, 30, 255}}}),
         .pixels = {{127, 177, 227}, kWhite, {30, 20, 10}}},
        {.name = "jpeg_as_the_bare_decode", .file = ReadFileBytes(dir / "p.jpg"), .pixels = barePixels},
        // Bit fields scaled to full range. 3-bit red 4 -> round(4 * 255 / 7) = 146, 3-bit green 1 -> 36,
        // no blue mask -> 0. Red 0x80000003 * 255 / 0xFFFFFFFF = 127.5000002 -> 128; 1-bit green 1 -> 255;
        // 2-bit blue 1 -> 85.
        {.name = "bmp_16_bit_fields_of_3_bits",
         .file = Bmp({1, 1, 16, 3, 40, {}, {7, 0x38, 0}, Hex("0c000000")}),
         .pixels = {{0, 36, 146}}},
        {.name = "bmp_32_bit_fields_1_to_32_bits",
         .file = Bmp({1, 1, 32, 3, 40, {}, {0xFFFFFFFF, 1, 6}, Hex("03000080")}),
         .pixels = {{85, 255, 128}}},
        {"gif_1MiB_for_16_pixels", Gif({4, 4, 0, 0, 4, 4, {}, -1, false, kBw, lzw}), "KKKK/KKKK/KKKK/KKKK/"},
    };
    const std::map<std::string, bool (*)(std::span<const uint8_t>, kx::cDIBSection&)> decoders{
        {"bmp", kx::DecodeBmp},
        {"gif", kx::DecodeGif},
        {"png", kx::DecodePng},
        {"jpeg", kx::DecodeJpeg},
        {"pngxmp", [](std::span<const uint8_t> file, kx::cDIBSection& surface) {
             kx::PictureMetadata metadata;
             return kx::DecodePng(file, surface, metadata, nullptr) && metadata.Xmp.empty();
         }}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kx::cDIBSection surface;
        kx::ClearFailureReason();
#if KX_COUNTING_MALLOC
        const int64_t before = LiveBytes();
        ResetPeak();
#endif
        EXPECT_EQ(decoders.at(c.name.substr(0, c.name.find('_')))(c.file, surface),
                  c.loads || !c.pixels.empty());
#if KX_COUNTING_MALLOC
        EXPECT_LE(PeakBytes() - before, c.allowedBytes);
#endif
        if (c.sketch != nullptr) {
            EXPECT_EQ(Sketch(surface), c.sketch);
        }
        if (!c.pixels.empty()) {
            EXPECT_EQ(AllPixels(surface), c.pixels);
        }
        if (c.reason != nullptr) {
            EXPECT_EQ(kx::FailureReason(), c.reason);
        }
    }
    kx::SetMemoryLimit(0);
}

// Threads share the limit: a reservation that does not fit beside another's waits until that is
// given back; one over the limit alone is refused at once with both sizes, and nothing is held.
TEST(MemoryBudget, ThreadsShareTheLimitAndAPictureWaitsForRoom)
{
    kx::SetMemoryLimit(10 * kMiB);
    ASSERT_TRUE(kx::ReservePictureMemory(6 * kMiB));
    std::atomic<bool> released{false}, reserved{false};
    std::thread other([&] {
        EXPECT_TRUE(kx::ReservePictureMemory(6 * kMiB));
        EXPECT_TRUE(released.load());
        reserved = true;
        kx::ReleasePictureMemory();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(reserved.load());
    released = true;
    kx::ReleasePictureMemory();
    other.join();
    kx::ClearFailureReason();
    EXPECT_FALSE(kx::ReservePictureMemory(11 * kMiB));
    EXPECT_EQ(
        std::pair(kx::FailureReason(), kx::HeldPictureMemory()),
        std::pair(std::string("this picture needs 11 MB, more than the 10 MB memory limit"), int64_t{0}));
    kx::SetMemoryLimit(0);
}

#if KX_COUNTING_MALLOC
// Memory running out inside libpng's write callback is libpng's own error, with the encoder's
// reason: nothing is thrown through the C library.
TEST(WriterCallbacks, OutOfMemoryWhileLibpngWritesIsTheEncodersError)
{
    kx::cDIBSection noise;
    ASSERT_TRUE(noise.Create(1024, 1024));
    std::vector<uint8_t> encoded(3 << 20);
    std::generate(encoded.begin(), encoded.end(),
                  [seed = 7u]() mutable { return (seed = seed * 1103515245u + 12345u) >> 16; });
    std::copy(encoded.begin(), encoded.end(), noise.DIBSectionBitsPtr());  // rows of 3 KiB, no padding
    kx::ClearFailureReason();
    {
        const MallocCeiling ceiling(kMiB);  // libpng's own state fits; the 3 MB it writes does not
        encoded = kx::EncodeSurface(noise, kx::OutputFormat::Png, 100, {});
    }
    EXPECT_TRUE(encoded.empty());
    EXPECT_EQ(kx::FailureReason(), "the PNG encoder says: out of memory");
}
#endif

}  // namespace
