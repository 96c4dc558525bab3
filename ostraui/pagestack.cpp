#include "ostraui/pagestack.h"

#include <QGraphicsOpacityEffect>
#include <QPaintEvent>
#include <QVariantAnimation>

#include <cmath>

#include "ostraui/theme.h"
#include "ostraui/tickpace.h"

namespace ostra {

namespace {

// Opaque, and paints nothing: nothing under it is painted either, so the window keeps the picture
// it had there. Clicks on it are dropped: what it shows is no longer there.
class Curtain : public QWidget
{
public:
    explicit Curtain(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override {}
};

} // namespace

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
    if (!page)
        return;
    // Each step of the fade paints the whole page again, as would showing it at once.
    if (TickPace::instance()->ticksComing()) {
        if (isVisible())
            revealInBands();
        return;
    }
    if (!animationsEnabled())
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
    dropCurtains();
}

void PageStack::revealInBands()
{
    m_bands = slackBands(size());
    for (int band = 0; band < m_bands; ++band) {
        auto *curtain = new Curtain(this);
        curtain->show();
        curtain->raise();
        m_curtains.emplace_back(curtain);
    }
    layCurtains();
    // A new size of the window's takes the picture the curtains keep with it.
    window()->installEventFilter(this);
    TickPace::instance()->afterTick(this, [this] { revealNextBand(); });
}

void PageStack::layCurtains()
{
    const int shown = m_bands - int(m_curtains.size());
    for (size_t k = 0; k < m_curtains.size(); ++k) {
        if (m_curtains[k])
            m_curtains[k]->setGeometry(slackBand(rect(), shown + int(k), m_bands));
    }
}

void PageStack::revealNextBand()
{
    while (!m_curtains.empty()) {
        const QPointer<QWidget> curtain = m_curtains.front();
        m_curtains.erase(m_curtains.begin());
        if (curtain) {
            m_awaitedBand = curtain->geometry();
            delete curtain.data();
            if (m_curtains.empty())
                window()->removeEventFilter(this);
            return;
        }
    }
}

void PageStack::dropCurtains()
{
    for (const QPointer<QWidget> &curtain : m_curtains)
        delete curtain.data();
    m_curtains.clear();
    m_awaitedBand = QRect();
    window()->removeEventFilter(this);
}

bool PageStack::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window() && event->type() == QEvent::Resize)
        dropCurtains();
    return QStackedWidget::eventFilter(watched, event);
}

void PageStack::paintEvent(QPaintEvent *event)
{
    QStackedWidget::paintEvent(event);
    // The next band waits until this one is on the window: bands uncovered between two repaints
    // would be painted together.
    if (m_awaitedBand.isValid() && event->rect().intersects(m_awaitedBand)) {
        m_awaitedBand = QRect();
        if (!m_curtains.empty())
            TickPace::instance()->afterTick(this, [this] { revealNextBand(); });
    }
}

void PageStack::resizeEvent(QResizeEvent *event)
{
    QStackedWidget::resizeEvent(event);
    // Moved with what is around it (a page header of another height): the bands not shown yet
    // stay covered, the picture kept under them a little off for the moment.
    layCurtains();
}

void PageStack::hideEvent(QHideEvent *event)
{
    dropCurtains();
    QStackedWidget::hideEvent(event);
}

} // namespace ostra
