#include "frontend/modStartup.h"

#include <QApplication>
#include <QFileInfo>
#include <QSettings>
#include <cstdio>

#include "common/modErrorReport.h"
#include "frontend/Dialogs.h"
#include "frontend/QtDialogs.h"
#include "frontend/frmMain.h"
#include "frontend/frmResize.h"
#include "frontend/modShared.h"

namespace folvane {

namespace {

// Both may be called from any thread; the dialogs take the box to the
// user-interface thread.
void ShowReport(const std::string& text) { Dialogs().ShowMessage(text, "Error...", MessageStyle::Critical); }

// Called by the engine, which makes its own reports take turns.
void ShowEngineReport(const char* text, void*) { ShowReport(text ? text : ""); }

}  // namespace

EngineHolder& objEngine()
{
    static EngineHolder holder;
    return holder;
}

void InstallReportHandlers()
{
    kx::SetReportHandler(ShowReport);
    if (objEngine()) objEngine().library->Api().SetReportHandler(ShowEngineReport, nullptr);
}

bool CreateEngine(const std::function<std::optional<EngineLibrary>(std::string*)>& load)
{
    EngineHolder& holder = objEngine();
    std::string why;
    holder.library = load(&why);
    if (holder.library) {
        holder.object = holder.library->CreateObject();
        if (holder.object)
            holder.methods = std::make_unique<KestrixEngine>(holder.library->Api(), holder.object.get());
    }
    if (!holder) {
        if (!why.empty()) std::fprintf(stderr, "folvane: %s\n", why.c_str());
        Dialogs().ShowMessage("The Kestrix DLL cannot be found, Closing Application", "Error...",
                              MessageStyle::Critical);
        return false;
    }
    InstallReportHandlers();
    return true;
}

void CloseApp()
{
    EngineHolder& holder = objEngine();
    holder.methods.reset();
    holder.object.reset();  // before its library goes
    holder.library.reset();
    QCoreApplication::exit(0);
}

int Main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Folvane"));
    QApplication::setApplicationVersion(QStringLiteral(FOLVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("folvane"));
    QtDialogs dialogs;
    SetDialogs(&dialogs);
    kx::SetReportHandler(ShowReport);
    try {
        if (!CreateEngine([](std::string* why) { return EngineLibrary::Load(why); })) {
            CloseApp();
            return 1;
        }
        QStringList arguments = QApplication::arguments();
        if (arguments.size() > 1 && arguments[1] == QStringLiteral("--resize")) {
            std::vector<std::string> files;
            for (const QString& file : arguments.mid(2))
                files.push_back(QFileInfo(file).absoluteFilePath().toStdString());
            FormatEngines engines(*objEngine().library);
            QSettings settings(QStringLiteral("Folvane"), QStringLiteral("Folvane"));
            frmResize window(std::move(files), engines, settings);
            dialogs.SetParent(&window);
            window.show();
            const int status = QApplication::exec();
            SetDialogs(nullptr);
            return status;
        }
        frmMain window(*objEngine().methods, CloseApp);
        dialogs.SetParent(&window);
        window.show();
        const int status = QApplication::exec();
        SetDialogs(nullptr);
        return status;
    } catch (...) {
        ReportCurrentError("Main");
        CloseApp();
        SetDialogs(nullptr);
        return 1;
    }
}

}  // namespace folvane
