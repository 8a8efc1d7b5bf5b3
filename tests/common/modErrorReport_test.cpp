#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "TestSupport.h"
#include "modErrorReport.h"

using namespace kx;

class ReportErrorTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetReportHandler([this](const std::string& text) { shown.push_back(text); });
    }
    void TearDown() override { SetReportHandler(nullptr); }
    std::vector<std::string> shown;
};

TEST_F(ReportErrorTest, ShowsThreeLinesJoinedByCarriageReturnLineFeed)
{
    ReportError("ProcessFolder", "Division by zero", 11);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Error in : ProcessFolder\r\nError Number : 11\r\nError Desc : Division by zero");
}

TEST_F(ReportErrorTest, EmptyNameZeroAndNegativeNumbers)
{
    ReportError("", "x", 0);
    ReportError("Main", "", -2147467259);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Error in : \r\nError Number : 0\r\nError Desc : x");
    EXPECT_EQ(shown[1], "Error in : Main\r\nError Number : -2147467259\r\nError Desc : ");
}

TEST(ReportErrorDefault, WritesTheTextToStandardErrorWithoutAHandler)
{
    SetReportHandler(nullptr);
    testing::internal::CaptureStderr();
    ReportError("FileExists", "Overflow", 6);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error in : FileExists\r\nError Number : 6\r\nError Desc : Overflow\n");
}

TEST(ExtractFileExtension, ReturnsTheLastComponent)
{
    EXPECT_EQ(ExtractFileExtension("/a/b.jpg"), "b.jpg");
    EXPECT_EQ(ExtractFileExtension("/home/ann/Photos/Resized"), "Resized");
    EXPECT_EQ(ExtractFileExtension("/a/"), "");
    EXPECT_EQ(ExtractFileExtension("b.jpg"), "");
    EXPECT_EQ(ExtractFileExtension(""), "");
    EXPECT_EQ(ExtractFileExtension(std::string(40000, 'x') + "/y"), "y");  // any length
}

TEST(FileExists, OnlyOrdinaryFilesExist)
{
    kxtest::TempDir dir;
    kxtest::WriteFileBytes(dir / "photo.jpg", {1});
    kxtest::WriteFileBytes(dir / ".hidden.jpg", {1});
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir / "photo.jpg").c_str(), (dir / "link.jpg").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "folder").c_str(), (dir / "dirlink").c_str()), 0);
    kxtest::WriteFileBytes(dir / "locked.jpg", {1});
    ASSERT_EQ(::chmod((dir / "locked.jpg").c_str(), 0444), 0);

    EXPECT_TRUE(FileExists(dir / "photo.jpg"));
    EXPECT_TRUE(FileExists(dir / "link.jpg"));
    EXPECT_TRUE(FileExists(dir / "locked.jpg"));
    EXPECT_FALSE(FileExists(dir / ".hidden.jpg"));
    EXPECT_FALSE(FileExists(dir / "folder"));
    EXPECT_FALSE(FileExists(dir / "dirlink"));
    EXPECT_FALSE(FileExists(dir / "missing.jpg"));
    EXPECT_FALSE(FileExists("no-such-file-without-a-slash.jpg"));
    EXPECT_FALSE(FileExists(dir / "photo.jpg/"));
}
