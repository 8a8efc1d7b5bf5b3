// The main window and its boxes driven as a person would: clicks, focus,
// typing, access keys, context menus and the About box, with the dialogs
// scripted and recorded instead of shown unless a test shows the real ones.
#include <QAbstractButton>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QShortcut>
#include <QToolTip>
#include <atomic>
#include <semaphore>
#include <set>
#include <thread>

#include "QtDialogs.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "frmAbout.h"
#include "modStartup.h"

using namespace folvane;
using kxtest::OnUiThread;
using kxtest::WhenUp;

namespace {
// Holds every picture until the test lets it go, one per release. On the
// user-interface thread nobody could let it go; calls there are counted.
class GatedEngine : public kxtest::RecordingEngine {
public:
    bool Resize(kx::batch::Method method, const std::string& in, const std::string& out,
                const kx::batch::Sizes& sizes, int32_t quality) override
    {
        if (OnUiThread()) {
            ++callsOnUiThread;
        } else {
            ++arrived;
            gate.acquire();
        }
        return RecordingEngine::Resize(method, in, out, sizes, quality);
    }
    std::atomic<int> arrived{0}, callsOnUiThread{0};
    std::counting_semaphore<> gate{0};
};

// Shows no real box: records where each box was shown and how many of the
// asking threads had gone on by the time it closed. It turns the event loop
// while "open", as a box does, so that other requests can pile up.
class RecordingQtDialogs : public QtDialogs {
public:
    struct Box {
        std::string text;
        MessageStyle style;
        bool onUiThread;
        int goneOnAtClose;
    };
    std::vector<Box> boxes;
    int open = 0, mostOpen = 0, rings = 0, ringsOffUiThread = 0;
    std::atomic<int> goneOn{0};  // counted by the test's threads

protected:
    MessageAnswer ShowBox(const std::string& text, const std::string&, MessageStyle style) override
    {
        mostOpen = std::max(mostOpen, ++open);
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        boxes.push_back({text, style, OnUiThread(), goneOn.load()});
        --open;
        return style == MessageStyle::Question ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    void Ring() override
    {
        ++rings;
        if (!OnUiThread()) ++ringsOffUiThread;
    }
};

class UrlCatcher : public QObject {
    Q_OBJECT
public slots:
    void Open(const QUrl& url) { opened.push_back(url.toString()); }

public:
    std::vector<QString> opened;
};

using MainWindow = kxtest::WindowTest;
using StartUp = kxtest::DialogsTest;

const kxtest::Image kGrey{8, 8, std::vector<uint8_t>(8 * 8 * 3, 99)};

}  // namespace

TEST_F(MainWindow, StartsAtStepOneWithMethodZeroAndNothingToStart)
{
    EXPECT_EQ(window->windowTitle(), "Folvane...");
    EXPECT_EQ(window->size(), QSize(526, 398));  // 7890 x 5970 twips
    EXPECT_EQ(SizeBoxes(), "0 HW-");
    for (QLineEdit* box : {window->txtHeight, window->txtWidth, window->txtPercentage})
        EXPECT_EQ(box->text(), "0");
    EXPECT_FALSE(window->cmdProcess->isEnabled());
    EXPECT_TRUE(window->txtSourceFolder->text().isEmpty());
    EXPECT_TRUE(window->CmdBrowse->hasFocus());
    EXPECT_EQ(StepPictures(), "16781");
    EXPECT_FALSE(window->fraMeter->isVisible());
    EXPECT_EQ(window->lblWorking->text(), "Ready!");
    EXPECT_EQ(window->chkMethod[0]->text(), "Height && Width");
    EXPECT_EQ(window->PictureOf(window->imgBanner), 5);
}

TEST_F(MainWindow, MethodBoxesAreExclusiveAndChooseTheSizeBoxes)
{
    // Clicking the checked box unchecks it and keeps its method.
    const struct {
        int click;
        const char* boxes;
        QWidget* focus;
    } clicks[] = {{3, "3 -W-", window->txtWidth},
                  {1, "1 --P", window->txtPercentage},
                  {3, "3 -W-", window->txtWidth},
                  {3, " -W-", nullptr}};
    for (const auto& c : clicks) {
        window->chkMethod[c.click]->click();
        QApplication::processEvents();
        EXPECT_EQ(ResizeMethod, c.click);
        EXPECT_EQ(SizeBoxes(), c.boxes);
        EXPECT_TRUE(!c.focus || c.focus->hasFocus()) << c.boxes;
    }
}

TEST_F(MainWindow, ValidateEntriesLooksOnlyAtEnabledBoxesAndRefusesTheRoot)
{
    // Only an enabled box holding exactly "0" keeps the start off; the
    // disabled percentage box holds "0" throughout.
    const struct {
        QString width;
        bool startable;
    } cases[] = {{"640", true}, {"0", false}, {"00", true}, {"", true}, {" 0", true}};
    window->txtHeight->setText("480");
    for (const auto& c : cases) {
        window->txtWidth->setText(c.width);
        EXPECT_EQ(window->cmdProcess->isEnabled(), c.startable) << c.width.toStdString();
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

TEST_F(MainWindow, StartChecksTheFolderThenTheMethodsFieldsInOrder)
{
    struct Case {
        int method;
        QString height, width, percentage;
        std::string field;
    };
    const Case cases[] = {
        {0, "abc", "abc", "5", "Height"},     {0, "480", "0", "5", "Width"},
        {1, "480", "640", "0", "Percentage"}, {2, "-5", "640", "0", "Height"},
        {3, "abc", "5.5", "0", "Width"},      {4, "480", "abc", "0", "Width"},
    };
    ReadyToStart("");  // the chooser was cancelled
    window->cmdProcess->click();
    EXPECT_EQ(dialogs.boxes, std::vector<std::string>{
                                 "Image Folder...|Please enter the Folder with the Images in to Resize|48"});
    ReadyToStart();
    for (const Case& c : cases) {
        ResizeMethod = static_cast<int16_t>(c.method);
        window->txtHeight->setText(c.height);
        window->txtWidth->setText(c.width);
        window->txtPercentage->setText(c.percentage);
        dialogs.boxes.clear();
        window->cmdProcess_Click();
        EXPECT_EQ(dialogs.boxes, std::vector<std::string>{"Error...|Please enter a valid " + c.field +
                                                          " for the Images!|16"})
            << c.method;
    }
    EXPECT_TRUE(engine.calls.empty());
}

TEST_F(MainWindow, TheConfirmationNamesBothFoldersAndYesRunsTheChosenMethod)
{
    kxtest::TempDir dir;
    kxtest::EncodeJpegFile(dir / "beach.jpg", kGrey, 90, 2);
    kxtest::WriteFileBytes(dir / "notes.txt", {'x'});
    dialogs.folder = dir.Path();
    window->CmdBrowse->click();
    window->chkMethod[3]->click();
    window->txtWidth->setText("640");
    const std::string question = "Would you like to continue...|All the images in " + dir.Path() +
                                 "\r\nwill be resized and put in " + dir.Path() + "/Resized|36";
    window->cmdProcess->click();  // No does nothing: not even the Resized folder
    EXPECT_EQ(dialogs.boxes, std::vector<std::string>{question});
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"beach.jpg", "notes.txt"}));
    dialogs.answers = {MessageAnswer::Yes};
    window->cmdProcess->click();
    EXPECT_EQ(engine.calls, std::vector<std::string>{"ImageResizeMaxWidth " + dir / "beach.jpg " +
                                                     dir.Path() + "/Resized/beach.jpg 640,90"});
    EXPECT_EQ(dialogs.boxes, (std::vector<std::string>{question, question, "Folvane|Done!|0"}));
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(window->lblWorking->text(), "Ready!");
    EXPECT_EQ(window->fraMeter->geometry(), TwipsToPixels(6210, 5360, 280, 160));
}

