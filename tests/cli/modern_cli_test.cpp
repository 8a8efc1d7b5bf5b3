// The tool's modes: modern by default, --classic giving exactly the bytes of
// the library's default methods, --filter and --shrink-only.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "mIntelJPEGLibrary.h"
#include "modMain.h"

extern char** environ;

namespace {

// Runs kestrix quietly; its exit status, or -1.
int Kestrix(std::vector<std::string> args)
{
    args.insert(args.begin(), KESTRIX_CLI);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, KESTRIX_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int wait = 0;
    if (spawned != 0 || waitpid(child, &wait, 0) != child || !WIFEXITED(wait)) return -1;
    return WEXITSTATUS(wait);
}

class Modes : public testing::Test {
protected:
    void SetUp() override
    {
        kx::cDIBSection s;
        ASSERT_TRUE(s.Create(160, 120));
        kxtest::FillPicture(s, [](int x, int y) {
            return kxtest::Bgr{uint8_t(x * 3), uint8_t(y * 2), uint8_t((x * y) % 251)};
        });
        ASSERT_TRUE(kx::SaveSurfaceAsJpeg(s, in, 95));
    }
    std::pair<int, int> SizeOf(const std::string& path)
    {
        const auto image = kxtest::DecodeJpegFile(path);
        return {image.width, image.height};
    }
    kxtest::TempDir dir;
    const std::string in = dir / "in.jpg", out = dir / "out.jpg", ref = dir / "ref.jpg";
};

}  // namespace

TEST_F(Modes, ClassicWritesTheLibraryDefaultBytes)
{
    using Call = bool (*)(const std::string&, const std::string&);
    struct Case {
        std::vector<std::string> args;
        Call library;
    };
    const Case cases[] = {
        {{"max-width", "--width", "10"},
         [](const auto& i, const auto& o) { return kx::ResizeMaxWidth(i, o, 10, 90); }},
        {{"max-height", "--height", "50"},
         [](const auto& i, const auto& o) { return kx::ResizeMaxHeight(i, o, 50, 90); }},
        {{"fit", "--width", "100", "--height", "50"},
         [](const auto& i, const auto& o) { return kx::ResizeWithDimensions(i, o, 50, 100, 90); }},
        {{"percent", "37"}, [](const auto& i, const auto& o) { return kx::PercentageResize(i, o, 37, 90); }},
        {{"resize", "--width", "33", "--height", "71"},
         [](const auto& i, const auto& o) { return kx::ResizeImage(i, o, 71, 33, 90); }},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{c.args.front(), in, out, "--classic"};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        ASSERT_EQ(Kestrix(args), 0) << c.args.front();
        ASSERT_TRUE(c.library(in, ref));
        EXPECT_EQ(kxtest::ReadFileBytes(out), kxtest::ReadFileBytes(ref)) << c.args.front();
        // The modern default resamples differently.
        args.erase(args.begin() + 3);
        ASSERT_EQ(Kestrix(args), 0) << c.args.front();
        EXPECT_NE(kxtest::ReadFileBytes(out), kxtest::ReadFileBytes(ref)) << c.args.front();
    }
}

TEST_F(Modes, ModernSizesFilterAndShrinkOnly)
{
    struct Case {
        std::vector<std::string> args;
        std::pair<int, int> size;
    };
    const Case cases[] = {
        {{"max-width", "--width", "10"}, {10, 8}},  // --classic: 10x7
        {{"max-width", "--width", "10", "--filter", "exact"}, {10, 8}},
        {{"max-width", "--width", "10", "--classic", "--filter", "lanczos"}, {10, 7}},
        {{"fit", "--width", "40", "--height", "30"}, {40, 30}},
        {{"fill", "--width", "30", "--height", "70"}, {30, 70}},
        {{"max-width", "--width", "400", "--shrink-only"}, {160, 120}},
        {{"max-width", "--width", "400"}, {400, 300}},
        {{"max-height", "--height", "121", "--shrink-only"}, {160, 120}},
        {{"max-height", "--height", "119", "--shrink-only"}, {159, 119}},
        {{"percent", "150", "--shrink-only"}, {160, 120}},
        {{"percent", "50", "--shrink-only", "--classic"}, {80, 60}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{c.args.front(), in, out};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        ASSERT_EQ(Kestrix(args), 0) << testing::PrintToString(c.args);
        EXPECT_EQ(SizeOf(out), c.size) << testing::PrintToString(c.args);
    }
    // The filter alone changes the pixels, not the size.
    ASSERT_EQ(Kestrix({"max-width", in, ref, "--width", "10", "--filter", "exact"}), 0);
    ASSERT_EQ(Kestrix({"max-width", in, out, "--width", "10"}), 0);
    EXPECT_NE(kxtest::ReadFileBytes(out), kxtest::ReadFileBytes(ref));
    EXPECT_EQ(Kestrix({"max-width", dir / "missing.jpg", out, "--width", "10"}), 1);
    EXPECT_EQ(Kestrix({"max-width", in, out, "--width", "10", "--filter", "cubic"}), 2);
    EXPECT_EQ(Kestrix({"fit", in, out, "--width", "10", "--height", "5", "--shrink-only"}), 2);
}
