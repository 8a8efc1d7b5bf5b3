#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <turbojpeg.h>

#include <cstdlib>

#include "TestSupport.h"
#include "mIntelJPEGLibrary.h"

using namespace kx;
using kxtest::Bgr;
using kxtest::TempDir;

namespace {

// A picture whose quadrants differ: red top-left, green top-right, blue
// bottom-left, white bottom-right, so orientation errors show.
void FillQuadrants(cDIBSection& s)
{
    const int w = s.Width(), h = s.Height();
    kxtest::FillPicture(s, [w, h](int x, int y) {
        const bool right = x >= w / 2, bottom = y >= h / 2;
        if (!right && !bottom) return Bgr{0, 0, 255};
        if (right && !bottom) return Bgr{0, 255, 0};
        if (!right && bottom) return Bgr{255, 0, 0};
        return Bgr{255, 255, 255};
    });
}

bool Near(Bgr a, Bgr b, int tolerance)
{
    return std::abs(a.b - b.b) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.r - b.r) <= tolerance;
}

struct stat StatOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info;
}

void SetTimes(const std::string& path, time_t seconds, long nanoseconds)
{
    struct timespec times[2] = {{seconds - 100, nanoseconds + 1}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

const std::vector<uint8_t> kOldContent = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

}  // namespace

TEST(WriteJpeg, OutputIsUprightAtTheSurfaceSizeForEveryRowPadding)
{
    TempDir dir;
    for (int width = 1; width <= 5; ++width) {
        cDIBSection s;
        ASSERT_TRUE(s.Create(width * 8, 16));
        FillQuadrants(s);
        const std::string path = dir / ("w" + std::to_string(width) + ".jpg");
        ASSERT_TRUE(SaveSurfaceAsJpeg(s, path, 90));
        const auto image = kxtest::DecodeJpegFile(path);
        ASSERT_EQ(image.width, width * 8);
        ASSERT_EQ(image.height, 16);
        const int tolerance = 40;  // 4:2:0 chroma at a colour edge
        EXPECT_TRUE(Near(image.At(0, 0), {0, 0, 255}, tolerance)) << width;
        EXPECT_TRUE(Near(image.At(width * 8 - 1, 0), {0, 255, 0}, tolerance)) << width;
        EXPECT_TRUE(Near(image.At(0, 15), {255, 0, 0}, tolerance)) << width;
        EXPECT_TRUE(Near(image.At(width * 8 - 1, 15), {255, 255, 255}, tolerance)) << width;
    }
    // Row padding of 1, 2 and 3 bytes with odd widths too.
    for (int width = 1; width <= 5; ++width) {
        cDIBSection s;
        ASSERT_TRUE(s.Create(width, 3));
        kxtest::FillPicture(s, [](int, int) { return Bgr{40, 80, 160}; });
        const std::string path = dir / "odd.jpg";
        ASSERT_TRUE(SaveSurfaceAsJpeg(s, path, 95));
        const auto image = kxtest::DecodeJpegFile(path);
        ASSERT_EQ(image.width, width);
        ASSERT_EQ(image.height, 3);
        for (int x = 0; x < width; ++x) EXPECT_TRUE(Near(image.At(x, 1), {40, 80, 160}, 3)) << width;
    }
}

TEST(WriteJpeg, EncodesLikeTheBareLibraryAtTheGivenQuality)
{
    TempDir dir;
    cDIBSection s;
    ASSERT_TRUE(s.Create(37, 23));
    kxtest::FillPicture(s, [](int x, int y) { return Bgr{uint8_t(x * 7), uint8_t(y * 11), uint8_t(x * y)}; });
    kxtest::Image topDown{37, 23, {}};
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
            const Bgr p = kxtest::PixelAt(s, x, y);
            topDown.bgr.insert(topDown.bgr.end(), {p.b, p.g, p.r});
        }
    for (int quality : {50, 90, 100}) {
        ASSERT_TRUE(SaveSurfaceAsJpeg(s, dir / "engine.jpg", quality));
        kxtest::EncodeJpegFile(dir / "bare.jpg", topDown, quality, TJSAMP_420);
        EXPECT_EQ(kxtest::ReadFileBytes(dir / "engine.jpg"), kxtest::ReadFileBytes(dir / "bare.jpg"))
            << "quality " << quality;
    }
}

TEST(WriteJpeg, QualityOutsideOneToHundredFailsWithTheWriterError)
{
    TempDir dir;
    cDIBSection s;
    ASSERT_TRUE(s.Create(4, 4));
    for (Long quality : {0, 101, -5}) {
        try {
            WriteJpeg(s, dir / "q.jpg", quality);
            ADD_FAILURE() << "quality " << quality << " was accepted";
        } catch (const RunTimeError& e) {
            EXPECT_EQ(e.Number(), 26001);
            EXPECT_EQ(e.Source(), "Kestrix.mIntelJPEGLibrary");
            EXPECT_EQ(e.Description(), "Failed to save to JPG -1");
        }
        EXPECT_FALSE(SaveSurfaceAsJpeg(s, dir / "q.jpg", quality));
    }
    EXPECT_TRUE(dir.List().empty());
}

TEST(WriteJpeg, ReplacingCarriesPermissionsAndTimesOver)
{
    TempDir dir;
    const std::string path = dir / "keep.jpg";
    kxtest::WriteFileBytes(path, kOldContent);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    SetTimes(path, 1000000000, 123456789);
    cDIBSection s;
    ASSERT_TRUE(s.Create(8, 8));
    EXPECT_TRUE(WriteJpeg(s, path, 90));
    const struct stat info = StatOf(path);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 123456789);
    EXPECT_EQ(info.st_atim.tv_sec, 1000000000 - 100);
    EXPECT_EQ(info.st_atim.tv_nsec, 123456790);
    EXPECT_EQ(kxtest::DecodeJpegFile(path).width, 8);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"keep.jpg"});
}

