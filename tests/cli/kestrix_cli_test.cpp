// The kestrix tool run as a user runs it: a child process with its standard
// output, standard error and exit status captured.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TestSupport.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string ReadText(const std::string& path)
{
    const auto bytes = kxtest::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

class Cli : public testing::Test {
protected:
    // Runs kestrix with `args`; stdout and stderr go to files in the folder.
    Outcome Run(const std::vector<std::string>& args)
    {
        const kxtest::ProgramOutcome run = kxtest::RunProgram(KESTRIX_CLI, args, dir.Path());
        return {run.status, run.out, run.err};
    }

    // Starts kestrix with `args` and returns its process id, or 0.
    pid_t Spawn(const std::vector<std::string>& args)
    {
        return kxtest::SpawnProgram(KESTRIX_CLI, args, dir.Path());
    }

    // A JPEG of the given size with a smooth mid-grey pattern.
    std::string Picture(int width, int height)
    {
        const std::string path = dir / ("in" + std::to_string(width) + "x" + std::to_string(height) + ".jpg");
        if (std::filesystem::exists(path)) return path;
        kxtest::Image image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
        for (size_t i = 0; i < image.bgr.size(); ++i) image.bgr[i] = static_cast<uint8_t>(96 + (i / 3) % 64);
        kxtest::EncodeJpegFile(path, image, 95, 0 /* 4:4:4 */);
        return path;
    }

    // The picture after `args` turned `width` x `height` into the output file.
    kxtest::Image RunOn(const std::string& command, int width, int height,
                        const std::vector<std::string>& args)
    {
        std::vector<std::string> all{command, Picture(width, height), output};
        all.insert(all.end(), args.begin(), args.end());
        const Outcome outcome = Run(all);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return kxtest::DecodeJpegFile(output);
    }

    kxtest::TempDir dir;
    const std::string output = dir / "out.jpg";
};

TEST_F(Cli, EachSubCommandWritesTheExpectedSize)
{
    struct Case {
        const char* command;
        int width, height;
        std::vector<std::string> args;
        int outWidth, outHeight;
    };  // "fit" and "resize" read positional sizes as width, then height
    const Case cases[] = {
        {"max-width", 400, 300, {"--width", "10", "--classic"}, 10, 6},  // modern: 10x8
        {"max-width", 400, 300, {"10", "--classic"}, 10, 6},
        {"max-height", 400, 300, {"--height", "150"}, 200, 150},
        {"fit", 1024, 768, {"--height", "500", "--width", "300"}, 300, 225},
        {"fit", 1024, 768, {"300", "500"}, 300, 225},
        {"percent", 1024, 768, {"--percent", "33"}, 338, 253},
        {"resize", 100, 50, {"--width", "30", "--height", "20"}, 30, 20},
        {"resize", 100, 50, {"30", "20"}, 30, 20},
        {"border", 100, 50, {"--top", "10", "--bottom", "20", "--left", "0", "--right", "5"}, 105, 80},
        {"border", 100, 50, {"--all", "3", "--left", "0"}, 103, 56},
        {"border", 100, 50, {"--top", "-10"}, 100, 40},
        {"text", 100, 50, {"Hi", "--top", "5", "--left", "5"}, 100, 50},
        {"text-at", 100, 50, {"Hi", "--at", "bottom-right"}, 100, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.args.front());
        const kxtest::Image image = RunOn(c.command, c.width, c.height, c.args);
        EXPECT_EQ(image.width, c.outWidth);
        EXPECT_EQ(image.height, c.outHeight);
    }
}

TEST_F(Cli, QualityDefaultsToNinety)
{
    const std::string in = Picture(120, 90);
    auto bytesWith = [&](std::vector<std::string> quality) {
        std::vector<std::string> args{"resize", in, output, "60", "40"};
        args.insert(args.end(), quality.begin(), quality.end());
        EXPECT_EQ(Run(args).status, 0);
        return kxtest::ReadFileBytes(output);
    };
    const auto byDefault = bytesWith({});
    EXPECT_EQ(byDefault, bytesWith({"--quality", "90"}));
    EXPECT_NE(byDefault, bytesWith({"--quality", "50"}));
}

TEST_F(Cli, ColoursAreHexOrDecimalCodes)
{
    struct Case {
        std::vector<std::string> args;
        kxtest::Bgr border;
    };
    const Case cases[] = {
        {{"--colour", "#FF0000"}, {0, 0, 255}},
        {{"--color", "#ff0000"}, {0, 0, 255}},
        {{"-c", "255"}, {0, 0, 255}},
        {{"--colour", "16711680"}, {255, 0, 0}},
        {{"--colour", "#0000FF"}, {255, 0, 0}},
        {{"--colour", "#00Ff00"}, {0, 255, 0}},
        {{}, {0, 0, 0}},
    };
    constexpr int kTolerance = 12;  // JPEG at quality 100, far from any edge
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "default" : c.args.back());
        std::vector<std::string> args{"--all", "16"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const kxtest::Image image = RunOn("border", 40, 30, args);
        ASSERT_EQ(image.width, 72);
        const kxtest::Bgr got = image.At(4, 4);
        EXPECT_NEAR(got.b, c.border.b, kTolerance);
        EXPECT_NEAR(got.g, c.border.g, kTolerance);
        EXPECT_NEAR(got.r, c.border.r, kTolerance);
    }
}

