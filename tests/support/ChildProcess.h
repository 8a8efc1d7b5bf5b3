// Runs a program as a user would: a child process with its standard output,
// standard error and exit status captured.
#pragma once

#include <string>
#include <vector>

namespace kxtest {

struct ProgramOutcome {
    int status = -1;  // the exit status; -1 when it did not exit normally
    std::string out, err;
};

// Runs `program` with `args`, its output kept in files in `folder`.
ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& folder);

}  // namespace kxtest
