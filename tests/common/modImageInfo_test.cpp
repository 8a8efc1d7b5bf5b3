#include <gtest/gtest.h>

#include "common/RunTimeError.h"
#include "common/modImageInfo.h"
#include "tests/support/PictureBytes.h"
#include "tests/support/TestSupport.h"

#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <tuple>

using namespace kx;
using namespace kx::detail;
using namespace kxtest;

namespace {

// A screen with a global table of `colours` entries (none when 0).
Bytes Gif(uint16_t width, uint16_t height, size_t colours)
{
    return kxtest::Gif({width, height, 0, 0, 1, 1, {{0}}, -1, false, std::vector<uint32_t>(colours)});
}

Bytes Bmp(int32_t width, int32_t height) { return kxtest::Bmp({.width = width, .height = height}); }

using Info = std::tuple<int, int, int, int>;  // type, width, height, bit depth

Info Of(const ImageInfo& i) { return {i.ImageType, i.Width, i.Height, i.BitDepth}; }

ImageInfo Probe(const TempDir& dir, const Bytes& bytes)
{
    const std::string path = dir / "probe.bin";
    WriteFileBytes(path, bytes);
    return GetImageInfo(path);
}

int64_t FindIn(const TempDir& dir, const Bytes& bytes)
{
    const std::string path = dir / "search.bin";
    WriteFileBytes(path, bytes);
    ProbeFile file(path);
    return FindJPEGStart(file);
}

int OpenDescriptors() { return int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})); }

const Info kNone{255, 0, 0, 0};

}  // namespace

TEST(GetImageInfo, ReadsEachFormatsHeader)
{
    Bytes filled = Jpeg(0xC0, 50, 60, 3);
    filled.insert(filled.begin() + 20, {0xFF, 0xFF, 0xFF});  // fill bytes before the table
    const Bytes afterPng = Concat({Png({70000, 600, 8, 2}), Jpeg(0xC0, 320, 240, 3)});
    const Bytes behind = Concat({Bytes(100, 0x00), Jpeg(0xC0, 300, 200, 3)});
    const struct {
        const char* name;
        Bytes file;
        Info expected;
    } cases[]{
        // PNG: the bit depth by colour type, sizes up to what the loader takes.
        {"png depth 8 type 2", Png({800, 600, 8, 2}), {1, 800, 600, 24}},
        {"png depth 1 type 3", Png({800, 600, 1, 3}), {1, 800, 600, 8}},
        {"png depth 8 type 4", Png({800, 600, 8, 4}), {1, 800, 600, 16}},
        {"png depth 16 type 6", Png({800, 600, 16, 6}), {1, 800, 600, 64}},
        {"png depth 255 type 0", Png({800, 600, 255, 0}), {1, 800, 600, 255}},
        {"png type 5 does not exist", Png({800, 600, 8, 5}), kNone},
        {"png 256 bits do not fit a byte", Png({800, 600, 64, 6}), kNone},
        {"png 65535 high", Png({800, 65535, 8, 2}), {1, 800, 65535, 24}},
        {"png beyond the loader", Png({65536 + 1234, 8, 8, 2}), kNone},
        {"png beyond 31 bits", Png({0x80000000u, 8, 8, 2}), kNone},
        {"png rows beyond 2^31 bytes", Png({40000, 40000, 8, 2}), kNone},
        // A failed PNG or BMP reader falls through to the JPEG search.
        {"behind a failed png", afterPng, {3, 320, 240, 24}},
        {"gif 256 colours", Gif(320, 200, 256), {2, 320, 200, 8}},
        {"bmp", Bmp(640, 480), {4, 640, 480, 24}},
        {"bmp negative width", Bmp(-640, 480), kNone},
        {"jpeg behind a failed bmp", Concat({Bmp(70000, -480), Jpeg(0xC0, 16, 8, 1)}), {3, 16, 8, 8}},
        // JPEG: frame headers of every coding count; tables and reserved codes do not.
        {"baseline", Jpeg(0xC0, 1024, 768, 3), {3, 1024, 768, 24}},
        {"31 components", Jpeg(0xC1, 99, 77, 31), {3, 99, 77, 248}},
        {"32 components", Jpeg(0xC0, 99, 77, 32), kNone},
        {"jpeg 40000 wide", Jpeg(0xC0, 40000, 77, 3), {3, 40000, 77, 24}},
        {"fill bytes", filled, {3, 50, 60, 24}},
        {"arithmetic", Jpeg(0xC9, 50, 60, 3), {3, 50, 60, 24}},
        {"0xC4 is a table", Jpeg(0xC4, 50, 60, 3), kNone},
        // The cursor goes to the byte right after a segment, whatever it holds.
        {"frame code right after an empty segment",
         {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x02, 0xC0, 0x00, 0x11, 8, 0x00, 0x05, 0x00, 0x07, 1},
         {3, 7, 5, 8}},
        {"runs off the end", {0xFF, 0xD8, 0xFF, 0xE0, 0x10, 0x00, 0, 0, 0}, kNone},
        {"runs off at 32768", {0xFF, 0xD8, 0xFF, 0xE0, 0x80, 0x00, 0, 0, 0}, kNone},
        {"frame cut short", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8}, kNone},
        {"at offset 100", behind, {3, 300, 200, 24}},
        {"start of image at the end", {0x00, 0xFF, 0xD8, 0xFF}, kNone},
        {"after 5 MB", Concat({Bytes(5 * 1048576, 0x00), Jpeg(0xC0, 640, 480, 3)}), {3, 640, 480, 24}},
    };
    TempDir dir;
    const int descriptors = OpenDescriptors();
    for (const auto& c : cases) EXPECT_EQ(Of(Probe(dir, c.file)), c.expected) << c.name;
    EXPECT_EQ(OpenDescriptors(), descriptors) << "the probe closes the file on every path";
}

