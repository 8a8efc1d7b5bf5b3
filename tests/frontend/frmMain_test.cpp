// The main window and its boxes driven as a person would, with the dialogs
// scripted and recorded unless a test shows the real ones.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <array>
#include <atomic>
#include <semaphore>
#include <tuple>
#include <utility>

#include "frontend/QtDialogs.h"
#include "frontend/frmAbout.h"
#include "frontend/frmMain.h"
#include "frontend/modShared.h"
#include "frontend/modStartup.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WindowDriver.h"

using namespace folvane;
using Strings = std::vector<std::string>;

namespace {

bool OnUiThread() { return QThread::currentThread() == qApp->thread(); }

// Plays the person at the next modal box or menu that is a Widget, once up.
template <typename Widget>
void WhenUp(QTimer& timer, std::function<void(Widget*)> act)
{
    QObject::connect(&timer, &QTimer::timeout, [&timer, act] {
        QWidget* up = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                        : QApplication::activeModalWidget();
        if (auto* widget = qobject_cast<Widget*>(up); widget && widget->isVisible()) {
            timer.stop();
            act(widget);
        }
    });
    timer.start(5);
}

// Holds each picture until the test lets it go (calls on the user-interface thread are only counted).
class GatedEngine : public kx::batch::Engine {
public:
    bool Resize(kx::batch::Method method, const std::string& in, const std::string& out,
                const kx::batch::Sizes& sizes, int32_t quality) override
    {
        ++(OnUiThread() ? callsOnUiThread : arrived);
        if (!OnUiThread()) gate.acquire();
        return inner->Resize(method, in, out, sizes, quality);
    }
    std::atomic<int> arrived{0}, callsOnUiThread{0};
    std::counting_semaphore<> gate{0};
    kx::batch::Engine* inner = nullptr;
};

class UrlCatcher : public QObject {
    Q_OBJECT
public slots:
    void Open(const QUrl& url) { opened.push_back(url.toString()); }

public:
    std::vector<QString> opened;
};

// The main window as the program shows it, over a RecordingEngine.
class MainWindow : public kxtest::DialogsTest {
protected:
    void SetUp() override
    {
        DialogsTest::SetUp();
        Open(engine);
    }
    // Replaces the window by an active one over `other`, which must outlive it.
    void Open(IResizeEngine& other)
    {
        window.reset();  // one window shows the meter at a time
        window = std::make_unique<frmMain>(other);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    // Chooses `folder` with the Browse button and types height 480, width 640.
    void ReadyToStart(const std::string& folder = "/home/ann/Photos")
    {
        dialogs.folder = folder;
        window->CmdBrowse->click();
        window->txtHeight->setText("480");
        window->txtWidth->setText("640");
    }
    // The pictures of step markers 1 to 4 and of the help, as digits: "16781".
    std::string StepPictures() const
    {
        std::string digits;
        for (QLabel* l : {window->ImgNo1, window->ImgNo2, window->ImgNo3, window->ImgNo4, window->imgHelp})
            digits += std::to_string(window->PictureOf(l));
        return digits;
    }
    // The checked method boxes, then per size box "H", "W", "P" with its labels
    // enabled, "-" all disabled, "?" mixed: "3 -W-".
    std::string SizeBoxes() const
    {
        std::string state;
        for (int i = 0; i < 5; ++i)
            if (window->chkMethod[i]->isChecked()) state += std::to_string(i);
        state += " ";
        const frmMain& w = *window;
        const QWidget* boxes[] = {w.txtHeight,  w.lblHeight,     w.lblPixels1, w.txtWidth,   w.lblWidth,
                                  w.lblPixels2, w.txtPercentage, w.lblPercent, w.lblPercSymb};
        for (int row = 0, on = 0; row < 3; ++row, on = 0) {
            for (int i = 0; i < 3; ++i) on += boxes[3 * row + i]->isEnabled();
            state += on == 3 ? "HWP"[row] : on == 0 ? '-' : '?';
        }
        return state;
    }

    kxtest::RecordingEngine engine;
    std::unique_ptr<frmMain> window;
};

}  // namespace

TEST_F(MainWindow, StartsAtStepOneWithMethodZeroAndItsBoxesAreExclusive)
{
    EXPECT_EQ(window->windowTitle(), "Folvane...");
    EXPECT_EQ(window->size(), QSize(526, 398));  // 7890 x 5970 twips
    EXPECT_EQ(SizeBoxes(), "0 HW-");
    EXPECT_EQ(window->txtHeight->text() + window->txtWidth->text() + window->txtPercentage->text(), "000");
    EXPECT_TRUE(window->CmdBrowse->hasFocus());
    EXPECT_EQ(window->chkMethod[0]->text(), "Height && Width");
    // Clicking the checked box unchecks it and keeps its method.
    const std::tuple<int, const char*, QWidget*> clicks[] = {
        {3, "3 -W-", window->txtWidth},  {1, "1 --P", window->txtPercentage}, {4, "4 HW-", window->txtHeight},
        {2, "2 H--", window->txtHeight}, {3, "3 -W-", window->txtWidth},      {3, " -W-", nullptr}};
    for (const auto& [click, boxes, focus] : clicks) {
        window->chkMethod[click]->click();
        QApplication::processEvents();
        EXPECT_EQ(window->ResizeMethod, click);
        EXPECT_EQ(SizeBoxes(), boxes);
        EXPECT_TRUE(!focus || focus->hasFocus()) << boxes;
    }
}

// The start checks the folder, then the method's fields; "0" or the root keeps it off.
TEST_F(MainWindow, TheStartChecksTheFolderThenEachFieldAndIsOffForAZeroOrTheRoot)
{
    // Method, height, width, percentage, the field the box names.
    const std::array<const char*, 5> cases[] = {
        {"0", "abc", "abc", "5", "Height"},     {"0", "480", "0", "5", "Width"},
        {"1", "480", "640", "0", "Percentage"}, {"2", "-5", "640", "0", "Height"},
        {"3", "abc", "5.5", "0", "Width"},      {"4", "480", "abc", "0", "Width"}};
    ReadyToStart("");  // the chooser was cancelled
    window->cmdProcess->click();
    EXPECT_EQ(std::exchange(dialogs.boxes, {}),
              Strings{"Image Folder...|Please enter the Folder with the Images in to Resize|48"});
    ReadyToStart();
    for (const auto& [method, height, width, percentage, field] : cases) {
        window->ResizeMethod = static_cast<int16_t>(method[0] - '0');
        window->txtHeight->setText(height);
        window->txtWidth->setText(width);
        window->txtPercentage->setText(percentage);
        window->cmdProcess_Click();
        EXPECT_EQ(std::exchange(dialogs.boxes, {}),
                  Strings{"Error...|Please enter a valid " + std::string(field) + " for the Images!|16"})
            << method;
    }
    // Only an enabled box holding exactly "0" counts; the percentage box is off.
    const std::pair<QString, bool> widths[] = {
        {"640", true}, {"0", false}, {"00", true}, {"", true}, {" 0", true}};
    window->txtHeight->setText("480");
    for (const auto& [width, startable] : widths) {
        window->txtWidth->setText(width);
        EXPECT_EQ(window->cmdProcess->isEnabled(), startable) << width.toStdString();
    }
    dialogs.folder = "/";
    window->CmdBrowse->click();
    QApplication::processEvents();
    EXPECT_EQ(dialogs.chooserTitle, "Please select a folder:");
    EXPECT_EQ(window->txtSourceFolder->text(), "/");
    EXPECT_FALSE(window->cmdProcess->isEnabled());
    EXPECT_TRUE(window->chkMethod[0]->hasFocus());
    dialogs.folder = "/home/ann/Tom & Jerry";  // shown literally, no access key
    window->CmdBrowse->click();
    EXPECT_TRUE(window->cmdProcess->isEnabled());
    EXPECT_EQ(window->txtSourceFolder->text(), "/home/ann/Tom & Jerry");
    EXPECT_EQ(window->txtSourceFolder->textFormat(), Qt::PlainText);
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(MainWindow, EachStepShowsItsPicturesAndStepFourTheJobWordForWord)
{
    const std::pair<QWidget*, const char*> steps[] = {
        {window->chkMethod[2], "52782"}, {window->txtHeight, "56383"}, {window->cmdProcess, "56744"},
        {window->CmdBrowse, "16781"},    {window->txtWidth, "56383"},  {window->chkMethod[0], "52782"}};
    ReadyToStart();
    for (const auto& [focus, pictures] : steps) {
        focus->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        EXPECT_EQ(StepPictures(), pictures);
        // Step 4 alone shows the meter and the job.
        EXPECT_EQ(window->fraMeter->isVisible() + window->txtParam->isVisible(),
                  focus == window->cmdProcess ? 2 : 0)
            << pictures;
    }
    const auto summary = [&](int box) {
        for (int i = 0; i < 5; ++i) window->chkMethod[i]->setChecked(i == box);
        window->NumberFour();
        return window->txtParam->text().toStdString();
    };
    window->txtPercentage->setText("50");
    window->txtWidth->setText("abc");  // texts as typed, even ones the start would refuse
    const char* summaries[] = {"Height & Width, abc x 480 pixels.", "Percentage enlargment/reduction, 50%.",
                               "Scale to Height, 480 pixels.", "Scale to width, abc pixels.",
                               "Maximum allowed size = abc x 480 pixels."};
    for (int box = 0; box < 5; ++box) EXPECT_EQ(summary(box), summaries[box]);
    EXPECT_EQ(window->txtDestFolder->text(), "/home/ann/Photos/Resized");
}

// A run over the program's own engine with the real boxes: the workers' reports
// and "Done!" come to this thread one at a time while their thread waits.
TEST_F(MainWindow, ARunMovesTheMeterTakesNoInputAndItsRealBoxesAnswerBack)
{
    kxtest::TempDir dir;
    kxtest::EncodeJpegFile(dir / "a.jpg", {8, 8, std::vector<uint8_t>(8 * 8 * 3, 99)}, 90, 2);
    // A GIF screen 8 wide and 0 high: scaled to a height, a division by zero.
    for (const char* name : {"b.gif", "c.gif"})
        kxtest::WriteFileBytes(dir / name, {'G', 'I', 'F', '8', '9', 'a', 8, 0, 0, 0, 0x80, 0, 0});
    ASSERT_TRUE(CreateEngine([](std::string* why) { return EngineLibrary::LoadFrom(KESTRIX_LIBRARY, why); }));
    GatedEngine gated;
    gated.inner = objEngine().methods.get();
    Open(gated);
    ReadyToStart(dir.Path());
    window->chkMethod[2]->click();
    QtDialogs real(window.get());
    SetDialogs(&real);

    // With three files the column grows 1577 twips a step.
    auto step = [](int k) { return TwipsToPixels(6210, 5360 - 1577 * k, 280, 160 + 1577 * k); };
    int ticks = 0, released = 0, mostOpen = 0;
    bool triedInput = false, closed = true;
    std::vector<QString> seen;
    QPointer<QMessageBox> clicked;  // null once the box is gone
    // Answers each box, tries the window once, lets each picture go once the step before it shows.
    QTimer person;
    QObject::connect(&person, &QTimer::timeout, [&] {
        const QList<QMessageBox*> boxes = window->findChildren<QMessageBox*>();
        mostOpen = std::max<int>(mostOpen,
                                 std::count_if(boxes.begin(), boxes.end(), std::mem_fn(&QWidget::isVisible)));
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (box == clicked) ADD_FAILURE() << "the click went nowhere: " << box->text().toStdString();
            if (box == clicked) return box->done(0);
            clicked = box;
            // With the window's caption: the meter is shown before each box.
            seen.push_back(box->windowTitle() + "|" + box->text() + "|" + QString::number(box->icon()) + " " +
                           window->lblWorking->text());
            // Room for the title beside the window's icon and its buttons.
            const QFontMetrics metrics(QApplication::font());
            EXPECT_GE(box->width(), metrics.horizontalAdvance(box->windowTitle()) + 6 * metrics.height());
            QAbstractButton* button = box->button(seen.size() == 1 ? QMessageBox::No : QMessageBox::Yes);
            return QTest::mouseClick(button ? button : box->button(QMessageBox::Ok), Qt::LeftButton);
        }
        if (!window->Running() || gated.arrived == 0) return;
        ++ticks;
        if (!triedInput) {
            triedInput = true;
            QTest::keyClick(window->txtHeight, Qt::Key_9);
            QTest::mouseClick(window->chkMethod[3], Qt::LeftButton);
            closed = window->close();
            return;
        }
        if (released < 3 && window->fraMeter->geometry() == step(released)) {
            ++released;
            gated.gate.release();
        }
        if (ticks == 20000) {  // never hang, whatever went wrong
            ADD_FAILURE() << "the meter never reached step " << released;
            gated.gate.release(3);
        }
    });
    person.start(1);
    window->cmdProcess->click();  // No does nothing: not even the Resized folder
    EXPECT_EQ(dir.List(), (Strings{"a.jpg", "b.gif", "c.gif"}));
    window->cmdProcess->click();

    EXPECT_EQ(released, 3);  // each step shown while the run went on
    // The typing, the click and the close all went nowhere.
    EXPECT_FALSE(closed);
    EXPECT_EQ(SizeBoxes(), "2 H--");
    EXPECT_EQ(window->txtHeight->text(), "480");
    const QString folder = QString::fromStdString(dir.Path());
    const QString question = "Would you like to continue...|All the images in " + folder +
                             "\nwill be resized and put in " + folder +
                             "/Resized|4";  // QMessageBox::Question
    const QString report =
        "Error...|Error in : ResizeMaxHeight\nError Number : 11\nError Desc : Division by zero|3";
    EXPECT_EQ(seen, (std::vector<QString>{question + " Ready!", question + " Ready!", report + " Working...",
                                          report + " Working...", "Folvane|Done!|0 Done!"}));
    EXPECT_EQ(mostOpen, 1);
    EXPECT_EQ(gated.callsOnUiThread, 0);
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "Resized/a.jpg").height, 480);
    // The last meter change of the run is shown once it is over.
    EXPECT_EQ(window->lblWorking->text(), "Ready!");
    EXPECT_EQ(window->fraMeter->geometry(), step(0));
    EXPECT_FALSE(window->Running());
    person.stop();
    SetDialogs(&dialogs);
    window.reset();                             // before its engine
    QTimer::singleShot(0, [] { CloseApp(); });  // as the program ends: the engine goes, then the loop
    QApplication::exec();
    EXPECT_FALSE(objEngine());
}

