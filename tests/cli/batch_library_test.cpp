// `kestrix batch` run as a user runs it: over one folder (each method, the
// summary, Ctrl-C) and over a photo library: a tree of folders mirrored into
// an output folder, split into shards (by hand and by the deploy/ recipes),
// finished after a stop, dry runs and the JSON report. Every way of splitting
// a run must write exactly the bytes of one run.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <regex>

#include "CliRun.h"

namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::vector<uint8_t>>;  // relative path -> bytes

// Every file below `root`, hidden ones too.
Tree Files(const std::string& root)
{
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            tree[fs::relative(entry.path(), root)] = kxtest::ReadFileBytes(entry.path());
    return tree;
}

std::vector<std::string> Names(const Tree& tree)
{
    std::vector<std::string> names;
    for (const auto& [name, bytes] : tree) names.push_back(name);
    return names;
}

std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

class Batch : public kxtest::CliTest {
protected:
    void SetUp() override { fs::create_directory(dir / "photos"); }
    // Copies a picture of `size` (WxH) into photos/ as `name`.
    void Add(const std::string& size, const std::string& name)
    {
        fs::copy(Picture(size), dir / ("photos/" + name));
    }
};

TEST_F(Batch, EachMethodWritesTheBytesOfItsSinglePictureCommand)
{
    Add("400x300", "p.jpg");
    const struct {
        const char *options, *single, *size;
    } cases[] = {
        {"--resize 30x20 --classic", "resize @400x300 OUT 30 20 --classic", "30x20"},
        {"--percent 50 --classic", "percent @400x300 OUT 50 --classic", "200x150"},
        {"--max-width 40 --classic", "max-width @400x300 OUT 40 --classic", "40x30"},
        {"--max-height 30 --classic", "max-height @400x300 OUT 30 --classic", "40x30"},
        {"--fit 100X100 --classic", "fit @400x300 OUT 100 100 --classic", "100x76"},
        {"--fill 50x20 --classic", "fill @400x300 OUT 50 20 --classic", "50x20"},
        {"--max-width 40 --classic --quality 50", "max-width @400x300 OUT 40 --classic -q 50", "40x30"},
        {"--max-width 41", "max-width @400x300 OUT --width 41", "41x31"},
        {"--max-width 41 --filter exact", "max-width @400x300 OUT --width 41 --filter exact", "41x31"},
        {"--fill 50x20", "fill @400x300 OUT --width 50 --height 20", "50x20"},
        {"--percent 150 --shrink-only", "percent @400x300 OUT 100", "400x300"},
        {"--max-width 999 --shrink-only", "percent @400x300 OUT 100", "400x300"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_EQ(Run(c.single).status, 0);
        const kxtest::ProgramOutcome run = Run("batch photos -j 1 " + std::string(c.options));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "Resized: 1 picture into photos/Resized\nSkipped: 0 files\nFailed:  0 pictures\n");
        EXPECT_EQ(Bytes("DIR/photos/Resized/p.jpg"), Bytes(out));
        const kxtest::Image image = kxtest::DecodeJpegFile(out);
        EXPECT_EQ(std::to_string(image.width) + "x" + std::to_string(image.height), c.size);
    }
}

