// The main window driven as a person would: clicks, focus and typing, with
// the dialogs scripted and recorded instead of shown.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QShortcut>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "Dialogs.h"
#include "QtDialogs.h"
#include "RecordingEngine.h"
#include "TestSupport.h"
#include "frmMain.h"
#include "modShared.h"
#include "modStartup.h"

using namespace folvane;

namespace {

// The application lives in main(), so that it goes before Qt's own statics.
QApplication& App() { return *qApp; }

struct Shown {
    std::string text, title;
    MessageStyle style;
    bool onUiThread;
};

bool OnUiThread() { return QThread::currentThread() == qApp->thread(); }

// Safe to call from a run's threads; read the records once the run is over.
class ScriptedDialogs : public IDialogs {
public:
    MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageStyle style) override
    {
        std::lock_guard lock(mutex);
        shown.push_back({text, title, style, OnUiThread()});
        if (style != MessageStyle::Question) return MessageAnswer::Ok;
        const MessageAnswer a = answers.empty() ? MessageAnswer::No : answers.front();
        if (!answers.empty()) answers.pop_front();
        return a;
    }
    void Beep() override
    {
        std::lock_guard lock(mutex);
        ++beeps;
    }
    std::string ChooseFolder(const std::string& title) override
    {
        chooserTitle = title;
        return folder;
    }
    std::vector<Shown> shown;
    std::deque<MessageAnswer> answers;
    std::string folder;
    std::string chooserTitle;
    int beeps = 0;
    std::mutex mutex;
};

// Records the engine calls of a run instead of resizing; every call succeeds.
class RecordingEngine : public kxtest::RecordingEngine {
public:
    RecordingEngine() { succeed = true; }
    std::vector<bool> onUiThread;

protected:
    void BeforeRecord() override
    {
        std::lock_guard lock(threadMutex);
        onUiThread.push_back(OnUiThread());
    }
    std::mutex threadMutex;
};

// Holds every picture until the test lets it go: the n-th picture to arrive
// waits until n have been released.
class GatedEngine : public RecordingEngine {
public:
    void BeforeRecord() override
    {
        // On the user-interface thread nobody could open the gate.
        if (!OnUiThread()) {
            std::unique_lock lock(gateMutex);
            const int number = ++arrived;
            opened.wait(lock, [&] { return released >= number; });
        }
        RecordingEngine::BeforeRecord();
    }
    void Release(int count)
    {
        {
            std::lock_guard lock(gateMutex);
            released = count;
        }
        opened.notify_all();
    }
    int Arrived()
    {
        std::lock_guard lock(gateMutex);
        return arrived;
    }

private:
    std::mutex gateMutex;
    std::condition_variable opened;
    int arrived = 0, released = 0;
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

class MainWindow : public testing::Test {
protected:
    void SetUp() override
    {
        App();
        SetDialogs(&dialogs);
        ResizeMethod = 0;
        window = std::make_unique<frmMain>(engine);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QApplication::processEvents();
    }
    void TearDown() override
    {
        window.reset();
        SetDialogs(nullptr);
    }
    void Focus(QWidget* w)
    {
        w->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }
    void Type(QLineEdit* box, const QString& text)
    {
        box->setText(text);
        QApplication::processEvents();
    }
    std::vector<int> StepPictures()
    {
        return {window->PictureOf(window->ImgNo1), window->PictureOf(window->ImgNo2),
                window->PictureOf(window->ImgNo3), window->PictureOf(window->ImgNo4),
                window->PictureOf(window->imgHelp)};
    }
    std::string Param() { return window->txtParam->text().toStdString(); }

    ScriptedDialogs dialogs;
    RecordingEngine engine;
    std::unique_ptr<frmMain> window;
};

}  // namespace

