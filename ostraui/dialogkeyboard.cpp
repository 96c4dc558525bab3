#include "ostraui/dialogkeyboard.h"

#include "ostraui/x11connection.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace ostra {

namespace {

const char NoDefaultProperty[] = "ostraNoDefault";

// Time for a window manager to pass the keyboard on after a close.
constexpr int SettleMs = 500;

// The footer the dialog chrome keeps below the content, or a button box: where a dialog's
// answers are.
bool isAnswer(const QPushButton *button, const QDialog *dialog)
{
    for (const QWidget *w = button->parentWidget(); w && w != dialog; w = w->parentWidget()) {
        if (qobject_cast<const QDialogButtonBox *>(w) || w->objectName() == QLatin1String("ostraDialogFooter"))
            return true;
    }
    return false;
}

// The widget Tab reaches first in a window that has no focus yet.
QWidget *firstTabStop(QWidget *window)
{
    for (QWidget *w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
        QWidget *target = w;
        while (target->focusProxy())
            target = target->focusProxy();
        if ((target->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window) && w->isEnabled() && target->isEnabled())
            return target;
    }
    return nullptr;
}

class DialogKeyboard : public QObject
{
public:
    explicit DialogKeyboard(QDialog *dialog)
        : QObject(dialog)
        , m_dialog(dialog)
    {
        dialog->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_dialog) {
            switch (event->type()) {
            case QEvent::Show:
                chooseDefault();
                break;
            case QEvent::KeyPress:
                if (pressDefault(static_cast<QKeyEvent *>(event)))
                    return true;
                break;
            case QEvent::Hide:
                giveKeyboardBack();
                break;
            default:
                break;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool keepsNoDefault() const { return m_dialog->property(NoDefaultProperty).toBool(); }

    bool usable(const QPushButton *button) const
    {
        return button->isVisible() && button->isEnabled() && isAnswer(button, m_dialog);
    }

    // The answer the dialog made its default itself, else the primary one.
    QPushButton *answer() const
    {
        if (keepsNoDefault())
            return nullptr;
        if (m_chosen && usable(m_chosen))
            return m_chosen;
        for (QPushButton *button : m_dialog->findChildren<QPushButton *>()) {
            if (usable(button) && button->property("primary").toBool())
                return button;
        }
        return nullptr;
    }

    // Runs before QDialog would make the first button in Tab order its default, which may be
    // any button of the content.
    void chooseDefault()
    {
        const QList<QPushButton *> buttons = m_dialog->findChildren<QPushButton *>();
        if (keepsNoDefault()) {
            for (QPushButton *button : buttons) {
                button->setAutoDefault(false);
                button->setDefault(false);
            }
            return;
        }
        m_chosen = nullptr;
        for (QPushButton *button : buttons) {
            if (button->isDefault() && usable(button))
                m_chosen = button;
        }
        QPushButton *chosen = answer();
        if (!chosen)
            return;
        chosen->setDefault(true);
        // Opened with the focus on a button of the content, Return would press that one.
        if (!m_dialog->focusWidget()) {
            QWidget *first = firstTabStop(m_dialog);
            if (qobject_cast<QPushButton *>(first) && first != chosen)
                chosen->setFocus(Qt::OtherFocusReason);
        }
    }

    // Return reaches the dialog only when the focused control did not take it. A dialog without
    // a default leaves its buttons no auto default, so a focused one hands Return on to here.
    bool pressDefault(QKeyEvent *event)
    {
        const int key = event->key();
        const bool plain = (key == Qt::Key_Return || key == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier;
        if (!plain && !(key == Qt::Key_Enter && event->modifiers() == Qt::KeypadModifier))
            return false;
        auto *focused = qobject_cast<QPushButton *>(m_dialog->focusWidget());
        if (QPushButton *button = keepsNoDefault() ? focused : answer(); button && button->isEnabled())
            button->click();
        event->accept();
        return true;
    }

    // Without a window manager the X server hands the focus of a closed window to the root
    // window, where no key reaches the program.
    void giveKeyboardBack()
    {
        QWidget *parent = m_dialog->parentWidget();
        QWidget *window = parent ? parent->window() : nullptr;
        QWidget *active = QApplication::activeWindow();
        if (!window || !window->isVisible() || window->isMinimized() || (active && active != m_dialog))
            return;
        window->activateWindow();
        // The X server ignores a request whose time is older than the keyboard's last move, and
        // a window manager busy with the close can leave the keyboard with nobody: ask once more
        // when the close has settled, if nobody has it still and no other window came up.
        QTimer::singleShot(SettleMs, window, [window] {
            if (!window->isVisible() || window->isMinimized())
                return;
            for (QWidget *top : QApplication::topLevelWidgets()) {
                const Qt::WindowType type = top->windowType();
                if (top != window && top->isVisible() && (type == Qt::Window || type == Qt::Dialog))
                    return;
            }
            if (x11KeyboardWithNobody())
                window->activateWindow();
        });
    }

    QDialog *m_dialog;
    QPointer<QPushButton> m_chosen;
};

} // namespace

void applyDialogKeyboard(QDialog *dialog)
{
    if (dialog)
        new DialogKeyboard(dialog);
}

void setNoDefaultButton(QDialog *dialog)
{
    if (dialog)
        dialog->setProperty(NoDefaultProperty, true);
}

void keepFooterLastInTabOrder(QDialog *dialog, QWidget *pages, QWidget *first)
{
    QList<QWidget *> footer;
    bool past = false;
    for (QWidget *w = dialog->nextInFocusChain(); w != dialog; w = w->nextInFocusChain()) {
        past = past || w == first;
        if (past && w->focusPolicy() != Qt::NoFocus && w != pages && !pages->isAncestorOf(w))
            footer.append(w);
    }
    // Qt orders no tab stop after a widget that takes no focus.
    QWidget *last = dialog->previousInFocusChain();
    while (last != dialog && last->focusPolicy() == Qt::NoFocus && !footer.contains(last))
        last = last->previousInFocusChain();
    for (QWidget *w : std::as_const(footer)) {
        if (w != last)
            QWidget::setTabOrder(last, w);
        last = w;
    }
}

} // namespace ostra