TEST_F(MainWindow, AccessKeysAndEnterFocusTheButtonBeforePressingIt)
{
    const std::tuple<QWidget*, Qt::Key, Qt::KeyboardModifiers> presses[] = {
        {window->txtHeight, Qt::Key_P, Qt::AltModifier},
        {window->cmdProcess, Qt::Key_Return, Qt::NoModifier},
        {window->cmdProcess, Qt::Key_Enter, Qt::KeypadModifier}};
    ReadyToStart();
    // Whenever the press comes, step 4 must be on screen by then.
    dialogs.watch = [this] { return StepPictures() + (window->cmdProcess->hasFocus() ? " focused" : ""); };
    for (const auto& [from, key, modifiers] : presses) {
        from->setFocus(Qt::TabFocusReason);
        const size_t before = dialogs.boxes.size();
        QTest::keyClick(from, key, modifiers);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.boxes.size() > before; }, 1000)) << key;
    }
    EXPECT_EQ(dialogs.boxes, Strings(3, "Would you like to continue...|All the images in "
                                        "/home/ann/Photos\r\nwill be resized and put in "
                                        "/home/ann/Photos/Resized|36 56744 focused"));
}

TEST_F(MainWindow, SizeBoxesSelectAllOnlyOnARealFocusAndTakeAPasteOfAnyLength)
{
    window->txtWidth->setText("123456");
    QTest::mouseClick(window->txtWidth, Qt::LeftButton, {}, QPoint(5, 5));
    QApplication::processEvents();
    EXPECT_EQ(window->txtWidth->selectedText(), "123456");
    window->txtWidth->setSelection(1, 3);
    QTimer person;
    WhenUp<QMenu>(person, [](QMenu* menu) { QTest::keyClick(menu, Qt::Key_C); });  // "&Copy"
    // A right click, as the platform reports it.
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(4, 4),
                                 window->txtWidth->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(window->txtWidth, &rightClick);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !person.isActive() && !QApplication::activePopupWidget(); }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "234");
    EXPECT_EQ(window->txtWidth->selectedText(), "234");
    QGuiApplication::clipboard()->setText(QString(40000, '7'));
    QTest::keyClick(window->txtWidth, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(window->txtWidth->text().size(), 40003);  // "1" + the paste + "56", less "234"
}

