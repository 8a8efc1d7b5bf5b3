// Replays the inputs that once broke a fuzz target (data/fuzz-regressions/<target>-<what>) and what the
// fuzzers learned (data/fuzz-corpus/<target>); under the sanitizers any memory fault fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/modImageInfo.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/PictureDecoders.h"
#include "engine/files/PictureLoader.h"
#include "fuzz/FuzzPng.h"
#include "fuzz/FuzzText.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

const fs::path kRegressions = fs::path(KX_TEST_DATA_DIR) / "fuzz-regressions";
const fs::path kLearned = fs::path(KX_TEST_DATA_DIR) / "fuzz-corpus";
const std::vector<std::string> kTargets{"probe", "bmp", "gif", "png", "jpeg", "text", "heif", "webp", "tiff"};

using Decoder = bool (*)(std::span<const uint8_t>, kx::cDIBSection&);
const std::map<std::string, Decoder> kDecoders{
    {"bmp", kx::DecodeBmp},
    {"gif", kx::DecodeGif},
    {"png", kx::DecodePng},
    {"jpeg",  // upright, as the loader gives it
     [](std::span<const uint8_t> f, kx::cDIBSection& s) {
         kx::PictureMetadata metadata;
         return kx::DecodeJpeg(f, s, metadata, true);
     }},
    {"heif", [](std::span<const uint8_t> f, kx::cDIBSection& s) { return kx::DecodeHeif(f, s); }},
    {"webp", [](std::span<const uint8_t> f, kx::cDIBSection& s) { return kx::DecodeWebp(f, s); }},
    {"tiff", [](std::span<const uint8_t> f, kx::cDIBSection& s) { return kx::DecodeTiff(f, s); }}};

// Runs one input as its fuzz target does, then, as a file, through the
// header probe and the loader, which must agree with the decoder.
void Replay(const std::string& target, const std::vector<uint8_t>& input, const kxtest::TempDir& dir)
{
    if (target == "text") {
        kx::fuzz::DrawFuzzText(input);
        return;
    }
    std::vector<uint8_t> bytes = input;
    if (target == "png") kx::fuzz::FixPngChunkChecksums(bytes);
    const std::string path = dir / "input";
    kxtest::WriteFileBytes(path, bytes);
    const kx::ImageInfo info = kx::GetImageInfo(path);
    if (info.ImageType == kx::ImageTypeNone) {
        EXPECT_EQ(std::pair(info.Width, info.Height), std::pair(0, 0));
    }
    if (target == "probe") return;
    kx::cDIBSection decoded, loaded;
    const bool ok = kDecoders.at(target)(bytes, decoded);
    ASSERT_EQ(kx::LoadPicture(path, loaded), ok);
    if (ok) {
        EXPECT_EQ(std::pair(loaded.Width(), loaded.Height()), std::pair(decoded.Width(), decoded.Height()));
        EXPECT_TRUE(kxtest::AllPixels(loaded) == kxtest::AllPixels(decoded));
    }
}

TEST(FuzzRegression, EveryKeptAndLearnedInputRunsCleanly)
{
    ASSERT_TRUE(fs::is_directory(kRegressions));
    kxtest::TempDir dir;
    for (const auto& entry : fs::directory_iterator(kRegressions)) {
        const std::string name = entry.path().filename();
        if (name.starts_with("README")) continue;
        SCOPED_TRACE(name);
        const auto target = std::find_if(kTargets.begin(), kTargets.end(),
                                         [&](const std::string& t) { return name.starts_with(t + "-"); });
        ASSERT_NE(target, kTargets.end()) << "no fuzz target of that name";
        Replay(*target, kxtest::ReadFileBytes(entry.path()), dir);
    }
    for (const std::string& target : kTargets) {
        ASSERT_TRUE(fs::is_directory(kLearned / target)) << target;
        int inputs = 0;
        for (const auto& entry : fs::directory_iterator(kLearned / target)) {
            SCOPED_TRACE(entry.path().string());
            Replay(target, kxtest::ReadFileBytes(entry.path()), dir);
            ++inputs;
        }
        EXPECT_GT(inputs, 0) << target;
    }
}

}  // namespace
