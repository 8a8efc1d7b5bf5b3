#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/surface/StdFont.h"
#include "engine/surface/cDIBSection.h"

namespace kxtest {

// A fresh folder under $TMPDIR, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Names in the folder, sorted.
    std::vector<std::string> List() const;

private:
    std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
// Every file below `root`, hidden ones too, by its path from there, with its bytes.
using Tree = std::map<std::string, std::vector<uint8_t>>;
Tree FilesBelow(const std::string& root);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A path below the shared test corpora ("bmpsuite/g/pal8.bmp").
std::string CorpusPath(const std::string& relative);

// The number of the run-time error that `call` raises; 0 when it raises none.
int32_t RaisedNumber(const std::function<void()>& call);

// The first statement of every test that reads the shared corpora.
#define KX_SKIP_WITHOUT_CORPORA()                                                                            \
    do {                                                                                                     \
        if (!std::filesystem::is_directory(KX_CORPORA_DIR))                                                  \
            GTEST_SKIP() << "the shared test corpora are missing (looked in " KX_CORPORA_DIR                 \
                            "; set KX_CORPORA_DIR when configuring)";                                        \
    } while (false)

struct Bgr {
    uint8_t b, g, r;
    bool operator==(const Bgr&) const = default;
};
// The largest difference between the two colours' channels.
int Difference(Bgr a, Bgr b);

// Picture coordinates: y from the top.
void FillPicture(kx::cDIBSection& surface, const std::function<Bgr(int x, int y)>& pixel);
Bgr PixelAt(const kx::cDIBSection& surface, int x, int y);
// Top row first.
std::vector<Bgr> AllPixels(const kx::cDIBSection& surface);

// A decoded JPEG: top-down rows of BGR bytes, no padding.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;
    std::pair<int, int> Size() const { return {width, height}; }
    Bgr At(int x, int y) const
    {
        const uint8_t* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};
Image DecodeJpegFile(const std::string& path);
void EncodeJpegFile(const std::string& path, const Image& image, int quality, int subsamp,
                    bool progressive = false);

// A text drawn black on white at its measured size: which pixels are ink (grey fails the test).
struct Ink {
    int width = 0, height = 0;
    std::vector<bool> ink;
    bool At(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height && ink[size_t(y) * width + x];
    }
    bool operator==(const Ink&) const = default;
};
Ink DrawnText(const kx::LOGFONT& font, const std::string& text, bool prefix = true);

// A temporary folder and the engine's error reports recorded.
class OperationsTest : public testing::Test {
protected:
    OperationsTest();
    ~OperationsTest() override;
    // A JPEG (quality 95) in the folder; pixel(x, y) gives its colours.
    std::string Picture(const std::string& name, int width, int height,
                        const std::function<Bgr(int x, int y)>& pixel);

    TempDir dir;
    std::vector<std::string> reports;
};

}  // namespace kxtest
