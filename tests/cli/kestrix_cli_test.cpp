// The kestrix tool's single-picture commands, run as a user runs them: the
// exit status, the line printed and the picture written for each command line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <optional>

#include "CliRun.h"
#include "PhotoFixtures.h"
#include "modImageInfo.h"
#include "modMain.h"

namespace {

using kxtest::Bgr;
constexpr Bgr kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0};

class Cli : public kxtest::CliTest {};

TEST_F(Cli, CommandLinesGiveTheirStatusMessageAndPicture)
{
    // A JPEG cut off half-way, a Photoshop file named .jpg, a read-only output.
    kxtest::Image noisy{200, 150, std::vector<uint8_t>(200 * 150 * 3)};
    for (size_t i = 0; i < noisy.bgr.size(); ++i) noisy.bgr[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    kxtest::EncodeJpegFile(dir / "full.jpg", noisy, 90, 2);
    auto bytes = kxtest::ReadFileBytes(dir / "full.jpg");
    bytes.resize(bytes.size() / 2);
    kxtest::WriteFileBytes(dir / "cut.jpg", bytes);
    kxtest::WriteFileBytes(dir / "scan.jpg", {'8', 'B', 'P', 'S', 0, 1, 0, 0});
    kxtest::WriteFileBytes(dir / "kept.jpg", {1});
    ASSERT_EQ(::chmod((dir / "kept.jpg").c_str(), 0444), 0);

    struct Case {
        std::string command;
        int status;
        std::string line = "";           // standard error's first line after "kestrix: "; "" for none
        std::string size = "";           // the picture written to OUT, WxH
        std::optional<Bgr> corner = {};  // its top-left pixel
        uint8_t type = kx::ImageTypeJPEG;
    };
    const Case cases[] = {
        // Each sub-command's size, WxH wherever a width and a height are asked,
        // positional sizes read as width, then height.
        {"max-width @400x300 OUT --width 10 --classic", 0, "", "10x6"},  // modern: 10x8
        {"max-height @400x300 OUT --height 150", 0, "", "200x150"},
        {"fit @1024x768 OUT 300 500", 0, "", "300x225"},
        {"fit @80x60 OUT 40x40", 0, "", "40x30"},
        {"percent @1024x768 OUT --percent 33", 0, "", "338x253"},
        {"percent @80x60 OUT 50%", 0, "", "40x30"},
        {"resize @100x50 OUT 30 20", 0, "", "30x20"},
        {"resize @80x60 OUT --width 30 --height 20", 0, "", "30x20"},
        {"resize @80x60 OUT 30X20 --width 30", 0, "", "30x20"},
        {"border @100x50 OUT --top 10 --bottom 20 --left 0 --right 5", 0, "", "105x80"},
        {"border @100x50 OUT --all 3 --left 0", 0, "", "103x56"},
        {"border @100x50 OUT --top -10", 0, "", "100x40"},
        {"border @80x60 OUT --quality 50 --all 1", 0, "", "82x62"},
        {"text @100x50 OUT Hi --top 5 --left 5", 0, "", "100x50"},
        {"text-at @80x60 OUT Hi --at center", 0, "", "80x60"},
        {"text-at @80x60 OUT Hi --at South-East", 0, "", "80x60"},
        // Modern by default; --filter and --shrink-only.
        {"max-width @160x120 OUT --width 10", 0, "", "10x8"},  // --classic: 10x7
        {"max-width @160x120 OUT --width 10 --filter exact", 0, "", "10x8"},
        {"max-width @160x120 OUT --width 10 --classic --filter lanczos", 0, "", "10x7"},
        {"fill @160x120 OUT --width 30 --height 70", 0, "", "30x70"},
        {"max-width @160x120 OUT --width 400", 0, "", "400x300"},
        {"max-width @160x120 OUT --width 400 --shrink-only", 0, "", "160x120"},
        {"max-height @160x120 OUT --height 121 --shrink-only", 0, "", "160x120"},
        {"max-height @160x120 OUT --height 119 --shrink-only", 0, "", "159x119"},
        {"percent @160x120 OUT 150 --shrink-only", 0, "", "160x120"},
        {"percent @160x120 OUT 50 --shrink-only --classic", 0, "", "80x60"},
        // Colours as hex, 0xBBGGRR, decimal codes (BGR) and names; black by default.
        {"border @40x30 OUT --all 16", 0, "", "72x62", Bgr{0, 0, 0}},
        {"border @40x30 OUT --all 16 --color #ff0000", 0, "", "72x62", kRed},
        {"border @40x30 OUT --all 16 -c 255", 0, "", "72x62", kRed},
        {"border @40x30 OUT --all 16 --colour 16711680", 0, "", "72x62", kBlue},
        {"border @40x30 OUT --all 16 --colour #00Ff00", 0, "", "72x62", kGreen},
        {"border @80x60 OUT --all 4 -c red", 0, "", "88x68", kRed},
        {"border @80x60 OUT --all 4 -c #0F0", 0, "", "88x68", kGreen},
        {"border @80x60 OUT --all 4 -c 0xFF0000", 0, "", "88x68", kBlue},
        {"border @80x60 OUT --all 4 -c WHITE", 0, "", "88x68", Bgr{255, 255, 255}},
        // --format whatever the output's name says.
        {"percent @40x30 OUT 50 --format png", 0, "", "20x15", {}, kx::ImageTypePNG},
        {"max-width @40x30 OUT --width 20 --format WEBP --quality 70", 0, "", "20x15", {}, kx::ImageTypeWEBP},
        {"resize @40x30 OUT --width 20 --height 15 --format avif", 0, "", "20x15", {}, kx::ImageTypeAVIF},
        {"border @40x30 OUT --all 2 --format webp", 0, "", "44x34", {}, kx::ImageTypeWEBP},
        {"text-at @40x30 OUT Hi --format png", 0, "", "40x30", {}, kx::ImageTypePNG},
        // A truncated JPEG is written as far as it goes, with the decoder's word.
        {"max-width DIR/cut.jpg OUT 100", 0, "DIR/cut.jpg: warning: Premature end of JPEG file", "100x75"},
        // Usage errors: the value and what was wrong with it.
        {"max-width @80x60 OUT 1024x768", 2, "WIDTH: '1024x768' is not a whole number from 1 to 65535"},
        {"max-width @80x60 OUT --width abc", 2, "--width: 'abc' is not a whole number from 1 to 65535"},
        {"max-width @80x60 OUT --width 0x10", 2, "--width: '0x10' is not a whole number from 1 to 65535"},
        {"max-width @80x60 OUT --width 2147483648", 2,
         "--width: '2147483648' is too large: at most 65535 pixels"},
        {"max-width @80x60 OUT --width -3", 2, "--width: '-3' is below 1: the smallest is 1 pixel"},
        {"resize @80x60 OUT 0 10", 2, "WIDTH: '0' is below 1: the smallest is 1 pixel"},
        {"resize @80x60 OUT 100000 100000", 2, "WIDTH: '100000' is too large: at most 65535 pixels"},
        {"resize @80x60 OUT 60000x60000", 2,
         "WxH: '60000x60000' is too large: at most 715827882 pixels in all"},
        {"resize @80x60 OUT 10 10 --quality 101", 2, "--quality: '101' is not a whole number from 1 to 100"},
        {"percent @80x60 OUT 0", 2, "PERCENT: '0' is below 1: the smallest is 1 percent"},
        {"fit @80x60 OUT 10x0", 2, "WxH: '10x0': the height '0' is below 1: the smallest is 1 pixel"},
        {"fit @80x60 OUT 40x30 --width 41", 2, "the width is given twice: 40 and --width 41"},
        {"fit @80x60 OUT --width 40", 2,
         "--height is required (or give the size as WIDTHxHEIGHT, e.g. 1024x768)"},
        {"fit @80x60 OUT --width 10 --height 5 --shrink-only", 2,
         "The following argument was not expected: --shrink-only"},
        {"max-width @80x60 OUT --width 10 --filter cubic", 2,
         "--filter: Check cubic value in {exact->0,lanczos->1} OR {0,1} FAILED"},
        {"border @80x60 OUT --top 32768", 2, "--top: '32768' is not a whole number from -32768 to 32767"},
        {"text @80x60 OUT Hi --size nan", 2, "--size: 'nan' is not a number from 1 to 1000"},
        {"text-at @80x60 OUT Hi --at middle", 2,
         "--at: 'middle' is not a place: use one of top-left, top-centre, top-right, middle-left, "
         "middle-centre, middle-right, bottom-left, bottom-centre, bottom-right"},
        {"border @80x60 OUT -c 0x1000000", 2,
         "--colour: '0x1000000' is not a colour: use #RRGGBB, #RGB, 0xBBGGRR, a decimal code or a name"},
        {"border @80x60 OUT --colour #12345", 2,
         "--colour: '#12345' is not a colour: use #RRGGBB, #RGB, 0xBBGGRR, a decimal code or a name"},
        {"border @80x60 OUT --colour reddish", 2,
         "--colour: 'reddish' is not a colour: use #RRGGBB, #RGB, 0xBBGGRR, a decimal code or a name"},
        {"border @80x60 OUT --color #GG0000", 2,
         "--colour: '#GG0000' is not a colour: use #RRGGBB, #RGB, 0xBBGGRR, a decimal code or a name"},
        {"percent @80x60 DIR/x.bmp 50 --format bmp", 2,
         "--format: 'bmp' is not an output format: use jpeg, png, webp or avif"},
        {"resize @80x60 DIR/out.bmp 10x10", 2,
         "'DIR/out.bmp': name the output .jpg, .jpeg, .png, .webp or .avif, or give --format"},
        {"", 2, "a sub-command is required"},
        {"frob", 2, "unknown sub-command 'frob'"},
        {"shrink @80x60 OUT", 2, "unknown sub-command 'shrink'"},
        {"Resize @80x60 OUT 1 1", 2, "unknown sub-command 'Resize'; did you mean 'resize'?"},
        {"maxwidth @80x60 OUT 1", 2, "unknown sub-command 'maxwidth'; did you mean 'max-width'?"},
        {"batch DIR --max-width 0", 2, "--max-width: '0' is below 1: the smallest is 1 pixel"},
        {"batch DIR --fit 70000x10", 2,
         "--fit: '70000x10': the width '70000' is too large: at most 65535 pixels"},
        {"batch DIR --fit 10x0", 2, "--fit: '10x0': the height '0' is below 1: the smallest is 1 pixel"},
        {"batch DIR --resize 10", 2, "--resize: '10' is not a size: use WIDTHxHEIGHT, e.g. 1024x768"},
        {"batch DIR --max-width 10 -j 0", 2, "--jobs: '0' is not a whole number from 1 to 1024"},
        {"batch --max-width 10", 2, "FOLDER is required"},
        {"batch DIR", 2,
         "Exactly 1 option from [--resize,--percent,--max-width,--max-height,--fit,--fill] is required"},
        {"batch DIR --percent 50 --max-width 10", 2,
         "Exactly 1 option from [--resize,--percent,--max-width,--max-height,--fit,--fill] is required "
         "and 2 were given"},
        // Input and output problems of every kind and mode, in the engine's words.
        {"max-width DIR/none.jpg OUT 10", 1, "DIR/none.jpg: no such file or folder"},
        {"max-width DIR/none.jpg OUT 10 --classic", 1, "DIR/none.jpg: no such file or folder"},
        {"max-height DIR OUT 10 --classic", 1, "DIR: a folder, not a picture"},
        {"text-at DIR OUT Hi", 1, "DIR: a folder, not a picture"},
        {"resize DIR/scan.jpg OUT 10 10", 1,
         "DIR/scan.jpg: a Photoshop picture, a format Kestrix does not read "
         "(Kestrix reads JPEG, PNG, GIF, BMP, HEIF, AVIF, WebP and TIFF)"},
        {"border @40x30 DIR/no/such/folder.jpg", 1,
         "cannot write the output JPEG file 'DIR/no/such/folder.jpg': the output folder does not exist"},
        {"border @40x30 DIR/kept.jpg", 1,
         "cannot write the output JPEG file 'DIR/kept.jpg': the file is read-only"},
        {"batch DIR/missing --percent 50", 1, "DIR/missing: no such folder"},
        {"batch @40x30 --percent 50", 1, "DIR/40x30.jpg: not a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::filesystem::remove(out);
        const kxtest::ProgramOutcome run = Run(c.command);
        EXPECT_EQ(run.status, c.status);
        const std::string first = run.err.substr(0, run.err.find('\n') + 1);
        EXPECT_EQ(first, c.line.empty() ? "" : "kestrix: " + Expand(c.line) + "\n") << run.err;
        EXPECT_EQ(c.status == 2 ? first : run.err, first) << "one line at most, no usage hint";
        EXPECT_EQ(run.out, "");
        if (c.size.empty()) {
            EXPECT_FALSE(std::filesystem::exists(out));
            continue;
        }
        const kx::ImageInfo info = kx::GetImageInfo(out);
        EXPECT_EQ(info.ImageType, c.type);
        EXPECT_EQ(std::to_string(info.Width) + "x" + std::to_string(info.Height), c.size);
        if (c.corner) {
            constexpr int kTolerance = 16;  // a JPEG at quality 90, in a flat corner
            const Bgr got = kxtest::DecodeJpegFile(out).At(1, 1);
            EXPECT_NEAR(got.b, c.corner->b, kTolerance);
            EXPECT_NEAR(got.g, c.corner->g, kTolerance);
            EXPECT_NEAR(got.r, c.corner->r, kTolerance);
        }
    }
    // Several inputs with -o DIR: each written as DIR/<name>.jpg.
    std::filesystem::copy(Picture("20x10"), dir / "c.JPG");
    std::filesystem::create_directory(dir / "several");
    ASSERT_EQ(Run("max-width @40x30 DIR/c.JPG -o DIR/several 10").status, 0);
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "several/40x30.jpg").width, 10);
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "several/c.jpg").width, 10);
}

