#include "WindowDriver.h"

#include <QThread>

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

std::string WindowTest::StepPictures() const
{
    std::string digits;
    for (QLabel* l : {window->ImgNo1, window->ImgNo2, window->ImgNo3, window->ImgNo4, window->imgHelp})
        digits += std::to_string(window->PictureOf(l));
    return digits;
}

std::string WindowTest::SizeBoxes() const
{
    std::string state;
    for (int i = 0; i < 5; ++i)
        if (window->chkMethod[i]->isChecked()) state += std::to_string(i);
    const folvane::frmMain& w = *window;
    const std::pair<char, std::vector<QWidget*>> rows[] = {
        {'H', {w.txtHeight, w.lblHeight, w.lblPixels1}},
        {'W', {w.txtWidth, w.lblWidth, w.lblPixels2}},
        {'P', {w.txtPercentage, w.lblPercent, w.lblPercSymb}}};
    state += " ";
    for (const auto& [letter, widgets] : rows) {
        const auto enabled =
            std::count_if(widgets.begin(), widgets.end(), [](QWidget* x) { return x->isEnabled(); });
        state += enabled == 3 ? letter : enabled == 0 ? '-' : '?';
    }
    return state;
}

}  // namespace kxtest
