#include "common/RunTimeError.h"

namespace kx {

std::string StandardDescription(int32_t number)
{
    switch (number) {
    case errInvalidCall: return "Invalid procedure call or argument";
    case errOverflow: return "Overflow";
    case errOutOfMemory: return "Out of memory";
    case errSubscript: return "Subscript out of range";
    case errDivisionByZero: return "Division by zero";
    case errFileNotFound: return "File not found";
    case errPermissionDenied: return "Permission denied";
    case errPathFileAccess: return "Path/File access error";
    case errPathNotFound: return "Path not found";
    default: return "Application-defined or object-defined error";
    }
}

RunTimeError::RunTimeError(int32_t number, std::string source)
    : RunTimeError(number, std::move(source), StandardDescription(number))
{}

RunTimeError::RunTimeError(int32_t number, std::string source, std::string description)
    : std::runtime_error(description)
    , number_(number)
    , source_(std::move(source))
    , description_(std::move(description))
{}

void Raise(int32_t number) { throw RunTimeError(number); }

}  // namespace kx
