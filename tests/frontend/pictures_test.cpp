// The main window's pictures: each has the pixel size its control expects,
// the resources hold exactly these, and the step 4 backdrop's gauge tube
// lies where the progress column is drawn.
#include <gtest/gtest.h>

#include <QDir>
#include <QImageReader>
#include <string>

#include "TestSupport.h"

// Their registration lives in the windows' library.
void LoadPictures() { Q_INIT_RESOURCE(pictures); }

namespace {

const std::string kPictures = KX_PICTURES_DIR;

const std::pair<const char*, QSize> kPicturesInList[] = {
    {"step1_current.png", {32, 32}}, {"step2_current.png", {32, 32}}, {"step3_current.png", {32, 32}},
    {"step4_current.png", {32, 32}}, {"step1_other.png", {32, 32}},   {"step2_other.png", {32, 32}},
    {"step3_other.png", {32, 32}},   {"step4_other.png", {32, 32}},   {"browse_folder.png", {16, 16}},
    {"help_step1.jpg", {206, 379}},  {"help_step2.jpg", {206, 379}},  {"help_step3.jpg", {206, 379}},
    {"help_step4.jpg", {206, 379}},  {"banner.jpg", {56, 350}},       {"folvane.png", {32, 32}},
    {"folvane_256.png", {256, 256}},
};

// The program shows them from its compiled-in resources.
TEST(Pictures, TheResourcesHoldExactlyThesePicturesEachOfThePixelSizeOfItsControl)
{
    LoadPictures();
    for (const auto& [name, size] : kPicturesInList) {
        QImageReader reader(QString(":/pictures/") + name);
        EXPECT_EQ(reader.format(), std::string(name).ends_with(".png") ? "png" : "jpeg") << name;
        EXPECT_EQ(reader.size(), size) << name;
    }
    EXPECT_EQ(QDir(":/pictures").entryList().size(), std::ssize(kPicturesInList));
}

// The backdrop's pixel (0, 0) is window pixel (242, 10): the picture control
// sits at (240, 8) with a 2-pixel border. The progress column covers window
// columns 414..432 and rows 42..367 when full, so in the backdrop the tube's
// channel is columns 172..190, rows 32..357, with the walls just outside it.
TEST(Pictures, GaugeTubeFramesTheProgressColumn)
{
    const kxtest::Image backdrop = kxtest::DecodeJpegFile(kPictures + "/help_step4.jpg");
    ASSERT_EQ(backdrop.width, 206);
    ASSERT_EQ(backdrop.height, 379);
    // JPEG at high quality: allow a little ringing next to the dark walls.
    const auto light = [&](int x, int y) {
        const kxtest::Bgr c = backdrop.At(x, y);
        return std::min({c.r, c.g, c.b}) >= 190;
    };
    const auto dark = [&](int x, int y) {
        const kxtest::Bgr c = backdrop.At(x, y);
        return c.r + c.g + c.b <= 300;
    };
    for (int y = 32; y <= 357; ++y)
        for (int x = 172; x <= 190; ++x) ASSERT_TRUE(light(x, y)) << "channel pixel " << x << "," << y;
    for (int y : {40, 200, 350}) {
        EXPECT_TRUE(dark(171, y)) << "left wall at row " << y;
        EXPECT_TRUE(dark(191, y)) << "right wall at row " << y;
    }
    // Closed at the bottom by a white box right below the channel ...
    for (int x : {170, 181, 192}) EXPECT_TRUE(light(x, 363)) << "bottom box at column " << x;
    // ... and open at the top: orange field above the tube's lips.
    const kxtest::Bgr above = backdrop.At(181, 12);
    EXPECT_GT(above.r, 200);
    EXPECT_LT(above.b, 90);
}

}  // namespace
