// The JPEG writer one save at a time: its bytes, its errors, and what it does
// to a file already at the path (the drills through the operations: FaultDrill_test).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>

#include <tuple>

#include "engine/files/mIntelJPEGLibrary.h"
#include "tests/support/PhotoFixtures.h"

using namespace kx;
using kxtest::TempDir;

const std::vector<uint8_t> kOldContent = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

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
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " q" << c.quality);
        const kxtest::Image topDown = kxtest::AsymmetricPicture(c.width, c.height);
        cDIBSection s;
        ASSERT_TRUE(s.Create(c.width, c.height));
        kxtest::FillPicture(s, [&](int x, int y) { return topDown.At(x, y); });
        ASSERT_TRUE(SaveSurfaceAsJpeg(s, dir / "engine.jpg", c.quality));
        kxtest::EncodeJpegFile(dir / "bare.jpg", topDown, c.quality, TJSAMP_420);
        EXPECT_EQ(kxtest::ReadFileBytes(dir / "engine.jpg"), kxtest::ReadFileBytes(dir / "bare.jpg"));
        cDIBSection back;  // and the loader reads it back
        EXPECT_TRUE(LoadPictureFile(back, dir / "engine.jpg"));
    }
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
        const auto kept =
            std::tuple(info.st_atim.tv_sec, info.st_atim.tv_nsec, info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
        if (c.keepsTimes)
            EXPECT_EQ(kept, std::tuple(times[0].tv_sec, times[0].tv_nsec, times[1].tv_sec, times[1].tv_nsec));
        else
            EXPECT_GT(info.st_mtim.tv_sec, times[1].tv_sec);
        EXPECT_EQ(kxtest::DecodeJpegFile(path).width, 8);
    }
    ::umask(oldMask);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{".hidden.jpg", "keep.jpg", "new.jpg"}));
}

// Qualities outside 1 to 100, a surface never created, a read-only file, a
// folder in the way and a missing folder are refused with the writer's
// error; what was there stays and no temporary file remains.
TEST(WriteJpeg, FailedSavesRaiseTheWriterErrorAndLeaveWhatWasThere)
{
    TempDir dir;
    for (const char* name : {"old.jpg", "locked.jpg"}) kxtest::WriteFileBytes(dir / name, kOldContent);
    ASSERT_EQ(::chmod((dir / "locked.jpg").c_str(), 0444), 0);
    ASSERT_EQ(::mkdir((dir / "folder.jpg").c_str(), 0755), 0);
    cDIBSection s, never;  // never: 0 x 0, so the encoder itself fails
    ASSERT_TRUE(s.Create(8, 8));
    const struct {
        std::string path;
        Long quality;
        cDIBSection& surface;
        int32_t error;
    } cases[] = {{dir / "old.jpg", 0, s, 26001},      {dir / "old.jpg", 101, s, 26001},
                 {dir / "old.jpg", 90, never, 26001}, {dir / "locked.jpg", 90, s, 75},
                 {dir / "folder.jpg", 90, s, 75},     {dir / "no/such/folder/x.jpg", 90, s, 26001}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path << " q" << c.quality);
        EXPECT_FALSE(SaveSurfaceAsJpeg(c.surface, c.path, c.quality));
        EXPECT_EQ(kxtest::RaisedNumber([&] { WriteJpeg(c.surface, c.path, c.quality); }), c.error);
    }
    try {
        WriteJpeg(s, dir / "old.jpg", 0);
        ADD_FAILURE() << "quality 0 was accepted";
    } catch (const RunTimeError& e) {
        EXPECT_EQ(e.Source(), "Kestrix.mIntelJPEGLibrary");
        EXPECT_EQ(e.Description(), "Failed to save to JPG -1");
    }
    for (const char* name : {"old.jpg", "locked.jpg"})
        EXPECT_EQ(kxtest::ReadFileBytes(dir / name), kOldContent);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"folder.jpg", "locked.jpg", "old.jpg"}));
}