TEST_F(Batch, TheSummaryGroupsSkippedFilesAndNamesOverwrittenOutputsAndFailures)
{
    for (const char* name : {"a.jpg", "a.b.jpg"}) Add("40x30", name);
    Add("200x100", "c.JPG");
    for (const char* name : {"p.png", "q.PNG", "r.jpeg", "notes.txt", "README", "fake.jpg"})
        kxtest::WriteFileBytes(dir / "photos/" + name, {'t', 'e', 'x', 't'});
    // A JPEG header the probe accepts (a 64 x 48 baseline frame), then bytes no decoder can use.
    std::vector<uint8_t> broken = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8, 0, 48,   0, 64,
                                   3,    1,    0x22, 0,    2,    0x11, 1, 3, 0x11, 1};
    for (int i = 0; i < 200; ++i) broken.push_back(static_cast<uint8_t>(i * 37 + 11));
    kxtest::WriteFileBytes(dir / "photos/bad.jpg", broken);

    const kxtest::ProgramOutcome run = Run("batch photos --max-width 20 --verbose -j 2");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "Resized: 3 pictures into photos/Resized\n"
              "Skipped: 6 files: 1 .jpeg, 2 .png, 1 .txt and 1 without extension (only .jpg, .bmp and "
              ".gif files are resized without --all-formats); 1 .jpg (not pictures)\n"
              "  README\n  fake.jpg\n  notes.txt\n  p.png\n  q.PNG\n  r.jpeg\n"
              "Overwritten: 1 output by a later file of the same name\n"
              "  a.jpg: a.b.jpg, then a.jpg\n"
              "Failed:  1 picture\n"
              "  bad.jpg: corrupt data: the header gives no picture size\n");
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no progress bar off a terminal";
    EXPECT_EQ(Names(Files(dir / "photos/Resized")), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "photos/Resized/c.jpg").height, 10);

    // Runs that cannot start say so in one line, print no summary and make no folder.
    fs::create_directory(dir / "notes");
    kxtest::WriteFileBytes(dir / "notes/list.txt", {'t'});
    kxtest::WriteFileBytes(dir / "photos/Resized/Resized", {1});
    const std::pair<std::string, std::string> starts[] = {
        {"notes", "kestrix: no pictures found in notes\n"},
        {"photos/Resized",
         "kestrix: photos/Resized: cannot make the folder Resized (a file of that name is in the way)\n"},
    };
    for (const auto& [folder, message] : starts) {
        const kxtest::ProgramOutcome failed = Run("batch " + folder + " --percent 50");
        EXPECT_EQ(failed.status, 1);
        EXPECT_EQ(failed.err, message);
        EXPECT_EQ(failed.out, "");
    }
    EXPECT_FALSE(fs::exists(dir / "notes/Resized"));
}

