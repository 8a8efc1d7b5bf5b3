#include "frontend/frmMain.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <exception>
#include <limits>
#include <thread>
#include <utility>

#include "frontend/ButtonKeys.h"
#include "frontend/Dialogs.h"
#include "frontend/frmAbout.h"
#include "frontend/modFolderBrowser.h"
#include "frontend/modShared.h"

// The pictures live in a static library: their registration must be called
// for, or the linker leaves it out.
static void LoadPictureResources() { Q_INIT_RESOURCE(pictures); }

namespace folvane {

namespace {

const QColor kPurple(128, 0, 128);

// The method of a method box.
const kx::batch::MethodSpec& RowOf(int index)
{
    return kx::batch::SpecOf(*kx::batch::MethodFromNumber(index));
}

QFont SansFont(double points, bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QString IcoResource(int picture)
{
    if (picture >= 1 && picture <= 4) return QStringLiteral(":/pictures/step%1_current.png").arg(picture);
    if (picture >= 5 && picture <= 8) return QStringLiteral(":/pictures/step%1_other.png").arg(picture - 4);
    return QStringLiteral(":/pictures/browse_folder.png");
}

QString JpgResource(int picture)
{
    if (picture == 5) return QStringLiteral(":/pictures/banner.jpg");
    return QStringLiteral(":/pictures/help_step%1.jpg").arg(picture);
}

template <typename Body>
void Guarded(const char* procedure, Body&& body)
{
    try {
        body();
    } catch (...) {
        ReportCurrentError(procedure);
    }
}

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::HoverEnter:
    case QEvent::HoverLeave:
    case QEvent::HoverMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: return true;
    default: return false;
    }
}

// Swallows, for as long as it lives, the user's input to one window and its
// controls, whichever way it arrives. Message boxes are windows of their own
// and keep theirs.
class InputBlocker : public QObject {
public:
    explicit InputBlocker(QWidget* window)
        : window_(window)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~InputBlocker() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!IsUserInput(event->type()) || !Blocked(watched)) return false;
        // An accepted shortcut override claims the key for the focus
        // control, whose key press is swallowed in turn: no shortcut fires.
        event->accept();
        return true;
    }

private:
    bool Blocked(const QObject* target) const
    {
        if (target->isWidgetType()) return static_cast<const QWidget*>(target)->window() == window_;
        return target->isWindowType() && target == window_->windowHandle();
    }
    QWidget* window_;
};

}  // namespace

QRect TwipsToPixels(int left, int top, int width, int height)
{
    auto px = [](int twips) { return static_cast<int>(std::lround(twips / 15.0)); };
    return QRect(QPoint(px(left), px(top)), QPoint(px(left + width) - 1, px(top + height) - 1));
}

