#include "modErrorReport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "TestSupport.h"

using namespace kx;

TEST(ReportError, ShowsThreeLinesJoinedByCarriageReturnLineFeed)
{
    std::vector<std::string> shown;
    SetReportHandler([&](const std::string& text) { shown.push_back(text); });
    ReportError("ProcessFolder", "Division by zero", 11);
    ReportError("Main", "", -2147467259);
    SetReportHandler(nullptr);
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "Error in : ProcessFolder\r\nError Number : 11\r\nError Desc : Division by zero",
                         "Error in : Main\r\nError Number : -2147467259\r\nError Desc : "}));
    // Without a handler the text goes to standard error.
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
