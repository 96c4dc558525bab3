#pragma once

// Timestamps the frames a program writes to a pseudo-terminal, read on the master side on a thread
// of its own so that the stamps do not wait for the GUI thread that produces the frames.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ostrabench {

class FrameClock
{
public:
    using Clock = std::chrono::steady_clock;
    // Looks at the bytes from `at` on: returns the length of the frame that starts there (setting
    // `stamp` when it is one to time), 0 when none starts there, -1 when more bytes are needed.
    using Splitter = std::function<int(const std::vector<unsigned char> &bytes, size_t at, bool &stamp)>;

    FrameClock(int masterFd, Splitter splitter)
        : m_fd(masterFd)
        , m_splitter(std::move(splitter))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~FrameClock()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<Clock::time_point> stamps() const { return m_stamps; }

private:
    void run()
    {
        std::vector<unsigned char> pending;
        unsigned char buffer[4096];
        while (!m_stop) {
            pollfd pfd { m_fd, POLLIN, 0 };
            if (::poll(&pfd, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            const Clock::time_point now = Clock::now();
            pending.insert(pending.end(), buffer, buffer + n);
            size_t i = 0;
            while (i < pending.size()) {
                bool stamp = false;
                const int length = m_splitter(pending, i, stamp);
                if (length < 0)
                    break;
                if (stamp)
                    m_stamps.push_back(now);
                i += length > 0 ? size_t(length) : 1;
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

    int m_fd;
    Splitter m_splitter;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
    std::vector<Clock::time_point> m_stamps;
};

// The largest interval between the stamps from the last one before `from` up to the first one
// at or after `to`: the gaps that bound the span count with it.
inline double largestInterval(const std::vector<FrameClock::Clock::time_point> &stamps,
                              FrameClock::Clock::time_point from, FrameClock::Clock::time_point to)
{
    auto it = std::lower_bound(stamps.begin(), stamps.end(), from);
    const auto last = std::lower_bound(it, stamps.end(), to);
    if (it != stamps.begin())
        --it;
    double largest = 0.0;
    for (; it != last && std::next(it) != stamps.end(); ++it)
        largest = std::max(largest, std::chrono::duration<double, std::milli>(*std::next(it) - *it).count());
    return largest;
}

// Prints the median, 99th percentile and largest interval between the stamps, and how many
// intervals exceed each of `overMs`. Needs at least two stamps.
inline void printIntervals(const std::vector<FrameClock::Clock::time_point> &stamps, std::initializer_list<double> overMs)
{
    std::vector<double> intervals;
    intervals.reserve(stamps.size() - 1);
    for (size_t i = 1; i < stamps.size(); ++i)
        intervals.push_back(std::chrono::duration<double, std::milli>(stamps[i] - stamps[i - 1]).count());
    std::sort(intervals.begin(), intervals.end());
    const auto at = [&intervals](double share) {
        return intervals[std::min(intervals.size() - 1, size_t(share * double(intervals.size())))];
    };
    const double mean = std::chrono::duration<double, std::milli>(stamps.back() - stamps.front()).count()
                        / double(intervals.size());
    std::printf("interval mean %.3f ms, median %.3f ms, p99 %.3f ms, max %.3f ms", mean, at(0.5), at(0.99),
                intervals.back());
    for (const double limit : overMs)
        std::printf(", over %.0f ms: %zu", limit,
                    size_t(std::count_if(intervals.begin(), intervals.end(), [limit](double ms) { return ms > limit; })));
    std::printf("\n");
}

} // namespace ostrabench