TEST(SaveSurfaceAsJpeg, ReplacesAnOrdinaryFileAsNew)
{
    TempDir dir;
    const std::string path = dir / "new.jpg";
    kxtest::WriteFileBytes(path, kOldContent);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    SetTimes(path, 1000000000, 0);
    const mode_t oldMask = ::umask(022);
    cDIBSection s;
    ASSERT_TRUE(s.Create(8, 8));
    EXPECT_TRUE(SaveSurfaceAsJpeg(s, path, 90));
    ::umask(oldMask);
    const struct stat info = StatOf(path);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_GT(info.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(kxtest::DecodeJpegFile(path).width, 8);
}

TEST(SaveSurfaceAsJpeg, HiddenFileIsReplacedKeepingItsAttributes)
{
    // A hidden file is not an ordinary file, so the writer itself finds it.
    TempDir dir;
    const std::string path = dir / ".hidden.jpg";
    kxtest::WriteFileBytes(path, kOldContent);
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    cDIBSection s;
    ASSERT_TRUE(s.Create(8, 8));
    EXPECT_TRUE(SaveSurfaceAsJpeg(s, path, 90));
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0604u);
}

TEST(SaveSurfaceAsJpeg, ReadOnlyFileIsRefusedAndStays)
{
    TempDir dir;
    const std::string path = dir / "locked.jpg";
    kxtest::WriteFileBytes(path, kOldContent);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    cDIBSection s;
    ASSERT_TRUE(s.Create(8, 8));
    EXPECT_FALSE(SaveSurfaceAsJpeg(s, path, 90));
    try {
        WriteJpeg(s, path, 90);
        ADD_FAILURE() << "a read-only file was replaced";
    } catch (const RunTimeError& e) {
        EXPECT_EQ(e.Number(), errPathFileAccess);
    }
    EXPECT_EQ(kxtest::ReadFileBytes(path), kOldContent);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"locked.jpg"});
}

TEST(SaveSurfaceAsJpeg, FailedEncodeLeavesTheOldFileIntact)
{
    TempDir dir;
    const std::string path = dir / "old.jpg";
    kxtest::WriteFileBytes(path, kOldContent);
    cDIBSection never;  // 0 x 0, never created
    EXPECT_FALSE(SaveSurfaceAsJpeg(never, path, 90));
    cDIBSection s;
    ASSERT_TRUE(s.Create(8, 8));
    EXPECT_FALSE(SaveSurfaceAsJpeg(s, path, 0));
    EXPECT_EQ(kxtest::ReadFileBytes(path), kOldContent);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"old.jpg"});
}

TEST(SaveSurfaceAsJpeg, FolderOrMissingFolderIsNotWritten)
{
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "folder.jpg").c_str(), 0755), 0);
    cDIBSection s;
    ASSERT_TRUE(s.Create(8, 8));
    EXPECT_FALSE(SaveSurfaceAsJpeg(s, dir / "folder.jpg", 90));
    EXPECT_FALSE(SaveSurfaceAsJpeg(s, dir / "no/such/folder/x.jpg", 90));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"folder.jpg"});
}

TEST(LoadPictureFile, MissingOrNonPictureFilesFail)
{
    TempDir dir;
    cDIBSection s;
    EXPECT_FALSE(LoadPictureFile(s, dir / "missing.jpg"));
    kxtest::WriteFileBytes(dir / "text.jpg", {'h', 'e', 'l', 'l', 'o'});
    EXPECT_FALSE(LoadPictureFile(s, dir / "text.jpg"));
    kxtest::WriteFileBytes(dir / "empty.bmp", {});
    EXPECT_FALSE(LoadPictureFile(s, dir / "empty.bmp"));
    EXPECT_FALSE(LoadPictureFile(s, dir.Path()));
    EXPECT_FALSE(s.IsLive());
}

TEST(LoadPictureFile, ReadsBackWhatTheWriterWrote)
{
    TempDir dir;
    cDIBSection s;
    ASSERT_TRUE(s.Create(40, 24));
    FillQuadrants(s);
    ASSERT_TRUE(SaveSurfaceAsJpeg(s, dir / "round.jpg", 95));
    cDIBSection loaded;
    ASSERT_TRUE(LoadPictureFile(loaded, dir / "round.jpg"));
    EXPECT_EQ(loaded.Width(), 40);
    EXPECT_EQ(loaded.Height(), 24);
    EXPECT_TRUE(Near(kxtest::PixelAt(loaded, 2, 2), {0, 0, 255}, 12));
    EXPECT_TRUE(Near(kxtest::PixelAt(loaded, 37, 21), {255, 255, 255}, 12));
}

TEST(ResampleSurface, ReplacesTheSurfaceWithItsScaledCopy)
{
    cDIBSection s;
    ASSERT_TRUE(s.Create(10, 8));
    EXPECT_TRUE(ResampleSurface(s, 5, 3));  // width first here
    EXPECT_EQ(s.Width(), 5);
    EXPECT_EQ(s.Height(), 3);
    EXPECT_TRUE(s.IsLive());
}

TEST(ResampleSurface, ZeroSizeGivesAFreshEmptySurfaceAndStillSucceeds)
{
    cDIBSection s;
    ASSERT_TRUE(s.Create(10, 8));
    EXPECT_TRUE(ResampleSurface(s, 10, 0));
    EXPECT_EQ(s.Width(), 0);
    EXPECT_EQ(s.Height(), 0);
    EXPECT_FALSE(s.IsLive());
}
