#include "engine/surface/TextRenderer.h"

#include <algorithm>
#include <cmath>
#include <compare>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include "engine/surface/StdFont.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// The character height used when a description asks for none (12 points).
constexpr int64_t kDefaultPixelHeight = 16;

struct LibraryDeleter {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using LibraryPtr = std::unique_ptr<FT_LibraryRec_, LibraryDeleter>;
using FacePtr = std::unique_ptr<FT_FaceRec_, FaceDeleter>;
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

// What fontconfig is asked for; its answer is remembered per request.
struct FontRequest {
    std::string family;
    int weight;
    bool italic;
    int64_t pixelHeight;
    auto operator<=>(const FontRequest&) const = default;
};
using FaceFile = std::pair<std::string, int>;  // path, face index

// A face set to the requested size, with the line metrics in pixels.
// Offsets of the lines are rows below the baseline (negative: above).
struct ActiveFont {
    FT_Face face = nullptr;
    bool embolden = false;
    bool oblique = false;
    int64_t ascent = 0;
    int64_t descent = 0;
    int64_t underlineOffset = 1;
    int64_t underlineThickness = 1;
    int64_t strikeOffset = 0;
    int64_t strikeThickness = 1;
    int64_t LineHeight() const { return ascent + descent; }
};

// One character of a laid-out line.
struct LaidChar {
    char32_t codePoint;
    bool underlined;  // from an "&" prefix
};
using Line = std::vector<LaidChar>;

struct FontSetDeleter {
    void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};
using FontSetPtr = std::unique_ptr<FcFontSet, FontSetDeleter>;

// The faces a text is drawn with: the requested one and, for characters it
// lacks, the faces fontconfig names for them, each set to the same size and
// style. The line metrics are those of the faces the text uses.
struct FaceSet {
    ActiveFont primary;
    FontRequest request;
    int32_t lfHeight = 0;
    std::map<FaceFile, std::optional<ActiveFont>> fallbacks;  // set to size when first used
};

// The FreeType library and every face opened so far. Faces are shared, so
// all use goes through `mutex`: a face holds its current size and glyph.
class FontCache {
public:
    std::mutex mutex;

    // The faces for a description, the requested one set to its size;
    // nullopt when it cannot be found or loaded. Call with `mutex` held.
    std::optional<FaceSet> Activate(const LOGFONT& font);

    // The face that draws `c`: the requested face when it has the
    // character or no installed face has it. Call with `mutex` held.
    const ActiveFont& FaceFor(FaceSet& faces, char32_t c);

private:
    std::optional<FaceFile> Match(const FontRequest& request);
    std::optional<FaceFile> FallbackMatch(const FontRequest& request, char32_t c);
    FT_Face Open(const FaceFile& file);

