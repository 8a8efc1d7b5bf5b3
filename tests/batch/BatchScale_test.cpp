// The units behind `kestrix batch` on whole libraries: the checks before a run,
// the tree listing, the shard split, the rule for outputs that need no redoing
// and the JSON report.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include "batch/BatchRun.h"
#include "batch/Freshness.h"
#include "batch/JsonReport.h"
#include "batch/LibraryRun.h"
#include "batch/Shard.h"
#include "batch/TreeListing.h"
#include "tests/support/TestSupport.h"

namespace kx::batch {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// Output names: the desktop program's cut at the first dot, the tool's at the
// last; and the extension after the last dot, as the run's filter reads it.
TEST(OutputName, CutsAtTheFirstOrLastDotAndKeepsTheFolder)
{
    const std::array<std::string, 4> rows[] = {
        // name, first dot, last dot, extension
        {"photo.bmp", "photo.jpg", "photo.jpg", "bmp"},
        {"a.b.GIF", "a.jpg", "a.b.jpg", "GIF"},
        {"my.photo.bmp", "my.jpg", "my.photo.jpg", "bmp"},
        {"archive.tar.gz", "archive.jpg", "archive.tar.jpg", "gz"},
        {"holiday.photo.bmp", "holiday.jpg", "holiday.photo.jpg", "bmp"},
        {"ends.", "ends.jpg", "ends.jpg", ""},
        {"plain", "plain.jpg", "plain.jpg", ""},
        {".x", ".jpg", ".x.jpg", "x"},
        {"sub/x.y.gif", "sub/x.jpg", "sub/x.y.jpg", "gif"},
    };
    for (const auto& [name, first, last, extension] : rows)
        EXPECT_EQ(std::tuple(OutputName(name, ".jpg", Naming::FirstDot),
                             OutputName(name, ".jpg", Naming::LastDot), ExtensionOf(name)),
                  std::tuple(first, last, extension))
            << name;
}

// Before a library run: the folder, its pictures, the output folder; an empty
// folder has no pictures either.
TEST(PrepareLibrary, TellsWhyARunCannotStartAndMakesNoFolderForIt)
{
    kxtest::TempDir dir;
    for (const char* folder : {"empty", "text", "blocked", "one"}) fs::create_directory(dir / folder);
    for (const char* file : {"text/a.txt", "blocked/Resized", "a.jpg"})
        kxtest::WriteFileBytes(dir / file, {'t'});
    for (const char* gif : {"one/y.gif", "blocked/y.gif"})  // a header the probe takes
        kxtest::WriteFileBytes(dir / gif, {'G', 'I', 'F', '8', '9', 'a', 8, 0, 8, 0, 0x80, 0, 0, 1, 2, 3});
    using Kind = Problem::Kind;
    // The folder, dry run, the problem and its reason, and whether FOLDER/Resized is there after.
    const std::tuple<std::string, bool, Kind, std::string, bool> cases[] = {
        {"missing", false, Kind::NoSuchFolder, "", false},
        {"a.jpg", false, Kind::NotAFolder, "", false},
        {"empty", false, Kind::NoPictures, "", false},
        {"text", false, Kind::NoPictures, "", false},
        {"blocked", false, Kind::CannotMakeFolder, "a file of that name is in the way", false},
        {"one", true, Kind::None, "", false},
        {"one", false, Kind::None, "", true}};
    for (const auto& [folder, dryRun, kind, reason, made] : cases) {
        LibraryJob job;
        job.DryRun = dryRun;
        const LibraryPlan plan = PrepareLibrary(dir / folder, dir / folder + "/Resized", job);
        EXPECT_EQ(std::tuple(plan.Error.What, plan.Error.Reason, fs::is_directory(dir / folder + "/Resized")),
                  std::tuple(kind, reason, made))
            << folder;
    }
}

TEST(ListTree, MirrorsTheTreeWithoutHiddenExcludedOrLinkedFolders)
{
    kxtest::TempDir dir;
    const std::string top = dir / "top";
    for (const char* file : {"a.jpg", ".hidden.jpg", "notes.txt", "sub/b.bmp", "sub/deeper/c.gif",
                             "sub/.cache/d.jpg", ".git/e.jpg", "out/f.jpg", "sub/out/g.jpg"}) {
        fs::create_directories(fs::path(top + "/" + file).parent_path());
        kxtest::WriteFileBytes(top + "/" + file, {'x'});
    }
    fs::create_directory_symlink(top + "/sub", top + "/linked");  // would list sub twice
    fs::create_directory_symlink(top, top + "/sub/loop");         // would never end
    fs::create_symlink(top + "/a.jpg", top + "/sub/alias.jpg");   // a link to a file is a file
    fs::create_directory_symlink(top + "/out", dir / "outlink");  // the excluded folder by another path

    const Names everything{"a.jpg",     "notes.txt",        "sub/alias.jpg",
                           "sub/b.bmp", "sub/deeper/c.gif", "sub/out/g.jpg"};
    Names withOut = everything;  // nothing excluded
    withOut.insert(withOut.begin() + 2, "out/f.jpg");
    const std::tuple<bool, std::string, Names> cases[] = {
        // recursive, the excluded folder, the names
        {true, dir / "outlink", everything},
        {true, "", withOut},
        {false, dir / "outlink", {"a.jpg", "notes.txt"}},
    };
    for (const auto& [recursive, excluded, expected] : cases) {
        const TreeListing listing = ListTree(top, recursive, excluded);
        EXPECT_EQ(listing.Names, expected) << recursive << " " << excluded;
        EXPECT_TRUE(listing.Unreadable.empty());
    }
    EXPECT_EQ(ListTree(dir / "missing", true).Error.Errno, ENOENT);
    if (::geteuid() != 0) {  // root reads any folder
        fs::permissions(top + "/sub/deeper", fs::perms::none);
        const TreeListing listing = ListTree(top, true, dir / "outlink");
        fs::permissions(top + "/sub/deeper", fs::perms::owner_all);
        ASSERT_EQ(listing.Unreadable.size(), 1u);
        EXPECT_EQ(listing.Unreadable[0].Folder, "sub/deeper");
        EXPECT_EQ(listing.Names.size(), everything.size() - 1);
    }
}

// What is swapped in after the listing: a picture replaced by a link out of the folder
// is not read, and an output folder replaced by a link is not written through.
TEST(RunLibrary, ReadsAndWritesWhatWasCheckedNotWhatWasSwappedIn)
{
    kxtest::TempDir dir;
    for (const char* gif : {"up/a.gif", "up/sub/b.gif", "secret/s.gif", "www/"}) {
        fs::create_directories(fs::path(dir / gif).parent_path());
        if (!std::string(gif).ends_with('/'))
            kxtest::WriteFileBytes(dir / gif,
                                   {'G', 'I', 'F', '8', '9', 'a', 8, 0, 8, 0, 0x80, 0, 0, 1, 2, 3});
    }
    LibraryJob job;
    job.Recursive = true;
    const LibraryPlan plan = PrepareLibrary(dir / "up", dir / "up/Resized", job);
    ASSERT_FALSE(plan.Error);
    fs::remove(dir / "up/a.gif");
    fs::create_symlink(dir / "secret/s.gif", dir / "up/a.gif");
    fs::rename(dir / "up/Resized", dir / "kept");
    fs::create_directory_symlink(dir / "www", dir / "up/Resized");
    struct : Engine, Observer {
        bool Resize(Method, const std::string& in, const std::string& out, const Sizes&, int32_t) override
        {
            kxtest::WriteFileBytes(out, kxtest::ReadFileBytes(in));
            return true;
        }
        void FileDone(const FileResult& result) override { reasons[result.Name] = result.Reason; }
        std::map<std::string, std::string> reasons;
    } run;
    EXPECT_TRUE(RunLibrary(plan, job, run, run));
    EXPECT_EQ(run.reasons, (std::map<std::string, std::string>{{"a.gif", kOutsideLink}, {"sub/b.gif", ""}}));
    EXPECT_EQ(kxtest::FilesBelow(dir / "kept").size(), 1u);
    EXPECT_TRUE(fs::exists(dir / "kept/sub/b.jpg") && fs::is_empty(dir / "www"));
}

TEST(Shard, ParsesAndSplitsTheSameOnEveryMachine)
{
    const std::pair<const char*, std::optional<Shard>> texts[] = {
        {"0/1", Shard{0, 1}},   {"2/3", Shard{2, 3}},    {"999999/1000000", Shard{999999, 1000000}},
        {"3/3", std::nullopt},  {"0/0", std::nullopt},   {"1/1000001", std::nullopt},
        {"-1/2", std::nullopt}, {"1/2/3", std::nullopt}, {" 1/2", std::nullopt},
        {"1", std::nullopt},    {"/2", std::nullopt},    {"4294967296/2", std::nullopt},
    };
    for (const auto& [text, expected] : texts) EXPECT_EQ(ParseShard(text), expected) << text;

    // FNV-1a 64 with the SplitMix64 finaliser, worked out independently.
    // An output, its hash and its shard of 1, 2, 3 and 7.
    const std::tuple<const char*, uint64_t, std::array<uint32_t, 4>> outputs[] = {
        {"a.jpg", 0x2fbf1380fdd590bcu, {0, 0, 1, 6}},
        {"2024/june/a.jpg", 0x36fc61ce61ae85beu, {0, 0, 0, 0}},
        {"x.jpg", 0xb73efcd63e15c855u, {0, 1, 2, 0}},
    };
    for (const auto& [output, hash, of] : outputs) {
        EXPECT_EQ(StableHash(output), hash) << output;
        EXPECT_EQ(
            (std::array{ShardOf(output, 1), ShardOf(output, 2), ShardOf(output, 3), ShardOf(output, 7)}), of);
    }
}

TEST(CheckOutput, RedoesMissingOlderAndIncompleteOutputsOnly)
{
    kxtest::TempDir dir;
    const std::string whole = "\xFF\xD8 pixels \xFF\xD9";
    using namespace std::string_literals;
    const std::string png = "\x89PNG\r\n\x1A\n\0\0\0\0IEND\xAE\x42\x60\x82"s;
    const std::string webp = "RIFF\x06\0\0\0WEBPab"s;
    const std::string avif = "\0\0\0\020ftypavif\0\0\0\0\0\0\0\010mdat"s;  // octal: 16 and 8
    const auto at = [](const std::string& path, time_t seconds, long nanoseconds = 0) {
        const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    for (const char* input : {"x.bmp", "x.gif"}) kxtest::WriteFileBytes(dir / input, {'x'});
    fs::create_directory(dir / "folder.jpg");
    at(dir / "x.bmp", 1000);
    at(dir / "x.gif", 2000, 5);
    // An output's name, bytes and time (seconds, nanoseconds), and what it is for x.bmp and x.gif.
    const std::tuple<const char*, std::string, time_t, long, Freshness> cases[] = {
        {"newer.jpg", whole, 3000, 0, Freshness::Current},
        {"same-time.jpg", whole, 2000, 5, Freshness::Current},
        {"older-than-one.jpg", whole, 2000, 4, Freshness::Older},
        {"cut-short.jpg", whole.substr(0, whole.size() - 1), 3000, 0, Freshness::Incomplete},
        {"empty.jpg", "", 3000, 0, Freshness::Incomplete},
        {"not-jpeg.jpg", "BM pixels \xFF\xD9", 3000, 0, Freshness::Incomplete},
        {"folder.jpg", "", 3000, 0, Freshness::Incomplete},
        {"whole.png", png, 3000, 0, Freshness::Current},
        {"cut.png", png.substr(0, png.size() - 1), 3000, 0, Freshness::Incomplete},
        {"cut.webp", webp.substr(0, webp.size() - 1), 3000, 0, Freshness::Incomplete},
        {"whole.avif", avif, 3000, 0, Freshness::Current},
        {"cut.avif", avif.substr(0, avif.size() - 1), 3000, 0, Freshness::Incomplete},
    };
    for (const auto& [name, bytes, seconds, nanoseconds, expected] : cases) {
        const std::string output = dir / name;
        if (!fs::is_directory(output)) kxtest::WriteFileBytes(output, {bytes.begin(), bytes.end()});
        at(output, seconds, nanoseconds);
        EXPECT_EQ(CheckOutput(output, {dir / "x.bmp", dir / "x.gif"}), expected) << name;
    }
    EXPECT_EQ(CheckOutput(dir / "none.jpg", {dir / "x.bmp"}), Freshness::Missing);
    EXPECT_EQ(CheckOutput(dir / "newer.jpg", {dir / "deleted.bmp"}), Freshness::Older);
}

TEST(JsonReport, WritesOneValidLinePerFileAndTheTotals)
{
    const std::pair<std::string, std::string> strings[] = {
        {"say \"hi\"\\", R"("say \"hi\"\\")"},
        {"tab\tnew\nbell\x07\x7f", R"("tab\tnew\nbell\u0007\u007f")"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB7", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB7\""},
        {"bad\xFF", R"("bad\ufffd")"},
        {"overlong\xC0\xAF", R"("overlong\ufffd\ufffd")"},
        {"surrogate\xED\xA0\x80", R"("surrogate\ufffd\ufffd\ufffd")"},
        {"cut\xE2\x82", R"("cut\ufffd\ufffd")"},
    };
    for (const auto& [text, json] : strings) EXPECT_EQ(JsonString(text), json) << text;

    std::ostringstream out;
    JsonReport report(out);
    report.Record({"in/x.gif", "out/x.jpg", ReportOutcome::Failed, "not a picture: \"x\"", 12});
    report.Finish(250);
    EXPECT_EQ(out.str(),
              "{\"input\":\"in/x.gif\",\"output\":\"out/x.jpg\",\"outcome\":\"failed\","
              "\"reason\":\"not a picture: \\\"x\\\"\",\"ms\":12}\n"
              "{\"totals\":{\"files\":1,\"resized\":0,\"failed\":1,\"up_to_date\":0,\"not_pictures\":0,"
              "\"would_resize\":0,\"skipped\":0,\"ms\":250}}\n");
}

}  // namespace
}  // namespace kx::batch
