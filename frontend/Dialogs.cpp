#include "frontend/Dialogs.h"

#include <atomic>
#include <cstdio>

namespace folvane {

namespace {

class HeadlessDialogs : public IDialogs {
public:
    MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageStyle style) override
    {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
        return style == MessageStyle::Question ? MessageAnswer::No : MessageAnswer::Ok;
    }
    void Beep() override {}
    std::string ChooseFolder(const std::string&) override { return {}; }
};

std::atomic<IDialogs*> installed{nullptr};

}  // namespace

void SetDialogs(IDialogs* dialogs) { installed.store(dialogs); }

IDialogs& Dialogs()
{
    static HeadlessDialogs headless;
    IDialogs* dialogs = installed.load();
    return dialogs ? *dialogs : headless;
}

}  // namespace folvane
