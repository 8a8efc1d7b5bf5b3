#include "frontend/EngineLibrary.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <utility>

namespace folvane {

namespace {

// The Debian multiarch folder of this build's target, where an installation
// under a prefix such as /usr keeps its libraries.
constexpr const char* kMultiarch =
#if defined(__x86_64__) && defined(__ILP32__)
    "x86_64-linux-gnux32";
#elif defined(__x86_64__)
    "x86_64-linux-gnu";
#elif defined(__i386__)
    "i386-linux-gnu";
#elif defined(__aarch64__)
    "aarch64-linux-gnu";
#elif defined(__arm__) && defined(__ARM_PCS_VFP)
    "arm-linux-gnueabihf";
#elif defined(__arm__)
    "arm-linux-gnueabi";
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    "powerpc64le-linux-gnu";
#elif defined(__s390x__)
    "s390x-linux-gnu";
#elif defined(__riscv) && __riscv_xlen == 64
    "riscv64-linux-gnu";
#else
    "";
#endif

std::string ExecutablePath()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<size_t>(length));
}

std::string LastLoaderError()
{
    const char* text = ::dlerror();
    return text ? text : "unknown error";
}

}  // namespace

void EngineLibrary::HandleClose::operator()(void* handle) const
{
    if (handle) ::dlclose(handle);
}

EngineLibrary::EngineLibrary(std::unique_ptr<void, HandleClose> handle, const KestrixApi& api,
                             std::string path)
    : handle_(std::move(handle))
    , api_(api)
    , path_(std::move(path))
{}

std::vector<std::string> EngineLibrary::CandidatePaths(const std::string& exePath)
{
    std::vector<std::string> paths;
    const size_t slash = exePath.rfind('/');
    if (slash == std::string::npos) return paths;
    const std::string folder = exePath.substr(0, slash + 1);
    paths.push_back(folder + "../lib/" + kEngineLibraryName);
    if (*kMultiarch) paths.push_back(folder + "../lib/" + kMultiarch + "/" + kEngineLibraryName);
    paths.push_back(folder + kEngineLibraryName);
    return paths;
}

std::optional<EngineLibrary> EngineLibrary::LoadFrom(const std::string& path, std::string* why)
{
    // RTLD_LOCAL: the engine's own symbols never stand in for the program's.
    std::unique_ptr<void, HandleClose> handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
        if (why) *why = path + ": " + LastLoaderError();
        return std::nullopt;
    }
    KestrixApi api;
    std::string missing;
    const auto lookup = [&handle](const char* symbol) { return ::dlsym(handle.get(), symbol); };
    if (!kx::batch::ResolveEngineApi(api, lookup, missing)) {
        if (why) *why = path + ": not the Kestrix engine, the function " + missing + " is missing";
        return std::nullopt;
    }
    return EngineLibrary(std::move(handle), api, path);
}

std::optional<EngineLibrary> EngineLibrary::Load(std::string* why)
{
    std::string reasons;
    for (const std::string& path : CandidatePaths(ExecutablePath())) {
        if (::access(path.c_str(), F_OK) != 0) continue;
        std::string reason;
        if (auto library = LoadFrom(path, &reason)) return library;
        reasons += "\n" + reason;
    }
    std::string reason;
    if (auto library = LoadFrom(kEngineLibraryName, &reason)) return library;
    if (why)
        *why = std::string("The engine library ") + kEngineLibraryName + " could not be loaded:" + reasons +
               "\n" + reason;
    return std::nullopt;
}

KestrixObject EngineLibrary::CreateObject() const
{
    return KestrixObject(api_.Create(), KestrixObjectRelease{api_.Release});
}

}  // namespace folvane
