// The engine as a client program sees it: through kestrix.h and the shared
// library only.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "kestrix.h"

using kxtest::TempDir;

namespace {

void Record(const char* text, void* user) { static_cast<std::vector<std::string>*>(user)->push_back(text); }

class Component : public testing::Test {
protected:
    void SetUp() override
    {
        engine = cKestrix_Create();
        ASSERT_NE(engine, nullptr);
        Kestrix_SetReportHandler(Record, &reports);
        input = dir / "in.jpg";
        kxtest::Image image{400, 300, std::vector<uint8_t>(400 * 300 * 3)};
        for (size_t i = 0; i < image.bgr.size(); ++i) image.bgr[i] = static_cast<uint8_t>(i * 7 / 3);
        kxtest::EncodeJpegFile(input, image, 95, 2 /* 4:2:0 */);
    }
    void TearDown() override
    {
        Kestrix_SetReportHandler(nullptr, nullptr);
        cKestrix_Release(engine);
    }

    TempDir dir;
    cKestrix* engine = nullptr;
    std::vector<std::string> reports;
    std::string input;
};

}  // namespace

TEST_F(Component, BooleansAreMinusOneAndZero)
{
    EXPECT_EQ(cKestrix_ImageResizeMaxWidth(engine, input.c_str(), (dir / "a.jpg").c_str(), 10,
                                           KESTRIX_DEFAULT_QUALITY),
              -1);
    EXPECT_EQ(cKestrix_ImageResizeMaxWidth(engine, input.c_str(), (dir / "a.jpg").c_str(), 0,
                                           KESTRIX_DEFAULT_QUALITY),
              0);
    const auto out = kxtest::DecodeJpegFile(dir / "a.jpg");
    EXPECT_EQ(out.width, 10);
    EXPECT_EQ(out.height, 6);
}

TEST_F(Component, OmittedQualityIsNinety)
{
    const std::string byDefault = dir / "default.jpg", ninety = dir / "90.jpg", fifty = dir / "50.jpg";
    ASSERT_EQ(
        cKestrix_ImageResize(engine, input.c_str(), byDefault.c_str(), 150, 200, KESTRIX_DEFAULT_QUALITY),
        KESTRIX_TRUE);
    ASSERT_EQ(cKestrix_ImageResize(engine, input.c_str(), ninety.c_str(), 150, 200, 90), KESTRIX_TRUE);
    ASSERT_EQ(cKestrix_ImageResize(engine, input.c_str(), fifty.c_str(), 150, 200, 50), KESTRIX_TRUE);
    EXPECT_EQ(kxtest::ReadFileBytes(byDefault), kxtest::ReadFileBytes(ninety));
    EXPECT_NE(kxtest::ReadFileBytes(byDefault), kxtest::ReadFileBytes(fifty));
}

TEST_F(Component, ErrorCodeTellsWhyAndTheNextCallResetsIt)
{
    const std::string out = dir / "out.jpg";
    EXPECT_EQ(cKestrix_ImageResizeMaxWidth(engine, input.c_str(), out.c_str(), 0, 90), KESTRIX_FALSE);
    EXPECT_EQ(cKestrix_ErrorCode(engine), KESTRIX_BAD_WIDTH);
    EXPECT_EQ(cKestrix_ImagePercentageResize(engine, input.c_str(), out.c_str(), 50, 90), KESTRIX_TRUE);
    EXPECT_EQ(cKestrix_ErrorCode(engine), KESTRIX_OK);
    EXPECT_EQ(cKestrix_ImageResizeWithinDimensions(engine, input.c_str(), out.c_str(), 0, 0, 90),
              KESTRIX_FALSE);
    EXPECT_EQ(cKestrix_ErrorCode(engine), KESTRIX_BAD_HEIGHT);
    EXPECT_EQ(cKestrix_ImageResize(engine, (dir / "missing.bmp").c_str(), out.c_str(), 10, 10, 90),
              KESTRIX_FALSE);
    EXPECT_EQ(cKestrix_ErrorCode(engine), KESTRIX_INPUT_NOT_LOADED);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Component, UnexpectedErrorIsReportedAndFailsWithCodeSix)
{
    // The probe gives a missing file the size 0: scaling to a height divides by it.
    const std::string missing = dir / "missing.bmp";
    EXPECT_EQ(cKestrix_ImageResizeMaxHeight(engine, missing.c_str(), (dir / "o.jpg").c_str(), 100,
                                            KESTRIX_DEFAULT_QUALITY),
              KESTRIX_FALSE);
    EXPECT_EQ(cKestrix_ErrorCode(engine), KESTRIX_UNEXPECTED_ERROR);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Error in : ResizeMaxHeight\r\nError Number : 11\r\nError Desc : Division by zero");
}

TEST_F(Component, ResultCodeBelongsToTheCallingThread)
{
    const std::string out = dir / "out.jpg";
    EXPECT_EQ(cKestrix_ImageResizeMaxWidth(engine, input.c_str(), out.c_str(), -5, 90), KESTRIX_FALSE);
    int32_t otherThreadCode = -1;
    std::thread other([&] {
        cKestrix* second = cKestrix_Create();
        cKestrix_ImagePercentageResize(second, input.c_str(), (dir / "t.jpg").c_str(), 10, 90);
        otherThreadCode = cKestrix_ErrorCode(second);
        cKestrix_Release(second);
    });
    other.join();
    EXPECT_EQ(otherThreadCode, KESTRIX_OK);
    EXPECT_EQ(cKestrix_ErrorCode(engine), KESTRIX_BAD_WIDTH);
}

TEST_F(Component, BorderAndTextMethodsWriteTheirPictures)
{
    const std::string framed = dir / "framed.jpg", labelled = dir / "label.jpg";
    EXPECT_EQ(cKestrix_AddBorderToExistingImage(engine, input.c_str(), framed.c_str(), 0x0000FF, 5, 5, 7, 7),
              KESTRIX_TRUE);
    const auto image = kxtest::DecodeJpegFile(framed);
    EXPECT_EQ(image.width, 414);
    EXPECT_EQ(image.height, 310);
    EXPECT_GT(image.At(1, 1).r, 240);
    EXPECT_LT(image.At(1, 1).b, 15);
    KestrixFont font = {"DejaVu Sans", 10.0, KESTRIX_TRUE, KESTRIX_FALSE, KESTRIX_FALSE, KESTRIX_FALSE, 0};
    EXPECT_EQ(cKestrix_AddTextToImageUsingSpecifiedPosition(engine, input.c_str(), labelled.c_str(), "Hi",
                                                            &font, 0xFFFFFF, BottomRight),
              KESTRIX_TRUE);
    EXPECT_EQ(cKestrix_AddTextToImage(engine, input.c_str(), labelled.c_str(), "Hi", nullptr, 0, 10, 10),
              KESTRIX_TRUE);
    EXPECT_EQ(kxtest::DecodeJpegFile(labelled).width, 400);
}

TEST_F(Component, NullArgumentsFailCleanly)
{
    EXPECT_EQ(cKestrix_ImageResize(engine, nullptr, nullptr, 10, 10, 90), KESTRIX_FALSE);
    EXPECT_EQ(cKestrix_ErrorCode(engine), KESTRIX_INPUT_NOT_LOADED);
    EXPECT_EQ(cKestrix_ImageResize(engine, input.c_str(), nullptr, 10, 10, 90), KESTRIX_FALSE);
    EXPECT_EQ(cKestrix_ErrorCode(engine), KESTRIX_OUTPUT_NOT_WRITTEN);
    cKestrix_Release(nullptr);
}
