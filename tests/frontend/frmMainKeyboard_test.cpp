// The main window and its boxes as a person finds them: access keys, Enter,
// context menus, clipped texts, the web label and the folder chooser.
#include <QAbstractButton>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QToolTip>

#include "QtDialogs.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "frmAbout.h"

using namespace folvane;
using kxtest::WhenUp;

namespace {

class UrlCatcher : public QObject {
    Q_OBJECT
public slots:
    void Open(const QUrl& url) { opened.push_back(url.toString()); }

public:
    std::vector<QString> opened;
};

using KeyboardWindow = kxtest::WindowTest;

}  // namespace

TEST_F(KeyboardWindow, AccessKeysAndEnterFocusTheButtonBeforePressingIt)
{
    struct Case {
        QWidget* from;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    const Case cases[] = {{window->txtHeight, Qt::Key_P, Qt::AltModifier},
                          {window->cmdProcess, Qt::Key_Return, Qt::NoModifier},
                          {window->cmdProcess, Qt::Key_Enter, Qt::KeypadModifier}};
    ReadyToStart();
    // Whenever the press comes, step 4 must be on screen by then.
    dialogs.watch = [this] {
        return StepPictures() + " " + window->txtParam->text().toStdString() +
               (window->fraMeter->isVisible() ? " meter" : "") +
               (window->cmdProcess->hasFocus() ? " focused" : "");
    };
    for (const Case& c : cases) {
        c.from->setFocus(Qt::TabFocusReason);
        dialogs.boxes.clear(), dialogs.seen.clear();
        QTest::keyClick(c.from, c.key, c.modifiers);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.seen.empty(); }, 1000)) << c.key;
        EXPECT_EQ(dialogs.boxes, std::vector<std::string>{"Would you like to continue...|All the images in "
                                                          "/home/ann/Photos\r\nwill be resized and put in "
                                                          "/home/ann/Photos/Resized|36"});
        EXPECT_EQ(dialogs.seen,
                  std::vector<std::string>{"56744 Height & Width, 640 x 480 pixels. meter focused"});
    }
    // Alt+A: the About button has the focus by the time its box is up.
    window->txtHeight->setFocus(Qt::TabFocusReason);
    QWidget* focusedAtOpen = nullptr;
    QTimer person;
    WhenUp<frmAbout>(person,
                     [&](frmAbout* about) { focusedAtOpen = window->focusWidget(), about->reject(); });
    QTest::keyClick(window->txtHeight, Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !person.isActive(); }, 1000));
    EXPECT_EQ(focusedAtOpen, window->cmdAbout);
}

TEST_F(KeyboardWindow, SizeBoxesSelectAllOnlyOnARealFocusAndTakeAPasteOfAnyLength)
{
    window->txtHeight->setText("1234");
    Focus(window->txtHeight);
    EXPECT_EQ(window->txtHeight->selectedText(), "1234");
    window->txtWidth->setText("123456");
    QTest::mouseClick(window->txtWidth, Qt::LeftButton, {}, QPoint(5, 5));
    QApplication::processEvents();
    EXPECT_EQ(window->txtWidth->selectedText(), "123456");
    window->txtWidth->setSelection(1, 3);
    QTimer person;
    WhenUp<QMenu>(person, [](QMenu* menu) { QTest::keyClick(menu, Qt::Key_C); });  // "&Copy"
    // A right click, as the platform reports it.
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(4, 4),
                                 window->txtWidth->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(window->txtWidth, &rightClick);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !person.isActive() && !QApplication::activePopupWidget(); }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "234");
    EXPECT_EQ(window->txtWidth->selectedText(), "234");
    // Another window in front and back again: the selection stays too.
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(window->txtWidth->hasFocus());
    EXPECT_EQ(window->txtWidth->selectedText(), "234");

    QGuiApplication::clipboard()->setText(QString(40000, '7'));
    QTest::keyClick(window->txtWidth, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(window->txtWidth->text().size(), 40003);  // "1" + the paste + "56", less "234"
}

TEST_F(KeyboardWindow, LongValuesShowWholeLinesEndInAnEllipsisAndKeepTheirTextAsToolTip)
{
    const QString words = "/home/ann/Photos/Our summer holiday at the sea with the whole family and the dog, "
                          "second week, camera two, the good ones only";
    for (const QString& folder : {QString("/home/ann/Photos"), words, "/" + QString(300, 'x')}) {
        ReadyToStart(folder.toStdString());
        Focus(window->cmdProcess);
        for (ValueLabel* label : {window->txtSourceFolder, window->txtDestFolder}) {
            const QString full = label->text();
            EXPECT_TRUE(full.startsWith(folder));
            const QStringList lines = label->ShownLines();
            const QFontMetrics metrics(label->font());
            ASSERT_FALSE(lines.isEmpty());
            // Whole lines only, none wider than the label.
            EXPECT_LE((lines.size() - 1) * metrics.lineSpacing() + metrics.height(),
                      label->contentsRect().height());
            for (const QString& line : lines)
                EXPECT_LE(metrics.horizontalAdvance(line), label->contentsRect().width());
            QString shown = lines.join("");
            if (full.size() > 100) {  // more than its four lines hold: cut and marked
                ASSERT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
                shown.chop(1);
                EXPECT_TRUE(full.startsWith(shown));
                EXPECT_GT(shown.size(), 60);
            } else {
                EXPECT_EQ(shown, full);
            }
            QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), label->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(label, &hover);
            EXPECT_EQ(QToolTip::text(), full);
        }
    }
}

