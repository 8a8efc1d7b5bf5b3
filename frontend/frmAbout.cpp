#include "frontend/frmAbout.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include "common/modErrorReport.h"
#include "frontend/ButtonKeys.h"
#include "frontend/Dialogs.h"

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
    // Its parent window deletes it; the next use makes a new one.
    static QPointer<frmAbout> about;
    if (about.isNull()) about = new frmAbout(parent);
    return *about;
}

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About This Software..."));
    auto label = [this](const QString& text, bool wrap) {
        auto* l = new QLabel(text, this);
        l->setWordWrap(wrap);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    auto separator = [this] {
        auto* line = new QFrame(this);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
    };
    Image1 = new QLabel(this);
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/folvane.png")));
    Image1->setFixedSize(32, 32);
    lblTitle = label(QStringLiteral("Folvane"), false);
    QFont title = lblTitle->font();
    title.setPointSizeF(16);
    title.setBold(true);
    lblTitle->setFont(title);
    lblVersion = label(QStringLiteral("Version"), false);
    lblDescription =
        label(QStringLiteral("This application resizes .bmp, .jpg and .gif files, and saves them as .jpg "
                             "files in a new folder. An entire folder of images is resized in a single "
                             "operation."),
              true);
    lblDisclaimer =
        label(QStringLiteral("Copyright \u00A9 2026 the Folvane developers. Folvane and the Kestrix "
                             "engine are provided as they are, without warranty of any kind."),
              true);
    Label1 = label(QStringLiteral("Warning: this program is protected by copyright law. Reproducing or "
                                  "distributing it without permission is not allowed."),
                   true);
    lblURL = label(QStringLiteral("Visit us at %1").arg(QString::fromUtf8(kMakerWebAddress)), false);
    lblURL->setCursor(Qt::PointingHandCursor);
    lblURL->setToolTip(QStringLiteral("Click to visit the makers of Folvane"));
    QPalette link = lblURL->palette();
    link.setColor(QPalette::WindowText, Qt::blue);
    lblURL->setPalette(link);
    lblURL->installEventFilter(this);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, [this] { StartSysInfo(); });

    // Laid out by the font's measures, so that no text is clipped whatever
    // the desktop's font; the box takes the size its texts need.
    auto* heading = new QVBoxLayout;
    for (QLabel* l : {lblTitle, lblVersion, lblDescription}) heading->addWidget(l);
    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(heading, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdSysInfo);
    buttons->addWidget(cmdOK);
    auto* box = new QVBoxLayout(this);
    box->setSizeConstraint(QLayout::SetFixedSize);
    box->addLayout(top);
    box->addWidget(separator());
    for (QLabel* l : {lblDisclaimer, Label1, lblURL}) box->addWidget(l);
    box->addWidget(separator());
    box->addLayout(buttons);
    FitTextWidth();
    InstallButtonKeys(this);
    Form_Load();
}

void frmAbout::FitTextWidth()
{
    // Wrapped texts get lines of about sixty characters of the present font.
    const int width = QFontMetrics(font()).averageCharWidth() * 60;
    lblDescription->setMinimumWidth(width - 44);
    for (QLabel* l : {lblDisclaimer, Label1}) l->setMinimumWidth(width);
}

void frmAbout::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) FitTextWidth();
    QDialog::changeEvent(event);
}

void frmAbout::Form_Load() { lblVersion->setText(QString::fromStdString(VersionText(FOLVANE_VERSION))); }

void frmAbout::StartSysInfo()
{
    for (const std::string& program : SystemInfoPrograms()) {
        const QString path = QStandardPaths::findExecutable(QString::fromStdString(program));
        if (!path.isEmpty() && QProcess::startDetached(path, {})) return;
    }
    Dialogs().ShowMessage("System Information Is Unavailable At This Time", kProgramTitle,
                          MessageStyle::Plain);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    // Only a left click released on the label opens the page: a press
    // dragged off it, or another button, does nothing.
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (watched == lblURL && (press || event->type() == QEvent::MouseButtonRelease)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            const bool pressed = urlPressed_;
            urlPressed_ = press;
            if (pressed && !press && lblURL->rect().contains(mouse->position().toPoint()))
                OpenWebPage(kMakerWebAddress);
        }
    }
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