// Three bytes anywhere, a marker split across the probe's 64 KiB blocks
// included, to the end of however large a file.
TEST(FindJPEGStart, ComparesThreeBytesAnywhereInTheFile)
{
    const struct {
        Bytes bytes;
        int64_t start;
    } cases[]{
        {{}, -1},
        {{0xFF, 0xD8}, -1},
        {{0xFF, 0xD8, 0xFE, 0xFF}, -1},
        {{0xFF, 0xD8, 0xFF}, 0},
        {{0x00, 0x00, 0xFF, 0xD8, 0xFF}, 2},  // the last three bytes
        {{0xFF, 0xFF, 0xD8, 0xFF, 0xD8, 0xFF}, 1},
        // Only the near miss on the boundary, then a marker in the next block.
        {Concat({Bytes(65535, 0), {0xFF, 0xD8, 0xFE}, Bytes(65533, 0), {0xFF, 0xD8, 0xFF}}), 131071},
        // The first block's last bytes, split 2 + 1 and 1 + 2, the next block.
        {Concat({Bytes(65533, 0), {0xFF, 0xD8, 0xFF}, Bytes(9, 0)}), 65533},
        {Concat({Bytes(65534, 0), {0xFF, 0xD8, 0xFF}, Bytes(9, 0)}), 65534},
        {Concat({Bytes(65535, 0), {0xFF, 0xD8, 0xFF}, Bytes(9, 0)}), 65535},
        {Concat({Bytes(65536, 0), {0xFF, 0xD8, 0xFF}, Bytes(9, 0)}), 65536},
    };
    TempDir dir;
    for (const auto& c : cases) EXPECT_EQ(FindIn(dir, c.bytes), c.start) << c.bytes.size() << " bytes";
}

TEST(GetImageInfo, UnreadableAndShortFiles)
{
    TempDir dir;
    EXPECT_EQ(Of(Probe(dir, {})), kNone);
    EXPECT_EQ(Of(Probe(dir, {0x42, 0x4D})), kNone);
    WriteFileBytes(dir / "bm3", {0x42, 0x4D, 0x00});
    ProbeFile shortFile(dir / "bm3");
    EXPECT_EQ(RaisedNumber([&] { shortFile.At(3); }), 62);
    const int descriptors = OpenDescriptors();

    TempDir empty;
    EXPECT_EQ(Of(GetImageInfo(empty / "missing.png")), kNone);
    EXPECT_TRUE(empty.List().empty()) << "the probe must not create the file";
    EXPECT_EQ(RaisedNumber([&] { ProbeFile f(empty / "missing.png"); }), errFileNotFound);

    EXPECT_EQ(Of(GetImageInfo(dir.Path())), kNone);
    EXPECT_EQ(RaisedNumber([&] { ProbeFile f(dir.Path()); }), errPathFileAccess);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(Of(GetImageInfo(dir / "pipe")), kNone);

    const std::string readOnly = dir / "readonly.gif";
    WriteFileBytes(readOnly, Gif(3, 4, 2));  // packed byte 0x80: a bit depth of 1
    chmod(readOnly.c_str(), 0444);
    EXPECT_EQ(Of(GetImageInfo(readOnly)), Info(2, 3, 4, 1));
    EXPECT_EQ(OpenDescriptors(), descriptors) << "the probe closes the file on every path";
}