TEST_F(MainWindow, EachStepShowsItsPicturesAndStepFourTheJobDetails)
{
    const struct {
        QWidget* focus;
        const char* pictures;
        bool details;
    } steps[] = {{window->chkMethod[2], "52782", false},
                 {window->txtHeight, "56383", false},
                 {window->cmdProcess, "56744", true},
                 {window->CmdBrowse, "16781", false}};
    ReadyToStart();
    for (const auto& s : steps) {
        Focus(s.focus);
        EXPECT_EQ(StepPictures(), s.pictures);
        EXPECT_EQ(window->fraMeter->isVisible(), s.details) << s.pictures;
        EXPECT_EQ(window->txtParam->isVisible(), s.details) << s.pictures;
    }
    EXPECT_EQ(window->txtDestFolder->text(), "/home/ann/Photos/Resized");
}

TEST_F(MainWindow, JobSummariesWordForWord)
{
    const auto summary = [&] { return window->txtParam->text().toStdString(); };
    window->txtHeight->setText("480");
    window->txtWidth->setText("640");
    window->txtPercentage->setText("50");
    const std::pair<int, std::string> summaries[] = {
        {0, "Height & Width, 640 x 480 pixels."},
        {1, "Percentage enlargment/reduction, 50%."},
        {2, "Scale to Height, 480 pixels."},
        {3, "Scale to width, 640 pixels."},
        {4, "Maximum allowed size = 640 x 480 pixels."},
    };
    for (const auto& [box, text] : summaries) {
        for (int i = 0; i < 5; ++i) window->chkMethod[i]->setChecked(i == box);
        window->NumberFour();
        EXPECT_EQ(summary(), text);
    }
    // Texts as typed, even ones the start would refuse.
    for (int i = 0; i < 5; ++i) window->chkMethod[i]->setChecked(i == 0);
    window->txtWidth->setText("abc");
    window->NumberFour();
    EXPECT_EQ(summary(), "Height & Width, abc x 480 pixels.");
    // No box checked: the summary stays, the destination is rewritten.
    window->chkMethod[0]->setChecked(false);
    window->NumberFour();
    EXPECT_EQ(summary(), "Height & Width, abc x 480 pixels.");
    EXPECT_EQ(window->txtDestFolder->text(), "/Resized");
}

