// The kestrix tool run as a user runs it, in a fresh working folder: single-picture
// command lines and `kestrix batch` over a folder and over a photo library.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ranges>
#include <regex>
#include <sstream>
#include <tuple>

#include "common/modImageInfo.h"
#include "engine/files/PictureLoader.h"
#include "engine/files/PictureWriters.h"
#include "engine/operations/modMain.h"
#include "tests/support/PhotoFixtures.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using kxtest::Tree;
using Strings = std::vector<std::string>;

std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

Tree Files(const std::string& root) { return kxtest::FilesBelow(root); }

// The names of a tree, without the hidden ones (the run's record).
Strings Names(const Tree& tree)
{
    Strings names;
    for (const auto& [name, bytes] : tree)
        if (!fs::path(name).filename().string().starts_with('.')) names.push_back(name);
    return names;
}

// A picture as the tables write it: "WxH", then its format when not JPEG, its
// EXIF orientation when not 1 and "+exif" for each EXIF segment it holds.
std::string Describe(const std::string& path)
{
    const kx::ImageInfo info = kx::GetImageInfo(path);
    // Indexed by ImageType (1 PNG to 8 TIFF); other values throw.
    const std::array<const char*, 9> formats{"?",     " png",  " gif",  "",     " bmp",
                                             " heif", " avif", " webp", " tiff"};
    auto text = std::to_string(info.Width) + "x" + std::to_string(info.Height) + formats.at(info.ImageType);
    if (info.Orientation != 1) text += " turned " + std::to_string(info.Orientation);
    // The EXIF record and the XMP packet as the engine reads them back.
    kx::cDIBSection surface;
    kx::PictureMetadata metadata;
    if (!kx::LoadPicture(path, surface, metadata, false)) return text + " unreadable";
    const auto bytes = kxtest::ReadFileBytes(path);
    const std::string_view xmp = "<x:xmpmeta";
    return text + (metadata.Exif.empty() ? "" : " +exif") +
           (std::ranges::search(bytes, xmp).empty() ? "" : " +xmp");
}

struct Outcome {
    int status = -1;  // the exit status; -1 when it did not exit normally
    std::string out, err;
};

class Cli : public testing::Test {
protected:
    // Starts a shell command line in the folder, with KESTRIX and DEPLOY set and
    // its output going to files there.
    pid_t Spawn(const std::string& command)
    {
        const std::string line = "export KESTRIX='" KESTRIX_CLI "' DEPLOY='" KX_DEPLOY_DIR "'; cd '" +
                                 dir.Path() + "'; exec >stdout.txt 2>stderr.txt; " + command;
        const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
        pid_t child = 0;  // stays 0 if the shell cannot start
        posix_spawn(&child, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ);
        return child;
    }

    // Waits for a program Spawn started and collects what it wrote.
    Outcome Wait(pid_t child)
    {
        int wait = 0;
        if (child <= 0 || waitpid(child, &wait, 0) != child || !WIFEXITED(wait)) return {};
        return {WEXITSTATUS(wait), Text(Bytes("DIR/stdout.txt")), Text(Bytes("DIR/stderr.txt"))};
    }

    // Runs kestrix with a command line written as one text: "@WxH" stands for
    // a JPEG of that size, OUT for out.jpg and DIR for the folder.
    Outcome Run(const std::string& command)
    {
        std::string line = "exec \"$KESTRIX\"";
        std::istringstream words(command);
        for (std::string word; words >> word;) line += " '" + Expand(word) + "'";
        return Wait(Spawn(line));
    }

    std::string Expand(const std::string& text)
    {
        if (text == "OUT") return out;
        if (text.starts_with('@')) return Picture(text.substr(1));
        return std::regex_replace(text, std::regex("DIR"), dir.Path());
    }

    // A JPEG of `size` (WxH), made once.
    std::string Picture(const std::string& size)
    {
        const std::string path = dir / (size + ".jpg");
        const auto picture =
            kxtest::AsymmetricPicture(std::stoi(size), std::stoi(size.substr(size.find('x') + 1)));
        if (!fs::exists(path)) kxtest::WriteFileBytes(path, kxtest::JpegOf(picture));
        return path;
    }

    std::vector<uint8_t> Bytes(const std::string& path) { return kxtest::ReadFileBytes(Expand(path)); }
    // Copies a picture of `wxh` to `as` in the folder, making the folders on the way.
    void Add(const std::string& wxh, const std::string& as)
    {
        fs::create_directories(fs::path(dir / as).parent_path());
        fs::copy(Picture(wxh), dir / as);
    }

    kxtest::TempDir dir;
    const std::string out = dir / "out.jpg";
};