TEST_F(MainWindow, StartsAtStepOneWithMethodZeroAndNothingToStart)
{
    EXPECT_EQ(window->windowTitle(), "Folvane...");
    EXPECT_EQ(window->size(), QSize(526, 398));  // 7890 x 5970 twips
    EXPECT_TRUE(window->chkMethod[0]->isChecked());
    for (int i = 1; i < 5; ++i) EXPECT_FALSE(window->chkMethod[i]->isChecked());
    EXPECT_EQ(ResizeMethod, 0);
    EXPECT_TRUE(window->txtHeight->isEnabled());
    EXPECT_TRUE(window->txtWidth->isEnabled());
    EXPECT_FALSE(window->txtPercentage->isEnabled());
    EXPECT_FALSE(window->lblPercent->isEnabled());
    for (QLineEdit* box : {window->txtHeight, window->txtWidth, window->txtPercentage})
        EXPECT_EQ(box->text(), "0");
    EXPECT_FALSE(window->cmdProcess->isEnabled());
    EXPECT_TRUE(window->txtSourceFolder->text().isEmpty());
    EXPECT_TRUE(window->CmdBrowse->hasFocus());
    EXPECT_EQ(StepPictures(), (std::vector<int>{1, 6, 7, 8, 1}));
    EXPECT_FALSE(window->fraMeter->isVisible());
    EXPECT_EQ(window->lblWorking->text(), "Ready!");
    EXPECT_EQ(window->chkMethod[0]->text(), "Height && Width");
    EXPECT_EQ(window->PictureOf(window->imgBanner), 5);
}

TEST_F(MainWindow, MethodBoxesAreExclusiveAndChooseTheSizeBoxes)
{
    window->chkMethod[3]->click();
    QApplication::processEvents();
    EXPECT_EQ(ResizeMethod, 3);
    EXPECT_FALSE(window->chkMethod[0]->isChecked());
    EXPECT_TRUE(window->chkMethod[3]->isChecked());
    EXPECT_FALSE(window->txtHeight->isEnabled());
    EXPECT_TRUE(window->txtWidth->isEnabled());
    EXPECT_FALSE(window->txtPercentage->isEnabled());
    EXPECT_TRUE(window->txtWidth->hasFocus());

    window->chkMethod[1]->click();
    QApplication::processEvents();
    EXPECT_EQ(ResizeMethod, 1);
    EXPECT_TRUE(window->chkMethod[1]->isChecked());
    EXPECT_FALSE(window->chkMethod[3]->isChecked());
    EXPECT_TRUE(window->txtPercentage->isEnabled());
    EXPECT_TRUE(window->lblPercSymb->isEnabled());
    EXPECT_FALSE(window->txtWidth->isEnabled());
    EXPECT_FALSE(window->lblPixels2->isEnabled());
    EXPECT_TRUE(window->txtPercentage->hasFocus());

    window->chkMethod[3]->click();
    QApplication::processEvents();
    EXPECT_EQ(ResizeMethod, 3);
    EXPECT_FALSE(window->chkMethod[1]->isChecked());

    // Clicking the checked box unchecks it and keeps its method.
    window->chkMethod[3]->click();
    QApplication::processEvents();
    EXPECT_EQ(ResizeMethod, 3);
    for (QCheckBox* box : window->chkMethod) EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(window->txtWidth->isEnabled());
}

TEST_F(MainWindow, ValidateEntriesLooksOnlyAtEnabledBoxesAndRefusesTheRoot)
{
    Type(window->txtHeight, "480");
    Type(window->txtWidth, "640");
    EXPECT_TRUE(window->cmdProcess->isEnabled());
    Type(window->txtWidth, "0");
    EXPECT_FALSE(window->cmdProcess->isEnabled());
    Type(window->txtWidth, "00");
    EXPECT_TRUE(window->cmdProcess->isEnabled());
    Type(window->txtWidth, "");
    EXPECT_TRUE(window->cmdProcess->isEnabled());
    Type(window->txtWidth, " 0");
    EXPECT_TRUE(window->ValidateEntries());
    EXPECT_EQ(window->txtPercentage->text(), "0");  // disabled: never looked at

    dialogs.folder = "/";
    window->CmdBrowse->click();
    QApplication::processEvents();
    EXPECT_EQ(dialogs.chooserTitle, "Please select a folder:");
    EXPECT_EQ(window->txtSourceFolder->text(), "/");
    EXPECT_FALSE(window->cmdProcess->isEnabled());
    EXPECT_TRUE(window->chkMethod[0]->hasFocus());
    dialogs.folder = "/home";
    window->CmdBrowse->click();
    EXPECT_TRUE(window->cmdProcess->isEnabled());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MainWindow, StartWithoutAFolderAsksForOne)
{
    Type(window->txtHeight, "480");
    Type(window->txtWidth, "640");
    dialogs.folder = "";  // the chooser was cancelled
    window->CmdBrowse->click();
    EXPECT_TRUE(window->cmdProcess->isEnabled());
    window->cmdProcess->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Please enter the Folder with the Images in to Resize");
    EXPECT_EQ(dialogs.shown[0].title, "Image Folder...");
    EXPECT_EQ(dialogs.shown[0].style, MessageStyle::Exclamation);
}

