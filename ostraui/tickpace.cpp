#include "ostraui/tickpace.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QLayout>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <utility>

#include "ostraui/passbuilder.h"

namespace ostra {

namespace {

// A tick that ended less than this ago leaves enough of its interval.
constexpr qint64 FreshNs = 1'500'000;
// Ticks come every 7 ms; none for three periods means the stream has stopped (or stalled, when
// waiting longer would only add to it).
constexpr int StaleMs = 21;
// A tick this late is held up by the work before it, not stopped: what waits for a tick still
// lets it run first.
constexpr int OverdueMs = 100;
// What one slack writes of a new backing store: 2 MB.
constexpr qint64 BandPixels = 512 * 1024;
// What one slack repaints of a window, at least a quarter of it: 300,000 pixels.
constexpr qint64 SlackBandPixels = 300'000;
constexpr int MinSlackBands = 4;
// What one slack spends on polishing widgets built in earlier ones.
constexpr qint64 PolishBudgetNs = 4'000'000;

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
    m_slackPending = true;
    m_paintedSinceTick = false;
    // After the tick has returned: it may have more to do than send its frame.
    QMetaObject::invokeMethod(this, &TickPace::afterSlack, Qt::QueuedConnection);
}

void TickPace::setStreaming(bool streaming)
{
    if (streaming)
        return;
    m_sinceTick.invalidate();
    schedule();
}

bool TickPace::isTicking() const
{
    return m_sinceTick.isValid() && m_sinceTick.elapsed() < StaleMs;
}

bool TickPace::ticksComing() const
{
    return m_sinceTick.isValid() && m_sinceTick.elapsed() < OverdueMs;
}

void TickPace::afterSlack()
{
    // Polish asked for by the last job's widgets came before this, posted earlier.
    m_afterJob = false;
    m_slackPending = false;
    emit slack();
    // A waiter, or what was let through as this slack began, takes it itself. Repaints held from
    // the last interval and the jobs take turns: windows that repaint all the time starve no job.
    const bool taken = std::exchange(m_slackTaken, false);
    const bool jobsWaited = m_repaintsWentLast && !m_jobs.empty();
    m_repaintsWentLast = !jobsWaited && releaseRepaints();
    if (!m_repaintsWentLast && !m_waiting && !taken)
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
    if (isTicking()) {
        // The next tick runs the next job and asks for the repaints held; should ticks stop,
        // passes take over.
        if (!m_jobs.empty() || !m_heldRepaints.isEmpty())
            m_stale->start();
        return;
    }
    releaseRepaints();
    if (m_jobs.empty() || m_passQueued)
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
            m_afterJob = isTicking();
            return;
        }
    }
}

bool TickPace::tickDue() const
{
    return ticksComing() && m_sinceTick.nsecsElapsed() >= FreshNs;
}

bool TickPace::waitForTick(bool evenAfterFresh)
{
    // Never a wait inside a wait: what comes meanwhile is delivered at once.
    if (m_waiting || m_inTurn || !(evenAfterFresh ? ticksComing() : tickDue()))
        return false;
    QEventLoop loop;
    connect(this, &TickPace::slack, &loop, &QEventLoop::quit);
    QTimer::singleShot(StaleMs, &loop, &QEventLoop::quit);
    m_waiting = true;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_waiting = false;
    return true;
}

void TickPace::deferPolish(QWidget *widget)
{
    if (m_unpolished.isEmpty())
        afterTick(this, [this] { polishSome(); });
    m_unpolished.append(widget);
}

void TickPace::polishSome()
{
    QElapsedTimer spent;
    spent.start();
    while (!m_unpolished.isEmpty() && spent.nsecsElapsed() < PolishBudgetNs) {
        if (const QPointer<QWidget> widget = m_unpolished.takeFirst())
            widget->ensurePolished();
    }
    if (!m_unpolished.isEmpty())
        afterTick(this, [this] { polishSome(); });
}

// The widget kit asks for a window's repaint with one UpdateRequest and asks for no other until
// that one is served: holding it holds every repaint of the window.
void TickPace::holdRepaint(QWidget *window)
{
    if (!m_heldRepaints.contains(window))
        m_heldRepaints.append(window);
    schedule();
}

