// Splitting one run over several machines or processes. Each picture goes
// to the shard of its output path, so pictures that write the same output
// always meet in one shard, and every machine agrees whatever order it lists
// the files in. The split depends only on the bytes of the output path
// relative to the output folder and on the number of shards; it must never
// change between versions, or shards run by different versions would overlap.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kx::batch {

struct Shard {
    uint32_t Index = 0;  // from 0 to Count - 1
    uint32_t Count = 1;
    bool operator==(const Shard&) const = default;
};

// "I/N" with 0 <= I < N and 1 <= N <= 1000000; nothing otherwise.
std::optional<Shard> ParseShard(std::string_view text);

// 64-bit FNV-1a of the bytes, then the SplitMix64 finaliser so that every
// bit of the result depends on every byte.
uint64_t StableHash(std::string_view bytes);

// The shard, 0 to count - 1, of an output path relative to the output
// folder ("2024/june/a.jpg").
uint32_t ShardOf(std::string_view relativeOutput, uint32_t count);

}  // namespace kx::batch