TEST_F(Cli, ClassicWritesTheLibraryMethodsBytesAndQualityIsNinetyUnlessTold)
{
    using Call = bool (*)(const std::string&, const std::string&);
    const std::pair<std::string, Call> methods[] = {
        {"max-width @160x120 OUT --width 10",
         [](const auto& i, const auto& o) { return kx::ResizeMaxWidth(i, o, 10, 90); }},
        {"max-height @160x120 OUT --height 50",
         [](const auto& i, const auto& o) { return kx::ResizeMaxHeight(i, o, 50, 90); }},
        {"fit @160x120 OUT --width 100 --height 50",
         [](const auto& i, const auto& o) { return kx::ResizeWithDimensions(i, o, 50, 100, 90); }},
        {"percent @160x120 OUT 37",
         [](const auto& i, const auto& o) { return kx::PercentageResize(i, o, 37, 90); }},
        {"resize @160x120 OUT --width 33 --height 71",
         [](const auto& i, const auto& o) { return kx::ResizeImage(i, o, 71, 33, 90); }},
    };
    const std::string ref = dir / "ref.jpg";
    for (const auto& [command, library] : methods) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(library(Picture("160x120"), ref));
        ASSERT_EQ(Run(command + " --classic").status, 0);
        EXPECT_EQ(Bytes(out), Bytes(ref));
        ASSERT_EQ(Run(command).status, 0);  // the modern default resamples differently
        EXPECT_NE(Bytes(out), Bytes(ref));
    }
    const struct {
        const char *first, *second;
        bool same;
    } pairs[] = {
        {"resize @120x90 OUT 60 40", "resize @120x90 DIR/b.jpg 60 40 --quality 90", true},
        {"resize @120x90 OUT 60 40", "resize @120x90 DIR/b.jpg 60 40 --quality 50", false},
        {"max-width @160x120 OUT 10", "max-width @160x120 DIR/b.jpg 10 --filter exact", false},
    };
    for (const auto& p : pairs) {
        SCOPED_TRACE(p.second);
        ASSERT_EQ(Run(p.first).status, 0);
        ASSERT_EQ(Run(p.second).status, 0);
        EXPECT_EQ(Bytes(out) == Bytes("DIR/b.jpg"), p.same);
    }
}

