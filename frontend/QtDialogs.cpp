#include "QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace folvane {

MessageAnswer QtDialogs::ShowMessage(const std::string& text, const std::string& title, MessageStyle style)
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

void QtDialogs::Beep() { QApplication::beep(); }

std::string QtDialogs::ChooseFolder(const std::string& title)
{
    const QString folder = QFileDialog::getExistingDirectory(parent_, QString::fromStdString(title), QString(),
                                                             QFileDialog::ShowDirsOnly);
    return folder.toStdString();
}

}  // namespace folvane