TEST_F(MainWindow, StartChecksTheMethodsFieldsInOrder)
{
    struct Case {
        int method;
        QString height, width, percentage;
        std::string message;
    };
    const Case cases[] = {
        {0, "abc", "abc", "5", "Please enter a valid Height for the Images!"},
        {0, "480", "0", "5", "Please enter a valid Width for the Images!"},
        {1, "480", "640", "0", "Please enter a valid Percentage for the Images!"},
        {2, "-5", "640", "0", "Please enter a valid Height for the Images!"},
        {3, "abc", "5.5", "0", "Please enter a valid Width for the Images!"},
        {4, "480", "abc", "0", "Please enter a valid Width for the Images!"},
    };
    dialogs.folder = "/home/ann/Photos";
    window->CmdBrowse->click();
    for (const Case& c : cases) {
        ResizeMethod = static_cast<int16_t>(c.method);
        window->txtHeight->setText(c.height);
        window->txtWidth->setText(c.width);
        window->txtPercentage->setText(c.percentage);
        dialogs.shown.clear();
        window->cmdProcess_Click();
        ASSERT_EQ(dialogs.shown.size(), 1u) << c.method;
        EXPECT_EQ(dialogs.shown[0].text, c.message);
        EXPECT_EQ(dialogs.shown[0].title, "Error...");
    }
    EXPECT_TRUE(engine.calls.empty());
}

TEST_F(MainWindow, ConfirmationNamesBothFoldersAndNoDoesNothing)
{
    kxtest::TempDir dir;
    dialogs.folder = dir.Path();
    window->CmdBrowse->click();
    Type(window->txtHeight, "480");
    Type(window->txtWidth, "640");
    dialogs.answers = {MessageAnswer::No};
    window->cmdProcess->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "All the images in " + dir.Path() + "\r\nwill be resized and put in " +
                                         dir.Path() + "/Resized");
    EXPECT_EQ(dialogs.shown[0].title, "Would you like to continue...");
    EXPECT_EQ(dialogs.shown[0].style, MessageStyle::Question);
    EXPECT_TRUE(dir.List().empty());  // no Resized folder
}

TEST_F(MainWindow, YesRunsTheFolderWithTheChosenMethod)
{
    kxtest::TempDir dir;
    kxtest::Image image{8, 8, std::vector<uint8_t>(8 * 8 * 3, 99)};
    kxtest::EncodeJpegFile(dir / "beach.jpg", image, 90, 2);
    kxtest::WriteFileBytes(dir / "notes.txt", {'x'});
    dialogs.folder = dir.Path();
    window->CmdBrowse->click();
    window->chkMethod[3]->click();
    Type(window->txtWidth, "640");
    dialogs.answers = {MessageAnswer::Yes};
    window->cmdProcess->click();
    ASSERT_EQ(engine.calls.size(), 1u);
    EXPECT_EQ(engine.calls[0],
              "ImageResizeMaxWidth " + dir.Path() + "/beach.jpg " + dir.Path() + "/Resized/beach.jpg 640,90");
    EXPECT_EQ(dialogs.shown.back().text, "Done!");
    EXPECT_EQ(dialogs.shown.back().title, "Folvane");
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(window->lblWorking->text(), "Ready!");
    EXPECT_EQ(window->fraMeter->geometry(), TwipsToPixels(6210, 5360, 280, 160));
}

