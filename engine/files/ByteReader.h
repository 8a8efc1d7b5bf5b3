// A bounds-checked reader over a file's bytes: every read either yields a
// value or reports that the data ran out, never reading past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kx {

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data, size_t position = 0)
        : data_(data)
        , pos_(position)
    {}

    size_t Position() const { return pos_; }
    size_t Size() const { return data_.size(); }
    size_t Remaining() const { return pos_ <= data_.size() ? data_.size() - pos_ : 0; }

    // Moves to an absolute offset; false (position unchanged) past the end.
    bool Seek(size_t offset)
    {
        if (offset > data_.size()) return false;
        pos_ = offset;
        return true;
    }
    bool Skip(size_t count) { return count <= Remaining() && Seek(pos_ + count); }

    std::optional<uint8_t> U8()
    {
        if (Remaining() < 1) return std::nullopt;
        return data_[pos_++];
    }
    std::optional<uint16_t> U16LE() { return Read<uint16_t>(2, false); }
    std::optional<uint16_t> U16BE() { return Read<uint16_t>(2, true); }
    std::optional<uint32_t> U32LE() { return Read<uint32_t>(4, false); }
    std::optional<uint32_t> U32BE() { return Read<uint32_t>(4, true); }
    std::optional<int32_t> I32LE()
    {
        auto v = U32LE();
        if (!v) return std::nullopt;
        return static_cast<int32_t>(*v);
    }

    // The next `count` bytes, or nothing when fewer remain.
    std::optional<std::span<const uint8_t>> Bytes(size_t count)
    {
        if (Remaining() < count) return std::nullopt;
        auto out = data_.subspan(pos_, count);
        pos_ += count;
        return out;
    }

private:
    template <typename T>
    std::optional<T> Read(size_t n, bool bigEndian)
    {
        if (Remaining() < n) return std::nullopt;
        uint32_t v = 0;
        for (size_t i = 0; i < n; ++i) {
            uint32_t b = data_[pos_ + i];
            v |= bigEndian ? b << (8 * (n - 1 - i)) : b << (8 * i);
        }
        pos_ += n;
        return static_cast<T>(v);
    }

    std::span<const uint8_t> data_;
    size_t pos_;
};

}  // namespace kx
