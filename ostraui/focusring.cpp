#include "ostraui/focusring.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFocusEvent>
#include <QFocusFrame>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QWidget>

#include "ostraui/theme.h"

namespace ostra {

namespace {

// The stylesheet draws sliders without a focus state, and scroll areas, lists and text views
// show none of their own; a combo box's drop-down list is no Tab stop. A check box or radio
// button is as tall as its text: a ring of its own would be cut to its sides.
bool ringsOnFrame(const QWidget *widget)
{
    if (qobject_cast<const QSlider *>(widget) || qobject_cast<const QCheckBox *>(widget)
        || qobject_cast<const QRadioButton *>(widget) || isBareTextButton(widget))
        return true;
    return qobject_cast<const QAbstractScrollArea *>(widget) && widget->window()->windowType() != Qt::Popup;
}

// Qt scrolls a control into view only when Tab moves within its scroll area; Tab from outside it
// (a dialog's header or footer) would leave the control out of sight.
void bringIntoView(QWidget *widget)
{
    for (QWidget *holder = widget->parentWidget(); holder; holder = holder->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(holder); area && area->widget()
            && area->widget()->isAncestorOf(widget))
            area->ensureWidgetVisible(widget);
    }
}

// Qt presses a focused push button on Return only in a dialog, where the dialog's own rule
// decides; on a page Return presses it as Space does.
bool returnPresses(QObject *watched, const QKeyEvent *event)
{
    auto *button = qobject_cast<QPushButton *>(watched);
    const int key = event->key();
    return button && (key == Qt::Key_Return || key == Qt::Key_Enter) && !event->isAutoRepeat()
           && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && button->hasFocus()
           && button->isEnabled() && !button->autoDefault() && !qobject_cast<QDialog *>(button->window());
}

// A scroll body shows no sign of its focus, yet the widget kit repaints all of a widget that takes
// or loses it: for a page's body, the whole page, on a click on its background or a dialog opening
// over it. Its focus events end here; the focus itself has moved already.
class UnmarkedFocus : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        return watched == parent() && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut);
    }
};

class KeyboardFocusTracker : public QObject
{
public:
    explicit KeyboardFocusTracker(QApplication *app)
        : QObject(app)
    {
        connect(app, &QApplication::focusChanged, this, &KeyboardFocusTracker::follow);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn && watched->isWidgetType()
            && static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason)
            static_cast<QWidget *>(watched)->window()->setAttribute(Qt::WA_KeyboardFocusChange, false);
        if (event->type() == QEvent::KeyPress && returnPresses(watched, static_cast<QKeyEvent *>(event))) {
            static_cast<QPushButton *>(watched)->click();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // Runs after the focus event, so a click has already cleared the window's mark.
    void follow(QWidget *, QWidget *now)
    {
        const bool byKeyboard = showsFocusRing(now);
        if (byKeyboard)
            bringIntoView(now);
        if (!byKeyboard || !ringsOnFrame(now)) {
            if (m_frame)
                m_frame->setWidget(nullptr);
            return;
        }
        // The frame lives in the window it was last shown in, and goes with it.
        if (!m_frame)
            m_frame = new QFocusFrame(now);
        m_frame->setWidget(now);
    }

    QPointer<QFocusFrame> m_frame;
};

} // namespace

void trackKeyboardFocus(QApplication &app)
{
    app.installEventFilter(new KeyboardFocusTracker(&app));
}

bool isBareTextButton(const QWidget *widget)
{
    return qobject_cast<const QPushButton *>(widget)
           && (widget->property("back").toBool() || widget->property("link").toBool());
}

bool showsFocusRing(const QWidget *widget)
{
    return widget && widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

bool isPressKey(const QKeyEvent *event)
{
    const int key = event->key();
    return !event->isAutoRepeat()
           && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Select);
}

void makeScrollBody(QAbstractScrollArea *area)
{
    area->setFocusPolicy(Qt::ClickFocus);
    area->installEventFilter(new UnmarkedFocus(area));
}

void paintOuterFocusRing(QPainter *painter, const QRectF &rect, double radius)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(Qt::NoBrush);
    // The link colour: it stands out against cards and fills in both themes.
    painter->setPen(QPen(ThemeColors::infoText, 2));
    painter->drawRoundedRect(rect.adjusted(1, 1, -1, -1), std::max(radius - 1, 0.0), std::max(radius - 1, 0.0));
    painter->restore();
}

void paintFocusRing(QPainter *painter, const QRectF &rect, double radius)
{
    paintOuterFocusRing(painter, rect, radius);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    // A thin inner line in the card colour keeps the ring apart from a dark or light fill.
    painter->setPen(QPen(ThemeColors::surface, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(rect.adjusted(2.5, 2.5, -2.5, -2.5), std::max(radius - 2.5, 0.0),
                             std::max(radius - 2.5, 0.0));
    painter->restore();
}

} // namespace ostra
