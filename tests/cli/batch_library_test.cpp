// `kestrix batch` over a photo library, run as a user runs it: a tree of
// folders mirrored into an output folder, split into shards (by hand and by
// the deploy/ recipes), finished after a stop, dry runs and the JSON report.
// Every way of splitting a run must write exactly the bytes of one run.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::vector<uint8_t>>;  // relative path -> bytes

std::string ReadText(const std::string& path)
{
    const auto bytes = kxtest::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

class Library : public testing::Test {
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
        for (const auto& [name, width] : pictures) Picture(lib + "/" + name, width);
        kxtest::WriteFileBytes(lib + "/x.about.txt", {'n'});
        fs::create_directory_symlink(lib + "/2024", lib + "/linked");
        ASSERT_EQ(Kestrix("batch '" + lib + "' --recursive --output '" + reference + "' --max-width 32"), 0);
    }

    // A JPEG `width` x 30 with a pattern of its own (its content, whatever its name).
    void Picture(const std::string& path, int width)
    {
        fs::create_directories(fs::path(path).parent_path());
        kxtest::Image image{width, 30, std::vector<uint8_t>(static_cast<size_t>(width) * 30 * 3)};
        for (size_t i = 0; i < image.bgr.size(); ++i) image.bgr[i] = static_cast<uint8_t>(i * width / 7);
        kxtest::EncodeJpegFile(path, image, 90, 0);
    }

    // Runs a shell command line with the folder as working folder and
    // KESTRIX set; gives its exit status.
    int Sh(const std::string& command)
    {
        const std::string line = "cd '" + dir.Path() + "' && export KESTRIX='" KESTRIX_CLI "' && " + command +
                                 " >out.txt 2>err.txt";
        const int status = std::system(line.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int Kestrix(const std::string& arguments) { return Sh("\"$KESTRIX\" " + arguments); }

    // Every ordinary, not hidden file below `root`.
    static Tree Files(const std::string& root)
    {
        Tree tree;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                tree[fs::relative(entry.path(), root)] = kxtest::ReadFileBytes(entry.path());
        return tree;
    }

    kxtest::TempDir dir;
    const std::string lib = dir / "lib", reference = dir / "one-run";
};

TEST_F(Library, OneRunMirrorsTheTreeAndLeavesHiddenLinkedAndOutputFoldersOut)
{
    const Tree one = Files(reference);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : one) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"2024/june/x.jpg", "2024/june/y.jpg", "2024/z.jpg", "a.jpg",
                                               "x.jpg"}));
    EXPECT_EQ(kxtest::DecodeJpegFile(reference + "/x.jpg").height, 12);  // x.gif, 80 wide, won
    EXPECT_EQ(kxtest::DecodeJpegFile(reference + "/2024/june/y.jpg").height,
              11);  // y.jpg, 90 wide, won (y.gif: 10)
    EXPECT_EQ(kxtest::DecodeJpegFile(reference + "/2024/june/x.jpg").height, 14);
    // Into the default FOLDER/Resized, twice: the output folder is never read back.
    for (int run = 0; run < 2; ++run) ASSERT_EQ(Kestrix("batch '" + lib + "' --recursive --max-width 32"), 0);
    EXPECT_EQ(Files(lib + "/Resized"), one);
    // Without --recursive only the top folder, as Folvane does it.
    ASSERT_EQ(Kestrix("batch '" + lib + "' --output flat --max-width 32"), 0);
    EXPECT_EQ(Files(dir / "flat"), (Tree{{"a.jpg", one.at("a.jpg")}, {"x.jpg", one.at("x.jpg")}}));
    // An output folder that is the picture folder would replace pictures.
    EXPECT_EQ(Kestrix("batch '" + lib + "' --output '" + lib + "/' --max-width 32"), 2);
    EXPECT_NE(ReadText(dir / "err.txt").find("would replace"), std::string::npos);
}