TEST_F(MainWindow, DuringARunTheWindowPaintsAndMovesTheMeterButTakesNoInput)
{
    kxtest::TempDir dir;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) kxtest::EncodeJpegFile(dir / name, kGrey, 90, 2);
    GatedEngine gated;
    Open(gated);
    frmMain& runWindow = *window;
    dialogs.folder = dir.Path();
    runWindow.CmdBrowse->click();
    runWindow.chkMethod[3]->click();
    runWindow.txtWidth->setText("640");
    int shortcuts = 0;
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), &runWindow);
    QObject::connect(shortcut, &QShortcut::activated, [&] { ++shortcuts; });
    QTest::keyClick(&runWindow, Qt::Key_K, Qt::ControlModifier);
    ASSERT_EQ(shortcuts, 1);
    dialogs.answers = {MessageAnswer::Yes};

    // With three files the column grows 1577 twips a step.
    auto step = [](int k) { return TwipsToPixels(6210, 5360 - 1577 * k, 280, 160 + 1577 * k); };
    int ticks = 0, released = 0;
    bool triedInput = false, closed = true;
    std::set<QString> captions;
    std::set<int> stepsSeen;
    // Ticks on this thread while the run goes on; it lets the pictures go one
    // by one, each once the window shows the step before it.
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!runWindow.Running()) return;
        ++ticks;
        captions.insert(runWindow.lblWorking->text());
        for (int k = 0; k <= 2; ++k)
            if (runWindow.fraMeter->geometry() == step(k)) stepsSeen.insert(k);
        if (gated.arrived == 0) return;
        if (!triedInput) {
            triedInput = true;
            QTest::keyClick(runWindow.txtWidth, Qt::Key_9);
            QTest::keyClick(&runWindow, Qt::Key_K, Qt::ControlModifier);
            QTest::mouseClick(runWindow.chkMethod[2], Qt::LeftButton);
            closed = runWindow.close();
            return;
        }
        if (released < 3 && runWindow.fraMeter->geometry() == step(released)) {
            ++released;
            gated.gate.release();
        }
        if (ticks == 20000) {  // never hang, whatever went wrong
            ADD_FAILURE() << "the meter never reached step " << released;
            gated.gate.release(3);
        }
    });
    timer.start(1);
    runWindow.cmdProcess->click();
    timer.stop();

    EXPECT_GE(ticks, 3);
    EXPECT_EQ(released, 3);
    EXPECT_EQ(stepsSeen, (std::set<int>{0, 1, 2}));
    EXPECT_TRUE(captions.count("Working..."));
    // The click, the typing, the shortcut and the close all went nowhere.
    EXPECT_EQ(shortcuts, 1);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(runWindow.isVisible());
    EXPECT_EQ(ResizeMethod, 3);
    EXPECT_EQ(SizeBoxes(), "3 -W-");
    EXPECT_EQ(runWindow.txtWidth->text(), "640");
    // The question, then "Done!" from the run's own thread.
    EXPECT_EQ(dialogs.onUiThread, (std::vector<bool>{true, false}));
    EXPECT_EQ(dialogs.boxes.back(), "Folvane|Done!|0");
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(gated.calls.size(), 3u);
    EXPECT_EQ(gated.callsOnUiThread, 0);
    // The last meter change of the run is shown once it is over.
    EXPECT_EQ(runWindow.lblWorking->text(), "Ready!");
    EXPECT_EQ(runWindow.fraMeter->geometry(), step(0));
    EXPECT_FALSE(runWindow.Running());
    window.reset();  // before its engine
}

