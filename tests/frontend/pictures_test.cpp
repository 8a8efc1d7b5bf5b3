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

// The backdrop's (0, 0) is window pixel (242, 10): the full progress column,
// window columns 414..432 and rows 42..367, is its tube's light channel, walled
// in dark either side (the JPEG may ring a little next to the walls).
TEST(Pictures, GaugeTubeFramesTheProgressColumn)
{
    const kxtest::Image backdrop = kxtest::DecodeJpegFile(KX_PICTURES_DIR "/help_step4.jpg");
    const auto light = [&](int x, int y) {
        return std::min({backdrop.At(x, y).r, backdrop.At(x, y).g, backdrop.At(x, y).b}) >= 190;
    };
    const auto dark = [&](int x, int y) {
        return backdrop.At(x, y).r + backdrop.At(x, y).g + backdrop.At(x, y).b <= 300;
    };
    for (int y = 32; y <= 357; ++y)
        for (int x = 172; x <= 190; ++x) ASSERT_TRUE(light(x, y)) << "channel pixel " << x << "," << y;
    for (int y : {40, 200, 350}) EXPECT_TRUE(dark(171, y) && dark(191, y)) << "walls at row " << y;
}

}  // namespace
