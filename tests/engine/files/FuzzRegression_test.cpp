// Replays the inputs that once broke a fuzz target (tests/data/fuzz-regressions,
// named <target>-<what>) through the same call as the target, and the header
// probe over the whole shared corpora. Run under the sanitizers in CI, where
// any out-of-bounds read or undefined behaviour fails the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FuzzText.h"
#include "PictureDecoders.h"
#include "PictureLoader.h"
#include "TestSupport.h"
#include "modImageInfo.h"

namespace {

namespace fs = std::filesystem;

const fs::path kRegressions = fs::path(KX_TEST_DATA_DIR) / "fuzz-regressions";

TEST(FuzzRegression, EveryKeptInputRunsCleanly)
{
    using Decoder = bool (*)(std::span<const uint8_t>, kx::cDIBSection&);
    const std::vector<std::pair<std::string, Decoder>> decoders{
        {"bmp-", kx::DecodeBmp}, {"gif-", kx::DecodeGif}, {"png-", kx::DecodePng},
        {"jpeg-", kx::DecodeJpeg}};
    ASSERT_TRUE(fs::is_directory(kRegressions));
    for (const auto& entry : fs::directory_iterator(kRegressions)) {
        const std::string name = entry.path().filename();
        if (name.starts_with("README")) continue;
        SCOPED_TRACE(name);
        const auto bytes = kxtest::ReadFileBytes(entry.path());
        bool known = false;
        for (const auto& [prefix, decode] : decoders)
            if (name.starts_with(prefix)) {
                known = true;
                kx::cDIBSection surface;
                if (decode(bytes, surface)) {
                    EXPECT_TRUE(surface.IsLive());
                }
                kx::cDIBSection loaded;  // and through the loader's dispatch
                (void)kx::LoadPicture(entry.path(), loaded);
            }
        if (name.starts_with("probe-")) {
            known = true;
            const kx::ImageInfo info = kx::GetImageInfo(entry.path());
            if (info.ImageType == kx::ImageTypeNone) {
                EXPECT_EQ(info.Width + info.Height, 0);
            }
        }
        if (name.starts_with("text-")) {
            known = true;
            kx::fuzz::DrawFuzzText(bytes);
        }
        EXPECT_TRUE(known) << "no fuzz target of that name";
    }
}

TEST(FuzzRegression, ProbeReadsEveryCorpusFileCleanly)
{
    int recognised = 0;
    for (const auto& entry : fs::recursive_directory_iterator(kxtest::CorpusPath(""))) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().string());
        const kx::ImageInfo info = kx::GetImageInfo(entry.path());
        if (info.ImageType == kx::ImageTypeNone) {
            EXPECT_EQ(info.Width, 0);
            EXPECT_EQ(info.Height, 0);
            EXPECT_EQ(info.BitDepth, 0);
        } else {
            ++recognised;
        }
    }
    EXPECT_GT(recognised, 300);
}

}  // namespace