// The real boxes: the question on this thread, "Done!" from the run's.
TEST_F(MainWindow, TheBoxesOfARunStillTakeTheirInputAndTheirAnswersGoBack)
{
    kxtest::TempDir dir;
    kxtest::EncodeJpegFile(dir / "a.jpg", kGrey, 90, 2);
    dialogs.folder = dir.Path();
    window->CmdBrowse->click();
    window->chkMethod[3]->click();
    window->txtWidth->setText("640");
    QtDialogs real(window.get());
    SetDialogs(&real);
    // Plays the person: reads each box and clicks No to the first, then Yes and OK.
    std::vector<QString> seen;
    QPointer<QMessageBox> clicked;  // null once the box is gone
    QTimer person;
    QObject::connect(&person, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        if (box == clicked) {  // the click went nowhere; close it anyway
            ADD_FAILURE() << box->text().toStdString();
            box->done(0);
            return;
        }
        clicked = box;
        seen.push_back(box->windowTitle() + "|" + box->text() + "|" + QString::number(box->icon()));
        QAbstractButton* button = box->button(seen.size() == 1 ? QMessageBox::No : QMessageBox::Yes);
        QTest::mouseClick(button ? button : box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    person.start(1);
    window->cmdProcess->click();
    EXPECT_TRUE(engine.calls.empty());
    window->cmdProcess->click();
    person.stop();
    SetDialogs(&dialogs);
    const QString folder = QString::fromStdString(dir.Path());
    const QString question = "Would you like to continue...|All the images in " + folder +
                             "\nwill be resized and put in " + folder +
                             "/Resized|4";  // QMessageBox::Question
    EXPECT_EQ(seen, (std::vector<QString>{question, question, "Folvane|Done!|0"}));
    EXPECT_EQ(engine.calls.size(), 1u);
}

TEST_F(MainWindow, AccessKeysAndEnterFocusTheButtonBeforePressingIt)
{
    struct Case {
        QWidget* from;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    const Case cases[] = {{window->txtHeight, Qt::Key_P, Qt::AltModifier},
                          {window->cmdProcess, Qt::Key_Return, Qt::NoModifier},
                          {window->cmdProcess, Qt::Key_Enter, Qt::KeypadModifier}};
    ReadyToStart();
    // Whenever the press comes, step 4 must be on screen by then.
    dialogs.watch = [this] {
        return StepPictures() + " " + window->txtParam->text().toStdString() +
               (window->fraMeter->isVisible() ? " meter" : "") +
               (window->cmdProcess->hasFocus() ? " focused" : "");
    };
    for (const Case& c : cases) {
        c.from->setFocus(Qt::TabFocusReason);
        dialogs.boxes.clear();
        dialogs.seen.clear();
        QTest::keyClick(c.from, c.key, c.modifiers);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.seen.empty(); }, 1000)) << c.key;
        EXPECT_EQ(dialogs.boxes, std::vector<std::string>{"Would you like to continue...|All the images in "
                                                          "/home/ann/Photos\r\nwill be resized and put in "
                                                          "/home/ann/Photos/Resized|36"});
        EXPECT_EQ(dialogs.seen,
                  std::vector<std::string>{"56744 Height & Width, 640 x 480 pixels. meter focused"});
    }
    // Alt+A: the About button has the focus by the time its box is up.
    window->txtHeight->setFocus(Qt::TabFocusReason);
    QWidget* focusedAtOpen = nullptr;
    QTimer person;
    WhenUp<frmAbout>(person,
                     [&](frmAbout* about) { focusedAtOpen = window->focusWidget(), about->reject(); });
    QTest::keyClick(window->txtHeight, Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !person.isActive(); }, 1000));
    EXPECT_EQ(focusedAtOpen, window->cmdAbout);
}

