#include "frontend/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStandardPaths>
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

// A box is at least as wide as its title needs on the title bar, beside the
// window's icon and buttons. The box sizes itself to its layout's minimum.
void WidenForTitle(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr) return;
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    const int width = metrics.horizontalAdvance(box.windowTitle()) + 8 * metrics.height();
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0,
                  1, grid->columnCount());
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
        folder = QFileDialog::getExistingDirectory(parent_, QString::fromStdString(title), StartFolder(),
                                                   QFileDialog::ShowDirsOnly)
                     .toStdString();
        if (!folder.empty()) lastFolder_ = QString::fromStdString(folder);
    });
    return folder;
}

QString QtDialogs::StartFolder() const
{
    if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir()) return lastFolder_;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir()) return pictures;
    return QDir::homePath();
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
        WidenForTitle(box);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    WidenForTitle(box);
    box.exec();
    return MessageAnswer::Ok;
}

void QtDialogs::Ring() { QApplication::beep(); }

}  // namespace folvane
