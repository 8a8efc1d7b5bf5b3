// Why the engine call under way failed, in words a user can act on ("no such
// file", "corrupt JPEG data: premature end of data segment", "disk full").
// Kept per thread; the public interface clears it when a method starts and
// hands it out as Kestrix_LastErrorText after a failure.
//
// A decoder, the loader or the writer that gives up calls SetFailureReason
// once with what it knows. The first reason of a call is kept: the innermost
// part knows most, so a decoder's word is not replaced by the loader's.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kx {

void SetFailureReason(const std::string& reason);
// The one way a decoder or writer refuses: sets `reason` as SetFailureReason
// does and gives false ("WebP pictures are at most 16383 pixels wide").
bool Refuse(const std::string& reason);
// True when a width x height picture fits a format's largest side `most`;
// else refuses with "WebP pictures are at most 16383 pixels wide" (or high).
bool SidesWithin(const char* format, int64_t width, int64_t height, int64_t most);
// For a C library's callback, through which nothing may be thrown: sets
// `prefix` followed by `detail` as SetFailureReason does, or "out of memory"
// when even that text cannot be made.
void SetFailureReasonInCallback(const char* prefix, const char* detail) noexcept;
const std::string& FailureReason();
void ClearFailureReason();

// The words for a failed file operation's errno ("permission denied",
// "disk full", "read-only file system", ...).
std::string ErrnoReason(int error);

// "the picture is W x H pixels; the most the engine takes is ...", for a
// decoder whose picture is beyond the limits of DecodeLimits.h.
std::string TooLargeReason(int64_t width, int64_t height);

// What a file that no decoder recognised is: a picture format the engine
// does not read, named when its signature is known, or not a picture.
std::string UnreadFormatReason(std::span<const uint8_t> head);

}  // namespace kx
