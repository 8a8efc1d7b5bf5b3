// Loads the image engine, libkestrix.so.1, at run time and resolves its C
// interface, so that a missing or broken engine is a message to the user
// rather than a program that does not start.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/EngineApi.h"
#include "kestrix.h"

namespace folvane {

// The engine's C interface, one pointer per function of kestrix.h. All are
// set in a KestrixApi obtained from a loaded EngineLibrary.
using KestrixApi = kx::batch::EngineApi;

// Releases an engine object through the library that made it.
struct KestrixObjectRelease {
    decltype(&cKestrix_Release) release = nullptr;
    void operator()(cKestrix* object) const
    {
        if (object && release) release(object);
    }
};
// An engine object; it must be released before its library is unloaded.
using KestrixObject = std::unique_ptr<cKestrix, KestrixObjectRelease>;

// The file name of the engine library.
inline constexpr const char* kEngineLibraryName = "libkestrix.so.1";

// A loaded engine library. Unloads it when destroyed; movable, not copyable.
class EngineLibrary {
public:
    // Finds and loads the engine: libkestrix.so.1 in the running program's
    // ../lib, ../lib/<multiarch> and own folder, in that order, then through
    // the dynamic linker's usual search. On failure returns nothing and, when
    // `why` is given, sets it to a text naming each place tried and why it
    // failed.
    static std::optional<EngineLibrary> Load(std::string* why = nullptr);

    // Loads the engine from `path` exactly (a path with a "/"), or by the
    // dynamic linker's search for a bare file name. A library that lacks any
    // function of kestrix.h is refused. Reports failure as Load does.
    static std::optional<EngineLibrary> LoadFrom(const std::string& path, std::string* why = nullptr);

    // The files Load tries first, in order, for the program at `exePath`.
    static std::vector<std::string> CandidatePaths(const std::string& exePath);

    // The resolved functions.
    const KestrixApi& Api() const { return api_; }
    // Where the library was loaded from, as it was asked for.
    const std::string& Path() const { return path_; }

    // A new engine object, or an empty pointer when the engine cannot make
    // one (memory exhausted).
    KestrixObject CreateObject() const;

private:
    struct HandleClose {
        void operator()(void* handle) const;
    };

    EngineLibrary(std::unique_ptr<void, HandleClose> handle, const KestrixApi& api, std::string path);

    std::unique_ptr<void, HandleClose> handle_;
    KestrixApi api_;
    std::string path_;
};

}  // namespace folvane
