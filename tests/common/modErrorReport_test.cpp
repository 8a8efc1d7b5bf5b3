#include "common/modErrorReport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

using namespace kx;

// What a handler receives is pinned by the C interface's and the folder run's reports.
TEST(ReportError, WithoutAHandlerTheThreeLinesGoToStandardError)
{
    testing::internal::CaptureStderr();
    ReportError("FileExists", "Overflow", 6);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error in : FileExists\r\nError Number : 6\r\nError Desc : Overflow\n");
}

TEST(ExtractFileExtension, ReturnsTheLastComponent)
{
    EXPECT_EQ(ExtractFileExtension("/home/ann/Photos/Resized"), "Resized");
    EXPECT_EQ(ExtractFileExtension("/a/"), "");
    EXPECT_EQ(ExtractFileExtension("b.jpg"), "");
    EXPECT_EQ(ExtractFileExtension(std::string(40000, 'x') + "/y"), "y");  // any length
}

TEST(FileExists, OnlyOrdinaryFilesExist)
{
    kxtest::TempDir dir;
    for (const char* name : {"photo.jpg", ".hidden.jpg", "locked.jpg"})
        kxtest::WriteFileBytes(dir / name, {1});
    ASSERT_EQ(::chmod((dir / "locked.jpg").c_str(), 0444), 0);
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir / "photo.jpg").c_str(), (dir / "link.jpg").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "folder").c_str(), (dir / "dirlink").c_str()), 0);
    for (const char* name : {"photo.jpg", "link.jpg", "locked.jpg"})
        EXPECT_TRUE(FileExists(dir / name)) << name;
    for (const char* name : {".hidden.jpg", "folder", "dirlink", "missing.jpg", "photo.jpg/"})
        EXPECT_FALSE(FileExists(dir / name)) << name;
    EXPECT_FALSE(FileExists("no-such-file-without-a-slash.jpg"));
}
