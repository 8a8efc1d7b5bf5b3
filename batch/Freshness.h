// Finishing a run that was stopped: an output that is complete and at least
// as new as every picture that writes it needs no redoing. Outputs appear
// only through a rename of a fully written file, but a power cut can still
// leave a renamed file whose data never reached the disk, so "complete" is
// checked too: a JPEG file that starts with its start marker and ends with
// its end marker, a PNG that ends with its IEND chunk, a WebP whose RIFF
// size is the file's, an AVIF whose top-level boxes end with the file.
#pragma once

#include <string>
#include <vector>

namespace kx::batch {

// Why an output is or is not redone.
enum class Freshness {
    Current,     // complete and at least as new as every input
    Missing,     // no output yet
    Older,       // an input changed after the output was written
    Incomplete,  // not a whole JPEG, PNG, WebP or AVIF file (or not an ordinary file)
};

// Looks at `output` against the pictures `inputs` that write it.
Freshness CheckOutput(const std::string& output, const std::vector<std::string>& inputs);

// A short text for a reason: "output is up to date", "no output yet",
// "picture changed since its output", "output incomplete".
const char* FreshnessText(Freshness freshness);

}  // namespace kx::batch
