// What the tool says to a user: command lines with their exit status, the
// line they print and what they write.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TestSupport.h"

namespace {

// Every "IN", "OUT", "TRUNC" and "DIR" in a text (not the OUT of "OUTPUT"),
// replaced by its path.
std::string Expand(std::string text, const kxtest::TempDir& dir)
{
    for (const char* name : {"IN", "OUT", "TRUNC", "DIR"}) {
        const std::string path = dir / (std::string(name) + (name[0] == 'O' ? ".jpg" : ""));
        for (size_t at = 0; (at = text.find(name, at)) != std::string::npos;) {
            if (text.compare(at, 6, "OUTPUT") == 0) {  // the argument's name in a message
                at += 6;
                continue;
            }
            text.replace(at, std::string_view(name).size(), path);
            at += path.size();
        }
    }
    return text;
}

}  // namespace

TEST(CliMessages, CommandLinesGiveTheirStatusMessageAndPicture)
{
    kxtest::TempDir dir;
    // IN: an 80 x 60 grey picture; TRUNC: a JPEG cut off half-way; DIR: a folder.
    kxtest::EncodeJpegFile(dir / "IN", {80, 60, std::vector<uint8_t>(80 * 60 * 3, 128)}, 95, 0);
    kxtest::Image noisy{200, 150, std::vector<uint8_t>(200 * 150 * 3)};
    for (size_t i = 0; i < noisy.bgr.size(); ++i) noisy.bgr[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    kxtest::EncodeJpegFile(dir / "full.jpg", noisy, 90, 2);
    auto bytes = kxtest::ReadFileBytes(dir / "full.jpg");
    bytes.resize(bytes.size() / 2);
    kxtest::WriteFileBytes(dir / "TRUNC", bytes);
    ASSERT_EQ(::mkdir((dir / "DIR").c_str(), 0777), 0);

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string line;                        // a whole line of standard error; "" for none at all
        std::string size = "";                   // the picture written, WxH
        std::optional<kxtest::Bgr> corner = {};  // its top-left pixel
    };
    const Case cases[] = {
        // Sizes: WxH wherever a width and a height are asked; the real range.
        {{"fit", "IN", "OUT", "40x40"}, 0, "", "40x30"},
        {{"fit", "IN", "OUT", "40", "40"}, 0, "", "40x30"},
        {{"resize", "IN", "OUT", "--width", "30", "--height", "20"}, 0, "", "30x20"},
        {{"resize", "IN", "OUT", "30X20", "--width", "30"}, 0, "", "30x20"},
        {{"percent", "IN", "OUT", "50%"}, 0, "", "40x30"},
        {{"max-width", "IN", "OUT", "1024x768"},
         2,
         "kestrix: WIDTH: '1024x768' is not a whole number from 1 to 65535"},
        {{"resize", "IN", "OUT", "0", "10"}, 2, "kestrix: WIDTH: '0' is below 1: the smallest is 1 pixel"},
        {{"max-width", "IN", "OUT", "--width", "-3"},
         2,
         "kestrix: --width: '-3' is below 1: the smallest is 1 pixel"},
        {{"percent", "IN", "OUT", "0"}, 2, "kestrix: PERCENT: '0' is below 1: the smallest is 1 percent"},
        {{"fit", "IN", "OUT", "10x0"},
         2,
         "kestrix: WxH: '10x0': the height '0' is below 1: the smallest is 1 pixel"},
        {{"resize", "IN", "OUT", "100000", "100000"},
         2,
         "kestrix: WIDTH: '100000' is too large: at most 65535 pixels"},
        {{"resize", "IN", "OUT", "60000x60000"},
         2,
         "kestrix: WxH: '60000x60000' is too large: at most 715827882 pixels in all"},
        {{"fit", "IN", "OUT", "40x30", "--width", "41"},
         2,
         "kestrix: the width is given twice: 40 and --width 41"},
        {{"fit", "IN", "OUT", "--width", "40"},
         2,
         "kestrix: --height is required (or give the size as WIDTHxHEIGHT, e.g. 1024x768)"},
        {{"batch", "DIR", "--max-width", "0"},
         2,
         "kestrix: --max-width: '0' is below 1: the smallest is 1 pixel"},
        {{"batch", "DIR", "--fit", "70000x10"},
         2,
         "kestrix: --fit: '70000x10': the width '70000' is too large: at most 65535 pixels"},
        // Sub-commands.
        {{"Resize", "IN", "OUT", "1", "1"},
         2,
         "kestrix: unknown sub-command 'Resize'; did you mean 'resize'?"},
        {{"maxwidth", "IN", "OUT", "1"},
         2,
         "kestrix: unknown sub-command 'maxwidth'; did you mean 'max-width'?"},
        {{"shrink", "IN", "OUT"}, 2, "kestrix: unknown sub-command 'shrink'"},
        // Places and colours as the help spells them.
        {{"text-at", "IN", "OUT", "Hi", "--at", "center"}, 0, "", "80x60"},
        {{"text-at", "IN", "OUT", "Hi", "--at", "South-East"}, 0, "", "80x60"},
        {{"text-at", "IN", "OUT", "Hi", "--at", "middle"},
         2,
         "kestrix: --at: 'middle' is not a place: use one of "
         "top-left, top-centre, top-right, middle-left, middle-centre, middle-right, bottom-left, "
         "bottom-centre, "
         "bottom-right"},
        {{"border", "IN", "OUT", "--all", "4", "-c", "red"}, 0, "", "88x68", kxtest::Bgr{0, 0, 255}},
        {{"border", "IN", "OUT", "--all", "4", "-c", "#0F0"}, 0, "", "88x68", kxtest::Bgr{0, 255, 0}},
        {{"border", "IN", "OUT", "--all", "4", "-c", "0xFF0000"}, 0, "", "88x68", kxtest::Bgr{255, 0, 0}},
        {{"border", "IN", "OUT", "--all", "4", "-c", "WHITE"}, 0, "", "88x68", kxtest::Bgr{255, 255, 255}},
        {{"border", "IN", "OUT", "-c", "0x1000000"},
         2,
         "kestrix: --colour: '0x1000000' is not a colour: use #RRGGBB, #RGB, 0xBBGGRR, a decimal code or a "
         "name"},
        // Input problems of every kind and mode, in the engine's words.
        {{"max-width", "DIR/none.jpg", "OUT", "10"}, 1, "kestrix: DIR/none.jpg: no such file or folder"},
        {{"max-width", "DIR/none.jpg", "OUT", "10", "--classic"},
         1,
         "kestrix: DIR/none.jpg: no such file or folder"},
        {{"max-height", "DIR", "OUT", "10", "--classic"}, 1, "kestrix: DIR: a folder, not a picture"},
        {{"text-at", "DIR", "OUT", "Hi"}, 1, "kestrix: DIR: a folder, not a picture"},
        {{"resize", "IN", "DIR/out.bmp", "10x10"},
         2,
         "kestrix: 'DIR/out.bmp': name the output .jpg, .jpeg, .png, .webp or .avif, or give --format"},
        // Borders and texts at --quality (default 90; 100 with --classic).
        {{"border", "IN", "OUT", "--quality", "50", "--all", "1"}, 0, "", "82x62"},
        // A truncated JPEG is written as far as it goes, with the decoder's word.
        {{"max-width", "TRUNC", "OUT", "100"},
         0,
         "kestrix: TRUNC: warning: Premature end of JPEG file",
         "100x75"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args;
        for (const std::string& arg : c.args) args.push_back(Expand(arg, dir));
        SCOPED_TRACE(testing::PrintToString(args));
        std::filesystem::remove(dir / "OUT.jpg");
        const kxtest::ProgramOutcome outcome = kxtest::RunProgram(KESTRIX_CLI, args, dir.Path());
        EXPECT_EQ(outcome.status, c.status);
        if (c.line.empty())
            EXPECT_EQ(outcome.err, "");
        else
            EXPECT_NE(("\n" + outcome.err).find("\n" + Expand(c.line, dir) + "\n"), std::string::npos)
                << outcome.err;
        if (c.size.empty()) {
            EXPECT_FALSE(std::filesystem::exists(dir / "OUT.jpg"));
            continue;
        }
        const kxtest::Image image = kxtest::DecodeJpegFile(dir / "OUT.jpg");
        EXPECT_EQ(std::to_string(image.width) + "x" + std::to_string(image.height), c.size);
        if (c.corner && image.width > 0) {
            constexpr int kTolerance = 16;  // quality 100, in a flat corner
            const kxtest::Bgr got = image.At(1, 1);
            EXPECT_NEAR(got.b, c.corner->b, kTolerance);
            EXPECT_NEAR(got.g, c.corner->g, kTolerance);
            EXPECT_NEAR(got.r, c.corner->r, kTolerance);
        }
    }
}

TEST(CliMessages, BatchSummariesGroupSkippedFilesAndNameOverwrittenOutputs)
{
    kxtest::TempDir dir;
    const std::string folder = dir / "photos", empty = dir / "notes";
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(empty.c_str(), 0777), 0);
    const kxtest::Image grey{40, 30, std::vector<uint8_t>(40 * 30 * 3, 128)};
    for (const char* name : {"a.jpg", "a.b.jpg", "c.JPG"})
        kxtest::EncodeJpegFile(folder + "/" + name, grey, 90, 0);
    for (const char* name : {"p.png", "q.PNG", "r.jpeg", "notes.txt", "README", "fake.jpg"})
        kxtest::WriteFileBytes(folder + "/" + name, {'t', 'e', 'x', 't'});
    kxtest::WriteFileBytes(empty + "/list.txt", {'t'});

    const kxtest::ProgramOutcome run =
        kxtest::RunProgram(KESTRIX_CLI, {"batch", folder, "--max-width", "20", "--verbose"}, dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Resized: 3 pictures into " + folder +
                  "/Resized\n"
                  "Skipped: 6 files: 1 .jpeg, 2 .png, 1 .txt and 1 without extension (only .jpg, .bmp and "
                  ".gif files are resized without --all-formats); 1 .jpg (not pictures)\n"
                  "  README\n  fake.jpg\n  notes.txt\n  p.png\n  q.PNG\n  r.jpeg\n"
                  "Overwritten: 1 output by a later file of the same name\n"
                  "  a.jpg: a.b.jpg, then a.jpg\n"
                  "Failed:  0 pictures\n");

    // Several inputs with -o DIR: each written as DIR/<name>.jpg.
    const std::string out = dir / "out";
    ASSERT_EQ(::mkdir(out.c_str(), 0777), 0);
    const kxtest::ProgramOutcome several = kxtest::RunProgram(
        KESTRIX_CLI, {"max-width", folder + "/a.jpg", folder + "/c.JPG", "-o", out, "10"}, dir.Path());
    EXPECT_EQ(several.status, 0) << several.err;
    EXPECT_EQ(kxtest::DecodeJpegFile(out + "/a.jpg").width, 10);
    EXPECT_EQ(kxtest::DecodeJpegFile(out + "/c.jpg").width, 10);

    // A folder without a picture gets no Resized folder.
    const kxtest::ProgramOutcome none =
        kxtest::RunProgram(KESTRIX_CLI, {"batch", empty, "--percent", "50"}, dir.Path());
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "kestrix: no pictures found in " + empty + "\n");
    EXPECT_FALSE(std::filesystem::exists(empty + "/Resized"));
}
