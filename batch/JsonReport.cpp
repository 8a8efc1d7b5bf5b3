#include "batch/JsonReport.h"

#include <cstdio>

#include "batch/PrintableName.h"

namespace kx::batch {

namespace {

constexpr const char* kOutcomeNames[] = {"resized",       "failed",       "up-to-date",
                                         "not-a-picture", "would-resize", "skipped"};

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
    // A name that is not UTF-8 is given back exactly in base64 as well.
    const std::string bytes = IsUtf8(record.Input) ? "" : ",\"input_bytes\":\"" + Base64(record.Input) + "\"";
    const std::string line = "{\"input\":" + JsonString(record.Input) + bytes +
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
         << ",\"skipped\":" << counts_[5] << ",\"ms\":" << milliseconds << "}}\n";
    out_.flush();
}

}  // namespace kx::batch