TEST_F(Cli, CommandLinesGiveTheirStatusMessageAndPictureAndPutTextInItsPlace)
{
    // A JPEG cut off half-way, a Photoshop file named .jpg, a read-only output
    // and a 40 x 20 phone photo stored on its side (EXIF orientation 6).
    const auto whole = Bytes("@200x150");
    kxtest::WriteFileBytes(dir / "cut.jpg", {whole.begin(), whole.begin() + whole.size() / 2});
    kxtest::WriteFileBytes(dir / "scan.jpg", {'8', 'B', 'P', 'S', 0, 1, 0, 0});
    kxtest::WriteFileBytes(dir / "kept.jpg", {1});
    ASSERT_EQ(::chmod((dir / "kept.jpg").c_str(), 0444), 0);
    // An empty folder, and one whose Resized folder a file blocks.
    for (const char* folder : {"empty", "several"}) fs::create_directory(dir / folder);
    Add("20x10", "c.d.JPG");
    Add("40x30", "blocked/p.jpg");
    kxtest::WriteFileBytes(dir / "blocked/Resized", {'t'});
    const auto exif = kxtest::Segment(0xE1, std::string("Exif\0\0", 6), kxtest::OrientationTiff(6, true));
    kxtest::WriteFileBytes(dir / "phone.jpg", kxtest::WithSegments(Bytes("@40x20"), exif));
    fs::create_directory(dir / "meta");
    const std::string packet = "<x:xmpmeta/>";
    const auto xmp = kxtest::Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29),
                                     {packet.begin(), packet.end()});
    kxtest::WriteFileBytes(dir / "meta/phone.jpg",
                           kxtest::WithSegments(Bytes("@40x20"), kxtest::Concat({exif, xmp})));
    // PNG (eXIf) and WebP (EXIF) pictures stored on their side, their top half black: upright, the left is white.
    kx::cDIBSection side;
    ASSERT_TRUE(side.Create(160, 80));
    kxtest::FillPicture(side, [](int, int y) { return y < 40 ? kxtest::Bgr{} : kxtest::Bgr{255, 255, 255}; });
    for (const auto format : {kx::OutputFormat::Png, kx::OutputFormat::Webp})
        kxtest::WriteFileBytes(
            dir / (format == kx::OutputFormat::Png ? "side.png" : "side.webp"),
            kx::EncodeSurface(side, format, 90, {6, {}, kxtest::OrientationTiff(6, false), {}}));
    // XMP in a PNG (compressed iTXt, behind a text that is not XMP) and in an AVIF (a "mime" item).
    const kxtest::Bytes rdf(packet.begin(), packet.end());
    const kxtest::Bytes note{'N', 'o', 't', 'e', 0, 0, 0, 0, 0, '!'};
    kxtest::PngLayout xmpPng{40, 20, 8, 0, std::vector<kxtest::Bytes>(20, kxtest::Bytes(40, 99))};
    xmpPng.after = {{"eXIf", kxtest::OrientationTiff(6, true)}};  // on its side, tagged as older writers do
    xmpPng.chunks = {{"iTXt", note}, {"iTXt", kxtest::XmpItxt(rdf)}};
    kxtest::WriteFileBytes(dir / "xmp.png", kxtest::Png(xmpPng));
    kxtest::WriteFileBytes(dir / "xmp.avif",
                           kx::EncodeSurface(side, kx::OutputFormat::Avif, 90, {1, {}, {}, rdf}));
    const auto turned = kxtest::WithSegments(whole, exif);  // cut too: the turning decode warns alike
    kxtest::WriteFileBytes(dir / "cut-phone.jpg", {turned.begin(), turned.begin() + turned.size() / 2});
    const std::string notAColour = " is not a colour: use #RRGGBB, #RGB, 0xBBGGRR, a decimal code or a name",
                      belowOne = " is below 1: the smallest is 1 pixel";
    constexpr kxtest::Bgr kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0}, kBlack{},
        kWhite{255, 255, 255};
    struct Case {
        std::string command;
        int status;
        std::string line = "";     // standard error after "kestrix: " (of a usage error, its first line)
        std::string picture = "";  // OUT as Describe() gives it; "" for none
        std::optional<kxtest::Bgr> corner = {};  // its top-left pixel
    };
    const Case cases[] = {
        // Sizes: WxH or two numbers wherever a width and a height are asked.
        {"max-width @400x300 OUT --width 10 --classic", 0, "", "10x6"},  // modern: 10x8
        {"max-width @160x120 OUT --width 10", 0, "", "10x8"},            // --classic: 10x7
        {"fit @1024x768 OUT 300 500", 0, "", "300x225"},
        {"percent @1024x768 OUT 33%", 0, "", "338x253"},
        {"resize @80x60 OUT 30X20 --width 30", 0, "", "30x20"},
        {"border @100x50 OUT --top 10 --bottom 20 --left 0 --right 5", 0, "", "105x80", kBlack},
        {"border @100x50 OUT --all 3 --left 0 --top -10 --quality 50", 0, "", "103x43"},
        {"text @100x50 OUT Hi --top 5 --left 5", 0, "", "100x50"},
        {"max-height @160x120 OUT --height 119 --shrink-only", 0, "", "159x119"},
        // Upright and without the EXIF record unless told.
        {"max-width DIR/phone.jpg OUT 10", 0, "", "10x20"},
        {"max-width DIR/phone.jpg OUT 10 --no-auto-orient", 0, "", "5x10 turned 6 +exif"},
        // In every format: EXIF and XMP kept, the tag written (in AVIF, irot: turned when read).
        {"max-width DIR/meta/phone.jpg OUT 10 --keep-metadata", 0, "", "10x20 +exif +xmp"},
        {"max-width DIR/meta/phone.jpg OUT 10 --keep-metadata --format png", 0, "", "10x20 png +exif +xmp"},
        {"max-width DIR/meta/phone.jpg OUT 10 --keep-metadata --format webp", 0, "", "10x20 webp +exif +xmp"},
        {"max-width DIR/meta/phone.jpg OUT 10 --keep-metadata --format avif", 0, "", "10x20 avif +exif +xmp"},
        {"max-width DIR/phone.jpg OUT 10 --no-auto-orient --format png", 0, "", "5x10 png turned 6 +exif"},
        {"max-width DIR/phone.jpg OUT 10 --no-auto-orient --format webp", 0, "", "5x10 webp turned 6 +exif"},
        {"max-width DIR/phone.jpg OUT 10 --no-auto-orient --format avif", 0, "", "5x10 avif +exif"},
        // XMP read from PNG (streamed then, for its turn, read whole; whole with the exact filter) and AVIF.
        {"max-width DIR/xmp.png OUT 10 --keep-metadata --format webp", 0, "", "10x20 webp +exif +xmp"},
        {"max-width DIR/xmp.png OUT 10 --keep-metadata --filter exact", 0, "", "10x20 +exif +xmp"},
        {"max-width DIR/xmp.avif OUT 10 --keep-metadata --format png", 0, "", "10x5 png +xmp"},
        // Their orientation applied when read, streamed and whole.
        {"max-width DIR/side.png OUT 10", 0, "", "10x20", kWhite},
        {"max-width DIR/side.webp OUT 10", 0, "", "10x20", kWhite},
        {"max-width DIR/side.png OUT 10 --classic", 0, "", "10x19", kWhite},
        {"max-width DIR/side.webp OUT 10 --filter exact", 0, "", "10x20", kWhite},
        // Colours as #RRGGBB, #RGB, 0xBBGGRR, decimal codes (BGR) and names.
        {"border @40x30 OUT --all 16 --color #ff0000", 0, "", "72x62", kRed},
        {"border @40x30 OUT --all 16 --colour 16711680", 0, "", "72x62", kBlue},
        {"border @80x60 OUT --all 4 -c #0F0", 0, "", "88x68", kGreen},
        {"border @80x60 OUT --all 4 -c 0xFF0000", 0, "", "88x68", kBlue},
        {"border @80x60 OUT --all 4 -c Red", 0, "", "88x68", kRed},
        // --format whatever the output's name says.
        {"max-width @40x30 OUT --width 20 --format WEBP --quality 70", 0, "", "20x15 webp"},
        {"resize @40x30 OUT --width 20 --height 15 --format avif", 0, "", "20x15 avif"},
        // A truncated JPEG is written as far as it goes, with the decoder's word.
        {"max-width DIR/cut.jpg OUT 100", 0, "DIR/cut.jpg: warning: Premature end of JPEG file", "100x75"},
        {"max-width DIR/cut-phone.jpg OUT 100", 0, "DIR/cut-phone.jpg: warning: Premature end of JPEG file",
         "100x133"},
        // Usage errors: the value and what was wrong with it.
        {"max-width i o 1024x768", 2, "WIDTH: '1024x768' is not a whole number from 1 to 65535"},
        {"max-width i o --width 2147483648", 2, "--width: '2147483648' is too large: at most 65535 pixels"},
        {"max-width i o --width -3", 2, "--width: '-3'" + belowOne},
        {"resize i o 60000x60000", 2, "WxH: '60000x60000' is too large: at most 715827882 pixels in all"},
        {"resize i o 10 10 --quality 101", 2, "--quality: '101' is not a whole number from 1 to 100"},
        {"percent i o 0", 2, "PERCENT: '0' is below 1: the smallest is 1 percent"},
        {"fit i o 10x0", 2, "WxH: '10x0': the height '0'" + belowOne},
        {"fit i o 40x30 --width 41", 2, "the width is given twice: 40 and --width 41"},
        {"fit i o --width 40", 2, "--height is required (or give the size as WIDTHxHEIGHT, e.g. 1024x768)"},
        {"text i o Hi --size nan", 2, "--size: 'nan' is not a number from 1 to 1000"},
        {"text-at i o Hi --at middle", 2,
         "--at: 'middle' is not a place: use one of top-left, top-centre, top-right, middle-left, "
         "middle-centre, middle-right, bottom-left, bottom-centre, bottom-right"},
        {"border i o -c 0x1000000", 2, "--colour: '0x1000000'" + notAColour},
        {"border i o --colour #12345", 2, "--colour: '#12345'" + notAColour},
        {"border i o --colour reddish", 2, "--colour: 'reddish'" + notAColour},
        {"border i o --color #GG0000", 2, "--colour: '#GG0000'" + notAColour},
        {"max-width i o 10 --background reddish", 2, "--background: 'reddish'" + notAColour},
        {"max-width i o 10 --classic --background red", 2, "--classic excludes --background"},
        {"fit i o 1x1 --format bmp", 2,
         "--format: 'bmp' is not an output format: use jpeg, png, webp or avif"},
        {"max-width - - 10", 2, "the output '-' (standard output) needs --format jpeg, png, webp or avif"},
        {"fit - OUT - -o DIR 10x10", 2, "'-' (standard input) cannot be read with -o"},
        {"resize i o.bmp 1x1", 2,
         "'o.bmp': name the output .jpg, .jpeg, .png, .webp or .avif, or give --format"},
        {"", 2, "a sub-command is required"},
        {"frob", 2, "unknown sub-command 'frob'"},
        {"Resize i o 1x1", 2, "unknown sub-command 'Resize'; did you mean 'resize'?"},
        {"batch d --fit 70000x10", 2,
         "--fit: '70000x10': the width '70000' is too large: at most 65535 pixels"},
        {"batch d --resize 10", 2,
         "--resize: '10' is not a size: use WIDTHxHEIGHT, e.g. 1024x768 (or 640x, x480)"},
        {"batch d", 2,
         "Exactly 1 option from [--resize,--percent,--max-width,--max-height,--fit,--fill] is required"},
        {"max-width @40x30 DIR/c.d.JPG -o DIR/several 10", 0},  // checked below
        // Input and output problems of every kind and mode, in the engine's words.
        {"max-width DIR/none.jpg OUT 10", 1, "DIR/none.jpg: no such file or folder"},
        {"max-height DIR OUT 10 --classic", 1, "DIR: a folder, not a picture"},
        {"resize DIR/scan.jpg OUT 10 10", 1,
         "DIR/scan.jpg: a Photoshop picture, a format Kestrix does not read "
         "(Kestrix reads JPEG, PNG, GIF, BMP, HEIF, AVIF, WebP and TIFF)"},
        {"border @40x30 DIR/no/such/folder.jpg", 1,
         "cannot write the output JPEG file 'DIR/no/such/folder.jpg': the output folder does not exist"},
        {"border @40x30 DIR/kept.jpg", 1,
         "cannot write the output JPEG file 'DIR/kept.jpg': the file is read-only"},
        {"max-width @40x30 OUT 10 --memory-limit 1K", 1,
         "DIR/40x30.jpg: this picture needs 3.0 MB, more than the 1 KB memory limit (--memory-limit)"},
        {"resize @40x30 OUT 20000x20000 --memory-limit 1G", 1,
         "the picture 'DIR/40x30.jpg' could not be resampled to that size: this picture needs 1.1 GB, more "
         "than the 1 GB memory limit (--memory-limit)"},
        {"batch d --fit 9x9 --memory-limit 1.5X", 2,
         "--memory-limit: '1.5X' is not a memory size: use bytes or a number with K, M, G or T, e.g. 512M or "
         "1.5G"},
        // Runs that cannot start say so in one line, print no summary and make no folder.
        {"batch DIR/empty --percent 50", 1, "no pictures found in DIR/empty"},
        {"batch DIR/blocked --percent 50", 1,
         "DIR/blocked: cannot make the folder Resized (a file of that name is in the way)"},
        {"batch . --output DIR/ --max-width 32", 2,
         "DIR/: the output folder is the picture folder: the outputs would replace the pictures"},
        // Reports of unexpected errors, line by line: two borders of 20,000 overflow the 16-bit sum.
        {"border @40x30 OUT --top 20000 --bottom 20000", 1,
         "Error in : ImageAddBorder\nkestrix: Error Number : 6\nkestrix: Error Desc : Overflow\n"
         "kestrix: an unexpected error occurred with 'DIR/40x30.jpg' (reported above)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        fs::remove(out);
        const Outcome run = Run(c.command);
        const std::string said = c.status == 2 ? run.err.substr(0, run.err.find('\n') + 1) : run.err;
        const std::string want = c.line.empty() ? "" : "kestrix: " + Expand(c.line) + "\n";
        EXPECT_EQ(std::tuple(run.status, said, run.out), std::tuple(c.status, want, "")) << run.err;
        EXPECT_EQ(fs::exists(out) ? Describe(out) : "", c.picture);
        // A JPEG at quality 90, in a flat corner: within 16.
        EXPECT_LE(c.corner ? kxtest::Difference(kxtest::DecodeJpegFile(out).At(1, 1), *c.corner) : 0, 16);
    }
    EXPECT_FALSE(fs::exists(dir / "empty/Resized"));
    ASSERT_EQ(Run("batch meta --max-width 10 --keep-metadata --no-auto-orient --format webp").status, 0);
    EXPECT_EQ(Describe(dir / "meta/Resized/phone.webp"), "5x10 webp turned 6 +exif +xmp");
    // Several inputs with -o DIR: each written as DIR/<name>.jpg.
    EXPECT_EQ(Describe(dir / "several/40x30.jpg"), "10x8");
    EXPECT_EQ(Describe(dir / "several/c.d.jpg"), "10x5");  // up to the last dot

    // White text on black: the lit pixels' centre shows the third it landed in.
    kxtest::EncodeJpegFile(dir / "black.jpg", {300, 150, std::vector<uint8_t>(300 * 150 * 3, 0)}, 95, 0);
    // A place and the third of the picture, column then row, 0 to 2, that it names.
    const std::tuple<std::string, long, long> places[] = {
        {"Top_Center", 1, 0}, {"middleleft", 0, 1}, {"Bottom-Right", 2, 2}, {"south-west", 0, 2}};
    for (const auto& [place, column, row] : places) {
        ASSERT_EQ(Run("text-at DIR/black.jpg OUT XX -c #FFFFFF --at " + place).status, 0) << place;
        const kxtest::Image image = kxtest::DecodeJpegFile(out);
        long sumX = 0, sumY = 0, lit = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (image.At(x, y).g > 128) sumX += x, sumY += y, ++lit;
        ASSERT_GT(lit, 0) << place;
        EXPECT_EQ(std::pair(sumX / lit / 100, sumY / lit / 50), std::pair(column, row)) << place;
    }
}