    // Declared first so that it is released after the faces.
    LibraryPtr library_;
    bool libraryFailed_ = false;
    std::map<FaceFile, FacePtr> faces_;
    std::map<FontRequest, std::optional<FaceFile>> matches_;
    std::map<FontRequest, FontSetPtr> sorted_;  // fontconfig's faces in order of preference
    std::map<std::pair<FontRequest, char32_t>, std::optional<FaceFile>> fallbackMatches_;
};

FontCache& Cache()
{
    static FontCache cache;
    return cache;
}

// The pattern fontconfig is asked with, its substitutions applied.
PatternPtr RequestPattern(const FontRequest& request)
{
    PatternPtr pattern(FcPatternCreate());
    if (!pattern) return pattern;
    if (!request.family.empty())
        FcPatternAddString(pattern.get(), FC_FAMILY,
                           reinterpret_cast<const FcChar8*>(request.family.c_str()));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, FcWeightFromOpenType(request.weight));
    FcPatternAddInteger(pattern.get(), FC_SLANT, request.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddDouble(pattern.get(), FC_PIXEL_SIZE, static_cast<double>(request.pixelHeight));
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    return pattern;
}

std::optional<FaceFile> FileOf(FcPattern* pattern)
{
    FcChar8* path = nullptr;
    int index = 0;
    if (pattern == nullptr || FcPatternGetString(pattern, FC_FILE, 0, &path) != FcResultMatch)
        return std::nullopt;
    FcPatternGetInteger(pattern, FC_INDEX, 0, &index);
    return FaceFile{reinterpret_cast<const char*>(path), index};
}

std::optional<FaceFile> FontCache::Match(const FontRequest& request)
{
    if (auto it = matches_.find(request); it != matches_.end()) return it->second;
    // Requests are few in practice; a caller cycling through sizes must not
    // grow the table without bound.
    if (matches_.size() > 4096) matches_.clear();

    std::optional<FaceFile> found;
    if (const PatternPtr pattern = RequestPattern(request)) {
        FcResult result = FcResultNoMatch;
        const PatternPtr match(FcFontMatch(nullptr, pattern.get(), &result));
        found = FileOf(match.get());
    }
    matches_[request] = found;
    return found;
}

std::optional<FaceFile> FontCache::FallbackMatch(const FontRequest& request, char32_t c)
{
    const auto key = std::pair{request, c};
    if (auto it = fallbackMatches_.find(key); it != fallbackMatches_.end()) return it->second;
    if (fallbackMatches_.size() > 4096) fallbackMatches_.clear();
    if (sorted_.size() > 64) sorted_.clear();

    auto& sorted = sorted_[request];
    if (!sorted) {
        if (const PatternPtr pattern = RequestPattern(request)) {
            FcResult result = FcResultNoMatch;
            sorted.reset(FcFontSort(nullptr, pattern.get(), FcTrue, nullptr, &result));
        }
    }
    std::optional<FaceFile> found;
    for (int i = 0; sorted && i < sorted->nfont && !found; ++i) {
        FcCharSet* charset = nullptr;
        if (FcPatternGetCharSet(sorted->fonts[i], FC_CHARSET, 0, &charset) == FcResultMatch &&
            FcCharSetHasChar(charset, c))
            found = FileOf(sorted->fonts[i]);
    }
    fallbackMatches_[key] = found;
    return found;
}

FT_Face FontCache::Open(const FaceFile& file)
{
    if (auto it = faces_.find(file); it != faces_.end()) return it->second.get();
    if (!library_) {
        if (libraryFailed_) return nullptr;
        FT_Library library = nullptr;
        if (FT_Init_FreeType(&library) != 0) {
            libraryFailed_ = true;
            return nullptr;
        }
        library_.reset(library);
    }
    FT_Face face = nullptr;
    if (FT_New_Face(library_.get(), file.first.c_str(), file.second, &face) != 0) return nullptr;
    faces_[file].reset(face);
    return face;
}

int64_t RoundToPixels(double value) { return static_cast<int64_t>(std::lround(value)); }

std::optional<ActiveFont> SetUp(FT_Face face, const FontRequest& request, int32_t lfHeight);

std::optional<FaceSet> FontCache::Activate(const LOGFONT& font)
{
    FontRequest request;
    // The field is zero-terminated by its writer; never read past it anyway,
    // and hand fontconfig valid UTF-8 only.
    const std::string_view faceName(font.lfFaceName, strnlen(font.lfFaceName, sizeof(font.lfFaceName)));
    for (char32_t c : DecodeUtf8(faceName)) {
        if (c < 0x80) {
            request.family += static_cast<char>(c);
        } else {
            char buffer[4];
            int n = 0;
            if (c < 0x800) {
                buffer[n++] = static_cast<char>(0xC0 | (c >> 6));
            } else if (c < 0x10000) {
                buffer[n++] = static_cast<char>(0xE0 | (c >> 12));
                buffer[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            } else {
                buffer[n++] = static_cast<char>(0xF0 | (c >> 18));
                buffer[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                buffer[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            }
            buffer[n++] = static_cast<char>(0x80 | (c & 0x3F));
            request.family.append(buffer, static_cast<size_t>(n));
        }
    }
    request.weight = font.lfWeight == 0 ? 400 : std::clamp<int>(font.lfWeight, 1, 1000);
    request.italic = font.lfItalic != 0;
    // Negative: character height; positive: cell height; 0: the default.
    const int64_t wanted = font.lfHeight == 0 ? kDefaultPixelHeight : std::abs(int64_t{font.lfHeight});
    if (wanted > TextRenderer::MaxPixelHeight) return std::nullopt;
    request.pixelHeight = wanted;

    const std::optional<FaceFile> file = Match(request);
    if (!file) return std::nullopt;
    FT_Face face = Open(*file);
    if (face == nullptr) return std::nullopt;
    std::optional<ActiveFont> primary = SetUp(face, request, font.lfHeight);
    if (!primary) return std::nullopt;
    return FaceSet{*primary, request, font.lfHeight, {}};
}

const ActiveFont& FontCache::FaceFor(FaceSet& faces, char32_t c)
{
    // Control characters keep the requested face's rendering.
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || FT_Get_Char_Index(faces.primary.face, c) != 0)
        return faces.primary;
    const std::optional<FaceFile> file = FallbackMatch(faces.request, c);
    if (!file) return faces.primary;
    auto [it, added] = faces.fallbacks.try_emplace(*file);
    if (added) {
        FT_Face face = Open(*file);
        if (face != nullptr && face != faces.primary.face)
            it->second = SetUp(face, faces.request, faces.lfHeight);
    }
    if (!it->second || FT_Get_Char_Index(it->second->face, c) == 0) return faces.primary;
    return *it->second;
}

// Sets a face to the requested size and reads its line metrics; nullopt
// when the face cannot take the size.
std::optional<ActiveFont> SetUp(FT_Face face, const FontRequest& request, int32_t lfHeight)
{
    const int64_t wanted = request.pixelHeight;
    if (FT_IS_SCALABLE(face)) {
        int64_t pixels = wanted;
        const int64_t cell = int64_t{face->ascender} - face->descender;
        if (lfHeight > 0 && cell > 0)
            pixels = std::max<int64_t>(1, RoundToPixels(double(wanted) * face->units_per_EM / cell));
        if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0) return std::nullopt;
    } else {
        // A bitmap-only face: the strike nearest in height.
        if (face->num_fixed_sizes <= 0) return std::nullopt;
        int best = 0;
        for (int i = 1; i < face->num_fixed_sizes; ++i)
            if (std::abs(face->available_sizes[i].height - wanted) <
                std::abs(face->available_sizes[best].height - wanted))
                best = i;
        if (FT_Select_Size(face, best) != 0) return std::nullopt;
    }

    ActiveFont active;
    active.face = face;
    active.embolden = request.weight >= 600 && !(face->style_flags & FT_STYLE_FLAG_BOLD);
    active.oblique = request.italic && !(face->style_flags & FT_STYLE_FLAG_ITALIC);

    const FT_Size_Metrics& metrics = face->size->metrics;
    active.ascent = std::max<int64_t>(0, (int64_t{metrics.ascender} + 63) >> 6);
    active.descent = std::max<int64_t>(0, (-int64_t{metrics.descender} + 63) >> 6);
    if (active.LineHeight() == 0) active.ascent = std::max<int64_t>(1, metrics.y_ppem);

    if (FT_IS_SCALABLE(face)) {
        const double scale = double(metrics.y_scale) / 65536.0 / 64.0;  // font units -> pixels
        active.underlineThickness = std::max<int64_t>(1, RoundToPixels(face->underline_thickness * scale));
        const double centre = -face->underline_position * scale;
        // Keep a gap row under the baseline where the descent has room.
        int64_t offset =
            std::max<int64_t>(1, RoundToPixels(centre - double(active.underlineThickness) / 2.0));
        if (offset + active.underlineThickness > active.descent)
            offset = std::max<int64_t>(0, active.descent - active.underlineThickness);
        active.underlineOffset = offset;

        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        if (os2 != nullptr && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
            active.strikeThickness = std::max<int64_t>(1, RoundToPixels(os2->yStrikeoutSize * scale));
            active.strikeOffset = -RoundToPixels(os2->yStrikeoutPosition * scale);
        } else {
            active.strikeThickness = active.underlineThickness;
            active.strikeOffset =
                -RoundToPixels(double(active.ascent) / 3.0 + double(active.strikeThickness) / 2.0);
        }
    } else {
        active.strikeOffset = -std::max<int64_t>(1, active.ascent / 3);
    }
    return active;
}

// Loads the glyph for a character (the face's .notdef when it has none),
// synthesizing bold and slant where the face lacks them, and renders it as
// a one-bit bitmap when asked to. False when the face cannot give a glyph.
bool LoadGlyph(const ActiveFont& font, char32_t codePoint, bool render)
{
    FT_Face face = font.face;
    const bool synthesize = font.embolden || font.oblique;
    const FT_Int32 flags = FT_LOAD_TARGET_MONO | (render && !synthesize ? FT_LOAD_RENDER : 0);
    FT_UInt index = FT_Get_Char_Index(face, codePoint);
    if (FT_Load_Glyph(face, index, flags) != 0) {
        if (index == 0 || FT_Load_Glyph(face, 0, flags) != 0) return false;
    }
    FT_GlyphSlot slot = face->glyph;
    if (font.oblique && slot->format == FT_GLYPH_FORMAT_OUTLINE) FT_GlyphSlot_Oblique(slot);
    if (font.embolden) FT_GlyphSlot_Embolden(slot);
    if (render && slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0)
        return false;
    return true;
}

int64_t AdvanceOf(const FT_GlyphSlot slot) { return std::max<int64_t>(0, (slot->advance.x + 32) >> 6); }

// Splits the text into lines and applies the ampersand prefixes.
std::vector<Line> LayOut(std::string_view text, bool prefix)
{
    std::u32string chars = DecodeUtf8(text);
    if (auto end = chars.find(U'\0'); end != std::u32string::npos) chars.resize(end);

    std::vector<Line> lines(1);
    bool underlineNext = false;
    for (size_t i = 0; i < chars.size(); ++i) {
        const char32_t c = chars[i];
        if (c == U'\r' || c == U'\n') {
            if (c == U'\r' && i + 1 < chars.size() && chars[i + 1] == U'\n') ++i;
            lines.emplace_back();
            underlineNext = false;
            continue;
        }
        if (prefix && c == U'&') {
            if (i + 1 < chars.size() && chars[i + 1] == U'&') {
                ++i;  // "&&" is one ampersand, drawn below
            } else {
                underlineNext = true;
                continue;
            }
        }
        lines.back().push_back({c, underlineNext});
        underlineNext = false;
    }
    return lines;
}

Long ClampToLong(int64_t value)
{
    return static_cast<Long>(std::min<int64_t>(value, std::numeric_limits<Long>::max()));
}

// Paints the clipped rectangle [x0, x1) x [y0, y0 + height) black.
void FillBlack(cDIBSection& surface, int64_t x0, int64_t x1, int64_t y0, int64_t height, int64_t clipRight,
               int64_t clipBottom)
{
    x0 = std::max<int64_t>(x0, 0);
    x1 = std::min(x1, clipRight);
    const int64_t y1 = std::min(y0 + height, clipBottom);
    y0 = std::max<int64_t>(y0, 0);
    if (x0 >= x1) return;
    for (int64_t y = y0; y < y1; ++y) {
        uint8_t* row = surface.PictureRow(static_cast<Long>(y));
        std::memset(row + x0 * 3, 0, static_cast<size_t>(x1 - x0) * 3);
    }
}

// Copies the ink of a rendered glyph with its top-left at (left, top).
void BlitGlyph(cDIBSection& surface, const FT_Bitmap& bitmap, int64_t left, int64_t top, int64_t clipRight,
               int64_t clipBottom)
{
    const bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
    if (!mono && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) return;
    const int64_t rows = bitmap.rows;
    const int64_t width = bitmap.width;
    const int64_t pitch = bitmap.pitch;
    // The part of the bitmap inside the clip, found once rather than tested
    // pixel by pixel.
    const int64_t firstY = std::max<int64_t>(0, -top);
    const int64_t endY = std::min(rows, clipBottom - top);
    const int64_t firstX = std::max<int64_t>(0, -left);
    const int64_t endX = std::min(width, clipRight - left);
    for (int64_t y = firstY; y < endY; ++y) {
        // A negative pitch means the rows are stored bottom-up.
        const unsigned char* source = bitmap.buffer + (pitch >= 0 ? y * pitch : (rows - 1 - y) * -pitch);
        uint8_t* row = surface.PictureRow(static_cast<Long>(top + y));
        for (int64_t x = firstX; x < endX; ++x) {
            const bool ink = mono ? (source[x >> 3] & (0x80 >> (x & 7))) != 0 : source[x] >= 128;
            if (ink) {
                uint8_t* pixel = row + (left + x) * 3;
                pixel[0] = pixel[1] = pixel[2] = 0;
            }
        }
    }
}

}  // namespace

size_t Utf8CharLength(std::string_view text, size_t pos, char32_t* codePoint)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    char32_t value = kReplacement;
    size_t length = 1;
    auto set = [&](char32_t v, size_t n) {
        value = v;
        length = n;
    };
    if (lead < 0x80) {
        set(lead, 1);
    } else if (lead >= 0xC2 && lead <= 0xF4) {
        const size_t need = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        // The range the second byte must fall in rules out overlong forms,
        // surrogates and values beyond U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
        char32_t v = lead & (need == 1 ? 0x1F : need == 2 ? 0x0F : 0x07);
        size_t i = 1;
        for (; i <= need && pos + i < text.size(); ++i) {
            const unsigned char b = byte(pos + i);
            if (i == 1 ? (b < low || b > high) : (b & 0xC0) != 0x80) break;
            v = (v << 6) | (b & 0x3F);
        }
        if (i == need + 1)
            set(v, need + 1);
        else
            length = i;  // the valid start of a broken sequence is one U+FFFD
    }
    if (codePoint != nullptr) *codePoint = value;
    return length;
}

