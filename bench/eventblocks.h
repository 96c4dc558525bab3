#pragma once

// cadenceprobe --blocks: which event deliveries held the GUI thread when a frame was late. The
// application notes each delivery of 2 ms or more (a delivery that runs an event loop of its own,
// such as a modal dialog's, counts only the stretches before that loop began waiting and after
// it last woke), and for every gap over the limit the notes that fall in it are printed. Each gap
// also gives its start on the monotonic clock, to find it in a system trace of the same run
// (perf record -k CLOCK_MONOTONIC), and the largest interval between the tick's writes around it:
// a gap the writes did not have is the line's. A late write with no note in its gap was held
// outside event deliveries (waiting on the X server, or off the CPU).

#include <QApplication>

#include <chrono>
#include <vector>

namespace benchdialogs {

class BlockWatchApplication : public QApplication
{
public:
    using Clock = std::chrono::steady_clock;

    struct Block
    {
        Clock::time_point start;
        double ms = 0.0;
        int depth = 0;
        QByteArray what;
    };

    BlockWatchApplication(int &argc, char **argv);

    void setWatching(bool on) { m_watching = on; }
    const std::vector<Block> &blocks() const { return m_blocks; }

    bool notify(QObject *receiver, QEvent *event) override;

private:
    struct Delivery
    {
        Clock::time_point start;
        Clock::time_point firstWait;
        Clock::time_point lastWake;
        bool waited = false;
    };

    // `receiver` is null when the delivery deleted it.
    void note(Clock::time_point from, Clock::time_point to, const QMetaObject *meta, const QObject *receiver,
              QEvent::Type type);

    bool m_watching = false;
    std::vector<Delivery> m_open;
    std::vector<Block> m_blocks;
};

// For each gap over `limitMs` between the frames in [from, from + spanMs), the largest interval
// between the sends (`sent`) around it and the blocks within it.
void printBlocks(const char *label, const std::vector<BlockWatchApplication::Block> &blocks,
                 const std::vector<BlockWatchApplication::Clock::time_point> &stamps,
                 const std::vector<BlockWatchApplication::Clock::time_point> &sent,
                 BlockWatchApplication::Clock::time_point from, int spanMs, double limitMs);

} // namespace benchdialogs
