// Runs a program as a user would: a child process in a folder of its own,
// with its standard output, standard error and exit status captured.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kxtest {

struct ProgramOutcome {
    int status = -1;  // the exit status; -1 when it did not exit normally
    std::string out, err;
};

// Starts `program` with `args` in the working folder `folder`, its output going
// to files there; its process id, or 0 when it could not be started.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& folder);
// Waits for a program SpawnProgram started and collects what it wrote.
ProgramOutcome WaitForProgram(pid_t child, const std::string& folder);
// Runs `program` with `args` in `folder`, as SpawnProgram starts it.
ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& folder);

}  // namespace kxtest