TEST_F(Library, ShardsAndTheDeployRecipesWriteExactlyWhatOneRunWrites)
{
    const Tree one = Files(reference);
    for (const int shards : {2, 3, 5}) {
        const std::string out = dir / ("shards" + std::to_string(shards));
        for (int i = 0; i < shards; ++i)
            ASSERT_EQ(Kestrix("batch lib --recursive --output '" + out + "' --max-width 32 -j " +
                              std::to_string(1 + i % 2) + " --shard " + std::to_string(i) + "/" +
                              std::to_string(shards)),
                      0);
        EXPECT_EQ(Files(out), one) << shards << " shards";
    }
    const std::string deploy = KX_DEPLOY_DIR;
    const std::string options = " lib --recursive --output out --max-width 32";
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
    const std::string manifest = ReadText(deploy + "/kubernetes-job.yaml");
    ASSERT_TRUE(std::regex_search(manifest, command, std::regex("- '(exec kestrix batch [^']*)'")));
    for (int index = 0; index < 3; ++index)
        ASSERT_EQ(Sh("PATH=\"$(dirname \"$KESTRIX\"):$PATH\" PHOTOS=lib THUMBS=out WORKERS=1 SHARDS=3 "
                     "JOB_COMPLETION_INDEX=" +
                     std::to_string(index) + " sh -c '" + command[1].str() + "'"),
                  0);
    ASSERT_EQ(Kestrix("batch lib --recursive --output one-run-640 --skip-existing --max-width 640"), 0);
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
    ASSERT_EQ(Kestrix(run), 0);
    // As a run stopped half-way leaves it: one output never written, one cut
    // short by a power cut; and since then a picture changed.
    fs::remove(out + "/x.jpg");
    fs::resize_file(out + "/a.jpg", 100);
    const auto later = fs::last_write_time(out + "/2024/june/x.jpg") + std::chrono::seconds(5);
    fs::last_write_time(lib + "/2024/june/x.bmp", later);
    const auto kept = [&](const std::string& name) {
        struct stat info {};
        ::stat((out + "/" + name).c_str(), &info);
        return std::pair{info.st_ino, info.st_mtim.tv_nsec + info.st_mtim.tv_sec * 1'000'000'000};
    };
    const auto z = kept("2024/z.jpg"), y = kept("2024/june/y.jpg");

    ASSERT_EQ(Kestrix(run + " --json run.jsonl"), 0);
    EXPECT_EQ(Files(out), Files(reference));
    EXPECT_EQ(kept("2024/z.jpg"), z);
    EXPECT_EQ(kept("2024/june/y.jpg"), y);
    const std::string report = ReadText(dir / "run.jsonl");
    for (const auto& [input, outcome] :
         std::vector<std::pair<std::string, std::string>>{{"x.bmp", "resized"},
                                                          {"x.gif", "resized"},
                                                          {"a.jpg", "resized"},
                                                          {"2024/june/x.bmp", "resized"},
                                                          {"2024/z.jpg", "up-to-date"},
                                                          {"2024/june/y.jpg", "up-to-date"},
                                                          {"2024/june/y.gif", "up-to-date"},
                                                          {"x.about.txt", "not-a-picture"}})
        EXPECT_TRUE(std::regex_search(
            report, std::regex("\"input\":\"lib/" + input + "\",[^\n]*\"outcome\":\"" + outcome + "\"")))
            << input << " " << outcome << "\n"
            << report;
    EXPECT_NE(report.find("{\"totals\":{\"files\":8,\"resized\":4,\"failed\":0,\"up_to_date\":3,"
                          "\"not_pictures\":1,\"would_resize\":0,\"ms\":"),
              std::string::npos)
        << report;
}

TEST_F(Library, DryRunTellsWhatWouldHappenAndTouchesNothing)
{
    const std::string out = dir / "out";
    ASSERT_EQ(Kestrix("batch lib --recursive --output out --max-width 32 --shard 1/2"),
              0);  // x.jpg, not a.jpg
    const auto snapshot = [&] {
        std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> all;
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
            if (entry.path().filename() != "out.txt" && entry.path().filename() != "err.txt")
                all[entry.path()] = {entry.is_regular_file() ? entry.file_size() : 0,
                                     entry.last_write_time()};
        return all;
    };
    const auto before = snapshot();
    ASSERT_EQ(Kestrix("batch lib --recursive --output out --max-width 32 --skip-existing --dry-run"), 0);
    const std::string said = ReadText(dir / "out.txt");
    ASSERT_EQ(Kestrix("batch lib --recursive --output never-made --max-width 32 --dry-run --json -"), 0);
    const std::string json = ReadText(dir / "out.txt");
    EXPECT_EQ(snapshot(), before);
    for (const char* line : {"resize  lib/a.jpg -> out/a.jpg (no output yet)\n",
                             "keep    lib/x.gif -> out/x.jpg (output is up to date)\n",
                             "skip    lib/x.about.txt (not a JPG, BMP or GIF picture)\n"})
        EXPECT_NE(said.find(line), std::string::npos) << line << said;
    EXPECT_TRUE(std::regex_search(json, std::regex("^(\\{[^\n]*\\}\n){9}$"))) << "JSON lines only:\n" << json;
    EXPECT_NE(
        json.find("\"input\":\"lib/x.bmp\",\"output\":\"never-made/x.jpg\",\"outcome\":\"would-resize\""),
        std::string::npos);
}

}  // namespace