TEST_F(Cli, TextGoesToTheNamedPlace)
{
    // White text on black: the lit pixels' centre shows the third it landed in.
    const std::string in = dir / "black.jpg";
    kxtest::EncodeJpegFile(in, {300, 150, std::vector<uint8_t>(300 * 150 * 3, 0)}, 95, 0);
    struct Case {
        const char* place;
        int column, row;
    };  // thirds of the picture, 0 to 2
    const Case cases[] = {{"top-left", 0, 0},    {"Top_Center", 1, 0},    {"middle-centre", 1, 1},
                          {"BottomRight", 2, 2}, {"bottom-center", 1, 2}, {"middle left", 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.place);
        ASSERT_EQ(Run({"text-at", in, output, "XX", "--at", c.place, "--colour", "#FFFFFF"}).status, 0);
        const kxtest::Image image = kxtest::DecodeJpegFile(output);
        long sumX = 0, sumY = 0, lit = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (image.At(x, y).g > 128) sumX += x, sumY += y, ++lit;
        ASSERT_GT(lit, 0);
        EXPECT_EQ(sumX / lit / 100, c.column);
        EXPECT_EQ(sumY / lit / 50, c.row);
    }
}

TEST_F(Cli, BadArgumentsAreUsageErrors)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"border", "IN", "OUT", "--colour", "#12345"}, "'#12345' is not a colour"},
        {{"border", "IN", "OUT", "--colour", "reddish"}, "'reddish' is not a colour"},
        {{"border", "IN", "OUT", "--color", "#GG0000"}, "'#GG0000' is not a colour"},
        {{"border", "IN", "OUT", "--top", "32768"},
         "--top: '32768' is not a whole number from -32768 to 32767"},
        {{"max-width", "IN", "OUT", "--width", "abc"}, "--width: 'abc' is not a whole number"},
        {{"max-width", "IN", "OUT", "--width", "2147483648"}, "--width: '2147483648' is too large"},
        {{"max-width", "IN", "OUT", "--width", "0x10"}, "--width: '0x10' is not a whole number"},
        {{"resize", "IN", "OUT", "10", "10", "--quality", "101"},
         "--quality: '101' is not a whole number from 1 to 100"},
        {{"text-at", "IN", "OUT", "Hi", "--at", "middle"}, "'middle' is not a place"},
        {{"text", "IN", "OUT", "Hi", "--size", "nan"}, "--size: 'nan' is not a number"},
        {{"fit", "IN", "OUT", "--width", "10"}, "--height is required"},
        {{"frob"}, "frob"},
        {{}, "a sub-command is required"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args = c.args;
        for (auto& arg : args) arg = arg == "IN" ? Picture(20, 10) : arg == "OUT" ? output : arg;
        const Outcome outcome = Run(args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.err.rfind("kestrix: ", 0), 0u) << outcome.err;
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

TEST_F(Cli, EngineFailuresPrintOneLineAndExitOne)
{
    const std::string missing = dir / "missing.jpg";
    const std::string in = Picture(40, 30);
    const std::string psd = dir / "scan.jpg", readOnly = dir / "kept.jpg";
    kxtest::WriteFileBytes(psd, {'8', 'B', 'P', 'S', 0, 1, 0, 0});
    kxtest::WriteFileBytes(readOnly, {1});
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"resize", missing, output, "10", "10"}, "kestrix: " + missing + ": no such file or folder\n"},
        {{"resize", psd, output, "10", "10"},
         "kestrix: " + psd +
             ": a Photoshop picture, a format Kestrix does not read "
             "(Kestrix reads JPEG, PNG, GIF, BMP, HEIF, AVIF, WebP and TIFF)\n"},
        {{"border", in, dir / "no/such/folder.jpg"},
         "kestrix: cannot write the output JPEG file '" + dir / "no/such/folder.jpg" +
             "': the output folder does not exist\n"},
        {{"border", in, readOnly},
         "kestrix: cannot write the output JPEG file '" + readOnly + "': the file is read-only\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        const Outcome outcome = Run(c.args);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, c.err);
    }
}