TEST_F(MainWindow, LongValuesShowWholeLinesEndInAnEllipsisAndKeepTheirTextAsToolTip)
{
    const QString words = "/home/ann/Photos/Our summer holiday at the sea with the whole family and the dog, "
                          "second week, camera two, the good ones only";
    for (const QString& folder : {QString("/home/ann/Photos"), words, "/" + QString(300, 'x')}) {
        ReadyToStart(folder.toStdString());
        window->cmdProcess->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        for (ValueLabel* label : {window->txtSourceFolder, window->txtDestFolder}) {
            const QString full = label->text();
            const QStringList lines = label->ShownLines();
            const QFontMetrics metrics(label->font());
            // Whole lines only, none wider than the label.
            EXPECT_LE((lines.size() - 1) * metrics.lineSpacing() + metrics.height(),
                      label->contentsRect().height());
            for (const QString& line : lines)
                EXPECT_LE(metrics.horizontalAdvance(line), label->contentsRect().width());
            const bool cut = full.size() > 100;  // more than its four lines hold: cut and marked
            const QString shown = lines.join("");
            EXPECT_EQ(shown, cut ? full.left(shown.size() - 1) + QChar(0x2026) : full);
            EXPECT_GE(shown.size(), cut ? 62 : full.size());
            QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), label->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(label, &hover);
            EXPECT_EQ(QToolTip::text(), full);
        }
    }
}

