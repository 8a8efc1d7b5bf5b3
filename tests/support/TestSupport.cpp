#include "tests/support/TestSupport.h"

#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "common/RunTimeError.h"
#include "common/modErrorReport.h"
#include "engine/files/mIntelJPEGLibrary.h"
#include "engine/surface/TextRenderer.h"

namespace fs = std::filesystem;

namespace kxtest {

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "kx-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Restore write permission on anything a test made read-only.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::List() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string CorpusPath(const std::string& relative) { return std::string(KX_CORPORA_DIR) + "/" + relative; }

int32_t RaisedNumber(const std::function<void()>& call)
{
    try {
        call();
    } catch (const kx::RunTimeError& e) {
        return e.Number();
    }
    return 0;
}

void FillPicture(kx::cDIBSection& surface, const std::function<Bgr(int x, int y)>& pixel)
{
    for (int y = 0; y < surface.Height(); ++y) {
        uint8_t* row = surface.PictureRow(y);
        for (int x = 0; x < surface.Width(); ++x) {
            const Bgr p = pixel(x, y);
            std::memcpy(row + 3 * x, &p, 3);
        }
    }
}

Bgr PixelAt(const kx::cDIBSection& surface, int x, int y)
{
    const uint8_t* row = surface.PictureRow(y);
    return {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
}

std::vector<Bgr> AllPixels(const kx::cDIBSection& surface)
{
    std::vector<Bgr> all;
    for (int y = 0; y < surface.Height(); ++y)
        for (int x = 0; x < surface.Width(); ++x) all.push_back(PixelAt(surface, x, y));
    return all;
}

Image DecodeJpegFile(const std::string& path)
{
    if (!fs::is_regular_file(path)) return {};
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
    Image image;
    int subsamp = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), bytes.data(), bytes.size(), &image.width, &image.height, &subsamp,
                            &colorspace) != 0)
        return {};
    image.bgr.resize(static_cast<size_t>(image.width) * image.height * 3);
    if (tjDecompress2(handle.get(), bytes.data(), bytes.size(), image.bgr.data(), image.width, 0,
                      image.height, TJPF_BGR, 0) != 0)
        return {};
    return image;
}

void EncodeJpegFile(const std::string& path, const Image& image, int quality, int subsamp, bool progressive)
{
    const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitCompress(), tjDestroy);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(handle.get(), image.bgr.data(), image.width, 0, image.height, TJPF_BGR, &out, &size,
                    subsamp, quality, progressive ? TJFLAG_PROGRESSIVE : 0) != 0)
        throw std::runtime_error("encode failed");
    WriteFileBytes(path, std::vector<uint8_t>(out, out + size));
    tjFree(out);
}

Ink DrawnText(const kx::LOGFONT& font, const std::string& text, bool prefix)
{
    const kx::TextExtent extent = kx::TextRenderer::Measure(font, text, prefix);
    Ink result{extent.Width, extent.Height, {}};
    kx::cDIBSection surface;
    if (!surface.Create(extent.Width, extent.Height)) return result;
    surface.ColourFillDIB(255, 255, 255);
    kx::TextRenderer::Draw(surface, font, text, extent.Width, extent.Height, prefix);
    for (const Bgr pixel : AllPixels(surface)) {
        EXPECT_TRUE((pixel == Bgr{0, 0, 0} || pixel == Bgr{255, 255, 255})) << text;
        result.ink.push_back(pixel == Bgr{0, 0, 0});
    }
    return result;
}

OperationsTest::OperationsTest()
{
    kx::SetReportHandler([this](const std::string& text) { reports.push_back(text); });
}

OperationsTest::~OperationsTest() { kx::SetReportHandler(nullptr); }

std::string OperationsTest::Picture(const std::string& name, int width, int height,
                                    const std::function<Bgr(int x, int y)>& pixel)
{
    kx::cDIBSection surface;
    EXPECT_TRUE(surface.Create(width, height));
    FillPicture(surface, pixel);
    EXPECT_TRUE(kx::SaveSurfaceAsJpeg(surface, dir / name, 95));
    return dir / name;
}

int Difference(Bgr a, Bgr b)
{
    return std::max({std::abs(a.b - b.b), std::abs(a.g - b.g), std::abs(a.r - b.r)});
}

Tree FilesBelow(const std::string& root)
{
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) tree[fs::relative(entry.path(), root)] = ReadFileBytes(entry.path());
    return tree;
}

}  // namespace kxtest