TEST_F(Cli, ReportedErrorsArePrintedLineByLine)
{
    // Two borders of 20,000 overflow the 16-bit sum.
    const std::string in = Picture(40, 30);
    const Outcome outcome = Run({"border", in, output, "--top", "20000", "--bottom", "20000"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.find("kestrix: Error in : ImageAddBorder\nkestrix: Error Number : 6\n"
                               "kestrix: Error Desc : "),
              0u)
        << outcome.err;
    EXPECT_EQ(outcome.err.find('\r'), std::string::npos);
    const std::string last = "kestrix: an unexpected error occurred with '" + in + "' (reported above)\n";
    ASSERT_GE(outcome.err.size(), last.size());
    EXPECT_EQ(outcome.err.substr(outcome.err.size() - last.size()), last);
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 4);
}

// ---- batch ----------------------------------------------------------------

class Batch : public Cli {
protected:
    void SetUp() override { ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0); }

    // A JPEG header the probe accepts (a 64 x 48 baseline frame), then
    // bytes no decoder can use.
    void WriteBroken(const std::string& path)
    {
        std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8, 0, 48,   0, 64,
                                  3,    1,    0x22, 0,    2,    0x11, 1, 3, 0x11, 1};
        for (int i = 0; i < 200; ++i) b.push_back(static_cast<uint8_t>(i * 37 + 11));
        kxtest::WriteFileBytes(path, b);
    }

    std::vector<std::string> Resized() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder + "/Resized"))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    const std::string folder = dir / "photos";
};

