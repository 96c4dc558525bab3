#include "ostraui/toast.h"

#include <QPainter>
#include <QTimer>
#include <QVariantAnimation>

#include "ostraui/alphacolor.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"

namespace ostra {

Toast::Toast(QWidget *window)
    : QWidget(window)
    , m_fade(new QVariantAnimation(this))
    , m_hideTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("ostraToast"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();

    m_fade->setEasingCurve(motionCurve());
    connect(m_fade, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setOpacity(value.toDouble()); });
    connect(m_fade, &QVariantAnimation::finished, this, [this] {
        if (m_opacity <= 0.01)
            hide();
    });

    m_hideTimer->setSingleShot(true);
    connect(m_hideTimer, &QTimer::timeout, this, &Toast::fadeOut);
}

void Toast::showMessage(const QString &text)
{
    m_text = text;
    resize(QFontMetrics(uiFont(13.5, 500)).horizontalAdvance(text) + 56, 64);
    show();
    raise();

    m_fade->stop();
    const int duration = animDuration(350);
    m_fade->setDuration(duration);
    if (duration == 0) {
        setOpacity(1);
    } else {
        m_fade->setStartValue(m_opacity);
        m_fade->setEndValue(1.0);
        m_fade->start();
    }
    m_hideTimer->start(1800);
}

void Toast::fadeOut()
{
    m_fade->stop();
    const int duration = animDuration(250);
    if (duration == 0) {
        m_opacity = 0;
        hide();
        return;
    }
    m_fade->setDuration(duration);
    m_fade->setStartValue(m_opacity);
    m_fade->setEndValue(0.0);
    m_fade->start();
}

void Toast::setOpacity(double opacity)
{
    m_opacity = opacity;
    if (QWidget *window = parentWidget()) {
        move((window->width() - width()) / 2,
             window->height() - height() - 28 + int((1 - opacity) * 10));
    }
    update();
}

void Toast::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    const QRectF bubble = QRectF(rect()).adjusted(12, 6, -12, -18);
    const double radius = bubble.height() / 2;
    paintShadow(&painter, bubble, radius, 10, 20, -10, withAlpha(ThemeColors::shadow, 0.5));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ThemeColors::inverseSurface);
    painter.drawRoundedRect(bubble, radius, radius);
    painter.setFont(uiFont(13.5, 500));
    painter.setPen(ThemeColors::inverseText);
    painter.drawText(bubble, Qt::AlignCenter, m_text);
}

void showToast(QWidget *widget, const QString &text)
{
    if (!widget)
        return;
    QWidget *window = widget->window();
    auto *toast = window->findChild<Toast *>(QStringLiteral("ostraToast"), Qt::FindDirectChildrenOnly);
    if (!toast)
        toast = new Toast(window);
    toast->showMessage(text);
}

} // namespace ostra
