// The JPEG writer one save at a time: its bytes, its errors, and what it does
// to a file already at the path. The drills through the operations are in
// FaultDrill_test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>

#include "TestSupport.h"
#include "mIntelJPEGLibrary.h"

using namespace kx;
using kxtest::Bgr;
using kxtest::TempDir;

namespace {

const std::vector<uint8_t> kOldContent = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

// The number of the writer's error, or 0 when it raised none.
int32_t WriterError(cDIBSection& surface, const std::string& path, Long quality)
{
    return kxtest::RaisedNumber([&] { WriteJpeg(surface, path, quality); });
}

}  // namespace

// The surface's rows are bottom-up and padded to 4 bytes (1, 2, 3 or none
// here): the file must hold exactly what the bare library makes of the same
// picture given top-down, at every quality.
TEST(WriteJpeg, EncodesLikeTheBareLibraryUprightAtEveryRowPadding)
{
    TempDir dir;
    const struct {
        int width, height, quality;
    } cases[] = {{37, 23, 50}, {37, 23, 90}, {37, 23, 100}, {1, 3, 95}, {2, 3, 95}, {3, 3, 95}, {40, 16, 90}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " q" +
                     std::to_string(c.quality));
        cDIBSection s;
        ASSERT_TRUE(s.Create(c.width, c.height));
        kxtest::FillPicture(s, [](int x, int y) {
            return Bgr{uint8_t(x * 7), uint8_t(y * 11), uint8_t(x * y)};
        });
        kxtest::Image topDown{c.width, c.height, {}};
        for (const Bgr p : kxtest::AllPixels(s)) topDown.bgr.insert(topDown.bgr.end(), {p.b, p.g, p.r});
        ASSERT_TRUE(SaveSurfaceAsJpeg(s, dir / "engine.jpg", c.quality));
        kxtest::EncodeJpegFile(dir / "bare.jpg", topDown, c.quality, TJSAMP_420);
        EXPECT_EQ(kxtest::ReadFileBytes(dir / "engine.jpg"), kxtest::ReadFileBytes(dir / "bare.jpg"));
        cDIBSection back;  // and the loader reads it back
        ASSERT_TRUE(LoadPictureFile(back, dir / "engine.jpg"));
        EXPECT_EQ(back.Height(), c.height);
    }
}

TEST(WriteJpeg, FailedEncodeRaisesTheWriterErrorAndLeavesTheOldFile)
{
    TempDir dir;
    const std::string path = dir / "old.jpg";
    kxtest::WriteFileBytes(path, kOldContent);
    cDIBSection s;
    ASSERT_TRUE(s.Create(4, 4));
    for (Long quality : {0, 101, -5}) {
        try {
            WriteJpeg(s, path, quality);
            ADD_FAILURE() << "quality " << quality << " was accepted";
        } catch (const RunTimeError& e) {
            EXPECT_EQ(e.Number(), 26001);
            EXPECT_EQ(e.Source(), "Kestrix.mIntelJPEGLibrary");
            EXPECT_EQ(e.Description(), "Failed to save to JPG -1");
        }
        EXPECT_FALSE(SaveSurfaceAsJpeg(s, path, quality));
    }
    cDIBSection never;  // 0 x 0, never created: the encoder itself fails
    EXPECT_EQ(WriterError(never, path, 90), 26001);
    EXPECT_FALSE(SaveSurfaceAsJpeg(never, path, 90));
    EXPECT_EQ(kxtest::ReadFileBytes(path), kOldContent);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"old.jpg"});
}

// WriteJpeg carries the replaced file's permissions and times over;
// SaveSurfaceAsJpeg replaces an ordinary file as if it had been deleted
// first, but a hidden one (not an ordinary file to it) as WriteJpeg does.
TEST(WriteJpeg, ReplacedFileKeepsItsAttributesOnlyWhereItShould)
{
    TempDir dir;
    const mode_t oldMask = ::umask(022);
    const struct {
        const char* name;
        bool viaWriteJpeg;
        mode_t mode, expectedMode;
        bool keepsTimes;
    } cases[] = {{"keep.jpg", true, 0640, 0640, true},
                 {"new.jpg", false, 0600, 0644, false},
                 {".hidden.jpg", false, 0604, 0604, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        kxtest::WriteFileBytes(path, kOldContent);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        const struct timespec times[2] = {{1000000000 - 100, 123456790}, {1000000000, 123456789}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        cDIBSection s;
        ASSERT_TRUE(s.Create(8, 8));
        EXPECT_TRUE(c.viaWriteJpeg ? WriteJpeg(s, path, 90) : SaveSurfaceAsJpeg(s, path, 90));
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.expectedMode);
        if (c.keepsTimes) {
            EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
            EXPECT_EQ(info.st_mtim.tv_nsec, 123456789);
            EXPECT_EQ(info.st_atim.tv_sec, 1000000000 - 100);
            EXPECT_EQ(info.st_atim.tv_nsec, 123456790);
        } else {
            EXPECT_GT(info.st_mtim.tv_sec, 1000000000);
        }
        EXPECT_EQ(kxtest::DecodeJpegFile(path).width, 8);
    }
    ::umask(oldMask);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{".hidden.jpg", "keep.jpg", "new.jpg"}));
}

// A read-only file (error 75), a folder in the way and a missing folder are
// refused; what was there stays and no temporary file remains.
TEST(WriteJpeg, TargetsThatCannotBeReplacedAreRefused)
{
    TempDir dir;
    kxtest::WriteFileBytes(dir / "locked.jpg", kOldContent);
    ASSERT_EQ(::chmod((dir / "locked.jpg").c_str(), 0444), 0);
    ASSERT_EQ(::mkdir((dir / "folder.jpg").c_str(), 0755), 0);
    const struct {
        std::string path;
        int32_t error;
    } cases[] = {{dir / "locked.jpg", 75}, {dir / "folder.jpg", 75}, {dir / "no/such/folder/x.jpg", 26001}};
    cDIBSection s;
    ASSERT_TRUE(s.Create(8, 8));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_FALSE(SaveSurfaceAsJpeg(s, c.path, 90));
        EXPECT_EQ(WriterError(s, c.path, 90), c.error);
    }
    EXPECT_EQ(kxtest::ReadFileBytes(dir / "locked.jpg"), kOldContent);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"folder.jpg", "locked.jpg"}));
}
