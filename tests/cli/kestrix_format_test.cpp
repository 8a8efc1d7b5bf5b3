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
        std::string command;  // with its arguments after INPUT OUTPUT
        uint8_t type;
        int width, height;
    };
    const Case cases[] = {{"percent 50 --format png", kx::ImageTypePNG, 20, 15},  // the name says .jpg
                          {"max-width --width 20 --format WEBP --quality 70", kx::ImageTypeWEBP, 20, 15},
                          {"resize --width 20 --height 15 --format avif", kx::ImageTypeAVIF, 20, 15},
                          {"border --all 2 --format webp", kx::ImageTypeWEBP, 44, 34},
                          {"text-at Hi --format png", kx::ImageTypePNG, 40, 30}};
    for (const Case& c : cases) {
        const std::string name = c.command.substr(0, c.command.find(' '));
        const std::string out = dir / (name + ".jpg");
        const std::string rest = c.command.substr(name.size());
        ASSERT_EQ(Kestrix(name + " " + in + " " + out + rest), 0) << c.command;
        const kx::ImageInfo info = kx::GetImageInfo(out);
        EXPECT_EQ(info.ImageType, c.type) << c.command;
        EXPECT_EQ(info.Width, c.width) << c.command;
        EXPECT_EQ(info.Height, c.height) << c.command;
    }
    EXPECT_EQ(Kestrix("percent " + in + " " + (dir / "x.bmp") + " 50 --format bmp"), 2);
}

}  // namespace