TEST_F(Cli, EachMethodWritesTheLibrarysBytesAndBatchThoseOfItsSinglePictureCommand)
{
    Add("400x300", "photos/p.jpg");
    // --classic writes the library's bytes (outputs named after the batch options): the two methods
    // whose width and height could be swapped, and a quality.
    const auto ref = [&](const std::string& options) { return dir / (options + ".ref"); };
    ASSERT_TRUE(kx::ResizeImage(Picture("400x300"), ref("--resize 30x20 --classic"), 20, 30, 90));
    ASSERT_TRUE(kx::ResizeWithDimensions(Picture("400x300"), ref("--fit 50X60 --classic"), 60, 50, 90));
    ASSERT_TRUE(kx::ResizeMaxWidth(Picture("400x300"), ref("--max-width 40 --classic -q 50"), 40, 50));
    // Batch writes the bytes of the single command with the same options. Fit: 60 high (80x60), then
    // 50 wide at 62 percent (62.5 to even) of that.
    const std::pair<std::string, std::string> cases[] = {
        {"--resize 30x20 --classic", "30x20"},        {"--percent 37 --classic", "148x111"},
        {"--max-width 40 --classic", "40x30"},        {"--max-height 30 --classic", "40x30"},
        {"--fit 50X60 --classic", "50x37"},           {"--fill 50x20 --classic", "50x20"},
        {"--max-width 40 --classic -q 50", "40x30"},  {"--max-width 40", "40x30"},
        {"--max-width 40 --filter exact", "40x30"},   {"--percent 150 --shrink-only", "400x300"},
        {"--max-width 999 --shrink-only", "400x300"},
    };
    std::map<std::string, std::vector<uint8_t>> written;
    for (const auto& [options, size] : cases) {
        SCOPED_TRACE(options);
        const size_t space = options.find(' ');
        ASSERT_EQ(Run(options.substr(2, space - 2) + " @400x300 OUT" + options.substr(space)).status, 0);
        EXPECT_EQ(Run("batch photos -j 1 " + options).out,
                  "Resized: 1 picture into photos/Resized\nSkipped: 0 files\nFailed:  0 pictures\n");
        EXPECT_EQ(written[options] = Bytes("DIR/photos/Resized/p.jpg"), Bytes(out));
        EXPECT_EQ(Describe(out), size);
        EXPECT_EQ(fs::exists(ref(options)) ? kxtest::ReadFileBytes(ref(options)) : Bytes(out), Bytes(out));
        // Standard input to standard output, a file or a pipe, writes them too.
        const std::string piped = "cat '" + Picture("400x300") + "' | exec \"$KESTRIX\" " +
                                  options.substr(2, space - 2) + " - -" + options.substr(space) +
                                  " --format jpeg" + (size == "40x30" ? " | cat" : "");
        EXPECT_TRUE(Wait(Spawn(piped)).out == Text(Bytes(out)));
    }
    // --filter resamples differently.
    EXPECT_NE(written["--max-width 40"], written["--max-width 40 --filter exact"]);
}