TEST_F(MainWindow, EachStepShowsItsPicturesAndStepFourTheJobSummary)
{
    dialogs.folder = "/home/ann/Photos";
    window->CmdBrowse->click();
    Focus(window->chkMethod[2]);
    EXPECT_EQ(StepPictures(), (std::vector<int>{5, 2, 7, 8, 2}));
    Focus(window->txtHeight);
    EXPECT_EQ(StepPictures(), (std::vector<int>{5, 6, 3, 8, 3}));
    EXPECT_FALSE(window->fraMeter->isVisible());
    Type(window->txtHeight, "480");
    Type(window->txtWidth, "640");
    Focus(window->cmdProcess);
    EXPECT_EQ(StepPictures(), (std::vector<int>{5, 6, 7, 4, 4}));
    EXPECT_TRUE(window->fraMeter->isVisible());
    EXPECT_TRUE(window->txtParam->isVisible());
    EXPECT_EQ(window->txtDestFolder->text(), "/home/ann/Photos/Resized");
    EXPECT_EQ(Param(), "Height & Width, 640 x 480 pixels.");
    Focus(window->CmdBrowse);
    EXPECT_EQ(StepPictures(), (std::vector<int>{1, 6, 7, 8, 1}));
    EXPECT_FALSE(window->txtParam->isVisible());
}

TEST_F(MainWindow, JobSummariesWordForWord)
{
    Type(window->txtHeight, "480");
    Type(window->txtWidth, "640");
    window->txtPercentage->setText("50");
    const std::pair<int, std::string> summaries[] = {
        {0, "Height & Width, 640 x 480 pixels."},
        {1, "Percentage enlargment/reduction, 50%."},
        {2, "Scale to Height, 480 pixels."},
        {3, "Scale to width, 640 pixels."},
        {4, "Maximum allowed size = 640 x 480 pixels."},
    };
    for (const auto& [box, summary] : summaries) {
        for (int i = 0; i < 5; ++i) window->chkMethod[i]->setChecked(i == box);
        window->NumberFour();
        EXPECT_EQ(Param(), summary);
    }
    // Texts as typed, even ones the start would refuse.
    for (int i = 0; i < 5; ++i) window->chkMethod[i]->setChecked(i == 0);
    window->txtWidth->setText("abc");
    window->NumberFour();
    EXPECT_EQ(Param(), "Height & Width, abc x 480 pixels.");
    // No box checked: the summary stays, the destination is rewritten.
    window->chkMethod[0]->setChecked(false);
    window->NumberFour();
    EXPECT_EQ(Param(), "Height & Width, abc x 480 pixels.");
    EXPECT_EQ(window->txtDestFolder->text(), "/Resized");
}

TEST_F(MainWindow, SizeBoxSelectsItsWholeTextOnFocusByKeyboardAndMouse)
{
    window->txtWidth->setText("640");
    Focus(window->txtWidth);
    EXPECT_EQ(window->txtWidth->selectedText(), "640");
    window->txtHeight->setText("1234");
    QTest::mouseClick(window->txtHeight, Qt::LeftButton, {}, QPoint(5, 5));
    QApplication::processEvents();
    EXPECT_TRUE(window->txtHeight->hasFocus());
    EXPECT_EQ(window->txtHeight->selectedText(), "1234");
}

TEST_F(MainWindow, ValueLabelsShowAmpersandsLiterally)
{
    dialogs.folder = "/home/ann/Tom & Jerry";
    window->CmdBrowse->click();
    EXPECT_EQ(window->txtSourceFolder->text(), "/home/ann/Tom & Jerry");
    EXPECT_EQ(window->txtSourceFolder->textFormat(), Qt::PlainText);
}

