#include "common/modErrorReport.h"

#include <sys/stat.h>

#include <cstdio>
#include <mutex>

#include "common/RunTimeError.h"

namespace kx {

namespace {

std::mutex& HandlerMutex()
{
    static std::mutex mutex;
    return mutex;
}

ReportHandler& InstalledHandler()
{
    static ReportHandler handler;
    return handler;
}

// Keeps the lines of reports written to standard error together.
std::mutex& StderrMutex()
{
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void SetReportHandler(ReportHandler handler)
{
    std::lock_guard lock(HandlerMutex());
    InstalledHandler() = std::move(handler);
}

std::string FormatErrorReport(const std::string& procedure, const std::string& description, int32_t number)
{
    return "Error in : " + procedure + "\r\nError Number : " + std::to_string(number) +
           "\r\nError Desc : " + description;
}

void ReportError(const std::string& procedure, const std::string& description, int32_t number)
{
    const std::string text = FormatErrorReport(procedure, description, number);
    ReportHandler handler;
    {
        std::lock_guard lock(HandlerMutex());
        handler = InstalledHandler();
    }
    // No lock is held while the handler shows the report: it may wait for
    // another thread (the desktop program's user-interface thread), which
    // may itself have a report to show meanwhile. The handler serialises.
    if (handler) {
        handler(text);
        return;
    }
    std::lock_guard lock(StderrMutex());
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

std::string ExtractFileExtension(const std::string& path)
{
    try {
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) return {};
        return path.substr(slash + 1);
    } catch (const std::exception& e) {
        ReportError("ExtractFileExtension", e.what(), errOutOfMemory);
        return {};
    }
}

bool FileExists(const std::string& path)
{
    try {
        std::string name = ExtractFileExtension(path);
        if (name.empty()) name = path;
        if (name.empty() || name.front() == '.') return false;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) return false;
        return S_ISREG(info.st_mode);
    } catch (const std::exception& e) {
        ReportError("FileExists", e.what(), errOutOfMemory);
        return false;
    }
}

}  // namespace kx