std::u32string DecodeUtf8(std::string_view text)
{
    std::u32string result;
    result.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        char32_t c;
        pos += Utf8CharLength(text, pos, &c);
        result.push_back(c);
    }
    return result;
}

// The face of each character of the lines, and the line metrics of the faces
// used: those of the requested face for a text it covers.
struct FacedLines {
    std::vector<std::vector<const ActiveFont*>> faces;
    int64_t ascent = 0;
    int64_t descent = 0;
    int64_t LineHeight() const { return ascent + descent; }
};

FacedLines AssignFaces(FontCache& cache, FaceSet& set, const std::vector<Line>& lines)
{
    FacedLines result;
    result.ascent = set.primary.ascent;
    result.descent = set.primary.descent;
    for (const Line& line : lines) {
        auto& faces = result.faces.emplace_back();
        for (const LaidChar& c : line) {
            const ActiveFont& face = cache.FaceFor(set, c.codePoint);
            result.ascent = std::max(result.ascent, face.ascent);
            result.descent = std::max(result.descent, face.descent);
            faces.push_back(&face);
        }
    }
    return result;
}

TextExtent TextRenderer::Measure(const LOGFONT& font, std::string_view text, bool bPrefix)
{
    const std::vector<Line> lines = LayOut(text, bPrefix);
    FontCache& cache = Cache();
    std::lock_guard lock(cache.mutex);
    std::optional<FaceSet> set = cache.Activate(font);
    if (!set) return {};
    const FacedLines faced = AssignFaces(cache, *set, lines);

    std::map<std::pair<const ActiveFont*, char32_t>, int64_t> advances;
    int64_t widest = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        int64_t width = 0;
        for (size_t j = 0; j < lines[i].size(); ++j) {
            const ActiveFont* face = faced.faces[i][j];
            const char32_t c = lines[i][j].codePoint;
            auto [it, added] = advances.try_emplace({face, c}, 0);
            if (added && LoadGlyph(*face, c, false)) it->second = AdvanceOf(face->face->glyph);
            width += it->second;
        }
        widest = std::max(widest, width);
    }
    return {ClampToLong(widest), ClampToLong(int64_t(lines.size()) * faced.LineHeight())};
}