TEST_F(MainWindow, DuringARunTheWindowPaintsAndMovesTheMeterButTakesNoInput)
{
    kxtest::TempDir dir;
    kxtest::Image image{8, 8, std::vector<uint8_t>(8 * 8 * 3, 99)};
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) kxtest::EncodeJpegFile(dir / name, image, 90, 2);
    GatedEngine gated;
    window.reset();  // one window shows the meter at a time
    window = std::make_unique<frmMain>(gated);
    frmMain& runWindow = *window;
    runWindow.show();
    QApplication::setActiveWindow(&runWindow);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&runWindow));
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
        if (gated.Arrived() == 0) return;
        if (!triedInput) {
            triedInput = true;
            QTest::keyClick(runWindow.txtWidth, Qt::Key_9);
            QTest::keyClick(&runWindow, Qt::Key_K, Qt::ControlModifier);
            QTest::mouseClick(runWindow.chkMethod[2], Qt::LeftButton);
            closed = runWindow.close();
            return;
        }
        if (released < 3 && runWindow.fraMeter->geometry() == step(released)) gated.Release(++released);
        if (ticks == 20000) {  // never hang, whatever went wrong
            ADD_FAILURE() << "the meter never reached step " << released;
            gated.Release(3);
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
    EXPECT_FALSE(runWindow.chkMethod[2]->isChecked());
    EXPECT_TRUE(runWindow.chkMethod[3]->isChecked());
    EXPECT_EQ(runWindow.txtWidth->text(), "640");
    // The question, then "Done!" from the run's own thread.
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_TRUE(dialogs.shown[0].onUiThread);
    EXPECT_EQ(dialogs.shown[1].text, "Done!");
    EXPECT_FALSE(dialogs.shown[1].onUiThread);
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(gated.calls.size(), 3u);
    EXPECT_EQ(std::count(gated.onUiThread.begin(), gated.onUiThread.end(), true), 0);
    // The last meter change of the run is shown once it is over.
    EXPECT_EQ(runWindow.lblWorking->text(), "Ready!");
    EXPECT_EQ(runWindow.fraMeter->geometry(), step(0));
    EXPECT_FALSE(runWindow.Running());
    window.reset();  // before its engine
}

TEST_F(MainWindow, TheBoxesOfARunStillTakeTheirInput)
{
    kxtest::TempDir dir;
    kxtest::EncodeJpegFile(dir / "a.jpg", kxtest::Image{8, 8, std::vector<uint8_t>(8 * 8 * 3, 99)}, 90, 2);
    dialogs.folder = dir.Path();
    window->CmdBrowse->click();
    window->chkMethod[3]->click();
    Type(window->txtWidth, "640");
    QtDialogs real(window.get());
    SetDialogs(&real);
    // Plays the person: reads each box and clicks its button.
    std::vector<QString> texts;
    QMessageBox* clicked = nullptr;
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
        texts.push_back(box->text());
        QAbstractButton* button = box->button(QMessageBox::Yes);
        QTest::mouseClick(button ? button : box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    person.start(1);
    window->cmdProcess->click();
    person.stop();
    SetDialogs(&dialogs);
    const QString folder = QString::fromStdString(dir.Path());
    EXPECT_EQ(texts, (std::vector<QString>{"All the images in " + folder + "\nwill be resized and put in " +
                                               folder + "/Resized",
                                           "Done!"}));
    EXPECT_EQ(engine.calls.size(), 1u);
}

TEST(QtDialogsFromWorkers, BoxesAreShownOnTheUiThreadOneAtATimeWhileTheirThreadsWait)
{
    RecordingQtDialogs dialogs;
    std::vector<MessageAnswer> answers(3, MessageAnswer::No);
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&, i] {
            answers[static_cast<size_t>(i)] =
                dialogs.ShowMessage("Go on?", "Question", MessageStyle::Question);
            dialogs.Beep();
            ++dialogs.goneOn;
        });
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialogs.goneOn == 3; }, 60000));
    for (std::thread& worker : workers) worker.join();
    ASSERT_EQ(dialogs.boxes.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(dialogs.boxes[k].onUiThread);
        // The box's own thread was still waiting when it closed.
        EXPECT_LE(dialogs.boxes[k].goneOnAtClose, static_cast<int>(k));
        EXPECT_EQ(answers[k], MessageAnswer::Yes);
    }
    EXPECT_EQ(dialogs.mostOpen, 1);
    EXPECT_EQ(dialogs.rings, 3);
    EXPECT_EQ(dialogs.ringsOffUiThread, 0);

    // On the user-interface thread a box is shown straight away.
    EXPECT_EQ(dialogs.ShowMessage("Done!", "Folvane", MessageStyle::Plain), MessageAnswer::Ok);
    ASSERT_EQ(dialogs.boxes.size(), 4u);
    EXPECT_TRUE(dialogs.boxes[3].onUiThread);
}