TEST_F(Cli, BatchSummaryGroupsSkippedFilesAndNamesOverwrittenOutputsAndFailures)
{
    for (const char* name : {"photos/a.jpg", "photos/a.b.jpg"}) Add("40x30", name);
    Add("200x100", "photos/c.JPG");
    ASSERT_EQ(Run("percent @40x30 DIR/photos/q.PNG 50 --format png").status, 0);
    for (const char* name : {"p.png", "r.jpeg", "notes.txt", "README", "fake.jpg"})
        kxtest::WriteFileBytes(dir / "photos/" + name, {'t', 'e', 'x', 't'});
    // A JPEG header the probe accepts (a 64 x 48 baseline frame), then bytes no decoder can use.
    std::vector<uint8_t> broken = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8, 0, 48,   0, 64,
                                   3,    1,    0x22, 0,    2,    0x11, 1, 3, 0x11, 1};
    for (int i = 0; i < 200; ++i) broken.push_back(static_cast<uint8_t>(i * 37 + 11));
    kxtest::WriteFileBytes(dir / "photos/bad.jpg", broken);

    const Outcome run = Run("batch photos --max-width 20 --verbose -j 2 --classic");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "Resized: 3 pictures into photos/Resized\n"
              "Skipped: 6 files: 1 .jpeg, 2 .png, 1 .txt and 1 without extension (only .jpg, .bmp and "
              ".gif files are resized without --all-formats); 1 .jpg (not pictures)\n"
              "  README\n  fake.jpg\n  notes.txt\n  p.png\n  q.PNG\n  r.jpeg\n"
              "Overwritten: 1 output by a later file of the same name\n"
              "  a.jpg: a.b.jpg, then a.jpg\n"
              "Failed:  1 picture\n  bad.jpg: corrupt data: the header gives no picture size\n");
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no progress bar off a terminal";
    EXPECT_EQ(Names(Files(dir / "photos/Resized")), (Strings{"a.jpg", "c.jpg"}));
    // --all-formats reads every picture; --format names the outputs, and
    // --skip-existing finds them by that name.
    const std::string all = "batch photos --max-width 20 --classic --all-formats --format webp --output webp";
    EXPECT_EQ(Run(all).out,
              "Resized: 4 pictures into webp\n"
              "Skipped: 5 files: 1 .txt and 1 without extension (not a picture format that is "
              "read); 1 .jpeg, 1 .jpg and 1 .png (not pictures)\n"
              "Overwritten: 1 output by a later file of the same name\n"
              "  a.webp: a.b.jpg, then a.jpg\n"
              "Failed:  1 picture\n  bad.jpg: corrupt data: the header gives no picture size\n");
    EXPECT_EQ(Names(Files(dir / "webp")), (Strings{"a.webp", "c.webp", "q.webp"}));
    EXPECT_EQ(Describe(dir / "webp/q.webp"), "20x15 webp");
    EXPECT_NE(Run(all + " --skip-existing").out.find("\nUp to date: 4 pictures (kept)\n"), std::string::npos);
}

