// A run's report for pipelines: JSON Lines, one object per file as it
// finishes and a last one with the totals, written as the run goes so that
// memory does not grow with the number of files.
//
//   {"input":"a/x.bmp","output":"OUT/a/x.jpg","outcome":"resized","reason":"","ms":41}
//   {"totals":{"files":1,"resized":1,"failed":0,"up_to_date":0,"not_pictures":0,"would_resize":0,"skipped":0,"ms":52}}
//
// A name that is not UTF-8 also comes exactly, in base64, as "input_bytes".
#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace kx::batch {

// What became of one file, as the report names it.
enum class ReportOutcome {
    Resized,      // "resized"
    Failed,       // "failed"
    UpToDate,     // "up-to-date": its output was kept
    NotAPicture,  // "not-a-picture": not a JPG, BMP or GIF picture
    WouldResize,  // "would-resize": a dry run
    Skipped,      // "skipped": left alone for the reason given (a link out of the folder)
};

struct ReportRecord {
    std::string Input, Output;
    ReportOutcome Outcome = ReportOutcome::Resized;
    std::string Reason;
    int64_t Milliseconds = 0;
};

// A JSON string with its quotes. Control characters, quotes and
// backslashes are escaped; bytes that are not UTF-8 become U+FFFD, so the
// report stays valid JSON whatever the file names hold.
std::string JsonString(std::string_view text);

class JsonReport {
public:
    explicit JsonReport(std::ostream& out)
        : out_(out)
    {}
    // Writes one line; safe to call from several threads.
    void Record(const ReportRecord& record);
    // Writes the totals line; `milliseconds` is the whole run's time.
    void Finish(int64_t milliseconds);

private:
    std::ostream& out_;
    std::mutex mutex_;
    uint64_t counts_[6] = {};
};

}  // namespace kx::batch
