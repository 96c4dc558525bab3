#include "ostraui/ostrastyle.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOption>

#include <cmath>

#include "ostraui/focusring.h"
#include "ostraui/theme.h"

namespace ostra {

namespace {

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

} // namespace

// The focus frame reaches its style's margin beyond the control; the ring keeps to the control.
QRect OstraStyle::focusFrameRing(const QStyleOption *option, const QWidget *frame) const
{
    const int h = proxy()->pixelMetric(PM_FocusFrameHMargin, option, frame);
    const int v = proxy()->pixelMetric(PM_FocusFrameVMargin, option, frame);
    return option->rect.adjusted(h, v, -h, -v);
}

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
    if (qobject_cast<const QPushButton *>(widget)) {
        paintFocusRing(painter, widget->rect(), buttonRadius(widget));
        return;
    }
    if (qobject_cast<const QCheckBox *>(widget) || qobject_cast<const QRadioButton *>(widget)) {
        paintFocusRing(painter, QRectF(option->rect).adjusted(-4, -2, 4, 2), 6);
        return;
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
    // The frame over a control without a focus state of its own: the ring on the control's edge.
    paintFocusRing(painter, focusFrameRing(option, widget), 10);
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
            const QRect ring = focusFrameRing(option, widget);
            mask->region = QRegion(ring) - QRegion(ring.adjusted(3, 3, -3, -3));
            return 1;
        }
        return 0;
    default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

} // namespace ostra
