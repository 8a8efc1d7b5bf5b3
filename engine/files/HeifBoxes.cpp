#include "engine/files/HeifBoxes.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/files/ByteReader.h"
#include "engine/files/FailureReason.h"

namespace kx {

namespace {

constexpr uint32_t Tag(const char (&name)[5])
{
    return uint32_t{uint8_t(name[0])} << 24 | uint32_t{uint8_t(name[1])} << 16 |
           uint32_t{uint8_t(name[2])} << 8 | uint8_t(name[3]);
}

// A big-endian field of 0, 1, 2, 4 or 8 bytes; nothing for another width or
// when the data runs out.
std::optional<uint64_t> Field(ByteReader& in, unsigned bytes)
{
    if (bytes == 0) return 0;
    if (bytes == 1) return in.U8();
    if (bytes == 2) return in.U16BE();
    if (bytes != 4 && bytes != 8) return std::nullopt;
    const auto high = bytes == 8 ? in.U32BE() : std::optional<uint32_t>{0};
    const auto low = in.U32BE();
    if (!high || !low) return std::nullopt;
    return uint64_t{*high} << 32 | *low;
}

// Calls visit(type, body) for each box of `data` up to the first that does
// not fit in it. A size of 0 runs to the end, 1 is followed by 64 bits.
// False when a box did not fit.
template <class Visit>
bool EachBox(std::span<const uint8_t> data, Visit visit)
{
    ByteReader in(data);
    while (in.Remaining() >= 8) {
        const size_t start = in.Position();
        std::optional<uint64_t> size = Field(in, 4);
        const uint32_t type = static_cast<uint32_t>(*Field(in, 4));
        if (size == 1u) size = Field(in, 8);
        if (size == 0u) size = data.size() - start;
        const size_t header = in.Position() - start;
        if (!size || *size < header || *size - header > in.Remaining()) return false;
        visit(type, *in.Bytes(*size - header));
    }
    return in.Remaining() == 0;
}

struct Derived {
    uint32_t type = 0;
    unsigned method = 0;  // 0: in the file, 1: in idat
    uint64_t base = 0;
    std::vector<std::pair<uint64_t, uint64_t>> extents{};  // offset from base, length (0: to the end)
};

// The first bytes (at most 32) of an item's data, or nothing when an extent
// lies outside the file or the idat box.
std::optional<std::vector<uint8_t>> Head(const Derived& item, std::span<const uint8_t> file,
                                         std::span<const uint8_t> idat)
{
    if (item.method > 1) return std::nullopt;
    const std::span<const uint8_t> source = item.method == 0 ? file : idat;
    std::vector<uint8_t> head;
    if (item.base > source.size()) return std::nullopt;
    for (auto [offset, length] : item.extents) {
        if (offset > source.size() - item.base) return std::nullopt;
        offset += item.base;
        if (length > source.size() - offset) return std::nullopt;
        const auto bytes = source.subspan(offset, length == 0 ? source.size() - offset : length);
        head.insert(head.end(), bytes.begin(),
                    bytes.begin() + std::min<size_t>(bytes.size(), 32 - head.size()));
    }
    return head;
}

}  // namespace

bool HeifDerivedPicturesSound(std::span<const uint8_t> file, int64_t codedWidth, int64_t codedHeight)
{
    std::map<uint32_t, std::span<const uint8_t>> meta;  // its boxes by type (after version and flags)
    int metaBoxes = 0;
    EachBox(file, [&](uint32_t type, std::span<const uint8_t> body) {
        if (type != Tag("meta") || ++metaBoxes > 1 || body.size() <= 4) return;
        EachBox(body.subspan(4), [&](uint32_t t, auto b) { meta.try_emplace(t, b); });
    });
    // A file has one item table; with two, what libheif reads is not what is
    // looked at here.
    if (metaBoxes > 1) return Refuse("corrupt HEIF data: it holds more than one item table");
    if (!meta.contains(Tag("pitm")) || !meta.contains(Tag("iinf"))) return true;
    ByteReader pitm(meta[Tag("pitm")]);
    const unsigned primaryBytes = pitm.U8().value_or(0) == 0 ? 2 : 4;
    const auto primary = pitm.Skip(3) ? Field(pitm, primaryBytes) : std::nullopt;
    if (!primary) return true;

    std::map<uint64_t, Derived> derived;
    std::map<uint64_t, uint32_t> types;  // of each item, as the first entry for it says
    ByteReader iinf(meta[Tag("iinf")]);
    iinf.Skip(iinf.U8().value_or(0) == 0 ? 5 : 7);  // flags and the count
    bool whole = EachBox(meta[Tag("iinf")].subspan(iinf.Position()),
                         [&](uint32_t type, std::span<const uint8_t> body) {
                             ByteReader infe(body);
                             const uint8_t version = infe.U8().value_or(0);
                             if (type != Tag("infe") || version < 2 || !infe.Skip(3)) return;
                             const auto id = Field(infe, version == 2 ? 2 : 4);
                             const auto itemType = infe.Skip(2) ? Field(infe, 4) : std::nullopt;
                             if (!id || !itemType || !types.try_emplace(*id, *itemType).second) return;
                             if (itemType == Tag("grid") || itemType == Tag("iovl"))
                                 derived[*id].type = static_cast<uint32_t>(*itemType);
                         });
    // What libheif 1.15 takes for a picture; a tile, layer or source of a
    // derived picture that is none makes it fail an assertion.
    const auto picture = [&](uint64_t id) {
        const auto type = types.find(id);
        return type != types.end() &&
               (type->second == Tag("hvc1") || type->second == Tag("av01") || type->second == Tag("grid") ||
                type->second == Tag("iovl") || type->second == Tag("iden"));
    };

    // Each 'dimg' reference goes from a derived picture to its tiles or
    // layers, each 'auxl' from an auxiliary picture to its master.
    std::multimap<uint64_t, uint64_t> parts;
    std::vector<uint64_t> reads{*primary};
    ByteReader iref(meta[Tag("iref")]);
    const unsigned idBytes = iref.U8().value_or(0) == 0 ? 2 : 4;
    if (iref.Skip(3))
        whole &= EachBox(meta[Tag("iref")].subspan(4), [&](uint32_t type, std::span<const uint8_t> body) {
            ByteReader ref(body);
            const auto from = Field(ref, idBytes);
            const auto count = Field(ref, 2);
            for (uint64_t i = 0; from && count && i < *count; ++i) {
                const auto to = Field(ref, idBytes);
                if (!to) return;
                if (type == Tag("dimg")) parts.emplace(*from, *to);
                if (type == Tag("auxl") && *to == *primary) reads.push_back(*from);
            }
        });

    ByteReader iloc(meta[Tag("iloc")]);
    const uint8_t version = iloc.U8().value_or(0);
    const uint8_t sizes = iloc.Skip(3) ? iloc.U8().value_or(0) : 0, moreSizes = iloc.U8().value_or(0);
    const unsigned offsetBytes = sizes >> 4, lengthBytes = sizes & 15, baseBytes = moreSizes >> 4;
    const unsigned indexBytes = version == 0 ? 0 : moreSizes & 15;
    const auto items = Field(iloc, version < 2 ? 2 : 4);
    for (uint64_t i = 0; items && i < *items; ++i) {
        const auto id = Field(iloc, version < 2 ? 2 : 4);
        const auto method = version == 0 ? std::optional<uint64_t>{0} : Field(iloc, 2);
        const auto base = iloc.Skip(2) ? Field(iloc, baseBytes) : std::nullopt;
        auto extents = Field(iloc, 2);
        if (!id || !method || !base || !extents) break;
        Derived* item = derived.contains(*id) ? &derived[*id] : nullptr;
        if (item) *item = Derived{item->type, static_cast<unsigned>(*method & 15), *base};
        for (; *extents > 0; --*extents) {
            const auto offset = Field(iloc, indexBytes) ? Field(iloc, offsetBytes) : std::nullopt;
            const auto length = Field(iloc, lengthBytes);
            if (!offset || !length) break;
            if (item) item->extents.emplace_back(*offset, *length);
        }
        if (*extents > 0) break;
    }

    // libheif reads on past a box whose size does not fit: then the tiles and
    // layers cannot be told from what is read here, and a file with derived
    // pictures is refused.
    const auto isIden = [&](uint64_t id) {
        const auto type = types.find(id);
        return type != types.end() && type->second == Tag("iden");
    };
    if (!whole && (!derived.empty() || std::any_of(types.begin(), types.end(),
                                                   [&](const auto& item) { return isIden(item.first); })))
        return Refuse("corrupt HEIF data: its item table is damaged");
    std::set<uint64_t> seen;
    while (!reads.empty()) {
        const uint64_t id = reads.back();
        reads.pop_back();
        if (!seen.insert(id).second) continue;
        const auto [part, end] = parts.equal_range(id);
        if (isIden(id) || derived.contains(id))
            for (auto each = part; each != end; ++each) {
                if (!picture(each->second))
                    return Refuse(
                        "corrupt HEIF data: a derived picture is made of an item that is no picture");
                reads.push_back(each->second);
            }
        if (!derived.contains(id)) continue;
        const Derived& item = derived[id];
        const char* what = item.type == Tag("grid") ? "grid" : "overlay";
        const auto head = Head(item, file, meta[Tag("idat")]);
        if (!head)
            return Refuse(std::string("corrupt HEIF data: the ") + what + "'s data lies outside the file");
        ByteReader in(*head, item.type == Tag("grid") ? 4 : 10);  // after the tile counts or fill values
        const unsigned sideBytes = head->size() > 1 && ((*head)[1] & 1) ? 4 : 2;
        const auto width = Field(in, sideBytes), height = Field(in, sideBytes);
        if (!width || !height) return Refuse(std::string("corrupt HEIF data: the ") + what + " is cut short");
        if (id == *primary ? *width != uint64_t(codedWidth) || *height != uint64_t(codedHeight)
                           : *width > uint64_t(codedWidth) || *height > uint64_t(codedHeight))
            return Refuse(std::string("corrupt HEIF data: its ") + what + " makes " + std::to_string(*width) +
                          " x " + std::to_string(*height) + " pixels of a " + std::to_string(codedWidth) +
                          " x " + std::to_string(codedHeight) + " picture");
    }
    return true;
}

}  // namespace kx
