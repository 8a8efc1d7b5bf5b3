// Finishing a run that was stopped: an output that is complete and at least
// as new as every picture that writes it needs no redoing. Outputs appear
// only through a rename of a fully written file, but a power cut can still
// leave a renamed file whose data never reached the disk, so "complete" is
// checked too: a JPEG file that starts with its start marker and ends with
// its end marker, a PNG that ends with its IEND chunk, a WebP whose RIFF
// size is the file's, an AVIF whose top-level boxes end with the file.
#pragma once

#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kx::batch {

// Why an output is or is not redone.
enum class Freshness {
    Current,        // complete and at least as new as every input
    Missing,        // no output yet
    Older,          // an input changed after the output was written
    Incomplete,     // not a whole JPEG, PNG, WebP or AVIF file (or not an ordinary file)
    OtherSettings,  // made with other settings than the run's
    Warned,         // made from a picture the decoder warned about
};

// Looks at `output` against the pictures `inputs` that write it; with
// `since`, an output older than that was made with other settings.
Freshness CheckOutput(const std::string& output, const std::vector<std::string>& inputs,
                      const timespec* since = nullptr);

// What an output folder remembers of the runs that wrote it, in its file
// .kestrix-run: the settings of the last run (from the file's time on,
// outputs are made with them); and in .kestrix-warned, one a line, the
// outputs made with them from a picture the decoder warned about (until
// they are made again).
class RunRecord {
public:
    // Reads the record of `folder`. When it holds other settings (or there
    // is none), outputs older than now count as made with other settings;
    // unless `readOnly`, `settings` then becomes the record.
    RunRecord(const std::string& folder, const std::string& settings, bool readOnly);
    // CheckOutput for an output below the folder, which is Warned when the
    // record names it and it was not made again since.
    Freshness Check(const std::string& output, const std::vector<std::string>& inputs) const;
    // Notes that `output` (below the folder) was made from a damaged picture.
    void NoteWarned(const std::string& output);

private:
    std::string folder_;
    bool readOnly_;
    timespec since_{};
    std::map<std::string, timespec> warned_;  // output -> its time when noted
    std::mutex mutex_;                        // for NoteWarned
};

// A short text for a reason: "output is up to date", "no output yet",
// "picture changed since its output", "output incomplete", "output made
// with other settings", "output made from a damaged picture".
const char* FreshnessText(Freshness freshness);

}  // namespace kx::batch
