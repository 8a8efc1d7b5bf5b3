#include "frmAbout.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "Dialogs.h"
#include "modErrorReport.h"

namespace folvane {

std::string VersionText(const std::string& version) { return "Version " + version; }

const std::vector<std::string>& frmAbout::SystemInfoPrograms()
{
    static const std::vector<std::string> programs = {"hardinfo2", "hardinfo", "kinfocenter",
                                                      "gnome-system-monitor", "lshw-gtk"};
    return programs;
}

frmAbout& frmAbout::Instance(QWidget* parent)
{
    static frmAbout* about = nullptr;
    if (about == nullptr) about = new frmAbout(parent);
    return *about;
}

frmAbout::frmAbout(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About This Software..."));
    setFixedSize(420, 300);
    auto label = [this](const QString& text, int x, int y, int w, int h) {
        auto* l = new QLabel(text, this);
        l->setGeometry(x, y, w, h);
        l->setWordWrap(true);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    Image1 = new QLabel(this);
    Image1->setGeometry(16, 16, 32, 32);
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/folvane.png")));
    lblTitle = label(QStringLiteral("Folvane"), 64, 12, 330, 28);
    QFont title = lblTitle->font();
    title.setPointSizeF(16);
    title.setBold(true);
    lblTitle->setFont(title);
    lblVersion = label(QStringLiteral("Version"), 64, 42, 330, 18);
    lblDescription = label(QStringLiteral("This application resizes .bmp, .jpg and .gif files, and saves them as .jpg "
                                          "files in a new folder. An entire folder of images is resized in a single "
                                          "operation."),
                           64, 66, 340, 52);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(12, 126, 396, 4);
    lblDisclaimer = label(QStringLiteral("Copyright \u00A9 2026 the Folvane developers. Folvane and the Kestrix "
                                         "engine are provided as they are, without warranty of any kind."),
                          16, 136, 388, 36);
    Label1 = label(QStringLiteral("Warning: this program is protected by copyright law. Reproducing or "
                                  "distributing it without permission is not allowed."),
                   16, 176, 388, 36);
    lblURL = label(QStringLiteral("Visit us at %1").arg(QString::fromUtf8(kMakerWebAddress)), 16, 218, 388, 18);
    lblURL->setCursor(Qt::PointingHandCursor);
    lblURL->setToolTip(QStringLiteral("Click to visit the makers of Folvane"));
    QPalette link = lblURL->palette();
    link.setColor(QPalette::WindowText, Qt::blue);
    lblURL->setPalette(link);
    lblURL->installEventFilter(this);
    auto* line2 = new QFrame(this);
    line2->setFrameShape(QFrame::HLine);
    line2->setFrameShadow(QFrame::Sunken);
    line2->setGeometry(12, 242, 396, 4);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setGeometry(312, 256, 96, 28);
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setGeometry(200, 256, 104, 28);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, [this] { StartSysInfo(); });
    Form_Load();
}

void frmAbout::Form_Load() { lblVersion->setText(QString::fromStdString(VersionText(FOLVANE_VERSION))); }

void frmAbout::StartSysInfo()
{
    for (const std::string& program : SystemInfoPrograms()) {
        const QString path = QStandardPaths::findExecutable(QString::fromStdString(program));
        if (!path.isEmpty() && QProcess::startDetached(path, {})) return;
    }
    Dialogs().ShowMessage("System Information Is Unavailable At This Time", kProgramTitle, MessageStyle::Plain);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblURL && event->type() == QEvent::MouseButtonRelease) OpenWebPage(kMakerWebAddress);
    return QDialog::eventFilter(watched, event);
}

void frmAbout::OpenWebPage(const std::string& address)
{
    // Whether a browser opened is the desktop's business; only a failure to
    // ask it at all is reported.
    try {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
    } catch (...) {
        kx::ReportError("", "An Error has occured trying to open your default browser!", 0);
    }
}

}  // namespace folvane
