// Drives the desktop program in tests: dialogs scripted and recorded instead
// of shown, the main window opened as the program opens it, and helpers that
// focus, type and play the person at a box. A test program that links this
// gets its QApplication (offscreen unless the environment names a platform)
// before its first test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "RecordingEngine.h"
#include "frmMain.h"

namespace kxtest {

// True on the thread that runs the event loop.
bool OnUiThread();

// Records each box as "title|text|style number" and answers questions from
// `answers` (No once they run out); the chooser gives `folder`. Safe to call
// from a run's threads; read the records once the run is over.
class FakeDialogs : public folvane::IDialogs {
public:
    folvane::MessageAnswer ShowMessage(const std::string& text, const std::string& title,
                                       folvane::MessageStyle style) override;
    void Beep() override;
    std::string ChooseFolder(const std::string& title) override;

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
    void SetUp() override;
    void TearDown() override;
    FakeDialogs dialogs;
    std::vector<std::string> reports;
    std::mutex reportsMutex;
};

// The main window as the program shows it, over a RecordingEngine.
class WindowTest : public DialogsTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Replaces the window by an active one over `other`, which must outlive it.
    void Open(folvane::IResizeEngine& other);
    // Gives `widget` the focus as Tab does.
    void Focus(QWidget* widget);
    void Type(QLineEdit* box, const QString& text);
    // Chooses `folder` with the Browse button and types height 480, width 640.
    void ReadyToStart(const std::string& folder = "/home/ann/Photos");
    // The pictures of step markers 1 to 4 and of the help, as digits: "16781".
    std::string StepPictures();
    // The checked method boxes, then for height, width and percentage "H",
    // "W", "P" when the box and its labels are enabled, "-" when all are
    // disabled, "?" when they disagree: "3 -W-".
    std::string SizeBoxes();

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