frmMain::frmMain(IResizeEngine& engine, std::function<void()> close, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , engine_(engine)
    , close_(std::move(close))
{
    LoadPictureResources();
    setWindowTitle(QStringLiteral("Folvane..."));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/folvane.png")));
    setFont(SansFont(8.25, false));
    resize(TwipsToPixels(0, 0, 7890, 5970).size());
    BuildControls();
    Form_Load();
    // Centred on the screen when first shown.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

frmMain::~frmMain() = default;

void frmMain::BuildControls()
{
    auto label = [this](const QString& caption, QRect where) {
        auto* l = new QLabel(caption, this);
        l->setGeometry(where);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    auto picture = [this](QRect where) {
        auto* l = new QLabel(this);
        l->setGeometry(where);
        return l;
    };
    auto sizeBox = [this](QRect where) {
        auto* box = new QLineEdit(QStringLiteral("0"), this);
        box->setGeometry(where);
        box->setMaxLength(std::numeric_limits<int>::max());  // no limit of its own
        box->installEventFilter(this);
        return box;
    };
    auto valueLabel = [this](QRect where) {
        auto* l = new ValueLabel(this);
        l->setGeometry(where);
        l->setAutoFillBackground(true);
        QPalette p = l->palette();
        p.setColor(QPalette::Window, Qt::white);
        p.setColor(QPalette::WindowText, kPurple);
        l->setPalette(p);
        return l;
    };
    const QFont header = SansFont(13.5, true);

    ImgNo1 = picture(TwipsToPixels(120, 120, 480, 480));
    lblHeader1 = label(QStringLiteral("Select a Folder..."), TwipsToPixels(480, 240, 2535, 375));
    CmdBrowse = new QPushButton(this);
    CmdBrowse->setGeometry(TwipsToPixels(3000, 120, 495, 450));
    CmdBrowse->setToolTip(QStringLiteral("Choose the folder"));
    ImgNo2 = picture(TwipsToPixels(120, 840, 480, 480));
    lblHeader2 = label(QStringLiteral("Select Method:"), TwipsToPixels(480, 960, 3855, 375));
    for (int i = 0; i < 5; ++i) {
        // "&" would mark the box's key.
        chkMethod[i] =
            new QCheckBox(QString::fromUtf8(RowOf(i).Caption).replace('&', QStringLiteral("&&")), this);
        chkMethod[i]->setGeometry(TwipsToPixels(960, 1440 + 360 * i, 1935, 375));
        chkMethod[i]->installEventFilter(this);
        connect(chkMethod[i], &QCheckBox::clicked, this, [this, i] { chkMethod_Click(i); });
    }
    chkMethod[0]->setChecked(true);
    ImgNo3 = picture(TwipsToPixels(120, 3360, 480, 480));
    lblHeader3 = label(QStringLiteral("Set Sizes:"), TwipsToPixels(480, 3480, 2295, 375));
    lblHeight = label(QStringLiteral("Height"), TwipsToPixels(240, 4005, 1455, 240));
    txtHeight = sizeBox(TwipsToPixels(1800, 3960, 615, 285));
    lblPixels1 = label(QStringLiteral("Pixels"), TwipsToPixels(2520, 4005, 615, 240));
    lblWidth = label(QStringLiteral("Width"), TwipsToPixels(240, 4365, 1455, 240));
    txtWidth = sizeBox(TwipsToPixels(1800, 4320, 615, 285));
    lblPixels2 = label(QStringLiteral("Pixels"), TwipsToPixels(2520, 4365, 615, 240));
    lblPercent = label(QStringLiteral("Percentage"), TwipsToPixels(240, 4725, 1455, 240));
    txtPercentage = sizeBox(TwipsToPixels(1800, 4680, 615, 285));
    lblPercSymb = label(QStringLiteral("%"), TwipsToPixels(2520, 4725, 615, 240));
    for (QLabel* l : {lblPercent, lblPercSymb}) l->setEnabled(false);
    txtPercentage->setEnabled(false);
    ImgNo4 = picture(TwipsToPixels(120, 5280, 480, 480));
    lblHeader4 = label(QStringLiteral("Go!"), TwipsToPixels(480, 5400, 975, 375));
    cmdProcess = new QPushButton(QStringLiteral("&Process Images!"), this);
    cmdProcess->setGeometry(TwipsToPixels(1200, 5400, 2295, 495));
    cmdProcess->setEnabled(false);
    cmdProcess->installEventFilter(this);
    for (QLabel* l : {lblHeader1, lblHeader2, lblHeader3, lblHeader4}) l->setFont(header);

    imgHelp = picture(TwipsToPixels(3600, 120, 3150, 5745));
    imgHelp->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    imgHelp->setLineWidth(2);
    imgHelp->setAlignment(Qt::AlignCenter);

    lblWorking = label(QStringLiteral("Ready!"), TwipsToPixels(3720, 240, 2175, 495));
    lblWorking->setFont(header);
    lblJob[0] = label(QStringLiteral("Job Details:"), TwipsToPixels(3720, 720, 1215, 255));
    lblJob[0]->setFont(SansFont(8.25, true));
    lblJob[1] = label(QStringLiteral("Source Folder:"), TwipsToPixels(3720, 1200, 2295, 255));
    txtSourceFolder = valueLabel(TwipsToPixels(3720, 1440, 2055, 855));
    lblJob[2] = label(QStringLiteral("Destination Folder:"), TwipsToPixels(3720, 2400, 1935, 255));
    txtDestFolder = valueLabel(TwipsToPixels(3720, 2640, 2055, 855));
    lblJob[3] = label(QStringLiteral("Job Parameters:"), TwipsToPixels(3720, 3600, 1695, 255));
    txtParam = valueLabel(TwipsToPixels(3720, 3840, 1695, 855));
    fraMeter = new QFrame(this);
    fraMeter->setFrameStyle(QFrame::NoFrame);
    fraMeter->setAutoFillBackground(true);
    QPalette meterPalette = fraMeter->palette();
    meterPalette.setColor(QPalette::Window, kPurple);
    fraMeter->setPalette(meterPalette);
    ShowMeter(meter_.CurrentMeter(), false);

    imgBanner = picture(TwipsToPixels(6960, 120, 840, 5250));
    cmdAbout = new QPushButton(QStringLiteral("&About..."), this);
    cmdAbout->setGeometry(TwipsToPixels(6840, 5520, 975, 375));

    stepMarkers_ = {ImgNo1, ImgNo2, ImgNo3, ImgNo4};
    for (QLabel* l : {ImgNo1, ImgNo2, ImgNo3, ImgNo4, imgHelp, imgBanner, lblHeader1, lblHeader2, lblHeader3,
                      lblHeader4, lblHeight, lblPixels1, lblWidth, lblPixels2, lblPercent, lblPercSymb})
        l->setFocusPolicy(Qt::NoFocus);

    // Focus order, skipping disabled controls.
    QWidget* order[] = {CmdBrowse, chkMethod[0], chkMethod[1],  chkMethod[2], chkMethod[3], chkMethod[4],
                        txtHeight, txtWidth,     txtPercentage, cmdProcess,   cmdAbout};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
    CmdBrowse->installEventFilter(this);

    connect(CmdBrowse, &QPushButton::clicked, this, [this] { CmdBrowse_Click(); });
    connect(cmdProcess, &QPushButton::clicked, this, [this] { cmdProcess_Click(); });
    connect(cmdAbout, &QPushButton::clicked, this, [this] { cmdAbout_Click(); });
    connect(txtHeight, &QLineEdit::textChanged, this, [this] { SizeBox_Change("txtHeight_Change"); });
    connect(txtWidth, &QLineEdit::textChanged, this, [this] { SizeBox_Change("txtWidth_Change"); });
    connect(txtPercentage, &QLineEdit::textChanged, this, [this] { SizeBox_Change("txtPercentage_Change"); });
    InstallButtonKeys(this);
    CmdBrowse->setFocus();
}

void frmMain::Form_Load()
{
    Guarded("Form_Load", [this] {
        NumberOne();
        SetJpgPicture(imgBanner, 5);
        CmdBrowse->setIcon(QIcon(IcoResource(9)));
        CmdBrowse->setIconSize(QSize(16, 16));
    });
}

int frmMain::PictureOf(const QLabel* picture) const
{
    for (const auto& [control, number] : pictures_)
        if (control == picture) return number;
    return 0;
}

void frmMain::SetPicture(QLabel* target, const QString& resource, int picture)
{
    target->setPixmap(QPixmap(resource));
    // A picture control takes its picture's size; the help area keeps its border.
    if (target != imgHelp) target->resize(target->pixmap().size());
    for (auto& entry : pictures_)
        if (entry.first == target) {
            entry.second = picture;
            return;
        }
    pictures_.emplace_back(target, picture);
}

void frmMain::SetIcoPicture(QLabel* target, int picture)
{
    SetPicture(target, IcoResource(picture), picture);
}

void frmMain::SetJpgPicture(QLabel* target, int picture)
{
    SetPicture(target, JpgResource(picture), picture);
}

void frmMain::ShowStep(int step)
{
    MeterStuff(step == 4);
    for (int j = 1; j <= 4; ++j) SetIcoPicture(stepMarkers_[j - 1], j == step ? j : j + 4);
    SetJpgPicture(imgHelp, step);
    if (step != 4) return;

    txtDestFolder->setText(txtSourceFolder->text() + QStringLiteral("/Resized"));
    for (int i = 0; i < 5; ++i) {
        if (!chkMethod[i]->isChecked()) continue;
        txtParam->setText(QString::fromStdString(
            kx::batch::SummaryOf(RowOf(i).method, txtWidth->text().toStdString(),
                                 txtHeight->text().toStdString(), txtPercentage->text().toStdString())));
        break;
    }
}

void frmMain::NumberOne()
{
    Guarded("NumberOne", [this] { ShowStep(1); });
}
void frmMain::NumberTwo()
{
    Guarded("NumberTwo", [this] { ShowStep(2); });
}
void frmMain::NumberThree()
{
    Guarded("NumberThree", [this] { ShowStep(3); });
}
void frmMain::NumberFour()
{
    Guarded("NumberFour", [this] { ShowStep(4); });
}

void frmMain::MeterStuff(bool PLVVal)
{
    Guarded("MeterStuff", [this, PLVVal] {
        QWidget* panel[] = {fraMeter,  lblWorking,      lblJob[0],     lblJob[1], lblJob[2],
                            lblJob[3], txtSourceFolder, txtDestFolder, txtParam};
        for (QWidget* w : panel) {
            w->setVisible(PLVVal);
            if (PLVVal) w->raise();  // the panel lies over the backdrop
        }
    });
}

void frmMain::ShowMeter(const MeterState& meter, bool repaintNow)
{
    if (QThread::currentThread() == thread()) {
        ApplyMeter(meter, repaintNow);
        return;
    }
    // Calls come one at a time in the order the meter changed, so the newest
    // is the one to show; the ones in between need not be.
    bool post = false;
    {
        std::lock_guard lock(meterMutex_);
        post = !postedMeter_;
        postedMeter_ = meter;
    }
    if (post)
        QMetaObject::invokeMethod(
            this, [this] { ShowPostedMeter(); }, Qt::QueuedConnection);
}

void frmMain::ShowPostedMeter()
{
    std::optional<MeterState> meter;
    {
        std::lock_guard lock(meterMutex_);
        meter.swap(postedMeter_);
    }
    // The event loop is turning, so the ordinary update paints it.
    if (meter) ApplyMeter(*meter, false);
}

void frmMain::ApplyMeter(const MeterState& meter, bool repaintNow)
{
    fraMeter->setGeometry(TwipsToPixels(6210, meter.Top, 280, meter.Height));
    lblWorking->setText(QString::fromStdString(meter.Caption));
    if (repaintNow) {
        // Whoever moves the meter on this thread may hold it a while: paint
        // now, not when the loop comes back.
        fraMeter->repaint();
        lblWorking->repaint();
    }
}

bool frmMain::ValidateEntries()
{
    bool result = false;
    Guarded("ValidateEntries", [&] {
        if (txtSourceFolder->text() == QStringLiteral("/")) return;  // the root is never a job
        for (QLineEdit* box : {txtHeight, txtWidth, txtPercentage})
            if (box->isEnabled() && box->text() == QStringLiteral("0")) return;
        result = true;
    });
    return result;
}

void frmMain::EnableInputBoxes(bool bHeight, bool bWidth, bool bPercentage)
{
    Guarded("EnableInputBoxes", [&] {
        for (QWidget* w : {static_cast<QWidget*>(txtPercentage), static_cast<QWidget*>(lblPercent),
                           static_cast<QWidget*>(lblPercSymb)})
            w->setEnabled(bPercentage);
        for (QWidget* w : {static_cast<QWidget*>(txtHeight), static_cast<QWidget*>(lblHeight),
                           static_cast<QWidget*>(lblPixels1)})
            w->setEnabled(bHeight);
        for (QWidget* w : {static_cast<QWidget*>(txtWidth), static_cast<QWidget*>(lblWidth),
                           static_cast<QWidget*>(lblPixels2)})
            w->setEnabled(bWidth);
    });
}

void frmMain::CmdBrowse_Click()
{
    Guarded("CmdBrowse_Click", [this] {
        txtSourceFolder->setText(QString::fromStdString(BrowseForFolder(static_cast<uintptr_t>(winId()))));
        cmdProcess->setEnabled(ValidateEntries());
        chkMethod[0]->setFocus();
    });
}

void frmMain::chkMethod_Click(int index)
{
    // The toolkit has flipped the clicked box already. Unchecking the others
    // is not a user choice, so it does not come back here.
    const bool clickedIsChecked = chkMethod[index]->isChecked();
    for (int i = 0; i < 5; ++i) {
        if (i == index)
            ResizeMethod = static_cast<int16_t>(index);
        else if (clickedIsChecked)
            chkMethod[i]->setChecked(false);
    }
    const kx::batch::MethodSpec& row = RowOf(index);
    EnableInputBoxes(row.UsesHeight, row.UsesWidth, row.UsesPercentage);
    // The first box the method uses.
    (row.UsesHeight ? txtHeight : row.UsesWidth ? txtWidth : txtPercentage)->setFocus();
}

void frmMain::SizeBox_GotFocus(QLineEdit* box, const char* procedure, bool entered)
{
    Guarded(procedure, [this, box, entered] {
        NumberThree();
        if (!entered) return;
        box->selectAll();
        // A mouse press places the cursor after the focus arrives: select
        // again once it has been handled, so typing always replaces the text.
        QTimer::singleShot(0, box, [box] {
            if (box->hasFocus()) box->selectAll();
        });
    });
}

void frmMain::SizeBox_Change(const char* procedure)
{
    Guarded(procedure, [this] { cmdProcess->setEnabled(ValidateEntries()); });
}

void frmMain::cmdProcess_Click()
{
    Guarded("cmdProcess_Click", [this] {
        const std::string folder = txtSourceFolder->text().toStdString();
        if (folder.empty()) {
            Dialogs().ShowMessage("Please enter the Folder with the Images in to Resize", "Image Folder...",
                                  MessageStyle::Exclamation);
            return;
        }
        if (!kx::batch::MethodFromNumber(ResizeMethod)) return;
        const kx::batch::MethodSpec& row = RowOf(ResizeMethod);
        const std::pair<bool, const char*> fields[] = {
            {row.UsesHeight, "Height"}, {row.UsesWidth, "Width"}, {row.UsesPercentage, "Percentage"}};
        const QLineEdit* boxes[] = {txtHeight, txtWidth, txtPercentage};
        for (size_t i = 0; i < std::size(fields); ++i)
            if (fields[i].first && !ValidNumberEntry(fields[i].second, boxes[i]->text().toStdString()))
                return;
        const std::string question =
            "All the images in " + folder + "\r\n" + "will be resized and put in " + folder + "/" + "Resized";
        if (Dialogs().ShowMessage(question, "Would you like to continue...", MessageStyle::Question) !=
            MessageAnswer::Yes)
            return;
        ResizeJob job;
        job.ResizeMethod = ResizeMethod;
        job.Height = txtHeight->text().toStdString();
        job.Width = txtWidth->text().toStdString();
        job.Percentage = txtPercentage->text().toStdString();
        RunWithoutInput([&] { ProcessFolder(folder, job, engine_, meter_); });
    });
}

void frmMain::RunWithoutInput(const std::function<void()>& work)
{
    if (running_) return;
    InputBlocker blocker(this);
    running_ = true;
    struct Finish {
        bool& running;
        ~Finish() { running = false; }
    } finish{running_};

    QEventLoop loop;
    std::atomic<bool> finished{false};
    std::exception_ptr failure;
    std::thread runner([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
        // Posted after the run's last meter change, so that is shown first.
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    // An application exit ends every loop of this thread at once; the run
    // may still be waiting for a box here, so keep turning until it is over.
    while (!finished) loop.processEvents(QEventLoop::WaitForMoreEvents);
    runner.join();
    ShowPostedMeter();
    if (failure) std::rethrow_exception(failure);
}

void frmMain::cmdAbout_Click() { frmAbout::Instance(this).exec(); }

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        // A box that kept the focus while a menu or another window was in
        // front has not been entered anew: its selection stays.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        ControlGotFocus(watched, reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason);
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::ControlGotFocus(QObject* control, bool entered)
{
    if (control == CmdBrowse)
        NumberOne();
    else if (control == txtHeight)
        SizeBox_GotFocus(txtHeight, "txtHeight_GotFocus", entered);
    else if (control == txtWidth)
        SizeBox_GotFocus(txtWidth, "txtWidth_GotFocus", entered);
    else if (control == txtPercentage)
        SizeBox_GotFocus(txtPercentage, "txtPercentage_GotFocus", entered);
    else if (control == cmdProcess)
        Guarded("cmdProcess_GotFocus", [this] { NumberFour(); });
    else
        for (QCheckBox* box : chkMethod)
            if (control == box) NumberTwo();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // Closing releases the engine the run is using: during a run the window
    // stays open, deaf to this as to all other input.
    if (running_) {
        event->ignore();
        return;
    }
    event->accept();
    if (close_) close_();
}

}  // namespace folvane