TEST_F(Cli, TextGoesToTheNamedPlace)
{
    // White text on black: the lit pixels' centre shows the third it landed in.
    kxtest::EncodeJpegFile(dir / "black.jpg", {300, 150, std::vector<uint8_t>(300 * 150 * 3, 0)}, 95, 0);
    const struct {
        const char* place;
        int column, row;  // thirds of the picture, 0 to 2
    } cases[] = {{"top-left", 0, 0},    {"Top_Center", 1, 0},    {"middle-centre", 1, 1},
                 {"BottomRight", 2, 2}, {"bottom-center", 1, 2}, {"middle left", 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.place);
        const std::vector<std::string> args{"text-at", dir / "black.jpg", out,        "XX",
                                            "--at",    c.place,           "--colour", "#FFFFFF"};
        ASSERT_EQ(kxtest::RunProgram(KESTRIX_CLI, args, dir.Path()).status, 0);
        const kxtest::Image image = kxtest::DecodeJpegFile(out);
        long sumX = 0, sumY = 0, lit = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (image.At(x, y).g > 128) sumX += x, sumY += y, ++lit;
        ASSERT_GT(lit, 0);
        EXPECT_EQ(sumX / lit / 100, c.column);
        EXPECT_EQ(sumY / lit / 50, c.row);
    }
}