// The modern mode and the habits of other resizers, one command line after the other in one
// folder: what each says (stdout and stderr hold each text) and the outputs it leaves there.
TEST_F(Cli, ModernNamesFormatsWarningsSettingsAndHabitsCommandByCommand)
{
    for (const char* name : {"2023.05.01 beach.jpg", "IMG_1.jpg", "Resized/IMG_1.jpg"})
        Add("40x30", "photos/" + std::string(name));
    Add("20x10", "photos/IMG_1.edited.jpg");
    ASSERT_EQ(Run("percent @60x30 DIR/photos/IMG_1.png 100").status, 0);  // its output is IMG_1.jpg's too
    const auto whole = Bytes("@200x150");
    kxtest::WriteFileBytes(dir / "photos/cut.jpg", {whole.begin(), whole.begin() + whole.size() / 2});
    const std::string cut = "cut.jpg: Premature end of JPEG file\n";
    struct Row {
        std::string command;
        int status;
        Strings said;             // texts the run writes, DIR expanded
        std::string folder = "";  // and the outputs it then holds, as Describe() gives them
        Strings outputs = {};
    };
    const Strings out20 = {"2023.05.01 beach.jpg 20x15", "IMG_1.edited.jpg 20x10", "IMG_1.jpg 20x15",
                           "cut.jpg 20x15"};
    const Row rows[] = {
        {"batch photos -o out --max-width 20 --json -",
         1,
         {"Resized: 4 pictures into out\nResized with a warning: 1 picture\n  " + cut,
          "Failed:  1 picture\n  IMG_1.png: IMG_1.jpg has the same output IMG_1.jpg; not overwritten "
          "(--name tells them apart)\n",
          "\"input\":\"photos/cut.jpg\",\"output\":\"out/"
          "cut.jpg\",\"outcome\":\"resized\",\"reason\":\"Premature "
          "end of JPEG file\""},
         "out",
         out20},
        // The damaged picture is redone; a change of settings redoes all; --strict keeps no damaged output.
        {"batch photos -o out --max-width 20 --skip-existing",
         1,
         {"Resized: 1 picture into out\nResized with a warning: 1 picture\n",
          "Up to date: 3 pictures (kept)\n"},
         "out",
         out20},
        {"batch photos -o out --max-width 16 --skip-existing --strict",
         1,
         {"Resized: 3 pictures into out\nUp to date: 0 pictures (kept)\n", "  " + cut},
         "out",
         {"2023.05.01 beach.jpg 16x12", "IMG_1.edited.jpg 16x8", "IMG_1.jpg 16x12"}},
        {"batch photos -o old --max-width 20 --classic",
         0,
         {"Resized: 4 pictures into old\nResized with a warning: 1 picture\n",
          "Overwritten: 1 output by a later file of the same name\n  IMG_1.jpg: IMG_1.edited.jpg, then "
          "IMG_1.jpg\n"},
         "old",
         {"2023.jpg 20x15", "IMG_1.jpg 20x15", "cut.jpg 20x15"}},
        {"batch photos -r -o thumbs --fill 10x10 --name {stem}_{ext}_{method}{width}x{height}.png",
         0,
         {"Left out: 1 folder of an earlier run's outputs: Resized\n"},
         "thumbs",
         {"2023.05.01 beach_jpg_fill10x10.png 10x10 png", "IMG_1.edited_jpg_fill10x10.png 10x10 png",
          "IMG_1_jpg_fill10x10.png 10x10 png", "IMG_1_png_fill10x10.png 10x10 png",
          "cut_jpg_fill10x10.png 10x10 png"}},
        // -o DIR is made; 640x, x480 and decimal percentages; -o DIR/PATTERN.
        {"percent @40x30 -o DIR/new/pc 12.5", 0, {}, "new/pc", {"40x30.jpg 5x4"}},
        {"fit @40x30 DIR/photos/IMG_1.edited.jpg -o DIR/fit x15",
         0,
         {},
         "fit",
         {"40x30.jpg 20x15", "IMG_1.edited.jpg 20x10"}},
        {"resize @40x30 -o DIR/pat/t_%s.webp 10x", 0, {}, "pat", {"t_40x30.webp 10x8 webp"}},
        {"max-width DIR/photos/IMG_1.jpg DIR/photos/Resized/IMG_1.jpg -o DIR/two 10",
         1,
         {"kestrix: DIR/photos/Resized/IMG_1.jpg: DIR/photos/IMG_1.jpg has the same output IMG_1.jpg"},
         "two",
         {"IMG_1.jpg 10x8"}},
        {"help fill", 0, {"Usage: kestrix fill [OPTIONS]", "\n  --crop PLACE "}},
        {"help --man", 0, {".SH \"KESTRIX batch\"\n"}},
        {"--version",
         0,
         {"\nlibjpeg-turbo ", ", libpng ", ", giflib ", ", libwebp ", ", libheif ", ", libtiff "}},
        {"fit i o 10x10 --qualty 8", 2, {"--qualty; did you mean '--quality'?\n"}},
        {"--classic fit i o 10x10", 2, {"--classic goes after the sub-command: kestrix fit --classic ...\n"}},
        {"percent i o 12.5 --classic", 2, {"PERCENT: --classic takes whole percentages\n"}},
        {"fill i o 40x", 2, {"fill needs both the width and the height\n"}},
        {"help fitt", 2, {"unknown sub-command 'fitt'; did you mean 'fit'?\n"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        const Outcome run = Run(row.command);
        EXPECT_EQ(run.status, row.status) << run.out << run.err;
        for (const std::string& text : row.said)
            EXPECT_NE((run.out + run.err).find(Expand(text)), std::string::npos) << text << "\n"
                                                                                 << run.out << run.err;
        Strings outputs;
        if (!row.folder.empty())
            for (const std::string& name : Names(Files(dir / row.folder)))
                outputs.push_back(name + " " + Describe(dir / (row.folder + "/" + name)));
        EXPECT_EQ(outputs, row.outputs);
    }
    // A damaged picture is redone until it is mended, then kept.
    const std::string again = "batch photos -o out --max-width 16 --skip-existing";
    ASSERT_NE(Run(again).out.find("Resized: 1 picture into out\nResized with a warning: 1 picture\n"),
              std::string::npos);
    kxtest::WriteFileBytes(dir / "photos/cut.jpg", whole);
    for (const char* resized : {"Resized: 1 picture into out\nUp to", "Resized: 0 pictures into out\nUp to"})
        EXPECT_NE(Run(again).out.find(resized), std::string::npos) << resized;
    // Text is drawn as written, as --classic draws it with "&&"; fill crops where told, as a
    // border of negative size does.
    const std::pair<std::string, std::string> same[] = {
        {"text @40x30 OUT A&B --format png", "text @40x30 OUT A&&B --format png --classic"},
        {"fill @40x30 OUT 30x30 --crop left", "border @40x30 OUT --right -10"},
        {"fill @40x30 OUT 30x30 --crop bottom-right", "border @40x30 OUT --left -10"}};
    for (const auto& [one, other] : same) {
        ASSERT_EQ(Run(one).status, 0) << one;
        const auto bytes = Bytes(out);
        ASSERT_EQ(Run(other).status, 0) << other;
        EXPECT_EQ(bytes, Bytes(out)) << one;
    }
}

// Folders written by others: links out of the picture folder, outputs that are links
// or streams, a linked Resized, outputs onto inputs and names that would drive a terminal.
// Each case prepares its own folder (P is a 40 x 30 JPEG), runs kestrix and checks by shell.
TEST_F(Cli, SharedFoldersNeitherLeakNorRedirectNorDestroyAnything)
{
    const struct {
        const char *setup, *command;
        int status;
        const char *said, *check;
    } cases[] = {
        {"mkdir -p c1/up c1/priv; cp $P c1/up/a.jpg; cp $P c1/priv/s.jpg; ln -s ../priv/s.jpg c1/up/b.jpg; "
         "ln -s ../priv c1/up/p; ln -s a.jpg c1/up/in.jpg",
         "batch c1/up --max-width 20 -r --follow-links -o c1/all", 0,
         "Resized: 4 pictures into c1/all\nSkipped: 0 files\n", "test -f c1/all/b.jpg -a -f c1/all/p/s.jpg"},
        {"", "batch c1/up --max-width 20 -r -v", 0,
         "Resized: 2 pictures into c1/up/Resized\nSkipped: 2 files: 1 .jpg and 1 without extension (link "
         "outside the folder)\n  b.jpg (link outside the folder)\n  p (link outside the folder)\n",
         "test -f c1/up/Resized/in.jpg -a ! -e c1/up/Resized/b.jpg"},
        {"mkdir -p c3/up c3/www; cp $P c3/up/a.jpg; ln -s ../www c3/up/Resized", "batch c3/up --max-width 20",
         1, "kestrix: c3/up/Resized is a link; give --output to write there\n", "test -z \"$(ls c3/www)\""},
        {"", "batch c3/up --max-width 20 -o c3/up/Resized", 0, "Resized: 1 picture", "test -f c3/www/a.jpg"},
        {"mkdir c5; echo old >c5/t.jpg; ln -s t.jpg c5/l.jpg", "max-width DIR/c5/../40x30.jpg c5/l.jpg 20", 0,
         "", "test -L c5/l.jpg && $KESTRIX max-width $P c5/d.jpg 20 && cmp c5/t.jpg c5/d.jpg"},
        {"mkdir c6; mkfifo c6/f; ln -s f c6/l.jpg; cat c6/f >c6/got &", "max-width DIR/40x30.jpg c6/l.jpg 20",
         0, "",
         "$KESTRIX max-width $P c6/d.jpg 20; for i in 1 2 3 4 5 6 7 8 9; do cmp -s c6/got c6/d.jpg && break; "
         "sleep 0.2; done; test -p c6/f && cmp c6/got c6/d.jpg"},
        {"mkdir c7; ln -s nowhere.jpg c7/l.jpg", "max-width DIR/40x30.jpg c7/l.jpg 20", 1,
         "kestrix: cannot write the output JPEG file 'c7/l.jpg': the output is a link that leads nowhere\n",
         "test -L c7/l.jpg -a ! -e c7/nowhere.jpg"},
        {"mkdir c8; cp $P c8/a.png; cp $P c8/a.jpg; cp $P c8/keep", "max-width -o c8 c8/a.png c8/a.jpg 20", 1,
         "kestrix: cannot write the output JPEG file 'c8/a.jpg': it is the input c8/a.jpg; nothing was "
         "written\nkestrix: cannot write the output JPEG file 'c8/a.jpg': it is the input c8/a.jpg; nothing "
         "was written\n",
         "cmp c8/a.jpg c8/keep"},
        {"mkdir -p c9/up c9/out; cp $P c9/up/a.jpg; cp $P c9/keep; ln c9/up/a.jpg c9/out/a.jpg",
         "batch c9/up --max-width 20 -o c9/out", 1,
         "Failed:  1 picture\n  a.jpg: cannot write the output JPEG file 'c9/out/a.jpg': it is the input "
         "c9/up/a.jpg; nothing was written\n",
         "cmp c9/up/a.jpg c9/keep"},
        {"mkdir c10; cp $P \"c10/e$(printf '\\033')[1m.jpg\"; cp $P \"c10/n$(printf '\\nx').jpg\"; echo "
         ">c10/\\\\",
         "batch c10 --max-width 20 -n", 0,
         "resize  c10/e\\033[1m.jpg -> c10/Resized/e\\033[1m.jpg\nresize  c10/n\\nx.jpg -> "
         "c10/Resized/n\\nx.jpg\nskip    c10/\\\\ (not a picture of a format read)\n",
         "true"},
        {"mkdir c11; cp $P \"c11/$(printf 'x\\377').jpg\"", "batch c11 --max-width 20 --json -", 0,
         "{\"input\":\"c11/x\\ufffd.jpg\",\"input_bytes\":\"YzExL3j/LmpwZw==\",\"output\":", "true"},
    };
    const std::string picture = "export P='" + Picture("40x30") + "'; ";
    for (const auto& [setup, command, status, said, check] : cases) {
        ASSERT_EQ(Wait(Spawn(picture + setup)).status, 0) << setup;
        const Outcome run = Run(command);
        EXPECT_EQ(run.status, status) << command << "\n" << run.err;
        EXPECT_NE((run.out + run.err).find(said), std::string::npos) << command << "\n" << run.out << run.err;
        EXPECT_EQ(Wait(Spawn(picture + check)).status, 0) << command << ": " << check;
    }
}

// SIGTERM stops a batch, and a command over many pictures, as Ctrl-C does: the pictures under
// way finish and no temporary file stays; a wait on standard input ends at once. After a
// SIGKILL the next run clears this host's dead temporary files only.
TEST_F(Cli, ASignalledBatchFinishesThePicturesUnderWayAndLeavesNoTemporaryFile)
{
    for (int i = 0; i < 60; ++i) Add("1600x1200", "photos/p" + std::to_string(10 + i) + ".jpg");
    const std::string batch = "exec \"$KESTRIX\" batch photos --max-width 320 -j 2 ";
    std::string resized = dir / "photos/Resized";
    // Signalled once the first picture is out, or as told (a bound, not a timing).
    const auto started = [&](const std::string& line, const std::function<bool(pid_t)>& ready) {
        const pid_t child = Spawn(line);
        for (int ms = 0; ms < 60000 && !ready(child); ++ms) ::usleep(1000);
        return child;
    };
    // The folder holds its settings record from the start: wait for a picture, looking at names
    // only, as temporary files come and go meanwhile.
    const auto written = [&](pid_t) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(resized, error))
            if (entry.path().extension() == ".jpg") return true;
        return false;
    };
    const auto expectWhole = [&](size_t most) {
        const Strings written = Names(Files(resized));
        EXPECT_TRUE(!written.empty() && written.size() < most) << written.size();
        for (const std::string& name : written)  // no temporary file (.tmp) left
            EXPECT_EQ(name.ends_with(".jpg") ? kxtest::DecodeJpegFile(resized + "/" + name).width : 0, 320)
                << name;
    };
    // Waiting on standard input once kestrix took the signals (blocked, for the thread that waits).
    const std::function<bool(pid_t)> reading = [](pid_t child) {
        const std::string status = Text(kxtest::ReadFileBytes("/proc/" + std::to_string(child) + "/status"));
        const size_t at = status.find("SigBlk:");
        const unsigned long taken = 1ul << (SIGHUP - 1) | 1ul << (SIGINT - 1) | 1ul << (SIGTERM - 1);
        return status.starts_with("Name:\tkestrix\n") && at != std::string::npos &&
               (std::stoul(status.substr(at + 7), nullptr, 16) & taken) == taken;
    };
    const struct {
        std::string line, folder, said;  // no folder: nothing is written
        int signal, status;
    } stops[] = {
        {batch, "photos/Resized", "Stopped: ", SIGTERM, 143},
        {"exec \"$KESTRIX\" max-width -o small photos/*.jpg 320", "small", "the picture under way", SIGTERM,
         143},
        {"mkfifo in; sleep 20 >in & exec \"$KESTRIX\" max-width - out.jpg 320 <in", "", "", SIGHUP, 129},
    };
    for (const auto& stop : stops) {
        resized = dir / stop.folder;
        const pid_t child = started(stop.line, stop.folder.empty() ? reading : written);
        ASSERT_GT(child, 0);
        const auto signalled = std::chrono::steady_clock::now();
        ASSERT_EQ(::kill(child, stop.signal), 0);
        const Outcome run = Wait(child);
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(10)) << stop.line;
        EXPECT_EQ(std::tuple(run.status, (run.out + run.err).find(stop.said) != std::string::npos),
                  std::tuple(stop.status, true))
            << stop.line;
        if (!stop.folder.empty()) expectWhole(60);
    }
    EXPECT_FALSE(fs::exists(dir / "out.jpg"));

    resized = dir / "photos/Resized";
    fs::remove_all(resized);
    const pid_t killed = started(batch, written);
    ASSERT_EQ(::kill(killed, SIGKILL), 0);
    Wait(killed);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string dead = resized + "/.kestrix-" + host + "-999999999-0.tmp",
                      elsewhere = resized + "/.kestrix-other." + host + "-1-0.tmp";
    for (const std::string& name : {dead, elsewhere}) kxtest::WriteFileBytes(name, {1, 2});
    const pid_t hungUp = started(batch + "--skip-existing", [&](pid_t) { return !fs::exists(dead); });
    ASSERT_EQ(::kill(hungUp, SIGHUP), 0);
    EXPECT_EQ(Wait(hungUp).status, 129);
    EXPECT_EQ(std::tuple(fs::exists(dead), fs::exists(elsewhere)), std::tuple(false, true));
    fs::remove(elsewhere);
    expectWhole(61);
}

