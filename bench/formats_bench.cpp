// Today's formats: the engine's load of a 12-megapixel HEIC, AVIF, WebP and
// TIFF photo against the bare library's decode of the same file into a kept
// buffer, and the WebP and AVIF writers against the bare library encode of
// the same picture at the same settings. Files are made once in /tmp.
#include <benchmark/benchmark.h>
#include <libheif/heif.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include "BenchPictures.h"
#include "engine/files/HeifHandles.h"
#include "engine/files/PictureWriters.h"
#include "engine/files/mIntelJPEGLibrary.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const kx::cDIBSection& Photo(int width, int height)
{
    // Never destroyed: surfaces give their buffers back to a keep that may
    // be gone by the time static objects are destroyed.
    static auto& photos = *new std::map<std::pair<int, int>, kx::cDIBSection>;
    kx::cDIBSection& s = photos[{width, height}];
    if (!s.IsLive()) {
        s.Create(width, height);
        kxbench::FillPhotoLike(s);
    }
    return s;
}

heif_error Append(heif_context*, const void* data, size_t size, void* user)
{
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    out->insert(out->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

// Encodes BGR rows (`row(y)`) with libheif alone: what our writer is measured against.
std::vector<uint8_t> BareHeifEncode(const std::function<const uint8_t*(int)>& row, int width, int height,
                                    heif_compression_format compression, int quality)
{
    const kx::HeifContext context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    heif_context_get_encoder_for_format(context.get(), compression, &rawEncoder);
    const kx::HeifEncoder encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), quality);
    heif_image* rawImage = nullptr;
    heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &rawImage);
    const kx::HeifImage image(rawImage);
    heif_image_add_plane(rawImage, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(rawImage, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* in = row(y) + 3 * x;
            uint8_t* out = plane + y * stride + 3 * x;
            out[0] = in[2], out[1] = in[1], out[2] = in[0];
        }
    heif_context_encode_image(context.get(), rawImage, encoder.get(), nullptr, nullptr);
    std::vector<uint8_t> bytes;
    heif_writer writer{1, Append};
    heif_context_write(context.get(), &writer, &bytes);
    return bytes;
}

// The photo as a file of `format` ("heic", "avif", "webp", "tif"), made once.
std::string PhotoFile(const std::string& format)
{
    const std::string path = "/tmp/kx-bench-12mp." + format;
    if (std::ifstream(path).good()) return path;
    const kx::cDIBSection& s = Photo(4000, 3000);
    if (format == "tif") {
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4000);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 3000);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
        std::vector<uint8_t> row(4000 * 3);
        for (int y = 0; y < 3000; ++y) {
            const uint8_t* in = s.PictureRow(y);
            for (int x = 0; x < 4000; ++x)
                row[3 * x] = in[3 * x + 2], row[3 * x + 1] = in[3 * x + 1], row[3 * x + 2] = in[3 * x];
            TIFFWriteScanline(tif, row.data(), y, 0);
        }
        TIFFClose(tif);
        return path;
    }
    std::vector<uint8_t> bytes;
    if (format == "webp") bytes = kx::EncodeSurface(s, kx::OutputFormat::Webp, 85);
    if (format == "avif") bytes = kx::EncodeSurface(s, kx::OutputFormat::Avif, 60);
    if (format == "heic")  // as AVIF, with the HEVC encoder
        bytes = BareHeifEncode([&](int y) { return s.PictureRow(y); }, 4000, 3000, heif_compression_HEVC, 60);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

void BM_Load(benchmark::State& state, const char* format)
{
    const std::string path = PhotoFile(format);
    for (auto _ : state) {
        kx::cDIBSection surface;
        if (!kx::LoadPictureFile(surface, path)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(surface.DIBSectionBitsPtr());
    }
}
BENCHMARK_CAPTURE(BM_Load, heic, "heic")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, avif, "avif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, webp, "webp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, tif, "tif")->Unit(benchmark::kMillisecond);

