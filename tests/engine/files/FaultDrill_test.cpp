// Fault drills through the engine's operations: the disk filling up, output folders that cannot be
// written or vanish, a source that changes after it was probed. Each operation fails with its code,
// no user file is lost or damaged and no temporary file remains.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/modImageInfo.h"
#include "engine/operations/modMain.h"
#include "tests/support/TestSupport.h"

using namespace kx;

namespace {

namespace fs = std::filesystem;

class FaultDrill : public kxtest::OperationsTest {
protected:
    void TearDown() override
    {
        OperationsTest::TearDown();
        EXPECT_TRUE(reports.empty()) << reports.front();
    }

    // A noisy JPEG (so that it does not compress to nothing) in the folder.
    std::string Noise(const std::string& name, int width, int height)
    {
        uint32_t seed = 7;
        const auto next = [&] { return static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
        return Picture(name, width, height, [&](int, int) { return kxtest::Bgr{next(), next(), next()}; });
    }

    kxtest::Tree Files() const { return kxtest::FilesBelow(dir.Path()); }

    // Runs an operation that must fail with `code` and leave every file exactly as it was.
    void ExpectFailsLeavingAllAlone(const std::function<bool()>& operation, Long code)
    {
        const kxtest::Tree before = Files();
        ErrorCode() = 0;
        EXPECT_FALSE(operation());
        EXPECT_EQ(ErrorCode(), code);
        EXPECT_EQ(Files(), before);
    }

    const std::string input = Noise("input.jpg", 120, 80);
};

// A file-size limit for the process, as a full disk would stop writes, with
// SIGXFSZ ignored so that the write fails instead of killing the test.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit limit{bytes, previous.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &previous); }
    rlimit previous{};
};

TEST_F(FaultDrill, DiskFullDuringEachOperationKeepsTheInputAndTheOldOutput)
{
    const std::string out = Noise("output.jpg", 30, 20);
    const StdFont font;
    const std::pair<const char*, std::function<bool()>> operations[]{
        {"exact size", [&] { return ResizeImage(input, out, 300, 400, 100); }},
        {"percentage", [&] { return PercentageResize(input, out, 300, 100); }},
        {"border", [&] { return ImageAddBorder(input, out, 0xFF, 90, 90, 90, 90); }},
        {"text", [&] { return ImageAddText(input, out, "Drill", font, 0, 10, 10); }},
    };
    for (const auto& [what, operation] : operations) {
        SCOPED_TRACE(what);
        const FileSizeLimit limit(4096);  // reading the snapshots is not limited
        ExpectFailsLeavingAllAlone(operation, ecOutputNotWritten);
    }
}

TEST_F(FaultDrill, OutputFolderThatCannotBeWrittenIsRefused)
{
    kxtest::WriteFileBytes(dir / "plain-file", {1, 2, 3});
    // A folder that vanishes in the middle of a batch.
    ASSERT_EQ(::mkdir((dir / "out").c_str(), 0755), 0);
    ASSERT_TRUE(PercentageResize(input, dir / "out/first.jpg", 50, 90));
    fs::remove_all(dir / "out");
    const std::string unwritable[]{
        dir / "plain-file/out.jpg",  // a file where the folder should be
        dir / "missing/out.jpg",     // no such folder
        dir / "out/second.jpg",      // the vanished folder
        "/proc/kx-drill-out.jpg",    // a file system that takes no new files
        "/sys/kx-drill-out.jpg",     // refused even to root, as a read-only folder is
    };
    for (const std::string& out : unwritable) {
        SCOPED_TRACE(out);
        ExpectFailsLeavingAllAlone([&] { return PercentageResize(input, out, 50, 90); }, ecOutputNotWritten);
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(FaultDrill, InputAndOutputTheSamePathIsReplacedWhole)
{
    // The picture is read whole before the result is written over it.
    const std::string path = Noise("same.jpg", 100, 60);
    ASSERT_TRUE(PercentageResize(path, path, 50, 90));
    EXPECT_EQ(kxtest::DecodeJpegFile(path).width, 50);
    ASSERT_TRUE(ImageAddBorder(path, path, 0, 1, 2, 3, 4));
    const kxtest::Image bordered = kxtest::DecodeJpegFile(path);
    EXPECT_EQ(std::pair(bordered.width, bordered.height), std::pair(57, 33));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"input.jpg", "same.jpg"}));
}

TEST_F(FaultDrill, SourceChangingAfterTheProbeFailsCleanly)
{
    const std::string out = dir / "out.jpg", source = dir / "source.jpg";
    const std::pair<const char*, std::function<void()>> changes[]{
        {"deleted", [&] { fs::remove(source); }},
        {"garbage", [&] { kxtest::WriteFileBytes(source, std::vector<uint8_t>(5000, 0x5A)); }},
        {"emptied", [&] { kxtest::WriteFileBytes(source, {}); }},
        {"header only", [&] { fs::resize_file(source, 40); }},  // SOI and the start of the tables: no frame
        {"now a folder",
         [&] {
             fs::remove(source);
             fs::create_directory(source);
         }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        ASSERT_EQ(Noise("source.jpg", 64, 48), source);
        ASSERT_EQ(GetImageInfo(source).Width, 64);
        change();
        ExpectFailsLeavingAllAlone([&] { return ResizeImage(source, out, 32, 24, 90); }, ecInputNotLoaded);
        ExpectFailsLeavingAllAlone([&] { return ImageAddBorder(source, out, 0, 1, 1, 1, 1); },
                                   ecInputNotLoaded);
        EXPECT_FALSE(fs::exists(out));
        fs::remove_all(source);
    }
}

}  // namespace