TEST_F(Batch, AllFormatsTakesMoreFilesAndFormatNamesTheOutputs)
{
    Add("400x300", "p.jpg");
    ASSERT_EQ(Run("percent @400x300 DIR/photos/q.PNG 50 --format png").status, 0);
    kxtest::WriteFileBytes(dir / "photos/r.webp", {'n'});
    const struct {
        const char *options, *skipped;
        std::vector<std::string> outputs;
    } cases[] = {
        {"",
         "Resized: 1 picture into photos/Resized\nSkipped: 2 files: 1 .png and 1 .webp (only .jpg, .bmp and "
         ".gif files are resized without --all-formats)\n",
         {"p.jpg"}},
        {"--all-formats",
         "Resized: 2 pictures into photos/Resized\nSkipped: 1 file: 1 .webp (not pictures)\n",
         {"p.jpg", "q.jpg"}},
        {"--all-formats --format webp",
         "Resized: 2 pictures into photos/Resized\nSkipped: 1 file: 1 .webp (not pictures)\n",
         {"p.webp", "q.webp"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        fs::remove_all(dir / "photos/Resized");
        const kxtest::ProgramOutcome run = Run("batch photos --max-width 40 " + std::string(c.options));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, c.skipped + std::string("Failed:  0 pictures\n"));
        EXPECT_EQ(Names(Files(dir / "photos/Resized")), c.outputs);
    }
    const kxtest::ProgramOutcome kept =
        Run("batch photos --max-width 40 --all-formats --format webp --skip-existing");
    EXPECT_NE(kept.out.find("Up to date: 2 pictures (kept)"), std::string::npos) << kept.out;
    EXPECT_EQ(Text(Bytes("DIR/photos/Resized/q.webp")).substr(8, 4), "WEBP");
}

TEST_F(Batch, CtrlCFinishesThePicturesUnderWayAndLeavesNoPartialFile)
{
    constexpr int kPictures = 16;
    for (int i = 0; i < kPictures; ++i) Add("2400x1800", "p" + std::to_string(10 + i) + ".jpg");
    const pid_t child =
        kxtest::SpawnProgram(KESTRIX_CLI, {"batch", "photos", "--max-width", "320", "-j", "2"}, dir.Path());
    ASSERT_GT(child, 0);
    // Interrupted once the first picture is out (a bound, not a timing).
    for (int wait = 0; wait < 60000; ++wait) {
        std::error_code error;
        bool any = false;
        for (const auto& entry : fs::directory_iterator(dir / "photos/Resized", error))
            any = any || entry.path().filename().string().front() != '.';
        if (any) break;
        ::usleep(1000);
    }
    ASSERT_EQ(::kill(child, SIGINT), 0);
    const kxtest::ProgramOutcome run = kxtest::WaitForProgram(child, dir.Path());
    EXPECT_EQ(run.status, 130);
    EXPECT_NE(run.out.find("Stopped: "), std::string::npos);
    const std::vector<std::string> written = Names(Files(dir / "photos/Resized"));
    EXPECT_GE(written.size(), 1u);
    EXPECT_LT(written.size(), static_cast<size_t>(kPictures));
    for (const std::string& name : written) {
        SCOPED_TRACE(name);
        EXPECT_NE(name.front(), '.');  // no temporary file of the engine left
        EXPECT_TRUE(name.ends_with(".jpg"));
        EXPECT_EQ(kxtest::DecodeJpegFile(dir / ("photos/Resized/" + name)).width, 320);
    }
}

class Library : public kxtest::CliTest {
protected:
    // lib/ holds pictures whose outputs collide in two folders (x.bmp and
    // x.gif, june/y.jpg and june/y.gif, the later name wins), the same name in
    // two folders (x.bmp, june/x.bmp: no collision), a text file that sorts
    // first among the x files, a hidden file, a hidden folder and a link to
    // a folder (both left out).
    void SetUp() override
    {
        const std::pair<const char*, int> pictures[] = {
            {"a.jpg", 40},
            {"x.bmp", 60},
            {"x.gif", 80},
            {"2024/z.jpg", 50},
            {"2024/june/x.bmp", 70},
            {"2024/june/y.jpg", 90},
            {"2024/june/y.gif", 100},
            {".hidden/h.jpg", 40},
            {".h.jpg", 40},
        };
        for (const auto& [name, width] : pictures) {
            // A JPEG `width` x 30 with a pattern of its own (its content, whatever its name).
            fs::create_directories(fs::path(dir / ("lib/" + std::string(name))).parent_path());
            kxtest::Image image{width, 30, std::vector<uint8_t>(static_cast<size_t>(width) * 30 * 3)};
            for (size_t i = 0; i < image.bgr.size(); ++i) image.bgr[i] = static_cast<uint8_t>(i * width / 7);
            kxtest::EncodeJpegFile(dir / ("lib/" + std::string(name)), image, 90, 0);
        }
        kxtest::WriteFileBytes(dir / "lib/x.about.txt", {'n'});
        fs::create_directory_symlink(dir / "lib/2024", dir / "lib/linked");
        ASSERT_EQ(Run("batch lib --recursive --output one-run --max-width 32").status, 0);
        one = Files(dir / "one-run");
    }

    // Runs a shell command line in the folder with KESTRIX set; its exit status.
    int Sh(const std::string& command)
    {
        return kxtest::RunProgram("/bin/sh", {"-c", "export KESTRIX='" KESTRIX_CLI "'; " + command},
                                  dir.Path())
            .status;
    }

    Tree one;  // what one run writes
};

TEST_F(Library, OneRunMirrorsTheTreeAndLeavesHiddenLinkedAndOutputFoldersOut)
{
    EXPECT_EQ(Names(one), (std::vector<std::string>{"2024/june/x.jpg", "2024/june/y.jpg", "2024/z.jpg",
                                                    "a.jpg", "x.jpg"}));
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "one-run/x.jpg").height, 12);  // x.gif, 80 wide, won
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "one-run/2024/june/y.jpg").height,
              11);  // y.jpg, 90 wide (y.gif: 10)
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "one-run/2024/june/x.jpg").height, 14);
    // Into the default FOLDER/Resized, twice: the output folder is never read back.
    for (int run = 0; run < 2; ++run) ASSERT_EQ(Run("batch lib --recursive --max-width 32").status, 0);
    EXPECT_EQ(Files(dir / "lib/Resized"), one);
    // Without --recursive only the top folder, as Folvane does it.
    ASSERT_EQ(Run("batch lib --output flat --max-width 32").status, 0);
    EXPECT_EQ(Files(dir / "flat"), (Tree{{"a.jpg", one.at("a.jpg")}, {"x.jpg", one.at("x.jpg")}}));
    // An output folder that is the picture folder would replace pictures.
    const kxtest::ProgramOutcome same = Run("batch lib --output DIR/lib/ --max-width 32");
    EXPECT_EQ(same.status, 2);
    EXPECT_NE(same.err.find("would replace"), std::string::npos);
}