// The bare libraries: the file read whole, decoded to 8-bit colour.
void BM_BareHeifDecode(benchmark::State& state, const char* format)
{
    const std::string path = PhotoFile(format);
    for (auto _ : state) {
        const std::vector<uint8_t> bytes = ReadAll(path);
        heif_context* context = heif_context_alloc();
        heif_context_read_from_memory_without_copy(context, bytes.data(), bytes.size(), nullptr);
        heif_image_handle* handle = nullptr;
        heif_context_get_primary_image_handle(context, &handle);
        heif_image* image = nullptr;
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr);
        int stride = 0;
        benchmark::DoNotOptimize(heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride));
        heif_image_release(image);
        heif_image_handle_release(handle);
        heif_context_free(context);
    }
}
BENCHMARK_CAPTURE(BM_BareHeifDecode, heic, "heic")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareHeifDecode, avif, "avif")->Unit(benchmark::kMillisecond);

void BM_BareWebpDecode(benchmark::State& state)
{
    const std::string path = PhotoFile("webp");
    static std::vector<uint8_t> kept(size_t{4000} * 3000 * 3);
    for (auto _ : state) {
        const std::vector<uint8_t> bytes = ReadAll(path);
        benchmark::DoNotOptimize(
            WebPDecodeBGRInto(bytes.data(), bytes.size(), kept.data(), kept.size(), 4000 * 3));
    }
}
BENCHMARK(BM_BareWebpDecode)->Unit(benchmark::kMillisecond);

void BM_BareTiffDecode(benchmark::State& state)
{
    const std::string path = PhotoFile("tif");
    static std::vector<uint32_t> kept(size_t{4000} * 3000);
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        benchmark::DoNotOptimize(
            TIFFReadRGBAImageOriented(tif, 4000, 3000, kept.data(), ORIENTATION_BOTLEFT, 1));
        TIFFClose(tif);
    }
}
BENCHMARK(BM_BareTiffDecode)->Unit(benchmark::kMillisecond);

// Encoding a 2-megapixel picture at quality 85: the engine's writer (in
// memory) against the bare library with the same settings.
void BM_Encode(benchmark::State& state, kx::OutputFormat format)
{
    const kx::cDIBSection& s = Photo(1600, 1200);
    for (auto _ : state) benchmark::DoNotOptimize(kx::EncodeSurface(s, format, 85).size());
}
BENCHMARK_CAPTURE(BM_Encode, webp, kx::OutputFormat::Webp)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, avif, kx::OutputFormat::Avif)->Unit(benchmark::kMillisecond);

// Top-down BGR rows without padding, as the bare libraries take them.
const std::vector<uint8_t>& TopDownBgr()
{
    static const std::vector<uint8_t> rows = [] {
        const kx::cDIBSection& s = Photo(1600, 1200);
        std::vector<uint8_t> out;
        for (int y = 0; y < 1200; ++y) out.insert(out.end(), s.PictureRow(y), s.PictureRow(y) + 1600 * 3);
        return out;
    }();
    return rows;
}

void BM_BareWebpEncode(benchmark::State& state)
{
    const std::vector<uint8_t>& rows = TopDownBgr();
    for (auto _ : state) {
        uint8_t* out = nullptr;
        benchmark::DoNotOptimize(WebPEncodeBGR(rows.data(), 1600, 1200, 1600 * 3, 85, &out));
        WebPFree(out);
    }
}
BENCHMARK(BM_BareWebpEncode)->Unit(benchmark::kMillisecond);

void BM_BareAvifEncode(benchmark::State& state)
{
    const std::vector<uint8_t>& rows = TopDownBgr();
    for (auto _ : state) {
        const auto row = [&](int y) { return rows.data() + y * 1600 * 3; };
        benchmark::DoNotOptimize(BareHeifEncode(row, 1600, 1200, heif_compression_AV1, 85).size());
    }
}
BENCHMARK(BM_BareAvifEncode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