// The About box holds every text at large desktop fonts, and its web label
// opens only on a left click released on it.
TEST_F(MainWindow, AboutBoxHoldsItsTextsAndOpensThePageOnALeftClick)
{
    // The box made for a window that is gone once crashed a second window.
    frmAbout::Instance(window.get());
    Open(engine);
    frmAbout& about = frmAbout::Instance(window.get());
    const QFont desktop = QApplication::font();
    QFont large = desktop;  // the hardest case for a layout made at the usual size
    large.setPointSizeF(16);
    QApplication::setFont(large);
    about.show();
    for (int round = 0; round < 5; ++round) QApplication::processEvents();  // layouts settle a level a round
    for (QLabel* label : about.findChildren<QLabel*>()) {
        const QRect area = label->contentsRect();
        const int flags = label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine;
        const QRect need =
            label->fontMetrics().boundingRect(QRect(0, 0, area.width(), 9999), flags, label->text());
        EXPECT_TRUE(need.height() <= area.height() && need.width() <= area.width() &&
                    about.rect().contains(label->geometry()))
            << label->text().toStdString();
    }
    EXPECT_GT(about.cmdOK->geometry().top(), about.lblURL->geometry().bottom());
    QApplication::setFont(desktop);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Open");
    // Only the last, a left click released on the label, opens the page.
    const QPoint on = about.lblURL->rect().center(), off(on.x(), -30);
    const std::pair<Qt::MouseButton, QPoint> clicks[] = {
        {Qt::RightButton, on}, {Qt::MiddleButton, on}, {Qt::LeftButton, off}, {Qt::LeftButton, on}};
    for (const auto& [button, release] : clicks) {
        QTest::mousePress(about.lblURL, button, {}, on);
        QTest::mouseRelease(about.lblURL, button, {}, release);
        EXPECT_EQ(catcher.opened.size(), size_t(button == Qt::LeftButton && release == on)) << button;
    }
    EXPECT_EQ(catcher.opened, std::vector<QString>{kMakerWebAddress});
    QDesktopServices::unsetUrlHandler("https");
    about.hide();
}

