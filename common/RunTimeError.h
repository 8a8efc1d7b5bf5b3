// The run-time error model shared by the engine and the front end: an error
// carries the run time's number, the source that raised it and a description.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kx {

// Error numbers as the run time uses them.
enum ErrorNumber : int32_t {
    errInvalidCall = 5,
    errOverflow = 6,
    errOutOfMemory = 7,
    errSubscript = 9,
    errDivisionByZero = 11,
    errFileNotFound = 53,
    errPermissionDenied = 70,
    errPathFileAccess = 75,
    errPathNotFound = 76,
    errJpegWriter = 26001,
};

// The run time's own description for one of its numbers ("Overflow", ...).
std::string StandardDescription(int32_t number);

class RunTimeError : public std::runtime_error {
public:
    // A run-time error with the run time's standard description for `number`.
    explicit RunTimeError(int32_t number, std::string source = "Kestrix");
    RunTimeError(int32_t number, std::string source, std::string description);

    int32_t Number() const noexcept { return number_; }
    const std::string& Source() const noexcept { return source_; }
    const std::string& Description() const noexcept { return description_; }

private:
    int32_t number_;
    std::string source_;
    std::string description_;
};

[[noreturn]] void Raise(int32_t number);

}  // namespace kx
