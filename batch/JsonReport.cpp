#include "JsonReport.h"

#include <cstdio>

namespace kx::batch {

namespace {

constexpr const char* kOutcomeNames[] = {"resized", "failed", "up-to-date", "not-a-picture", "would-resize"};

// The length of the UTF-8 sequence at `at`, 0 when it is not one (overlong
// forms, surrogates and values past U+10FFFF included).
size_t Utf8Length(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else
        return 0;
    if (text.size() - at < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string JsonString(std::string_view text)
{
    std::string json = "\"";
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c == '\n')
            json += "\\n";
        else if (c == '\t')
            json += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else if (c >= 0x80) {
            const size_t length = Utf8Length(text, at);
            if (length == 0) {
                json += "\\ufffd";
                ++at;
                continue;
            }
            json.append(text.substr(at, length));
            at += length;
            continue;
        } else
            json += static_cast<char>(c);
        ++at;
    }
    return json + '"';
}

void JsonReport::Record(const ReportRecord& record)
{
    const std::string line = "{\"input\":" + JsonString(record.Input) +
                             ",\"output\":" + JsonString(record.Output) + ",\"outcome\":\"" +
                             kOutcomeNames[static_cast<int>(record.Outcome)] +
                             "\",\"reason\":" + JsonString(record.Reason) +
                             ",\"ms\":" + std::to_string(record.Milliseconds) + "}\n";
    std::lock_guard lock(mutex_);
    ++counts_[static_cast<int>(record.Outcome)];
    out_ << line;
}

void JsonReport::Finish(int64_t milliseconds)
{
    std::lock_guard lock(mutex_);
    uint64_t files = 0;
    for (const uint64_t count : counts_) files += count;
    out_ << "{\"totals\":{\"files\":" << files << ",\"resized\":" << counts_[0]
         << ",\"failed\":" << counts_[1] << ",\"up_to_date\":" << counts_[2]
         << ",\"not_pictures\":" << counts_[3] << ",\"would_resize\":" << counts_[4]
         << ",\"ms\":" << milliseconds << "}}\n";
    out_.flush();
}

}  // namespace kx::batch
