// Reproducible photo-like pictures for the benchmarks: smooth gradients with
// texture and fine noise, so the encoder and decoder see realistic data.
#pragma once

#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/surface/cDIBSection.h"

namespace kxbench {

inline void FillPhotoLike(kx::cDIBSection& s)
{
    uint32_t seed = 2024;
    const int w = s.Width(), h = s.Height();
    for (int y = 0; y < h; ++y) {
        uint8_t* row = s.PictureRow(y);
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 29) - 4;
            const double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
            const double wave = 40.0 * std::sin(fx * 31.0 + fy * 7.0) * std::cos(fy * 23.0);
            auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
            row[3 * x] = clamp(90 + 120 * fy + wave + noise);
            row[3 * x + 1] = clamp(60 + 100 * fx + 0.5 * wave + noise);
            row[3 * x + 2] = clamp(200 - 120 * fx * fy - wave + noise);
        }
    }
}

// Writes a photo-like JPEG of width x height at quality 90, 4:2:0.
inline std::string MakePhotoJpeg(int width, int height, const std::string& path)
{
    kx::cDIBSection s;
    s.Create(width, height);
    FillPhotoLike(s);
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, s.DIBSectionBitsPtr(), width, s.BytesPerScanLine(), height, TJPF_BGR, &out, &size,
                TJSAMP_420, 90, TJFLAG_BOTTOMUP);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(out, 1, size, f);
    std::fclose(f);
    tjFree(out);
    tjDestroy(tj);
    return path;
}

}  // namespace kxbench