TEST(QtDialogsFromWorkers, TheRealBoxIsModalOnTheUiThreadAndItsAnswerGoesBack)
{
    QtDialogs dialogs;
    std::atomic<bool> answered{false};
    MessageAnswer answer = MessageAnswer::Yes;
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool modal = false, onUiThread = false;
    // Plays the person: reads the box, then presses No.
    QTimer person;
    QObject::connect(&person, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        modal = box->isModal();
        onUiThread = OnUiThread();
        box->button(QMessageBox::No)->click();
    });
    person.start(1);
    std::thread worker([&] {
        answer = dialogs.ShowMessage("All the images in /a\r\nwill be resized",
                                     "Would you like to continue...", MessageStyle::Question);
        answered = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered.load(); }, 60000));
    worker.join();
    EXPECT_EQ(answer, MessageAnswer::No);
    EXPECT_EQ(text, "All the images in /a\nwill be resized");
    EXPECT_EQ(title, "Would you like to continue...");
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_TRUE(modal);
    EXPECT_TRUE(onUiThread);
}

TEST(MeterGeometry, TwipsBecomePixelsWithTheBottomEdgeFixed)
{
    EXPECT_EQ(TwipsToPixels(6210, 5360, 280, 160), QRect(QPoint(414, 357), QPoint(432, 367)));
    EXPECT_EQ(TwipsToPixels(6210, 630, 280, 4890), QRect(QPoint(414, 42), QPoint(432, 367)));
    EXPECT_EQ(TwipsToPixels(6210, 5360 - 1577, 280, 160 + 1577).bottom(), 367);
}

TEST(StartUp, MissingEngineEndsInTheMessage)
{
    App();
    ScriptedDialogs dialogs;
    SetDialogs(&dialogs);
    EXPECT_FALSE(CreateEngine([](std::string* why) {
        *why = "not here";
        return std::optional<EngineLibrary>();
    }));
    SetDialogs(nullptr);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "The Kestrix DLL cannot be found, Closing Application");
    EXPECT_EQ(dialogs.shown[0].title, "Error...");
    EXPECT_EQ(dialogs.shown[0].style, MessageStyle::Critical);
    EXPECT_FALSE(objEngine());
}

TEST(StartUp, TheBuiltEngineLoadsAndItsReportsReachTheBox)
{
    App();
    ScriptedDialogs dialogs;
    SetDialogs(&dialogs);
    ASSERT_TRUE(CreateEngine([](std::string* why) { return EngineLibrary::LoadFrom(KESTRIX_LIBRARY, why); }));
    ASSERT_TRUE(objEngine());
    // A missing picture scaled to a height: the engine reports a division by zero.
    objEngine().methods->Resize(kx::batch::Method::MaxHeight, "/no/such/picture.bmp", "/tmp/out.jpg",
                                {100, 0, 0}, 90);
    CloseApp();
    SetDialogs(nullptr);
    EXPECT_FALSE(objEngine());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              "Error in : ResizeMaxHeight\r\nError Number : 11\r\nError Desc : Division by zero");
    EXPECT_EQ(dialogs.shown[0].style, MessageStyle::Critical);
}

TEST(StartUp, EngineReportsFromWorkersAreBoxesOnTheUiThreadThatTheWorkersWaitFor)
{
    App();
    RecordingQtDialogs dialogs;
    SetDialogs(&dialogs);
    ASSERT_TRUE(CreateEngine([](std::string* why) { return EngineLibrary::LoadFrom(KESTRIX_LIBRARY, why); }));
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i)
        workers.emplace_back([&] {
            objEngine().methods->Resize(kx::batch::Method::MaxHeight, "/no/such/picture.bmp", "/tmp/out.jpg",
                                        {100, 0, 0}, 90);
            ++dialogs.goneOn;
        });
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialogs.goneOn == 2; }, 60000));
    for (std::thread& worker : workers) worker.join();
    CloseApp();
    SetDialogs(nullptr);
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(dialogs.boxes[k].text,
                  "Error in : ResizeMaxHeight\r\nError Number : 11\r\nError Desc : Division by zero");
        EXPECT_EQ(dialogs.boxes[k].style, MessageStyle::Critical);
        EXPECT_TRUE(dialogs.boxes[k].onUiThread);
        EXPECT_LE(dialogs.boxes[k].goneOnAtClose, static_cast<int>(k));
    }
    EXPECT_EQ(dialogs.mostOpen, 1);
}

int main(int argc, char** argv)
{
    // Tests never need a display, wherever they are run from.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
