#include "engine/files/MetadataTransfer.h"

#include <libexif/exif-data.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace kx {

namespace {

constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
// The EXIF block must fit one APP1 segment with its 6-byte header.
constexpr size_t kMaxExifBytes = 65533 - sizeof kExifHeader;

struct MemRelease {
    void operator()(ExifMem* mem) const { exif_mem_unref(mem); }
};
struct DataRelease {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

// A parsed EXIF block with libexif's own fix-ups switched off: entries stay
// as the file has them, unknown ones included, and maker notes untouched.
class ExifRecord {
public:
    explicit ExifRecord(std::span<const uint8_t> exif)
        : mem_(exif_mem_new_default())
        , data_(mem_ ? exif_data_new_mem(mem_.get()) : nullptr)
    {
        if (!data_ || exif.empty() || exif.size() > kMaxExifBytes) {
            data_.reset();
            return;
        }
        exif_data_unset_option(data_.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
        exif_data_unset_option(data_.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
        exif_data_set_option(data_.get(), EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
        // libexif wants the block with its "Exif\0\0" header.
        std::vector<uint8_t> block(kExifHeader, kExifHeader + sizeof kExifHeader);
        block.insert(block.end(), exif.begin(), exif.end());
        exif_data_load_data(data_.get(), block.data(), static_cast<unsigned>(block.size()));
    }

    bool Valid() const { return data_ != nullptr; }

    // The one-SHORT entry `tag` of `ifd`, or nullptr.
    ExifEntry* Short(ExifIfd ifd, ExifTag tag) const
    {
        ExifEntry* entry = exif_content_get_entry(data_->ifd[ifd], tag);
        if (!entry || entry->format != EXIF_FORMAT_SHORT || entry->components != 1 || !entry->data ||
            entry->size < 2)
            return nullptr;
        return entry;
    }
    ExifByteOrder Order() const { return exif_data_get_byte_order(data_.get()); }

    int Orientation() const
    {
        const ExifEntry* entry = Short(EXIF_IFD_0, EXIF_TAG_ORIENTATION);
        if (!entry) return 1;
        const int value = exif_get_short(entry->data, Order());
        return value >= 1 && value <= 8 ? value : 1;
    }

    // Sets the pixel size entry `tag` of the Exif sub-IFD where it is there.
    void SetDimension(ExifTag tag, Long value)
    {
        ExifEntry* entry = exif_content_get_entry(data_->ifd[EXIF_IFD_EXIF], tag);
        if (!entry || entry->components != 1 || !entry->data) return;
        if (entry->format == EXIF_FORMAT_SHORT && entry->size >= 2 && value <= 0xFFFF)
            exif_set_short(entry->data, Order(), static_cast<ExifShort>(value));
        else if (entry->format == EXIF_FORMAT_LONG && entry->size >= 4)
            exif_set_long(entry->data, Order(), static_cast<ExifLong>(value));
    }

    // The block for a picture of width x height with `orientation`, without
    // its preview; empty when it cannot be written or does not fit.
    std::vector<uint8_t> Rewritten(int orientation, Long width, Long height)
    {
        if (ExifEntry* entry = Short(EXIF_IFD_0, EXIF_TAG_ORIENTATION))
            exif_set_short(entry->data, Order(), static_cast<ExifShort>(orientation));
        ExifContent* preview = data_->ifd[EXIF_IFD_1];
        while (preview->count > 0) exif_content_remove_entry(preview, preview->entries[0]);
        if (data_->data) {
            exif_mem_free(mem_.get(), data_->data);
            data_->data = nullptr;
            data_->size = 0;
        }
        SetDimension(EXIF_TAG_PIXEL_X_DIMENSION, width);
        SetDimension(EXIF_TAG_PIXEL_Y_DIMENSION, height);
        unsigned char* saved = nullptr;
        unsigned int size = 0;
        exif_data_save_data(data_.get(), &saved, &size);
        std::vector<uint8_t> out;
        if (saved && size > sizeof kExifHeader && size - sizeof kExifHeader <= kMaxExifBytes &&
            std::memcmp(saved, kExifHeader, sizeof kExifHeader) == 0)
            out.assign(saved + sizeof kExifHeader, saved + size);
        if (saved) exif_mem_free(mem_.get(), saved);
        return out;
    }

private:
    std::unique_ptr<ExifMem, MemRelease> mem_;
    std::unique_ptr<ExifData, DataRelease> data_;
};

// A big-endian TIFF header and an IFD0 holding only the orientation.
std::vector<uint8_t> OrientationOnlyExif(int orientation)
{
    return {'M',  'M',  0, 42, 0, 0, 0, 8,                                              // header, IFD0 at 8
            0,    1,                                                                    // one entry
            0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, static_cast<uint8_t>(orientation), 0, 0,  // SHORT
            0,    0,    0, 0};                                                          // no IFD1
}

// Sets every tiff:Orientation of an XMP packet, attribute or element, to 1.
void XmpOrientationUpright(std::vector<uint8_t>& xmp)
{
    const std::string_view name = "tiff:Orientation";
    std::string_view text(reinterpret_cast<const char*>(xmp.data()), xmp.size());
    for (size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
        size_t value = at + name.size();
        // attribute: name="6" (or '6'); element: <tiff:Orientation>6<
        while (value < text.size() && (text[value] == ' ' || text[value] == '=')) ++value;
        if (value < text.size() && (text[value] == '"' || text[value] == '\'' || text[value] == '>')) ++value;
        if (value < text.size() && text[value] >= '1' && text[value] <= '8' &&
            (value + 1 == text.size() || text[value + 1] < '0' || text[value + 1] > '9'))
            xmp[value] = '1';
    }
}

}  // namespace

int ExifOrientation(std::span<const uint8_t> exif)
{
    ExifRecord record(exif);
    return record.Valid() ? record.Orientation() : 1;
}

bool IsRgbProfile(std::span<const uint8_t> profile)
{
    return profile.size() >= 128 && std::memcmp(profile.data() + 16, "RGB ", 4) == 0;
}

PictureMetadata MetadataForOutput(const PictureMetadata& read, bool keepMetadata, Long width, Long height)
{
    PictureMetadata out;
    const int orientation = read.Orientation >= 1 && read.Orientation <= 8 ? read.Orientation : 1;
    out.Orientation = orientation;
    if (IsRgbProfile(read.IccProfile)) out.IccProfile = read.IccProfile;
    if (keepMetadata && !read.Exif.empty()) {
        ExifRecord record(read.Exif);
        if (record.Valid()) out.Exif = record.Rewritten(orientation, width, height);
    }
    if (out.Exif.empty() && orientation != 1) out.Exif = OrientationOnlyExif(orientation);
    if (keepMetadata) {
        out.Xmp = read.Xmp;
        if (orientation == 1) XmpOrientationUpright(out.Xmp);
    }
    return out;
}

}  // namespace kx