void TextRenderer::Draw(cDIBSection& surface, const LOGFONT& font, std::string_view text, Long lRight,
                        Long lBottom, bool bPrefix)
{
    if (!surface.IsLive()) return;
    const int64_t clipRight = std::min(lRight, surface.Width());
    const int64_t clipBottom = std::min(lBottom, surface.Height());
    if (clipRight <= 0 || clipBottom <= 0) return;

    const std::vector<Line> lines = LayOut(text, bPrefix);
    FontCache& cache = Cache();
    std::lock_guard lock(cache.mutex);
    std::optional<FaceSet> set = cache.Activate(font);
    if (!set) return;
    const FacedLines faced = AssignFaces(cache, *set, lines);
    // Underlines and strike-outs are the requested face's, on the line's baseline.
    const ActiveFont& primary = set->primary;

    const int64_t lineHeight = faced.LineHeight();
    // Pens advance only to the right; past this no glyph can reach back in.
    const int64_t reach = clipRight + 4 * lineHeight + 16;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int64_t lineTop = int64_t(i) * lineHeight;
        if (lineTop >= clipBottom) break;
        const int64_t baseline = lineTop + faced.ascent;
        int64_t pen = 0;
        for (size_t j = 0; j < lines[i].size(); ++j) {
            const LaidChar& c = lines[i][j];
            const ActiveFont& face = *faced.faces[i][j];
            if (pen > reach) break;
            if (!LoadGlyph(face, c.codePoint, true)) continue;
            const FT_GlyphSlot slot = face.face->glyph;
            BlitGlyph(surface, slot->bitmap, pen + slot->bitmap_left, baseline - slot->bitmap_top, clipRight,
                      clipBottom);
            const int64_t advance = AdvanceOf(slot);
            if (c.underlined)
                FillBlack(surface, pen, pen + advance, baseline + primary.underlineOffset,
                          primary.underlineThickness, clipRight, clipBottom);
            pen += advance;
        }
        if (font.lfUnderline != 0)
            FillBlack(surface, 0, pen, baseline + primary.underlineOffset, primary.underlineThickness,
                      clipRight, clipBottom);
        if (font.lfStrikeOut != 0)
            FillBlack(surface, 0, pen, baseline + primary.strikeOffset, primary.strikeThickness, clipRight,
                      clipBottom);
    }
}

}  // namespace kx