TEST_F(Library, ShardsAndTheDeployRecipesWriteExactlyWhatOneRunWrites)
{
    for (const int shards : {2, 3, 5}) {
        const std::string out = "shards" + std::to_string(shards);
        for (int i = 0; i < shards; ++i)
            ASSERT_EQ(Run("batch lib --recursive --output " + out + " --max-width 32 -j " +
                          std::to_string(1 + i % 2) + " --shard " + std::to_string(i) + "/" +
                          std::to_string(shards))
                          .status,
                      0);
        EXPECT_EQ(Files(dir / out), one) << shards << " shards";
    }
    const std::string deploy = KX_DEPLOY_DIR, options = " lib --recursive --output out --max-width 32";
    // The Slurm job array's tasks, 1 to 3 (--array=1-3).
    for (int task = 1; task <= 3; ++task)
        ASSERT_EQ(Sh("SLURM_ARRAY_TASK_ID=" + std::to_string(task) +
                     " SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_COUNT=3 bash '" + deploy + "/slurm-batch.sh'" +
                     options),
                  0);
    EXPECT_EQ(Files(dir / "out"), one) << "Slurm";
    // The Indexed Job's container command, as its pods run it.
    fs::remove_all(dir / "out");
    std::smatch command;
    const std::string manifest = Text(kxtest::ReadFileBytes(deploy + "/kubernetes-job.yaml"));
    ASSERT_TRUE(std::regex_search(manifest, command, std::regex("- '(exec kestrix batch [^']*)'")));
    for (int index = 0; index < 3; ++index)
        ASSERT_EQ(Sh("PATH=\"$(dirname \"$KESTRIX\"):$PATH\" PHOTOS=lib THUMBS=out WORKERS=1 SHARDS=3 "
                     "JOB_COMPLETION_INDEX=" +
                     std::to_string(index) + " sh -c '" + command[1].str() + "'"),
                  0);
    ASSERT_EQ(Run("batch lib --recursive --output one-run-640 --skip-existing --max-width 640").status, 0);
    EXPECT_EQ(Files(dir / "out"), Files(dir / "one-run-640")) << "Kubernetes";
    // GNU parallel with three local workers.
    fs::remove_all(dir / "out");
    ASSERT_EQ(
        Sh("HOSTS=3/: SHARDS=3 bash '" + deploy + "/parallel.sh'" + options + " --json 'report-{}.jsonl'"),
        0);
    EXPECT_EQ(Files(dir / "out"), one) << "GNU parallel";
    EXPECT_TRUE(fs::exists(dir / "report-2.jsonl"));
}

