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

TEST(Pictures, TheResourcesHoldExactlyThesePicturesEachOfThePixelSizeOfItsControl)
{
    std::vector<std::pair<std::string, QSize>> pictures = {{"browse_folder.png", {16, 16}},
                                                           {"banner.jpg", {56, 350}},
                                                           {"folvane.png", {32, 32}},
                                                           {"folvane_256.png", {256, 256}}};
    for (const char* step : {"1", "2", "3", "4"}) {
        pictures.push_back({"step" + std::string(step) + "_current.png", {32, 32}});
        pictures.push_back({"step" + std::string(step) + "_other.png", {32, 32}});
        pictures.push_back({"help_step" + std::string(step) + ".jpg", {206, 379}});
    }
    LoadPictures();
    for (const auto& [name, size] : pictures) {
        QImageReader reader(QString::fromStdString(":/pictures/" + name));
        EXPECT_EQ(reader.format(), name.ends_with(".png") ? "png" : "jpeg") << name;
        EXPECT_EQ(reader.size(), size) << name;
    }
    EXPECT_EQ(QDir(":/pictures").entryList().size(), std::ssize(pictures));
}

// The backdrop's pixel (0, 0) is window pixel (242, 10); the full progress
// column covers window columns 414..432, rows 42..367, so the tube's channel
// is backdrop columns 172..190, rows 32..357, its walls just outside.
TEST(Pictures, GaugeTubeFramesTheProgressColumn)
{
    const kxtest::Image backdrop = kxtest::DecodeJpegFile(KX_PICTURES_DIR "/help_step4.jpg");
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
    for (int y : {40, 200, 350}) EXPECT_TRUE(dark(171, y) && dark(191, y)) << "walls at row " << y;
    // Closed at the bottom by a white box right below the channel, open at
    // the top: orange field above the tube's lips.
    for (int x : {170, 181, 192}) EXPECT_TRUE(light(x, 363)) << "bottom box at column " << x;
    const kxtest::Bgr above = backdrop.At(181, 12);
    EXPECT_TRUE(above.r > 200 && above.b < 90);
}

}  // namespace
