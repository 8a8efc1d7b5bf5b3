// The error report and the path helpers that the engine and the front end share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kx {

// Receives the full text of an error report. The host program installs one
// (the desktop program shows it in a modal critical-stop box); the report
// returns only when the handler does. Without one the text goes to stderr.
using ReportHandler = std::function<void(const std::string& text)>;

// Installs the handler for every later report; an empty handler restores the
// default. Safe to call from any thread.
void SetReportHandler(ReportHandler handler);

// The report's text: "Error in : <procedure>", "Error Number : <number>" and
// "Error Desc : <description>", joined by CR LF, with no final line break.
std::string FormatErrorReport(const std::string& procedure, const std::string& description, int32_t number);

// Shows the report for a run-time error caught in `procedure` and waits until
// the handler returns. Reports from several threads reach the handler at the
// same time; a handler that shows boxes shows them one at a time itself.
void ReportError(const std::string& procedure, const std::string& description, int32_t number);

// The last component of a path: everything after its last "/". A path that
// ends in "/" or has no "/" at all gives the empty text. (The name is
// historical: it returns the file name, not the extension.)
std::string ExtractFileExtension(const std::string& path);

// True when the path names an ordinary file: a regular file, or a link to
// one, whose name does not begin with "." (a hidden file). Folders are never
// files. Never raises: a failure is reported under "FileExists" and is False.
bool FileExists(const std::string& path);

}  // namespace kx
