#include "QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <exception>

namespace folvane {

namespace {

bool OnUiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

// Runs `work` on the user-interface thread and waits for it there. The
// user-interface thread is never blocked by a run (it turns its event loop
// while it waits), so the wait always ends. A failure comes back to the
// caller instead of escaping into the event loop.
template <typename Work>
void RunOnUiThread(Work&& work)
{
    if (OnUiThread()) {
        work();
        return;
    }
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
}

}  // namespace

MessageAnswer QtDialogs::ShowMessage(const std::string& text, const std::string& title, MessageStyle style)
{
    MessageAnswer answer = MessageAnswer::Ok;
    auto show = [&] { answer = ShowBox(text, title, style); };
    if (OnUiThread()) {
        // Never waits for the lock: a thread holding it waits for this one.
        show();
        return answer;
    }
    std::lock_guard oneAtATime(boxMutex_);
    RunOnUiThread(show);
    return answer;
}

void QtDialogs::Beep()
{
    RunOnUiThread([this] { Ring(); });
}

std::string QtDialogs::ChooseFolder(const std::string& title)
{
    std::string folder;
    RunOnUiThread([&] {
        folder = QFileDialog::getExistingDirectory(parent_, QString::fromStdString(title), QString(),
                                                   QFileDialog::ShowDirsOnly)
                     .toStdString();
    });
    return folder;
}

MessageAnswer QtDialogs::ShowBox(const std::string& text, const std::string& title, MessageStyle style)
{
    // Texts break lines with CR LF; Qt wants a plain line feed.
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(parent_);
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(shown);
    box.setTextFormat(Qt::PlainText);
    switch (style) {
    case MessageStyle::Plain: box.setIcon(QMessageBox::NoIcon); break;
    case MessageStyle::Critical: box.setIcon(QMessageBox::Critical); break;
    case MessageStyle::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MessageStyle::Question: box.setIcon(QMessageBox::Question); break;
    }
    if (style == MessageStyle::Question) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageAnswer::Ok;
}

void QtDialogs::Ring() { QApplication::beep(); }

}  // namespace folvane