TEST_F(Batch, EachMethodOptionGivesItsSize)
{
    std::filesystem::copy_file(Picture(400, 300), folder + "/p.jpg");
    struct Case {
        std::vector<std::string> method;
        int width, height;
    };
    const Case cases[] =
        {
            {{"--resize", "30x20"}, 30, 20}, {{"--percent", "50"}, 200, 150},
            {{"--max-width", "40"}, 40, 30}, {{"--max-height", "30"}, 40, 30},
            {{"--fit", "100X100"}, 100, 76},  // as "kestrix fit --classic" gives it
            {{"--fill", "50x20"}, 50, 20},
        };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method.front());
        std::vector<std::string> args{"batch", folder + "/", "-j", "1", "--classic"};
        args.insert(args.end(), c.method.begin(), c.method.end());
        const Outcome outcome = Run(args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.out, "Resized: 1 picture into " + folder +
                                   "/Resized\n"
                                   "Skipped: 0 files\nFailed:  0 pictures\n");
        const kxtest::Image image = kxtest::DecodeJpegFile(folder + "/Resized/p.jpg");
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
    }
    // Quality 90 unless told: the same bytes as the single-picture command.
    ASSERT_EQ(Run({"max-width", folder + "/p.jpg", output, "--width", "40", "--classic"}).status, 0);
    ASSERT_EQ(Run({"batch", folder, "--max-width", "40", "--classic"}).status, 0);
    EXPECT_EQ(kxtest::ReadFileBytes(folder + "/Resized/p.jpg"), kxtest::ReadFileBytes(output));
    ASSERT_EQ(Run({"batch", folder, "--max-width", "40", "--classic", "--quality", "50"}).status, 0);
    EXPECT_NE(kxtest::ReadFileBytes(folder + "/Resized/p.jpg"), kxtest::ReadFileBytes(output));
    // Without --classic, the single-picture command's modern bytes; the
    // options of the modes as the single-picture commands take them.
    struct Same {
        std::vector<std::string> single, batch;
    };
    const Same same[] = {
        {{"max-width", "--width", "41"}, {"--max-width", "41"}},
        {{"max-width", "--width", "41", "--filter", "exact"}, {"--max-width", "41", "--filter", "exact"}},
        {{"fill", "--width", "50", "--height", "20"}, {"--fill", "50x20"}},
        {{"percent", "--percent", "100"}, {"--percent", "150", "--shrink-only"}},
        {{"percent", "--percent", "100"}, {"--max-width", "999", "--shrink-only"}},
    };
    for (const Same& c : same) {
        SCOPED_TRACE(c.batch.front());
        std::vector<std::string> single{c.single.front(), folder + "/p.jpg", output};
        single.insert(single.end(), c.single.begin() + 1, c.single.end());
        std::vector<std::string> batch{"batch", folder};
        batch.insert(batch.end(), c.batch.begin(), c.batch.end());
        ASSERT_EQ(Run(single).status, 0);
        ASSERT_EQ(Run(batch).status, 0);
        EXPECT_EQ(kxtest::ReadFileBytes(folder + "/Resized/p.jpg"), kxtest::ReadFileBytes(output));
    }
}