TEST_F(KeyboardWindow, AboutBoxHoldsEveryTextAtLargeDesktopFonts)
{
    const QFont desktop = QApplication::font();
    frmAbout& about = frmAbout::Instance(window.get());
    for (double points : {8.0, 10.0, 12.0, 16.0}) {
        QFont font = desktop;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        about.show();
        for (int round = 0; round < 5; ++round)
            QApplication::processEvents();  // layouts settle a level a round
        for (QLabel* label : about.findChildren<QLabel*>()) {
            if (label->text().isEmpty()) continue;
            const QRect area = label->contentsRect();
            const int flags = label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine;
            const QRect need =
                label->fontMetrics().boundingRect(QRect(0, 0, area.width(), 9999), flags, label->text());
            EXPECT_TRUE(need.height() <= area.height() && need.width() <= area.width())
                << points << " pt: " << label->text().toStdString();
            EXPECT_TRUE(about.rect().contains(label->geometry())) << label->text().toStdString();
        }
        EXPECT_GT(about.cmdOK->geometry().top(), about.lblURL->geometry().bottom());
        about.hide();
    }
    QApplication::setFont(desktop);
}

TEST_F(KeyboardWindow, TheWebLabelOpensOnlyOnALeftClickReleasedOnIt)
{
    struct Case {
        Qt::MouseButton button;
        bool releasedOnLabel;
        size_t opened;
    };
    const Case cases[] = {{Qt::LeftButton, true, 1},
                          {Qt::RightButton, true, 0},
                          {Qt::MiddleButton, true, 0},
                          {Qt::LeftButton, false, 0}};
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Open");
    // The box made for a window that is gone once crashed a second window.
    frmAbout::Instance(window.get());
    Open(engine);
    frmAbout& about = frmAbout::Instance(window.get());
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    for (const Case& c : cases) {
        const size_t before = catcher.opened.size();
        const QPoint on = about.lblURL->rect().center();
        QTest::mousePress(about.lblURL, c.button, {}, on);
        QTest::mouseRelease(about.lblURL, c.button, {}, c.releasedOnLabel ? on : QPoint(on.x(), -30));
        EXPECT_EQ(catcher.opened.size() - before, c.opened) << c.button << c.releasedOnLabel;
    }
    EXPECT_EQ(catcher.opened, std::vector<QString>{kMakerWebAddress});
    QDesktopServices::unsetUrlHandler("https");
    about.hide();
}

TEST_F(KeyboardWindow, MessageBoxesAreWideEnoughForTheirTitle)
{
    QtDialogs real(window.get());
    int width = 0;
    QTimer person;
    WhenUp<QMessageBox>(person,
                        [&](QMessageBox* b) { width = b->width(), b->button(QMessageBox::Ok)->click(); });
    real.ShowMessage("Done!", "Folvane", MessageStyle::Plain);
    // Room for the title beside the window's icon and its buttons.
    const QFontMetrics metrics(QApplication::font());
    EXPECT_GE(width, metrics.horizontalAdvance("Folvane") + 6 * metrics.height());
}

TEST_F(KeyboardWindow, FolderChooserOpensAtTheLastFolderElsePicturesElseHome)
{
    // A folder made first (removed when it begins with "-"), the folder chosen ("" cancels), where it opened.
    struct Case {
        const char *make, *choose, *openedAt;
    };
    const Case cases[] = {{"", "", ""},
                          {"Pictures", "", "/Pictures"},
                          {"Pictures/a", "/Pictures/a", "/Pictures"},
                          {"", "", "/Pictures/a"} /* a cancel keeps the last */,
                          {"-Pictures/a", "", "/Pictures"}};
    kxtest::TempDir home;
    const QString root = QString::fromStdString(home.Path());
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString(home.Path()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home / ".config"));
    QtDialogs real(window.get());
    SetDialogs(&real);
    for (const Case& c : cases) {
        if (c.make[0] == '-')
            QDir(root).rmdir(c.make + 1);
        else if (c.make[0])
            QDir(root).mkpath(c.make);
        QString openedAt;
        QTimer person;
        WhenUp<QFileDialog>(person, [&](QFileDialog* chooser) {
            openedAt = chooser->directory().absolutePath();
            if (!c.choose[0]) return chooser->reject();
            chooser->setDirectory(root + c.choose);
            static_cast<QDialog*>(chooser)->accept();  // the Choose button
        });
        window->CmdBrowse->click();
        EXPECT_EQ(openedAt, root + c.openedAt) << c.make;
        EXPECT_EQ(window->txtSourceFolder->text(), c.choose[0] ? root + c.choose : QString());
    }
    SetDialogs(&dialogs);
    qputenv("HOME", oldHome);
    oldConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", oldConfig);
}

#include "frmMainKeyboard_test.moc"
