#include "batch/Shard.h"

#include <charconv>

namespace kx::batch {

namespace {

std::optional<uint32_t> Whole(std::string_view text)
{
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<Shard> ParseShard(std::string_view text)
{
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const auto index = Whole(text.substr(0, slash));
    const auto count = Whole(text.substr(slash + 1));
    if (!index || !count || *count < 1 || *count > 1000000 || *index >= *count) return std::nullopt;
    return Shard{*index, *count};
}

uint64_t StableHash(std::string_view bytes)
{
    uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    hash = (hash ^ (hash >> 30)) * 0xbf58476d1ce4e5b9u;
    hash = (hash ^ (hash >> 27)) * 0x94d049bb133111ebu;
    return hash ^ (hash >> 31);
}

uint32_t ShardOf(std::string_view relativeOutput, uint32_t count)
{
    return count <= 1 ? 0 : static_cast<uint32_t>(StableHash(relativeOutput) % count);
}

}  // namespace kx::batch
