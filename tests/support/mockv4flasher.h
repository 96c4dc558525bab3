#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

#include "firmware/receiverv4flasher.h"
#include "support/v4boardmodel.h"

namespace ostratest {

// The V4 flasher with its nine primitives played in process against a board model, on a virtual
// clock: a wait with nothing to read moves the clock by its whole time-out, a sleep by its length,
// so minute-long waits run in an instant and every time is exact. Runs on the test's thread.
class MockV4Flasher : public corvane::ReceiverV4Flasher
{
public:
    struct Sent
    {
        qint64 at;
        QByteArray bytes;
    };

    V4BoardModel board;
    qint64 clock = 0;
    QList<Sent> sent;
    bool portOpen = false;
    bool evenParity = false;
    // Called whenever the clock moves, with the new time.
    std::function<void(qint64)> onClock;

    using ReceiverV4Flasher::enterBootloader;
    using ReceiverV4Flasher::programImage;

    // The bytes sent since `index`, joined.
    QByteArray sentSince(int index) const
    {
        QByteArray out;
        for (int i = index; i < sent.size(); ++i)
            out += sent.at(i).bytes;
        return out;
    }

protected:
    void openPort(const QString &) override
    {
        portOpen = true;
        m_rx.clear();
    }
    void closePort() override { portOpen = false; }
    void setEvenParity(bool on) override { evenParity = on; }
    void writeBytes(const QByteArray &bytes) override
    {
        sent.append({ clock, bytes });
        board.now = clock;
        m_rx += board.feed(bytes);
    }
    QByteArray readBytes(int count, int timeoutMs) override
    {
        if (m_rx.size() < count)
            advance(timeoutMs);
        const QByteArray out = m_rx.left(count);
        m_rx.remove(0, out.size());
        return out;
    }
    QByteArray readFor(int ms) override
    {
        advance(ms);
        QByteArray out;
        out.swap(m_rx);
        return out;
    }
    void flushInput() override { m_rx.clear(); }
    void sleepMs(int ms) override { advance(ms); }
    qint64 nowMs() override { return clock; }

private:
    void advance(int ms)
    {
        clock += qMax(0, ms);
        if (onClock)
            onClock(clock);
    }

    QByteArray m_rx;
};

} // namespace ostratest
