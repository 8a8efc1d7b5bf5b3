#include "engine/files/JpegSegments.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/files/ByteReader.h"

namespace kx {

namespace {

constexpr std::string_view kExifHeader{"Exif\0\0", 6};
constexpr std::string_view kXmpHeader{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kIccHeader{"ICC_PROFILE\0", 12};
// A segment's payload: its length field counts itself.
constexpr size_t kMaxPayload = 65533;

bool StartsWith(std::span<const uint8_t> payload, std::string_view header)
{
    return payload.size() >= header.size() && std::memcmp(payload.data(), header.data(), header.size()) == 0;
}

bool IsFrameCode(uint8_t code)
{
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

struct IccChunks {
    std::vector<std::span<const uint8_t>> parts;  // by sequence number - 1
    int count = 0;
    bool broken = false;

    void Add(std::span<const uint8_t> payload)
    {
        if (payload.size() < kIccHeader.size() + 2) {
            broken = true;
            return;
        }
        const int sequence = payload[12], total = payload[13];
        if (total == 0 || sequence == 0 || sequence > total || (count != 0 && total != count)) {
            broken = true;
            return;
        }
        if (count == 0) {
            count = total;
            parts.assign(static_cast<size_t>(total), {});
        }
        std::span<const uint8_t>& part = parts[static_cast<size_t>(sequence - 1)];
        if (part.data() != nullptr) broken = true;  // a duplicate
        part = payload.subspan(kIccHeader.size() + 2);
    }

    std::vector<uint8_t> Profile() const
    {
        std::vector<uint8_t> profile;
        if (broken || count == 0) return profile;
        for (const auto& part : parts)
            if (part.data() == nullptr) return {};  // a gap
        for (const auto& part : parts) profile.insert(profile.end(), part.begin(), part.end());
        return profile;
    }
};

void AppendSegment(std::vector<uint8_t>& out, uint8_t code, std::string_view header,
                   std::span<const uint8_t> prefix, std::span<const uint8_t> body)
{
    const size_t length = 2 + header.size() + prefix.size() + body.size();
    out.insert(out.end(), {0xFF, code, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), prefix.begin(), prefix.end());
    out.insert(out.end(), body.begin(), body.end());
}

}  // namespace

PictureMetadata ReadJpegSegments(std::span<const uint8_t> file)
{
    PictureMetadata metadata;
    IccChunks icc;
    bool exifSeen = false, xmpSeen = false;
    // As the probe walks: a 0xFF is a prefix or fill byte; any other byte is
    // a marker code, a frame code ends the walk, every other one is a segment
    // with a length that counts itself; the walk ends where the file does.
    size_t cursor = 2;
    while (cursor < file.size()) {
        const uint8_t code = file[cursor];
        if (code == 0xFF) {
            ++cursor;
            continue;
        }
        if (IsFrameCode(code)) break;
        ByteReader reader(file, cursor + 1);
        const auto length = reader.U16BE();
        if (!length) break;
        if (*length >= 2) {
            const auto payload = reader.Bytes(size_t{*length} - 2);
            if (payload && code == 0xE1 && !exifSeen && StartsWith(*payload, kExifHeader)) {
                exifSeen = true;
                metadata.Exif.assign(payload->begin() + kExifHeader.size(), payload->end());
            } else if (payload && code == 0xE1 && !xmpSeen && StartsWith(*payload, kXmpHeader)) {
                xmpSeen = true;
                metadata.Xmp.assign(payload->begin() + kXmpHeader.size(), payload->end());
            } else if (payload && code == 0xE2 && StartsWith(*payload, kIccHeader)) {
                icc.Add(*payload);
            }
        }
        cursor += size_t{*length} + 1;
    }
    metadata.IccProfile = icc.Profile();
    return metadata;
}

std::vector<uint8_t> JpegMetadataSegments(const PictureMetadata& metadata)
{
    std::vector<uint8_t> out;
    if (!metadata.Exif.empty() && metadata.Exif.size() + kExifHeader.size() <= kMaxPayload)
        AppendSegment(out, 0xE1, kExifHeader, {}, metadata.Exif);
    if (!metadata.Xmp.empty() && metadata.Xmp.size() + kXmpHeader.size() <= kMaxPayload)
        AppendSegment(out, 0xE1, kXmpHeader, {}, metadata.Xmp);
    const std::span<const uint8_t> profile(metadata.IccProfile);
    const size_t chunks = (profile.size() + kIccChunkBytes - 1) / kIccChunkBytes;
    if (chunks >= 1 && chunks <= 255) {
        for (size_t i = 0; i < chunks; ++i) {
            const uint8_t numbers[2] = {static_cast<uint8_t>(i + 1), static_cast<uint8_t>(chunks)};
            const size_t at = i * kIccChunkBytes;
            AppendSegment(out, 0xE2, kIccHeader, numbers,
                          profile.subspan(at, std::min(kIccChunkBytes, profile.size() - at)));
        }
    }
    return out;
}

}  // namespace kx
