// The dialogs of the desktop program: Qt message boxes, the desktop's beep
// and Qt's folder chooser, all on the user-interface thread.
#pragma once

#include <QWidget>

#include "Dialogs.h"

namespace folvane {

class QtDialogs : public IDialogs {
public:
    // `parent` (may be null) owns the modal dialogs.
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageStyle style) override;
    void Beep() override;
    std::string ChooseFolder(const std::string& title) override;

private:
    QWidget* parent_;
};

}  // namespace folvane