TEST_F(Batch, AllFormatsTakesMoreFilesAndFormatNamesTheOutputs)
{
    std::filesystem::copy_file(Picture(400, 300), folder + "/p.jpg");
    ASSERT_EQ(
        Run({"percent", folder + "/p.jpg", folder + "/q.PNG", "--percent", "50", "--format", "png"}).status,
        0);
    kxtest::WriteFileBytes(folder + "/r.webp", {'n'});
    struct Case {
        std::vector<std::string> extra;
        const char* summary;
        std::vector<std::string> outputs;
    };
    const Case cases[] = {
        {{},
         "Resized: 1 picture into @\nSkipped: 2 files: 1 .png and 1 .webp (only .jpg, .bmp and .gif files "
         "are "
         "resized without --all-formats)\n",
         {"p.jpg"}},
        {{"--all-formats"},
         "Resized: 2 pictures into @\nSkipped: 1 file: 1 .webp (not pictures)\n",
         {"p.jpg", "q.jpg"}},
        {{"--all-formats", "--format", "webp"},
         "Resized: 2 pictures into @\nSkipped: 1 file: 1 .webp (not pictures)\n",
         {"p.webp", "q.webp"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra.size());
        std::filesystem::remove_all(folder + "/Resized");
        std::vector<std::string> args{"batch", folder, "--max-width", "40"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Outcome outcome = Run(args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        std::string summary = c.summary;
        summary.replace(summary.find('@'), 1, folder + "/Resized");
        EXPECT_EQ(outcome.out, summary + "Failed:  0 pictures\n");
        EXPECT_EQ(Resized(), c.outputs);
    }
    const Outcome kept =
        Run({"batch", folder, "--max-width", "40", "--all-formats", "--format", "webp", "--skip-existing"});
    EXPECT_NE(kept.out.find("Up to date: 2 pictures (kept)"), std::string::npos) << kept.out;
    const auto webp = kxtest::ReadFileBytes(folder + "/Resized/q.webp");
    ASSERT_GT(webp.size(), 12u);
    EXPECT_EQ(std::string(webp.begin() + 8, webp.begin() + 12), "WEBP");
}

TEST_F(Batch, SummaryNamesEachFailureAndTheStatusIsOne)
{
    std::filesystem::copy_file(Picture(400, 300), folder + "/a.jpg");
    WriteBroken(folder + "/bad.jpg");
    std::filesystem::copy_file(Picture(200, 100), folder + "/c.JPG");
    kxtest::WriteFileBytes(folder + "/notes.txt", {'n'});
    const Outcome outcome = Run({"batch", folder, "--max-width", "40", "-j", "2"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(
        outcome.out,
        "Resized: 2 pictures into " + folder +
            "/Resized\n"
            "Skipped: 1 file: 1 .txt (only .jpg, .bmp and .gif files are resized without --all-formats)\n"
            "Failed:  1 picture\n"
            "  bad.jpg: corrupt data: the header gives no picture size\n");
    EXPECT_EQ(outcome.err.find('\r'), std::string::npos) << "no progress bar off a terminal";
    EXPECT_EQ(Resized(), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    EXPECT_EQ(kxtest::DecodeJpegFile(folder + "/Resized/c.jpg").height, 20);
}

TEST_F(Batch, BadArgumentsAreUsageErrors)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"batch", folder},
         "Exactly 1 option from [--resize,--percent,--max-width,--max-height,--fit,--fill]"},
        {{"batch", folder, "--percent", "50", "--max-width", "10"}, "is required and 2 were given"},
        {{"batch", folder, "--fit", "10x0"}, "'10x0': the height '0' is below 1"},
        {{"batch", folder, "--resize", "10"}, "'10' is not a size"},
        {{"batch", folder, "--max-width", "0"}, "--max-width: '0' is below 1"},
        {{"batch", folder, "--max-width", "10", "-j", "0"}, "'0' is not a whole number from 1 to 1024"},
        {{"batch", "--max-width", "10"}, "FOLDER is required"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const Outcome outcome = Run(c.args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
    }
    // A run that cannot start says so in one line and prints no summary.
    kxtest::WriteFileBytes(dir / "file.jpg", {1});
    kxtest::WriteFileBytes(folder + "/Resized", {1});
    std::filesystem::copy_file(Picture(20, 10), folder + "/p.jpg");  // a picture to resize
    const std::pair<std::string, std::string> starts[] = {
        {dir / "missing", "kestrix: " + (dir / "missing") + ": no such folder\n"},
        {dir / "file.jpg", "kestrix: " + (dir / "file.jpg") + ": not a folder\n"},
        {folder,
         "kestrix: " + folder + ": cannot make the folder Resized (a file of that name is in the way)\n"},
    };
    for (const auto& [path, message] : starts) {
        const Outcome outcome = Run({"batch", path, "--percent", "50"});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, message);
        EXPECT_EQ(outcome.out, "");
    }
}

TEST_F(Batch, CtrlCFinishesThePicturesUnderWayAndLeavesNoPartialFile)
{
    constexpr int kPictures = 16;
    const std::string picture = Picture(2400, 1800);
    for (int i = 0; i < kPictures; ++i)
        std::filesystem::copy_file(picture, folder + "/p" + std::to_string(10 + i) + ".jpg");
    const pid_t child = Spawn({"batch", folder, "--max-width", "320", "-j", "2"});
    ASSERT_GT(child, 0);
    // Interrupted once the first picture is out (a bound, not a timing).
    for (int wait = 0; wait < 60000; ++wait) {
        std::error_code error;
        bool any = false;
        for (const auto& entry : std::filesystem::directory_iterator(folder + "/Resized", error))
            any = any || entry.path().filename().string().front() != '.';
        if (any) break;
        ::usleep(1000);
    }
    ASSERT_EQ(::kill(child, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(ReadText(dir / "stdout.txt").find("Stopped: "), std::string::npos);

    const std::vector<std::string> written = Resized();
    EXPECT_GE(written.size(), 1u);
    EXPECT_LT(written.size(), static_cast<size_t>(kPictures));
    for (const std::string& name : written) {
        SCOPED_TRACE(name);
        EXPECT_NE(name.front(), '.');  // no temporary file of the engine left
        EXPECT_TRUE(name.ends_with(".jpg"));
        EXPECT_EQ(kxtest::DecodeJpegFile(folder + "/Resized/" + name).width, 320);
    }
}

}  // namespace
