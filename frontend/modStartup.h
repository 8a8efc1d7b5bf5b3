// Start-up and shut-down of the desktop program: the one engine object and
// the main window.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "frontend/EngineLibrary.h"
#include "frontend/modProcessFolder.h"

namespace folvane {

// The engine of the whole run: the loaded library, its one object and the
// resize methods over them. Empty until CreateEngine succeeds.
struct EngineHolder {
    std::optional<EngineLibrary> library;
    KestrixObject object;
    std::unique_ptr<KestrixEngine> methods;
    explicit operator bool() const { return methods != nullptr; }
};
EngineHolder& objEngine();

// Loads the engine with `load`, creates its object and routes its error
// reports to the critical-stop box. When there is no usable engine, shows
// "The Kestrix DLL cannot be found, Closing Application" and returns false.
bool CreateEngine(const std::function<std::optional<EngineLibrary>(std::string*)>& load);

// Sends error reports (the program's own and the engine's) to the
// critical-stop message box titled "Error...". A report raised on one of a
// run's worker threads goes through Dialogs() like any other, which shows it
// on the user-interface thread while that worker waits for it to be closed.
void InstallReportHandlers();

// Releases the engine object and ends the program.
void CloseApp();

// The program: creates the engine, shows the main window, runs until it
// closes. With "--resize FILE..." it shows the "Resize pictures" window for
// those files instead (a file manager's action).
int Main(int argc, char** argv);

}  // namespace folvane