TEST_F(Cli, ReportedErrorsArePrintedLineByLine)
{
    // Two borders of 20,000 overflow the 16-bit sum.
    const kxtest::ProgramOutcome run = Run("border @40x30 OUT --top 20000 --bottom 20000");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kestrix: Error in : ImageAddBorder\nkestrix: Error Number : 6\n"
                       "kestrix: Error Desc : Overflow\nkestrix: an unexpected error occurred with '" +
                           Picture("40x30") + "' (reported above)\n");
}

TEST_F(Cli, PhonePhotosAreTurnedUprightAndLoseTheirMetadataUnlessTold)
{
    // 40 x 20 pixels stored on its side (EXIF orientation 6): 20 x 40 upright.
    kxtest::WriteFileBytes(dir / "in.jpg",
                           kxtest::WithSegments(kxtest::JpegOf(kxtest::AsymmetricPicture(40, 20)),
                                                kxtest::Segment(0xE1, std::string("Exif\0\0", 6),
                                                                kxtest::OrientationTiff(6, true))));
    const struct {
        const char* options;
        int width, height, orientation;  // of the output, as the probe reads it
        long exifSegments;
    } cases[] = {{"", 10, 20, 1, 0}, {"--keep-metadata", 10, 20, 1, 1}, {"--no-auto-orient", 5, 10, 6, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_EQ(Run("max-width DIR/in.jpg OUT 10 " + std::string(c.options)).status, 0);
        const kx::ImageInfo info = kx::GetImageInfo(out);
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        EXPECT_EQ(info.Orientation, c.orientation);
        const auto segments = kxtest::SegmentsOf(Bytes(out));
        EXPECT_EQ(
            std::count_if(segments.begin(), segments.end(), [](const auto& s) { return s.code == 0xE1; }),
            c.exifSegments);
    }
}

}  // namespace
