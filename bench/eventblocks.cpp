#include "bench/eventblocks.h"

#include <QAbstractEventDispatcher>
#include <QMetaEnum>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "bench/frameclock.h"

namespace benchdialogs {

namespace {

constexpr double NotedMs = 2.0;

double msBetween(BlockWatchApplication::Clock::time_point from, BlockWatchApplication::Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

} // namespace

BlockWatchApplication::BlockWatchApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [this] {
        const Clock::time_point now = Clock::now();
        for (Delivery &d : m_open) {
            if (!d.waited) {
                d.waited = true;
                d.firstWait = now;
            }
        }
    });
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, dispatcher, [this] {
        const Clock::time_point now = Clock::now();
        for (Delivery &d : m_open)
            d.lastWake = now;
    });
}

bool BlockWatchApplication::notify(QObject *receiver, QEvent *event)
{
    if (!m_watching)
        return QApplication::notify(receiver, event);
    // Neither the event nor the receiver need outlive the delivery.
    const QEvent::Type type = event->type();
    const QMetaObject *meta = receiver->metaObject();
    const QPointer<QObject> alive(receiver);
    m_open.push_back({Clock::now(), {}, {}, false});
    const bool result = QApplication::notify(receiver, event);
    const Delivery d = m_open.back();
    m_open.pop_back();
    const Clock::time_point end = Clock::now();
    if (!d.waited) {
        note(d.start, end, meta, alive, type);
    } else {
        note(d.start, d.firstWait, meta, alive, type);
        note(d.lastWake, end, meta, alive, type);
    }
    return result;
}

void BlockWatchApplication::note(Clock::time_point from, Clock::time_point to, const QMetaObject *meta,
                                 const QObject *receiver, QEvent::Type type)
{
    const double ms = msBetween(from, to);
    if (ms < NotedMs)
        return;
    const char *name = QMetaEnum::fromType<QEvent::Type>().valueToKey(type);
    QByteArray what = name ? QByteArray(name) : QByteArray::number(int(type));
    what += ' ' + QByteArray(meta->className());
    if (receiver && !receiver->objectName().isEmpty())
        what += " \"" + receiver->objectName().toUtf8() + '"';
    // A timer is known by what owns it and how often it runs.
    if (receiver && receiver->parent())
        what += QByteArray(" of ") + receiver->parent()->metaObject()->className();
    if (auto *timer = qobject_cast<const QTimer *>(receiver))
        what += " every " + QByteArray::number(timer->interval()) + " ms";
    m_blocks.push_back({from, ms, int(m_open.size()), what});
}

void printBlocks(const char *label, const std::vector<BlockWatchApplication::Block> &blocks,
                 const std::vector<BlockWatchApplication::Clock::time_point> &stamps,
                 const std::vector<BlockWatchApplication::Clock::time_point> &sent,
                 BlockWatchApplication::Clock::time_point from, int spanMs, double limitMs)
{
    const auto to = from + std::chrono::milliseconds(spanMs);
    auto it = std::lower_bound(stamps.begin(), stamps.end(), from);
    if (it != stamps.begin())
        --it;
    for (; it != stamps.end() && std::next(it) != stamps.end() && *it < to; ++it) {
        const auto gapEnd = *std::next(it);
        const double gap = msBetween(*it, gapEnd);
        if (gap <= limitMs)
            continue;
        const double sendGap = ostrabench::largestInterval(sent, *it, gapEnd);
        std::printf("  %s: gap %.1f ms at +%.0f ms (mono %.6f), sends %.1f ms apart\n", label, gap,
                    msBetween(from, *it), std::chrono::duration<double>(it->time_since_epoch()).count(), sendGap);
        std::vector<const BlockWatchApplication::Block *> within;
        for (const auto &b : blocks) {
            if (b.start < gapEnd && b.start + std::chrono::microseconds(long(b.ms * 1000)) > *it)
                within.push_back(&b);
        }
        std::sort(within.begin(), within.end(), [](auto *a, auto *b) {
            return a->start != b->start ? a->start < b->start : a->depth < b->depth;
        });
        for (const auto *b : within)
            std::printf("    %*s%6.1f %s\n", 2 * std::min(b->depth, 12), "", b->ms, b->what.constData());
    }
}

} // namespace benchdialogs
