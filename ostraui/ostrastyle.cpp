#include "ostraui/ostrastyle.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFocusFrame>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabBar>

#include <algorithm>
#include <cmath>

#include "ostraui/focusring.h"
#include "ostraui/theme.h"

namespace ostra {

namespace {

// The focus frame around a control: its ring, and the gap that keeps the ring off the control.
// A wider corner would cut into the control's own corners.
constexpr int FrameRingWidth = 2;
constexpr int FrameMargin = FrameRingWidth + 2;
constexpr double FrameRingRadius = 8;

// The corner radius the stylesheet gives a push button of each look.
double buttonRadius(const QWidget *button)
{
    if (button->property("iconRound").toBool())
        return button->height() / 2.0;
    if (button->property("big").toBool())
        return 12;
    if (button->property("small").toBool())
        return 9;
    return 10;
}

// A round badge with a glyph, in the colours of a status level.
QIcon badgeIcon(int level, const QString &glyph)
{
    QIcon icon;
    for (const double ratio : {1.0, 2.0}) {
        const int side = int(std::lround(32 * ratio));
        QPixmap pixmap(side, side);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(levelColor(level));
        p.drawEllipse(QRectF(0, 0, 32, 32));
        p.setPen(levelTextColor(level));
        p.setFont(uiFont(18, 700));
        p.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, glyph);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// Where the frame around a control draws its ring: all of it, but around a check box or radio
// button, which a layout may stretch across a row, only as wide as its box and text. A control
// at the very edge of what holds it keeps its whole ring, drawn in the gap on that side.
QRect frameRing(const QStyleOption *option, const QWidget *frame)
{
    QRect ring = option->rect;
    const QRect control = ring.marginsRemoved(QMargins(FrameMargin, FrameMargin, FrameMargin, FrameMargin));
    const auto *focusFrame = qobject_cast<const QFocusFrame *>(frame);
    const QWidget *framed = focusFrame ? focusFrame->widget() : nullptr;
    const bool box = qobject_cast<const QCheckBox *>(framed) || qobject_cast<const QRadioButton *>(framed);
    if (box && framed->size() == control.size()) {
        const int width = std::min(ring.width(), framed->sizeHint().width() + 2 * FrameMargin);
        if (option->direction == Qt::RightToLeft)
            ring.setLeft(ring.right() - width + 1);
        else
            ring.setWidth(width);
    }
    if (frame && frame->parentWidget())
        ring = (ring & QRect(-frame->pos(), frame->parentWidget()->size())) | (control & ring);
    return ring;
}

} // namespace

OstraStyle::OstraStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
}

void OstraStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                               const QWidget *widget) const
{
    if (element != PE_FrameFocusRect) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // Only focus given by the keyboard shows; the ring follows the control's rounded shape rather
    // than Fusion's square inside it. Item views claim keyboard focus for their current item
    // whatever gave the view focus, so the window's own record decides.
    const bool byKeyboard = widget ? widget->window()->testAttribute(Qt::WA_KeyboardFocusChange)
                                   : bool(option->state & State_KeyboardFocusChange);
    if (!byKeyboard)
        return;
    // A button that is its text alone shows it on the frame around it (see trackKeyboardFocus).
    if (isBareTextButton(widget))
        return;
    if (qobject_cast<const QPushButton *>(widget)) {
        paintFocusRing(painter, widget->rect(), buttonRadius(widget));
        return;
    }
    // Check boxes and radio buttons show it on the frame around them (see trackKeyboardFocus).
    if (qobject_cast<const QCheckBox *>(widget) || qobject_cast<const QRadioButton *>(widget))
        return;
    // Around the whole tab, since the rectangle Qt gives hugs the label, and above the line that
    // marks the current tab.
    if (const auto *bar = qobject_cast<const QTabBar *>(widget)) {
        if (const int tab = bar->tabAt(option->rect.center()); tab >= 0) {
            paintFocusRing(painter, bar->tabRect(tab).adjusted(0, 1, 0, -3), 8);
            return;
        }
    }
    paintFocusRing(painter, option->rect, 6);
}

void OstraStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                             const QWidget *widget) const
{
    if (element != CE_FocusFrame) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    // The frame around a control: the ring takes its margin, outside what the control shows.
    paintOuterFocusRing(painter, frameRing(option, widget), FrameRingRadius);
}

QIcon OstraStyle::standardIcon(StandardPixmap icon, const QStyleOption *option, const QWidget *widget) const
{
    switch (icon) {
    case SP_MessageBoxInformation: {
        static const QIcon info = badgeIcon(LevelInfo, QStringLiteral("i"));
        return info;
    }
    case SP_MessageBoxQuestion: {
        static const QIcon question = badgeIcon(LevelInfo, QStringLiteral("?"));
        return question;
    }
    case SP_MessageBoxWarning: {
        static const QIcon warning = badgeIcon(LevelWarning, QStringLiteral("!"));
        return warning;
    }
    case SP_MessageBoxCritical: {
        static const QIcon critical = badgeIcon(LevelDanger, QStringLiteral("!"));
        return critical;
    }
    default:
        return QProxyStyle::standardIcon(icon, option, widget);
    }
}

int OstraStyle::pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const
{
    switch (metric) {
    case PM_FocusFrameHMargin:
    case PM_FocusFrameVMargin:
        return FrameMargin;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

int OstraStyle::styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                          QStyleHintReturn *returnData) const
{
    switch (hint) {
    // Footer buttons carry text only, as the kit's buttons do.
    case SH_DialogButtonBox_ButtonsHaveIcons:
        return 0;
    // A combo opens a list below itself that the stylesheet themes, not Fusion's menu over it.
    case SH_ComboBox_Popup:
        return 0;
    // The focus frame lies over its control, and only its ring takes room on the screen, so the
    // control's own repaints leave the frame alone.
    case SH_FocusFrame_AboveWidget:
        return 1;
    case SH_FocusFrame_Mask:
        if (auto *mask = qstyleoption_cast<QStyleHintReturnMask *>(returnData); mask && option) {
            // Inside the rounded ring, less a pixel for its smoothed edge.
            const QRect ring = frameRing(option, widget);
            const double inset = FrameRingWidth + 1;
            QPainterPath inside;
            inside.addRoundedRect(QRectF(ring).adjusted(inset, inset, -inset, -inset), FrameRingRadius - inset,
                                  FrameRingRadius - inset);
            mask->region = QRegion(ring) - QRegion(inside.toFillPolygon().toPolygon());
            return 1;
        }
        return 0;
    default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

} // namespace ostra