TEST_F(MainWindow, SizeBoxesSelectAllOnlyOnARealFocusAndTakeAPasteOfAnyLength)
{
    window->txtHeight->setText("1234");
    Focus(window->txtHeight);
    EXPECT_EQ(window->txtHeight->selectedText(), "1234");
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
    // Another window in front and back again: the selection stays too.
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(window->txtWidth->hasFocus());
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
        Focus(window->cmdProcess);
        for (ValueLabel* label : {window->txtSourceFolder, window->txtDestFolder}) {
            const QString full = label->text();
            EXPECT_TRUE(full.startsWith(folder));
            const QStringList lines = label->ShownLines();
            const QFontMetrics metrics(label->font());
            ASSERT_FALSE(lines.isEmpty());
            // Whole lines only, none wider than the label.
            EXPECT_LE((lines.size() - 1) * metrics.lineSpacing() + metrics.height(),
                      label->contentsRect().height());
            for (const QString& line : lines)
                EXPECT_LE(metrics.horizontalAdvance(line), label->contentsRect().width());
            QString shown = lines.join("");
            if (full.size() > 100) {  // more than its four lines hold: cut and marked
                ASSERT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
                shown.chop(1);
                EXPECT_TRUE(full.startsWith(shown));
                EXPECT_GT(shown.size(), 60);
            } else {
                EXPECT_EQ(shown, full);
            }
            QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), label->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(label, &hover);
            EXPECT_EQ(QToolTip::text(), full);
        }
    }
}

TEST_F(MainWindow, AboutBoxHoldsEveryTextAtLargeDesktopFonts)
{
    const QFont desktop = QApplication::font();
    frmAbout& about = frmAbout::Instance(window.get());
    for (double points : {8.0, 10.0, 12.0, 16.0}) {
        QFont font = desktop;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        about.show();
        for (int round = 0; round < 5; ++round)
            QApplication::processEvents();  // layouts settle a level a round
        for (QLabel* label : about.findChildren<QLabel*>()) {
            if (label->text().isEmpty()) continue;
            const QRect area = label->contentsRect();
            const int flags = label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine;
            const QRect need =
                label->fontMetrics().boundingRect(QRect(0, 0, area.width(), 9999), flags, label->text());
            EXPECT_TRUE(need.height() <= area.height() && need.width() <= area.width())
                << points << " pt: " << label->text().toStdString();
            EXPECT_TRUE(about.rect().contains(label->geometry())) << label->text().toStdString();
        }
        EXPECT_GT(about.cmdOK->geometry().top(), about.lblURL->geometry().bottom());
        about.hide();
    }
    QApplication::setFont(desktop);
}

TEST_F(MainWindow, TheWebLabelOpensOnlyOnALeftClickReleasedOnIt)
{
    struct Case {
        Qt::MouseButton button;
        bool releasedOnLabel;
        size_t opened;
    };
    const Case cases[] = {{Qt::LeftButton, true, 1},
                          {Qt::RightButton, true, 0},
                          {Qt::MiddleButton, true, 0},
                          {Qt::LeftButton, false, 0}};
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Open");
    // The box made for a window that is gone once crashed a second window.
    frmAbout::Instance(window.get());
    Open(engine);
    frmAbout& about = frmAbout::Instance(window.get());
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    for (const Case& c : cases) {
        const size_t before = catcher.opened.size();
        const QPoint on = about.lblURL->rect().center();
        QTest::mousePress(about.lblURL, c.button, {}, on);
        QTest::mouseRelease(about.lblURL, c.button, {}, c.releasedOnLabel ? on : QPoint(on.x(), -30));
        EXPECT_EQ(catcher.opened.size() - before, c.opened) << c.button << c.releasedOnLabel;
    }
    EXPECT_EQ(catcher.opened, std::vector<QString>{kMakerWebAddress});
    QDesktopServices::unsetUrlHandler("https");
    about.hide();
}

TEST_F(MainWindow, MessageBoxesAreWideEnoughForTheirTitle)
{
    QtDialogs real(window.get());
    int width = 0;
    QTimer person;
    WhenUp<QMessageBox>(person,
                        [&](QMessageBox* b) { width = b->width(), b->button(QMessageBox::Ok)->click(); });
    real.ShowMessage("Done!", "Folvane", MessageStyle::Plain);
    // Room for the title beside the window's icon and its buttons.
    const QFontMetrics metrics(QApplication::font());
    EXPECT_GE(width, metrics.horizontalAdvance("Folvane") + 6 * metrics.height());
}

