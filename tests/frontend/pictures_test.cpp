#include <gtest/gtest.h>

#include <QDir>
#include <QImageReader>
#include <string>

// Their registration lives in the windows' library.
void LoadPictures() { Q_INIT_RESOURCE(pictures); }

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
        EXPECT_EQ(reader.size(), size) << name;
    }
    EXPECT_EQ(QDir(":/pictures").entryList().size(), std::ssize(pictures));
}