TEST_F(MainWindow, FolderChooserOpensAtTheLastFolderElsePicturesElseHome)
{
    // A folder made first ("-": removed), the folder chosen ("" cancels, keeping the last), where it opened.
    const std::array<const char*, 3> cases[] = {{"", "", ""},
                                                {"Pictures", "", "/Pictures"},
                                                {"Pictures/a", "/Pictures/a", "/Pictures"},
                                                {"", "", "/Pictures/a"},
                                                {"-Pictures/a", "", "/Pictures"}};
    kxtest::TempDir home;
    const QString root = QString::fromStdString(home.Path());
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString(home.Path()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home / ".config"));
    QtDialogs real(window.get());
    SetDialogs(&real);
    for (const auto& [make, choose, openedAt] : cases) {
        make[0] == '-' ? QDir(root).rmdir(make + 1) : QDir().mkpath(root + "/" + make);
        QString at;
        QTimer person;
        WhenUp<QFileDialog>(person, [&](QFileDialog* chooser) {
            at = chooser->directory().absolutePath();
            if (!choose[0]) return chooser->reject();
            chooser->setDirectory(root + choose);
            static_cast<QDialog*>(chooser)->accept();  // the Choose button
        });
        window->CmdBrowse->click();
        EXPECT_EQ(at, root + openedAt) << make;
        EXPECT_EQ(window->txtSourceFolder->text(), choose[0] ? root + choose : QString());
    }
    SetDialogs(&dialogs);
    qputenv("HOME", oldHome);
    oldConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", oldConfig);
}

TEST(MeterGeometry, TwipsBecomePixelsWithTheBottomEdgeFixed)
{
    EXPECT_EQ(TwipsToPixels(6210, 5360, 280, 160), QRect(QPoint(414, 357), QPoint(432, 367)));
    EXPECT_EQ(TwipsToPixels(6210, 630, 280, 4890), QRect(QPoint(414, 42), QPoint(432, 367)));
}

TEST_F(MainWindow, MissingEngineEndsInTheMessage)
{
    EXPECT_FALSE(CreateEngine([](std::string*) { return std::optional<EngineLibrary>(); }));
    EXPECT_EQ(dialogs.boxes, Strings{"Error...|The Kestrix DLL cannot be found, Closing Application|16"});
    EXPECT_FALSE(objEngine());
}

#include "frmMain_test.moc"
