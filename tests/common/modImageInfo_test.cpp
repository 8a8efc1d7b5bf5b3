#include <gtest/gtest.h>

#include "RunTimeError.h"
#include "TestSupport.h"
#include "modImageInfo.h"

#include <dirent.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

using namespace kx;
using namespace kx::detail;
using Bytes = std::vector<uint8_t>;

namespace {

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// Signature and header chunk: width and height big-endian 32-bit at 16..23,
// bit depth at 24, colour type at 25, a zero CRC.
Bytes Png(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType)
{
    Bytes b{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (uint32_t v : {width, height})
        Append(b, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    Append(b, {depth, colourType, 0, 0, 0, 0, 0, 0, 0});
    return b;
}

// Header and logical screen descriptor: little-endian size at 6..9, packed
// byte at 10.
Bytes Gif(uint16_t width, uint16_t height, uint8_t packed)
{
    return {'G',
            'I',
            'F',
            '8',
            '9',
            'a',
            uint8_t(width),
            uint8_t(width >> 8),
            uint8_t(height),
            uint8_t(height >> 8),
            packed,
            0,
            0};
}

// File header (14 bytes) and a 40-byte information header: width at 18,
// signed height at 22, bits per pixel at 28.
Bytes Bmp(int32_t width, int32_t height, uint16_t bits)
{
    Bytes b{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0};
    for (int32_t v : {width, height})
        Append(b, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    Append(b, {1, 0, uint8_t(bits), uint8_t(bits >> 8)});
    b.resize(54, 0);
    return b;
}

// Start of image, a 16-byte JFIF application segment, a quantisation table
// and a frame header with the given code, size and component count.
Bytes Jpeg(uint8_t frameCode, uint16_t width, uint16_t height, uint8_t components)
{
    Bytes b{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    Append(b, {0xFF, 0xDB, 0x00, 0x43, 0x00});
    b.resize(b.size() + 64, 1);
    Append(b, {0xFF, frameCode, 0x00, 0x11, 8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
               uint8_t(width), components});
    b.resize(b.size() + 9, 0x11);
    return b;
}

struct Expected {
    int type, width, height, depth;
};

void ExpectInfo(const ImageInfo& info, Expected e, const std::string& what)
{
    EXPECT_EQ(info.ImageType, e.type) << what;
    EXPECT_EQ(info.Width, e.width) << what;
    EXPECT_EQ(info.Height, e.height) << what;
    EXPECT_EQ(info.BitDepth, e.depth) << what;
}

ImageInfo Probe(const kxtest::TempDir& dir, const Bytes& bytes)
{
    const std::string path = dir / "probe.bin";
    kxtest::WriteFileBytes(path, bytes);
    return GetImageInfo(path);
}

int64_t FindIn(const kxtest::TempDir& dir, const Bytes& bytes)
{
    const std::string path = dir / "search.bin";
    kxtest::WriteFileBytes(path, bytes);
    ProbeFile file(path);
    return FindJPEGStart(file);
}

int OpenDescriptors()
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dir != nullptr && readdir(dir) != nullptr) ++count;
    if (dir != nullptr) closedir(dir);
    return count;
}

const Expected kNone{255, 0, 0, 0};

}  // namespace

TEST(MakeWord, FormsSignedWordsAndOverflowsFromHighByte128)
{
    EXPECT_EQ(MakeWord(0x58, 0x02), 600);
    EXPECT_EQ(MakeWord(0xFF, 0x7F), 32767);
    EXPECT_EQ(MakeWord(0x00, 0x00), 0);
    EXPECT_EQ(kxtest::RaisedNumber([] { MakeWord(0x00, 0x80); }), errOverflow);
    EXPECT_EQ(kxtest::RaisedNumber([] { MakeWord(0xFF, 0xFF); }), errOverflow);
}

TEST(GetImageInfo, PngBitDepthByColourType)
{
    kxtest::TempDir dir;
    struct Case {
        uint8_t depth, colourType;
        Expected expected;
    };
    const Case cases[] = {
        {8, 2, {1, 800, 600, 24}},
        {8, 6, {1, 800, 600, 32}},
        {1, 3, {1, 800, 600, 8}},
        {8, 3, {1, 800, 600, 8}},
        {16, 0, {1, 800, 600, 16}},
        {8, 4, {1, 800, 600, 16}},
        {16, 6, {1, 800, 600, 64}},
        {255, 0, {1, 800, 600, 255}},
        {8, 5, kNone},    // no such colour type
        {128, 2, kNone},  // 384 bits do not fit a byte
        {64, 6, kNone},   // 256 bits do not fit a byte
    };
    for (const Case& c : cases)
        ExpectInfo(Probe(dir, Png(800, 600, c.depth, c.colourType)), c.expected,
                   "depth " + std::to_string(c.depth) + " type " + std::to_string(c.colourType));
}

TEST(GetImageInfo, PngSizesAreWholeUpToWhatTheLoaderTakes)
{
    kxtest::TempDir dir;
    ExpectInfo(Probe(dir, Png(40000, 8, 8, 2)), {1, 40000, 8, 24}, "40000 wide");
    ExpectInfo(Probe(dir, Png(800, 65535, 8, 2)), {1, 800, 65535, 24}, "65535 high");
    ExpectInfo(Probe(dir, Png(65536 + 1234, 8, 8, 2)), kNone, "beyond the loader");
    ExpectInfo(Probe(dir, Png(0x80000000u, 8, 8, 2)), kNone, "beyond 31 bits");
    ExpectInfo(Probe(dir, Png(40000, 40000, 8, 2)), kNone, "rows beyond 2^31 bytes");
    // The failed reader falls through to the JPEG search.
    Bytes png = Png(70000, 600, 8, 2);
    Append(png, Jpeg(0xC0, 320, 240, 3));
    ExpectInfo(Probe(dir, png), {3, 320, 240, 24}, "jpeg behind a failed png");
}

TEST(GetImageInfo, GifAndBmpHeaders)
{
    kxtest::TempDir dir;
    ExpectInfo(Probe(dir, Gif(320, 200, 0xF7)), {2, 320, 200, 8}, "gif 0xF7");
    ExpectInfo(Probe(dir, Gif(320, 200, 0x80)), {2, 320, 200, 1}, "gif 0x80");
    ExpectInfo(Probe(dir, Gif(40000, 8, 0x80)), {2, 40000, 8, 1}, "gif 40000 wide");
    ExpectInfo(Probe(dir, Bmp(640, 480, 24)), {4, 640, 480, 24}, "bmp");
    ExpectInfo(Probe(dir, Bmp(640, -480, 24)), {4, 640, 480, 24}, "top-down bmp");
    ExpectInfo(Probe(dir, Bmp(40000, 2, 24)), {4, 40000, 2, 24}, "bmp 40000 wide");
    ExpectInfo(Probe(dir, Bmp(-640, 480, 24)), kNone, "negative width");
    Bytes bmp = Bmp(70000, -480, 24);
    Append(bmp, Jpeg(0xC0, 16, 8, 1));
    ExpectInfo(Probe(dir, bmp), {3, 16, 8, 8}, "jpeg behind a failed bmp");
}

TEST(GetImageInfo, JpegSegmentWalk)
{
    kxtest::TempDir dir;
    ExpectInfo(Probe(dir, Jpeg(0xC0, 1024, 768, 3)), {3, 1024, 768, 24}, "baseline");
    ExpectInfo(Probe(dir, Jpeg(0xC0, 1024, 768, 1)), {3, 1024, 768, 8}, "grey");
    ExpectInfo(Probe(dir, Jpeg(0xC2, 99, 77, 3)), {3, 99, 77, 24}, "progressive");
    ExpectInfo(Probe(dir, Jpeg(0xC1, 99, 77, 31)), {3, 99, 77, 248}, "31 components");
    ExpectInfo(Probe(dir, Jpeg(0xC0, 99, 77, 32)), kNone, "32 components");
    ExpectInfo(Probe(dir, Jpeg(0xC0, 40000, 77, 3)), {3, 40000, 77, 24}, "40000 wide");

    Bytes filled = Jpeg(0xC0, 50, 60, 3);
    filled.insert(filled.begin() + 20, {0xFF, 0xFF, 0xFF});  // fill bytes before the table
    ExpectInfo(Probe(dir, filled), {3, 50, 60, 24}, "fill bytes");

    // Frame headers of every coding count; tables and reserved codes do not.
    ExpectInfo(Probe(dir, Jpeg(0xC9, 50, 60, 3)), {3, 50, 60, 24}, "arithmetic");
    ExpectInfo(Probe(dir, Jpeg(0xC4, 50, 60, 3)), kNone, "0xC4 is a table");

    // The cursor goes to the byte right after a segment, whatever it holds.
    ExpectInfo(
        Probe(dir, {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x02, 0xC0, 0x00, 0x11, 8, 0x00, 0x05, 0x00, 0x07, 1}),
        {3, 7, 5, 8}, "frame code right after an empty segment");
    ExpectInfo(Probe(dir, {0xFF, 0xD8, 0xFF, 0xE0, 0x10, 0x00, 0, 0, 0}), kNone, "runs off the end");
    ExpectInfo(Probe(dir, {0xFF, 0xD8, 0xFF, 0xE0, 0x80, 0x00, 0, 0, 0}), kNone, "runs off at 32768");
    ExpectInfo(Probe(dir, {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8}), kNone, "frame cut short");

    Bytes behind(100, 0x00);
    Append(behind, Jpeg(0xC0, 300, 200, 3));
    EXPECT_EQ(FindIn(dir, behind), 100);
    ExpectInfo(Probe(dir, behind), {3, 300, 200, 24}, "at offset 100");
}

TEST(FindJPEGStart, ComparesThreeBytesAnywhereInTheFile)
{
    kxtest::TempDir dir;
    EXPECT_EQ(FindIn(dir, {}), -1);
    EXPECT_EQ(FindIn(dir, {0xFF, 0xD8}), -1);
    EXPECT_EQ(FindIn(dir, {0xFF, 0xD8, 0xFE, 0xFF}), -1);
    EXPECT_EQ(FindIn(dir, {0xFF, 0xD8, 0xFF}), 0);
    EXPECT_EQ(FindIn(dir, {0x00, 0x00, 0xFF, 0xD8, 0xFF}), 2);  // the last three bytes
    EXPECT_EQ(FindIn(dir, {0xFF, 0xFF, 0xD8, 0xFF, 0xD8, 0xFF}), 1);

    // A start of image with nothing after it: found, but no frame.
    ExpectInfo(Probe(dir, {0x00, 0xFF, 0xD8, 0xFF}), kNone, "marker at the end");
}

TEST(FindJPEGStart, MarkersAcrossTheBlockBoundary)
{
    kxtest::TempDir dir;
    static_assert(ProbeFile::kBlockSize == 65536);
    // Within the first block's last bytes, split 2 + 1, split 1 + 2, in the next.
    for (size_t at : {65533, 65534, 65535, 65536}) {
        Bytes bytes(70000, 0x00);
        bytes[at] = 0xFF;
        bytes[at + 1] = 0xD8;
        bytes[at + 2] = 0xFF;
        EXPECT_EQ(FindIn(dir, bytes), int64_t(at)) << "marker at " << at;
    }
    // Only the near miss on the boundary, then a marker in the next block.
    Bytes bytes(140000, 0x00);
    bytes[65535] = 0xFF;
    bytes[65536] = 0xD8;
    bytes[65537] = 0xFE;
    bytes[131071] = 0xFF;
    bytes[131072] = 0xD8;
    bytes[131073] = 0xFF;
    EXPECT_EQ(FindIn(dir, bytes), 131071);
}

TEST(FindJPEGStart, LargeFileIsScannedToItsEnd)
{
    kxtest::TempDir dir;
    Bytes bytes(5 * 1048576, 0x00);
    EXPECT_EQ(FindIn(dir, bytes), -1);
    Append(bytes, Jpeg(0xC0, 640, 480, 3));
    EXPECT_EQ(FindIn(dir, bytes), 5242880);
    ExpectInfo(Probe(dir, bytes), {3, 640, 480, 24}, "jpeg after 5 MB");
}

TEST(GetImageInfo, UnreadableAndShortFiles)
{
    kxtest::TempDir dir;
    ExpectInfo(Probe(dir, {}), kNone, "empty");
    ExpectInfo(Probe(dir, {0x42, 0x4D, 0x00}), kNone, "three-byte BM");
    ExpectInfo(Probe(dir, {0x42, 0x4D}), kNone, "two-byte BM");
    kxtest::WriteFileBytes(dir / "bm3", {0x42, 0x4D, 0x00});
    ProbeFile shortFile(dir / "bm3");
    EXPECT_EQ(GetBMPInfo(shortFile).ImageType, 255);
    EXPECT_EQ(kxtest::RaisedNumber([&] { shortFile.At(3); }), 62);

    kxtest::TempDir empty;
    ExpectInfo(GetImageInfo(empty / "missing.png"), kNone, "missing");
    EXPECT_TRUE(empty.List().empty()) << "the probe must not create the file";
    EXPECT_EQ(kxtest::RaisedNumber([&] { ProbeFile f(empty / "missing.png"); }), errFileNotFound);

    ExpectInfo(GetImageInfo(dir.Path()), kNone, "folder");
    EXPECT_EQ(kxtest::RaisedNumber([&] { ProbeFile f(dir.Path()); }), errPathFileAccess);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    ExpectInfo(GetImageInfo(dir / "pipe"), kNone, "named pipe");

    const std::string readOnly = dir / "readonly.gif";
    kxtest::WriteFileBytes(readOnly, Gif(3, 4, 0));
    chmod(readOnly.c_str(), 0444);
    ExpectInfo(GetImageInfo(readOnly), {2, 3, 4, 1}, "read-only file");
}

TEST(GetImageInfo, ClosesTheFileOnEveryPath)
{
    kxtest::TempDir dir;
    const int before = OpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        Probe(dir, Bmp(640, 480, 24));
        Probe(dir, Bmp(640, -480, 24));
        Probe(dir, Png(800, 600, 8, 9));
        Probe(dir, {0x42, 0x4D, 0x00});
        GetImageInfo(dir / "missing");
        GetImageInfo(dir.Path());
    }
    EXPECT_EQ(OpenDescriptors(), before);
}
