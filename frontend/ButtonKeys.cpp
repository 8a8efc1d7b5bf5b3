#include "frontend/ButtonKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QShortcutEvent>
#include <QWidget>

namespace folvane {

namespace {

class ButtonKeys : public QObject {
public:
    explicit ButtonKeys(QWidget* window)
        : QObject(window)
    {
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
            button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (button == nullptr || !button->isEnabled()) return false;
        if (event->type() == QEvent::Shortcut) {
            // Two buttons sharing a letter: the toolkit moves the focus
            // between them and presses neither.
            if (static_cast<QShortcutEvent*>(event)->isAmbiguous()) return false;
            Press(button, true);
            return true;
        }
        if (event->type() == QEvent::KeyPress && qobject_cast<QPushButton*>(button) != nullptr) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
            if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                Press(button, false);
                return true;
            }
        }
        return false;
    }

private:
    static void Press(QAbstractButton* button, bool focusFirst)
    {
        QPointer<QAbstractButton> guard(button);
        if (focusFirst && (button->focusPolicy() & Qt::TabFocus)) button->setFocus(Qt::ShortcutFocusReason);
        // The focus handler may have taken the button away or disabled it.
        if (guard && button->isEnabled() && button->isVisible()) button->click();
    }
};

}  // namespace

void InstallButtonKeys(QWidget* window) { new ButtonKeys(window); }

}  // namespace folvane