bool TickPace::releaseRepaints()
{
    if (m_heldRepaints.isEmpty())
        return false;
    // Posted, not sent: the first delivered paints, the others are held again for a slack each.
    for (const QPointer<QWidget> &window : std::exchange(m_heldRepaints, {})) {
        if (window)
            QCoreApplication::postEvent(window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    }
    return true;
}

void TickPace::waitForTurn()
{
    if (m_waiting || m_inTurn || !tickDue())
        return;
    // The work before this outlasted an interval: the queue runs a pass at a time now, and the
    // tick it held up runs first, this taking its slack.
    if (!isTicking()) {
        waitForTick();
        return;
    }
    QEventLoop loop;
    afterTick(&loop, [&loop] { loop.quit(); });
    m_inTurn = true;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_inTurn = false;
}

bool TickPace::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::PolishRequest:
        // A widget shown meanwhile is polished as it shows.
        if (m_afterJob && watched->isWidgetType()) {
            deferPolish(static_cast<QWidget *>(watched));
            return true;
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::Expose:
        if (event->spontaneous() && !m_waiting && !m_inTurn) {
            const QPointer<QObject> target(watched);
            // Let through at once, it takes the slack that is only beginning; a first picture
            // does not share a slack with another paint.
            const bool afterPaint = event->type() == QEvent::Expose && m_paintedSinceTick;
            if (!waitForTick(afterPaint) && m_slackPending)
                m_slackTaken = true;
            // Closed meanwhile: there is nothing left to deliver it to.
            if (!target)
                return true;
        }
        break;
    case QEvent::UpdateRequest:
        if (m_paintedSinceTick && watched->isWidgetType() && isTicking()) {
            holdRepaint(static_cast<QWidget *>(watched));
            return true;
        }
        break;
    case QEvent::Paint:
        m_paintedSinceTick = isTicking();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

int slackBands(const QSize &size)
{
    const qint64 pixels = qint64(size.width()) * size.height();
    return int(std::clamp<qint64>((pixels + SlackBandPixels - 1) / SlackBandPixels, MinSlackBands, MaxSlackBands));
}

QRect slackBand(const QRect &area, int band, int bands)
{
    const int top = area.height() * band / bands;
    return QRect(area.left(), area.top() + top, area.width(), area.height() * (band + 1) / bands - top);
}

void polishNow(QWidget *widget)
{
    widget->ensurePolished();
    // Parents come before what they hold.
    const QList<QWidget *> inside = widget->findChildren<QWidget *>();
    for (QWidget *child : inside)
        child->ensurePolished();
}

namespace {

// Makes `window`'s native window as showing it does. QWidget::winId() would also mark the window
// native, which makes every widget beside it in its parent native too; create() is protected, and
// is reached here the one way a subclass may reach it for another widget.
void createNativeWindow(QWidget *window)
{
    struct Creator : QWidget
    {
        static void make(QWidget *widget) { (widget->*&Creator::create)(0, true, true); }
    };
    Creator::make(window);
}

// The system hands a new backing store's memory out page by page as it is first written, which
// costs a window's first paint some milliseconds before it draws anything (a large one, more than
// a slack); written once here, band by band, the store is kept for that paint when the window
// shows at this size.
void readyBackingStore(QWidget *window, int band, int bands)
{
    QBackingStore *store = window->backingStore();
    if (!store)
        return;
    store->resize(window->size());
    const QRect area = slackBand(window->rect(), band, bands);
    store->beginPaint(area);
    if (QPaintDevice *device = store->paintDevice()) {
        // Written, not blended: the first paint covers it all anyway.
        QPainter painter(device);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(area, window->palette().window());
    }
    store->endPaint();
}

} // namespace

bool prepareShowing(QWidget *window, PassBuilder *firstPaint)
{
    TickPace *pace = TickPace::instance();
    if (!pace->ticksComing())
        return true;
    // A window of its own may be closed while it waits.
    const QPointer<QWidget> alive(window);
    const auto turn = [pace, &alive] {
        pace->waitForTurn();
        return !alive.isNull();
    };
    // Each widget built asked to be polished in the next pass, which would run that work while
    // waiting, ahead of the tick: it is done after the tick instead.
    QCoreApplication::removePostedEvents(window, QEvent::PolishRequest);
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets)
        QCoreApplication::removePostedEvents(widget, QEvent::PolishRequest);
    if (!turn())
        return false;
    polishNow(window);
    // Its native window, which showing it would make, and with it its size.
    if (!turn())
        return false;
    createNativeWindow(window);
    // The size showing would give it, which what is made ahead is made at; as after showing, it
    // is sized afresh when shown again.
    if (!window->testAttribute(Qt::WA_Resized)) {
        window->adjustSize();
        window->setAttribute(Qt::WA_Resized, false);
    }
    // Then its layout's sizes, which take a few milliseconds more.
    if (QLayout *layout = window->layout()) {
        if (!turn())
            return false;
        layout->activate();
    }
    // Painting a pixel of a window not shown yet hands its widgets the sizes their layouts gave
    // them, as showing would: a scroll area measures its content for them then. Not a window
    // whose first paint comes in parts: that pixel would make them all at once.
    if (!firstPaint) {
        if (!turn())
            return false;
        window->grab(QRect(0, 0, 1, 1));
    }
    for (int part = 0; firstPaint && !firstPaint->isFinished(); ++part) {
        if (firstPaint->isBuilt(part))
            continue;
        if (!turn())
            return false;
        firstPaint->ensure(part);
    }
    // In bands: a large store at once would take most of a slack.
    const qint64 pixels = qint64(window->width()) * window->height();
    const int bands = int(std::max<qint64>(1, (pixels + BandPixels - 1) / BandPixels));
    for (int band = 0; band < bands; ++band) {
        if (!turn())
            return false;
        readyBackingStore(window, band, bands);
    }
    return turn();
}

bool showFullScreenAfterTick(QWidget *window, PassBuilder *firstPaint)
{
    // The size it is about to have, which the parts made ahead are made at.
    window->setGeometry(window->screen()->geometry());
    if (!prepareShowing(window, firstPaint))
        return false;
    window->showFullScreen();
    return true;
}

int execAfterTick(QDialog &dialog)
{
    prepareShowing(&dialog);
    return dialog.exec();
}

} // namespace ostra
