#include "ostraui/tickpace.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

namespace ostra {

namespace {

// A tick that ended less than this ago leaves enough of its interval.
constexpr qint64 FreshNs = 1'500'000;
// Ticks come every 7 ms; none for three periods means the stream has stopped (or stalled, when
// waiting longer would only add to it).
constexpr int StaleMs = 21;

} // namespace

TickPace *TickPace::instance()
{
    static TickPace *const pace = new TickPace;
    return pace;
}

TickPace::TickPace()
    : m_stale(new QTimer(this))
{
    m_stale->setSingleShot(true);
    m_stale->setInterval(StaleMs);
    connect(m_stale, &QTimer::timeout, this, &TickPace::schedule);
}

void TickPace::ticked()
{
    m_sinceTick.start();
    // After the tick has returned: it may have more to do than send its frame.
    QMetaObject::invokeMethod(this, &TickPace::afterSlack, Qt::QueuedConnection);
}

bool TickPace::isTicking() const
{
    return m_sinceTick.isValid() && m_sinceTick.elapsed() < StaleMs;
}

void TickPace::afterSlack()
{
    emit slack();
    // A waiter takes this slack itself.
    if (!m_waiting)
        runOne();
    schedule();
}

void TickPace::afterTick(QObject *context, std::function<void()> job)
{
    m_jobs.push_back({context, std::move(job)});
    schedule();
}

void TickPace::schedule()
{
    if (m_jobs.empty())
        return;
    if (isTicking()) {
        // The next tick runs the next job; should ticks stop, passes take over.
        m_stale->start();
        return;
    }
    if (m_passQueued)
        return;
    m_passQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_passQueued = false;
        if (!isTicking())
            runOne();
        schedule();
    });
}

void TickPace::runOne()
{
    while (!m_jobs.empty()) {
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        if (job.context) {
            job.run();
            return;
        }
    }
}

void TickPace::waitForTick()
{
    if (m_waiting || !isTicking() || m_sinceTick.nsecsElapsed() < FreshNs)
        return;
    QEventLoop loop;
    connect(this, &TickPace::slack, &loop, &QEventLoop::quit);
    QTimer::singleShot(StaleMs, &loop, &QEventLoop::quit);
    m_waiting = true;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_waiting = false;
}

void TickPace::waitForTurn()
{
    if (!isTicking() || m_sinceTick.nsecsElapsed() < FreshNs)
        return;
    QEventLoop loop;
    afterTick(&loop, [&loop] { loop.quit(); });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool TickPace::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::Expose:
        if (event->spontaneous() && !m_waiting && isTicking()) {
            const QPointer<QObject> target(watched);
            waitForTick();
            // Closed meanwhile: there is nothing left to deliver it to.
            if (!target)
                return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void polishNow(QWidget *widget)
{
    widget->ensurePolished();
    // Parents come before what they hold.
    const QList<QWidget *> inside = widget->findChildren<QWidget *>();
    for (QWidget *child : inside)
        child->ensurePolished();
}

void prepareShowing(QWidget *window)
{
    TickPace *pace = TickPace::instance();
    if (!pace->isTicking())
        return;
    // Each widget built asked to be polished in the next pass, which would run that work while
    // waiting, ahead of the tick: it is done after the tick instead.
    QCoreApplication::removePostedEvents(window, QEvent::PolishRequest);
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets)
        QCoreApplication::removePostedEvents(widget, QEvent::PolishRequest);
    pace->waitForTick();
    window->ensurePolished();
    pace->waitForTick();
}

int execAfterTick(QDialog &dialog)
{
    prepareShowing(&dialog);
    return dialog.exec();
}

} // namespace ostra
