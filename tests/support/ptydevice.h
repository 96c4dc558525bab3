#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace ostratest {

// One end of a pseudo-terminal that a test uses to play a serial device: the program opens
// slavePath() as its serial port, the test reads what it wrote and writes replies.
// Reads pump the Qt event loop so the program keeps running while the test waits.
class PtyDevice
{
public:
    PtyDevice();
    ~PtyDevice();
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;

    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    bool write(const QByteArray &bytes);
    // Everything available now (after letting the event loop run once).
    QByteArray readAvailable();
    // What has reached the terminal so far, read without running the event loop: the bytes the
    // program handed to the line itself, not those still queued in its port.
    QByteArray readArrived();
    // Reads until `done(buffer)` holds or the time-out passes; returns what was read.
    QByteArray readUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs = 2000);
    QByteArray readAtLeast(int bytes, int timeoutMs = 2000);
    // One line up to and including '\n' (the line is returned without it); empty on time-out.
    // Bytes read past the line are kept for the next read.
    QByteArray readLine(int timeoutMs = 2000);
    // Drops what the program wrote so far.
    void drain();
    // Closes the master: the program's port sees the device vanish (hang-up).
    void hangUp();

private:
    void pump(int waitMs);
    void readMaster();
    void pumpUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs);
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QByteArray m_pending;
};

} // namespace ostratest
