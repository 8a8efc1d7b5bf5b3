#include "WindowDriver.h"

#include <QTest>
#include <QThread>

#include "modErrorReport.h"
#include "modShared.h"

using namespace folvane;

namespace kxtest {

namespace {

// Made before the first test and gone after the last, before Qt's statics.
class Application : public testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[5] = "test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
testing::Environment* const kApplication = testing::AddGlobalTestEnvironment(new Application);

}  // namespace

bool OnUiThread() { return QThread::currentThread() == qApp->thread(); }

MessageAnswer FakeDialogs::ShowMessage(const std::string& text, const std::string& title, MessageStyle style)
{
    std::lock_guard lock(mutex_);
    boxes.push_back(title + "|" + text + "|" + std::to_string(static_cast<int>(style)));
    onUiThread.push_back(OnUiThread());
    if (watch) seen.push_back(watch());
    if (style != MessageStyle::Question) return MessageAnswer::Ok;
    const MessageAnswer answer = answers.empty() ? MessageAnswer::No : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
}

void FakeDialogs::Beep()
{
    std::lock_guard lock(mutex_);
    ++beeps;
}

std::string FakeDialogs::ChooseFolder(const std::string& title)
{
    chooserTitle = title;
    return folder;
}

void DialogsTest::SetUp()
{
    SetDialogs(&dialogs);
    kx::SetReportHandler([this](const std::string& text) {
        std::lock_guard lock(reportsMutex);
        reports.push_back(text);
    });
}

void DialogsTest::TearDown()
{
    SetDialogs(nullptr);
    kx::SetReportHandler(nullptr);
}

void WindowTest::SetUp()
{
    DialogsTest::SetUp();
    ResizeMethod = 0;
    Open(engine);
}

void WindowTest::TearDown()
{
    window.reset();
    DialogsTest::TearDown();
}

void WindowTest::Open(IResizeEngine& other)
{
    window.reset();  // one window shows the meter at a time
    window = std::make_unique<frmMain>(other);
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QApplication::processEvents();
}

void WindowTest::Focus(QWidget* widget)
{
    widget->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
}

void WindowTest::Type(QLineEdit* box, const QString& text)
{
    box->setText(text);
    QApplication::processEvents();
}

void WindowTest::ReadyToStart(const std::string& folder)
{
    dialogs.folder = folder;
    window->CmdBrowse->click();
    Type(window->txtHeight, "480");
    Type(window->txtWidth, "640");
}

std::string WindowTest::StepPictures()
{
    std::string digits;
    for (QLabel* l : {window->ImgNo1, window->ImgNo2, window->ImgNo3, window->ImgNo4, window->imgHelp})
        digits += std::to_string(window->PictureOf(l));
    return digits;
}

std::string WindowTest::SizeBoxes()
{
    std::string state;
    for (int i = 0; i < 5; ++i)
        if (window->chkMethod[i]->isChecked()) state += std::to_string(i);
    state += " ";
    const frmMain& w = *window;
    const std::pair<char, std::vector<QWidget*>> rows[] = {
        {'H', {w.txtHeight, w.lblHeight, w.lblPixels1}},
        {'W', {w.txtWidth, w.lblWidth, w.lblPixels2}},
        {'P', {w.txtPercentage, w.lblPercent, w.lblPercSymb}}};
    for (const auto& [letter, widgets] : rows) {
        const auto enabled =
            std::count_if(widgets.begin(), widgets.end(), [](QWidget* x) { return x->isEnabled(); });
        state += enabled == 3 ? letter : enabled == 0 ? '-' : '?';
    }
    return state;
}

}  // namespace kxtest
