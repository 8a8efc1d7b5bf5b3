// kestrix --format: each single-file sub-command writes the chosen format
// whatever the output's name, and a wrong format name is a usage error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "modImageInfo.h"

namespace {

int Kestrix(const std::string& args)
{
    const int status = std::system((std::string(KESTRIX_CLI) + " " + args + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KestrixFormat, EachSubCommandWritesTheChosenFormat)
{
    kxtest::TempDir dir;
    kxtest::Image image{40, 30, std::vector<uint8_t>(40 * 30 * 3, 128)};
    const std::string in = dir / "in.jpg";
    kxtest::EncodeJpegFile(in, image, 90, 0);
    struct Case {
        std::string args;  // after "SUB-COMMAND in out"
        std::string command;
        uint8_t type;
        int width, height;
    };
    const Case cases[] = {
        {"--format png", "percent", kx::ImageTypePNG, 20, 15},  // the name says .jpg
        {"--format WEBP --quality 70", "max-width", kx::ImageTypeWEBP, 20, 15},
        {"--format avif", "resize", kx::ImageTypeAVIF, 20, 15},
        {"--format jpeg", "fit", kx::ImageTypeJPEG, 20, 15},
        {"--format webp --all 2", "border", kx::ImageTypeWEBP, 44, 34},
        {"--format png --at top-left", "text-at", kx::ImageTypePNG, 40, 30},
    };
    for (const Case& c : cases) {
        const std::string out = dir / (c.command + ".jpg");
        std::string sizes = c.command == "percent" ? " 50" : c.command == "max-width" ? " --width 20"
                          : c.command == "border" || c.command == "text-at" ? "" : " --width 20 --height 15";
        if (c.command == "text-at") sizes = " Hi";
        ASSERT_EQ(Kestrix(c.command + " " + in + " " + out + sizes + " " + c.args), 0) << c.args;
        const kx::ImageInfo info = kx::GetImageInfo(out);
        EXPECT_EQ(info.ImageType, c.type) << c.args;
        EXPECT_EQ(info.Width, c.width) << c.args;
        EXPECT_EQ(info.Height, c.height) << c.args;
    }
    EXPECT_EQ(Kestrix("percent " + in + " " + (dir / "x.bmp") + " 50 --format bmp"), 2);
}

}  // namespace
