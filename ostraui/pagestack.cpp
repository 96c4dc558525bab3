#include "ostraui/pagestack.h"

#include <QGraphicsOpacityEffect>
#include <QVariantAnimation>

#include <cmath>

#include "ostraui/theme.h"
#include "ostraui/tickpace.h"

namespace ostra {

PageStack::PageStack(QWidget *parent)
    : QStackedWidget(parent)
    , m_animation(new QVariantAnimation(this))
{
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setEasingCurve(motionCurve());
}

void PageStack::setCurrentIndexAnimated(int index)
{
    if (index == currentIndex() || index < 0 || index >= count())
        return;
    finishTransition();
    setCurrentIndex(index);
    QWidget *page = currentWidget();
    // While the channel stream runs the page turns at once: each step of the fade paints the
    // whole page again, which on a large window takes longer than the tick's interval.
    if (!page || !animationsEnabled() || TickPace::instance()->isTicking())
        return;

    auto *effect = new QGraphicsOpacityEffect(page);
    effect->setOpacity(0.0);
    page->setGraphicsEffect(effect);
    m_incoming = page;
    m_incomingPos = page->pos();

    m_animation->disconnect(this);
    connect(m_animation, &QVariantAnimation::valueChanged, this, &PageStack::onAnimationValue);
    connect(m_animation, &QVariantAnimation::finished, this, &PageStack::finishTransition);
    m_animation->setDuration(animDuration(360));
    m_animation->start();
}

void PageStack::onAnimationValue(const QVariant &value)
{
    if (!m_incoming)
        return;
    const double v = value.toDouble();
    if (auto *effect = qobject_cast<QGraphicsOpacityEffect *>(m_incoming->graphicsEffect()))
        effect->setOpacity(v);
    m_incoming->move(m_incomingPos.x(), m_incomingPos.y() + int(std::lround((1.0 - v) * 10.0)));
}

void PageStack::finishTransition()
{
    m_animation->stop();
    if (m_incoming) {
        m_incoming->setGraphicsEffect(nullptr);
        m_incoming->move(m_incomingPos);
    }
    m_incoming = nullptr;
}

} // namespace ostra
