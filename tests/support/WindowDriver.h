// Drives the desktop program in tests: an engine and dialogs that record
// instead of acting, and the main window opened as the program opens it. A
// test program that links this gets its QApplication (offscreen unless the
// environment names a platform) before its first test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BatchRun.h"
#include "Dialogs.h"
#include "frmMain.h"
#include "modErrorReport.h"
#include "modShared.h"

namespace kxtest {

// True on the thread that runs the event loop.
bool OnUiThread();

// Records each call of a run instead of resizing, and says every picture was
// written: "<engine method> <in> <out> <its numbers in the method's argument
// order, comma separated>,<quality>". Read `calls` once the run is over.
class RecordingEngine : public kx::batch::Engine {
public:
    bool Resize(kx::batch::Method method, const std::string& in, const std::string& out,
                const kx::batch::Sizes& sizes, int32_t quality) override
    {
        const kx::batch::MethodSpec& row = kx::batch::SpecOf(method);
        std::string call = std::string(row.EngineName) + " " + in + " " + out + " ";
        if (row.UsesHeight) call += std::to_string(sizes.Height) + ",";
        if (row.UsesWidth) call += std::to_string(sizes.Width) + ",";
        if (row.UsesPercentage) call += std::to_string(sizes.Percentage) + ",";
        std::lock_guard lock(mutex_);
        calls.push_back(call + std::to_string(quality));
        return true;
    }
    std::vector<std::string> calls;

private:
    std::mutex mutex_;
};

// Records each box as "title|text|style number" and answers questions from
// `answers` (No once they run out); the chooser gives `folder`. Safe to call
// from a run's threads; read the records once the run is over.
class FakeDialogs : public folvane::IDialogs {
public:
    folvane::MessageAnswer ShowMessage(const std::string& text, const std::string& title,
                                       folvane::MessageStyle style) override
    {
        std::lock_guard lock(mutex_);
        boxes.push_back(title + "|" + text + "|" + std::to_string(static_cast<int>(style)));
        onUiThread.push_back(OnUiThread());
        if (watch) seen.push_back(watch());
        if (style != folvane::MessageStyle::Question) return folvane::MessageAnswer::Ok;
        if (answers.empty()) return folvane::MessageAnswer::No;
        const folvane::MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Beep() override
    {
        std::lock_guard lock(mutex_);
        ++beeps;
    }
    std::string ChooseFolder(const std::string& title) override
    {
        chooserTitle = title;
        return folder;
    }
    std::vector<std::string> boxes;
    std::vector<bool> onUiThread;  // of each box
    std::function<std::string()> watch;
    std::vector<std::string> seen;  // what `watch` gave as each box came up
    std::deque<folvane::MessageAnswer> answers;
    std::string folder, chooserTitle;
    int beeps = 0;

private:
    std::mutex mutex_;
};

// Installs FakeDialogs and collects the error reports of one test.
class DialogsTest : public testing::Test {
protected:
    void SetUp() override
    {
        folvane::SetDialogs(&dialogs);
        kx::SetReportHandler([this](const std::string& text) {
            std::lock_guard lock(reportsMutex);
            reports.push_back(text);
        });
    }
    void TearDown() override
    {
        folvane::SetDialogs(nullptr);
        kx::SetReportHandler(nullptr);
    }
    FakeDialogs dialogs;
    std::vector<std::string> reports;
    std::mutex reportsMutex;
};

// The main window as the program shows it, over a RecordingEngine.
class WindowTest : public DialogsTest {
protected:
    void SetUp() override
    {
        DialogsTest::SetUp();
        folvane::ResizeMethod = 0;
        Open(engine);
    }
    void TearDown() override
    {
        window.reset();
        DialogsTest::TearDown();
    }
    // Replaces the window by an active one over `other`, which must outlive it.
    void Open(folvane::IResizeEngine& other)
    {
        window.reset();  // one window shows the meter at a time
        window = std::make_unique<folvane::frmMain>(other);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QApplication::processEvents();
    }
    // Gives `widget` the focus as Tab does.
    void Focus(QWidget* widget)
    {
        widget->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
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
    std::string StepPictures() const;
    // The checked method boxes, then for height, width and percentage "H",
    // "W", "P" when the box and its labels are enabled, "-" when all are
    // disabled, "?" when they disagree: "3 -W-".
    std::string SizeBoxes() const;

    RecordingEngine engine;
    std::unique_ptr<folvane::frmMain> window;
};

// Plays the person at the next modal box or menu that is a Widget: `act`
// gets it once it is up.
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

}  // namespace kxtest