// lib/ holds pictures whose outputs collide in two folders (x.bmp and x.gif, june/y.jpg and
// june/y.gif: the later name wins), the same name in two folders (no collision), a text file
// that sorts first among the x files, a hidden file, a hidden folder and a link to a folder.
TEST_F(Cli, ALibraryIsMirroredAlikeByOneRunShardsTheDeployRecipesAndAStoppedRunFinished)
{
    const char* names[] = {"a.jpg",           "2024/z.jpg",      "x.bmp",         "2024/june/x.bmp", "x.gif",
                           "2024/june/y.jpg", "2024/june/y.gif", ".hidden/h.jpg", ".h.jpg"};
    for (int n = 0; n < 9; ++n) Add(std::to_string(40 + 10 * n) + "x30", "lib/" + std::string(names[n]));
    kxtest::WriteFileBytes(dir / "lib/x.about.txt", {'n'});
    fs::create_directory_symlink(dir / "lib/2024", dir / "lib/linked");
    ASSERT_EQ(Run("batch lib --recursive --output one-run --max-width 32 --classic").status, 0);
    const Tree one = Files(dir / "one-run");
    EXPECT_EQ(Names(one), (Strings{"2024/june/x.jpg", "2024/june/y.jpg", "2024/z.jpg", "a.jpg", "x.jpg"}));
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "one-run/x.jpg").height, 12);            // x.gif, 80 wide, won
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "one-run/2024/june/y.jpg").height, 11);  // y.jpg, 90 wide
    // Shards and the deploy recipes, each into out/: the Slurm job array's tasks 1 to 3 (--array=1-3),
    // the Indexed Job's container command as its three pods run it, GNU parallel with three workers.
    std::smatch pod;
    const std::string manifest = Text(kxtest::ReadFileBytes(KX_DEPLOY_DIR "/kubernetes-job.yaml"));
    ASSERT_TRUE(std::regex_search(manifest, pod, std::regex("- '(exec kestrix batch [^']*)'")));
    // The pod's modern run refuses y.gif and x.gif, whose outputs y.jpg and x.bmp write (status 1).
    ASSERT_EQ(Run("batch lib --recursive --output one-run-640 --skip-existing --max-width 640").status, 1);
    const std::string options = " lib --recursive --output out --max-width 32 --classic";
    const auto each = [](const std::string& values, const std::string& body) {
        return "for v in " + values + "; do " + body + " || exit 1; done";
    };
    const std::tuple<std::string, std::string, Tree> recipes[] = {
        {"2 shards", each("'0/2 -j 1' '1/2 -j 2'", "\"$KESTRIX\" batch" + options + " --shard $v"), one},
        {"3 shards", each("0/3 1/3 2/3", "\"$KESTRIX\" batch" + options + " --shard $v"), one},
        {"Slurm",
         "export SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_COUNT=3; " +
             each("1 2 3", "SLURM_ARRAY_TASK_ID=$v bash \"$DEPLOY/slurm-batch.sh\"" + options),
         one},
        {"Kubernetes",
         "export PATH=\"$(dirname \"$KESTRIX\"):$PATH\" PHOTOS=lib THUMBS=out WORKERS=1 SHARDS=3; " +
             each("0 1 2", "JOB_COMPLETION_INDEX=$v sh -c '" + pod[1].str() + "' || [ $? -eq 1 ]"),
         Files(dir / "one-run-640")},
        {"GNU parallel",
         "HOSTS=3/: SHARDS=3 bash \"$DEPLOY/parallel.sh\"" + options + " --json 'report-{}.jsonl'", one},
    };
    for (const auto& [name, recipe, expected] : recipes) {
        fs::remove_all(dir / "out");
        ASSERT_EQ(Wait(Spawn(recipe)).status, 0) << name;
        EXPECT_EQ(Files(dir / "out"), expected) << name;
    }
    EXPECT_TRUE(fs::exists(dir / "report-2.jsonl"));
    // out/ as a run stopped half-way leaves it: one output never written, one cut
    // short by a power cut; and since then a picture changed.
    const std::string folder = dir / "out",
                      run = "batch lib --recursive --output out --max-width 32 --skip-existing --classic";
    fs::remove(folder + "/x.jpg");
    fs::resize_file(folder + "/a.jpg", 100);
    fs::last_write_time(dir / "lib/2024/june/x.bmp",
                        fs::last_write_time(folder + "/2024/june/x.jpg") + std::chrono::seconds(5));
    const auto z = fs::last_write_time(folder + "/2024/z.jpg");
    // A dry run tells what would happen and touches nothing.
    const Tree before = Files(folder);
    const Outcome
        said = Run(run + " --dry-run"),
        json = Run("batch lib --recursive --output never-made --max-width 32 --dry-run --json - --classic");
    EXPECT_EQ(std::tuple(said.status, json.status, fs::exists(dir / "never-made")), std::tuple(0, 0, false));
    EXPECT_EQ(Files(folder), before);
    for (const char* line :
         {"resize  lib/a.jpg -> out/a.jpg (output incomplete)\n",
          "resize  lib/2024/june/x.bmp -> out/2024/june/x.jpg (picture changed since its output)\n",
          "resize  lib/x.gif -> out/x.jpg (no output yet)\n",
          "keep    lib/2024/z.jpg -> out/2024/z.jpg (output is up to date)\n",
          "skip    lib/x.about.txt (not a JPG, BMP or GIF picture)\n",
          "Would resize: 4 pictures into out\nUp to date: 3 pictures (kept)\n"})
        EXPECT_NE(said.out.find(line), std::string::npos) << line << said.out;
    EXPECT_TRUE(std::regex_search(json.out, std::regex("^(\\{[^\n]*\\}\n){9}$"))) << json.out;  // JSON only

    ASSERT_EQ(Run(run + " --json run.jsonl").status, 0);
    EXPECT_EQ(Files(folder), one);
    EXPECT_EQ(fs::last_write_time(folder + "/2024/z.jpg"), z);
    // y.gif is up to date by its group's decision, which y.jpg (its output's last input) made.
    const std::string report = Text(Bytes("DIR/run.jsonl"));
    for (const char* line :
         {"\"input\":\"lib/x.bmp\",[^\n]*\"resized\"", "\"lib/2024/june/y.gif\",[^\n]*\"up-to-date\"",
          "\"lib/x.about.txt\",[^\n]*\"not-a-picture\"",
          "\\{\"totals\":\\{\"files\":8,\"resized\":4,\"failed\":0,\"up_to_date\":3,\"not_pictures\":1,"
          "\"would_resize\":0,\"skipped\":0,\"ms\":"})
        EXPECT_TRUE(std::regex_search(report, std::regex(line))) << line << "\n" << report;
    // Into the default FOLDER/Resized, twice: the output folder is never read back.
    for (int run = 0; run < 2; ++run)
        ASSERT_EQ(Run("batch lib --recursive --max-width 32 --classic").status, 0);
    EXPECT_EQ(Files(dir / "lib/Resized"), one);
}

}  // namespace
