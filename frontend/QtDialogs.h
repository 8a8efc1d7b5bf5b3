// The dialogs of the desktop program: Qt message boxes, the desktop's beep
// and Qt's folder chooser. Any thread may ask for them; they are always
// shown on the user-interface thread.
#pragma once

#include <QString>
#include <QWidget>
#include <mutex>

#include "frontend/Dialogs.h"

namespace folvane {

class QtDialogs : public IDialogs {
public:
    // `parent` (may be null) owns the modal dialogs.
    explicit QtDialogs(QWidget* parent = nullptr)
        : parent_(parent)
    {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    // From another thread each call is carried over to the user-interface
    // thread, whose event loop must be running, and the caller waits there
    // until the box is closed. Boxes asked for by other threads are shown one
    // at a time; on the user-interface thread itself a call runs at once.
    MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageStyle style) override;
    void Beep() override;
    // Opens at the folder chosen last, else the user's Pictures folder,
    // else the home folder.
    std::string ChooseFolder(const std::string& title) override;

protected:
    // The real work, always on the user-interface thread.
    virtual MessageAnswer ShowBox(const std::string& text, const std::string& title, MessageStyle style);
    virtual void Ring();

private:
    QString StartFolder() const;
    QWidget* parent_;
    QString lastFolder_;  // on the user-interface thread only
    // Held by another thread while its box is open.
    std::mutex boxMutex_;
};

}  // namespace folvane