TEST_F(Library, SkipExistingFinishesAStoppedRunWithoutRedoingCompleteOutputs)
{
    const std::string out = dir / "out",
                      run = "batch lib --recursive --output out --max-width 32 --skip-existing";
    ASSERT_EQ(Run(run).status, 0);
    // As a run stopped half-way leaves it: one output never written, one cut
    // short by a power cut; and since then a picture changed.
    fs::remove(out + "/x.jpg");
    fs::resize_file(out + "/a.jpg", 100);
    fs::last_write_time(dir / "lib/2024/june/x.bmp",
                        fs::last_write_time(out + "/2024/june/x.jpg") + std::chrono::seconds(5));
    const auto kept = [&](const std::string& name) {
        struct stat info {};
        ::stat((out + "/" + name).c_str(), &info);
        return std::pair{info.st_ino, info.st_mtim.tv_nsec + info.st_mtim.tv_sec * 1'000'000'000};
    };
    const auto z = kept("2024/z.jpg"), y = kept("2024/june/y.jpg");

    ASSERT_EQ(Run(run + " --json run.jsonl").status, 0);
    EXPECT_EQ(Files(out), one);
    EXPECT_EQ(kept("2024/z.jpg"), z);
    EXPECT_EQ(kept("2024/june/y.jpg"), y);
    const std::string report = Text(Bytes("DIR/run.jsonl"));
    const std::pair<const char*, const char*> outcomes[] = {{"x.bmp", "resized"},
                                                            {"x.gif", "resized"},
                                                            {"a.jpg", "resized"},
                                                            {"2024/june/x.bmp", "resized"},
                                                            {"2024/z.jpg", "up-to-date"},
                                                            {"2024/june/y.jpg", "up-to-date"},
                                                            {"2024/june/y.gif", "up-to-date"},
                                                            {"x.about.txt", "not-a-picture"}};
    for (const auto& [input, outcome] : outcomes)
        EXPECT_TRUE(std::regex_search(report, std::regex("\"input\":\"lib/" + std::string(input) +
                                                         "\",[^\n]*\"outcome\":\"" + outcome + "\"")))
            << input << " " << outcome << "\n"
            << report;
    EXPECT_NE(report.find("{\"totals\":{\"files\":8,\"resized\":4,\"failed\":0,\"up_to_date\":3,"
                          "\"not_pictures\":1,\"would_resize\":0,\"ms\":"),
              std::string::npos)
        << report;
}

TEST_F(Library, DryRunTellsWhatWouldHappenAndTouchesNothing)
{
    ASSERT_EQ(Run("batch lib --recursive --output out --max-width 32 --shard 1/2").status,
              0);  // x.jpg, not a.jpg
    const auto snapshot = [&] {
        std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> all;
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
            if (entry.path().filename() != "stdout.txt" && entry.path().filename() != "stderr.txt")
                all[entry.path()] = {entry.is_regular_file() ? entry.file_size() : 0,
                                     entry.last_write_time()};
        return all;
    };
    const auto before = snapshot();
    const kxtest::ProgramOutcome
        said = Run("batch lib --recursive --output out --max-width 32 --skip-existing --dry-run"),
        json = Run("batch lib --recursive --output never-made --max-width 32 --dry-run --json -");
    EXPECT_EQ(said.status, 0);
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(snapshot(), before);
    for (const char* line : {"resize  lib/a.jpg -> out/a.jpg (no output yet)\n",
                             "keep    lib/x.gif -> out/x.jpg (output is up to date)\n",
                             "skip    lib/x.about.txt (not a JPG, BMP or GIF picture)\n"})
        EXPECT_NE(said.out.find(line), std::string::npos) << line << said.out;
    EXPECT_TRUE(std::regex_search(json.out, std::regex("^(\\{[^\n]*\\}\n){9}$"))) << "JSON lines only:\n"
                                                                                  << json.out;
    EXPECT_NE(
        json.out.find("\"input\":\"lib/x.bmp\",\"output\":\"never-made/x.jpg\",\"outcome\":\"would-resize\""),
        std::string::npos);
}

}  // namespace