TEST_F(MainWindow, FolderChooserOpensAtTheLastFolderElsePicturesElseHome)
{
    // A folder made first (removed when it begins with "-"), the folder chosen ("" cancels), where it opened.
    struct Case {
        const char *make, *choose, *openedAt;
    };
    const Case cases[] = {{"", "", ""},
                          {"Pictures", "", "/Pictures"},
                          {"Pictures/a", "/Pictures/a", "/Pictures"},
                          {"", "", "/Pictures/a"} /* a cancel keeps the last */,
                          {"-Pictures/a", "", "/Pictures"}};
    kxtest::TempDir home;
    const QString root = QString::fromStdString(home.Path());
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString(home.Path()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home / ".config"));
    QtDialogs real(window.get());
    SetDialogs(&real);
    for (const Case& c : cases) {
        if (c.make[0] == '-')
            QDir(root).rmdir(c.make + 1);
        else if (c.make[0])
            QDir(root).mkpath(c.make);
        QString openedAt;
        QTimer person;
        WhenUp<QFileDialog>(person, [&](QFileDialog* chooser) {
            openedAt = chooser->directory().absolutePath();
            if (!c.choose[0]) return chooser->reject();
            chooser->setDirectory(root + c.choose);
            static_cast<QDialog*>(chooser)->accept();  // the Choose button
        });
        window->CmdBrowse->click();
        EXPECT_EQ(openedAt, root + c.openedAt) << c.make;
        EXPECT_EQ(window->txtSourceFolder->text(), c.choose[0] ? root + c.choose : QString());
    }
    SetDialogs(&dialogs);
    qputenv("HOME", oldHome);
    oldConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", oldConfig);
}

TEST(MeterGeometry, TwipsBecomePixelsWithTheBottomEdgeFixed)
{
    EXPECT_EQ(TwipsToPixels(6210, 5360, 280, 160), QRect(QPoint(414, 357), QPoint(432, 367)));
    EXPECT_EQ(TwipsToPixels(6210, 630, 280, 4890), QRect(QPoint(414, 42), QPoint(432, 367)));
    EXPECT_EQ(TwipsToPixels(6210, 5360 - 1577, 280, 160 + 1577).bottom(), 367);
}

TEST_F(StartUp, MissingEngineEndsInTheMessage)
{
    EXPECT_FALSE(CreateEngine([](std::string* why) {
        *why = "not here";
        return std::optional<EngineLibrary>();
    }));
    EXPECT_EQ(dialogs.boxes,
              std::vector<std::string>{"Error...|The Kestrix DLL cannot be found, Closing Application|16"});
    EXPECT_FALSE(objEngine());
}

// A report box, and the beep, are carried to the user-interface thread one at
// a time while the asking worker waits; there they come straight away.
TEST_F(StartUp, EngineReportsAndBeepsFromWorkersAreOnTheUiThreadOneAtATime)
{
    RecordingQtDialogs boxes;
    SetDialogs(&boxes);
    ASSERT_TRUE(CreateEngine([](std::string* why) { return EngineLibrary::LoadFrom(KESTRIX_LIBRARY, why); }));
    // A missing picture scaled to a height: the engine reports a division by zero.
    const auto resize = [&] {
        objEngine().methods->Resize(kx::batch::Method::MaxHeight, "/no/such/picture.bmp", "/tmp/out.jpg",
                                    {100, 0, 0}, 90);
        Dialogs().Beep();
        ++boxes.goneOn;
    };
    resize();
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i) workers.emplace_back(resize);
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.goneOn == 3; }, 60000));
    for (std::thread& worker : workers) worker.join();
    CloseApp();
    EXPECT_FALSE(objEngine());
    ASSERT_EQ(boxes.boxes.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(boxes.boxes[k].text,
                  "Error in : ResizeMaxHeight\r\nError Number : 11\r\nError Desc : Division by zero");
        EXPECT_EQ(boxes.boxes[k].style, MessageStyle::Critical);
        EXPECT_TRUE(boxes.boxes[k].onUiThread);
        // The box's own thread was still waiting when it closed.
        EXPECT_LE(boxes.boxes[k].goneOnAtClose, static_cast<int>(k));
    }
    EXPECT_EQ(boxes.mostOpen, 1);
    EXPECT_EQ(boxes.rings, 3);
    EXPECT_EQ(boxes.ringsOffUiThread, 0);
    // A question's answer goes back to the asking worker.
    MessageAnswer answer = MessageAnswer::No;
    std::thread asking([&] { answer = Dialogs().ShowMessage("Go on?", "Question", MessageStyle::Question); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.boxes.size() == 4; }, 60000));
    asking.join();
    EXPECT_EQ(answer, MessageAnswer::Yes);
}

#include "frmMain_test.moc"
