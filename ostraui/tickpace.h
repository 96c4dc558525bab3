#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>

class QDialog;
class QRect;
class QSize;
class QTimer;
class QWidget;

namespace ostra {

// The slack after each 7 ms channel tick. Work of a few milliseconds on the GUI thread (a part of
// a window built later, a band of the dim, a dialog being shown, what a click does) starts right
// after a tick has run, so it ends before the next one is due instead of holding it up; two such
// pieces never share one interval. While nothing transmits, nothing waits.
class TickPace : public QObject
{
    Q_OBJECT

public:
    static TickPace *instance();

    // Called at each tick, from inside it.
    void ticked();
    // Called as the stream starts and stops: once it has stopped, what waits for a tick runs
    // without one.
    void setStreaming(bool streaming);
    bool isTicking() const;
    // A tick ran lately, if late: the stream runs, and what costs more than a slack is split.
    bool ticksComing() const;

    // Runs `job` after a coming tick, one job per tick in the order given, or one per pass of the
    // event loop while no tick runs. Not run when `context` is gone by then.
    void afterTick(QObject *context, std::function<void()> job);

    // Returns in the slack after a coming tick, in its turn among the jobs waiting for one (each
    // gets a slack of its own), user input held back meanwhile; at once when none has run lately
    // or one has just run, or while another wait runs (waits never nest). For work that builds;
    // what a user does waits for the next tick only, ahead of the jobs.
    void waitForTurn();

    // Installed on the application: a press of a mouse button or a key, and a window's exposure
    // (its first picture), reach their window right after a tick. The widgets a job built ask to
    // be polished in the same pass; that waits for a slack of its own. One window paints per
    // slack: a repaint asked for after another paint since the tick waits for the next slack.
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    // In the first pass after a tick.
    void slack();

private:
    TickPace();

    // A tick has run lately, but not just now.
    bool tickDue() const;
    // Returns once a tick has just run, user input held back meanwhile; at once (false) when none
    // has run lately or, unless `evenAfterFresh`, one has just run.
    bool waitForTick(bool evenAfterFresh = false);
    void afterSlack();
    void schedule();
    void runOne();
    void deferPolish(QWidget *widget);
    void polishSome();
    void holdRepaint(QWidget *window);
    // Asks again for the repaints held; false when none was.
    bool releaseRepaints();

    struct Job
    {
        QPointer<QObject> context;
        std::function<void()> run;
    };

    std::deque<Job> m_jobs;
    QList<QPointer<QWidget>> m_unpolished;
    QList<QPointer<QWidget>> m_heldRepaints;
    QElapsedTimer m_sinceTick;
    QTimer *m_stale;
    bool m_passQueued = false;
    bool m_waiting = false;
    bool m_inTurn = false;
    bool m_afterJob = false;
    bool m_slackPending = false;
    bool m_slackTaken = false;
    bool m_paintedSinceTick = false;
    bool m_repaintsWentLast = false;
};

// A repaint of a large area while ticks come is split into bands, top to bottom, one per slack:
// how many for an area of `size` (at most MaxSlackBands), and band `band` of `bands` of `area`.
constexpr int MaxSlackBands = 8;
int slackBands(const QSize &size);
QRect slackBand(const QRect &area, int band, int bands);

// Styles `widget` and all it holds that is not styled yet, now, in the pass that made them: left
// to the requests each widget posted when it was made, that work would follow in the same pass,
// and a widget styled already does not style what was added to it since.
void polishNow(QWidget *widget);

class PassBuilder;

// Readies a window just built for showing, while ticks come: the style sheet's work on all its
// widgets in the slack after one tick, its native window and size after the next, then its
// layout's sizes, `firstPaint`'s parts (what its first paint would otherwise make) and its backing
// store, one per slack, so that showing it can take the slack after the last of them.
// False when the window was closed meanwhile.
bool prepareShowing(QWidget *window, PassBuilder *firstPaint = nullptr);

// Shows `window` full screen, readied as above at its screen's size.
// False when it was closed meanwhile, and not shown.
bool showFullScreenAfterTick(QWidget *window, PassBuilder *firstPaint = nullptr);

// Shows `dialog` modally, readied as above: building it took the slack of the last tick.
int execAfterTick(QDialog &dialog);

} // namespace ostra
