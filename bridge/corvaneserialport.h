#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "platform/serial/serialportlister.h"

class QEventLoop;
class QTimer;

namespace corvane {

// One USB serial line of the bridge (transmitter or receiver): fixed line settings, an open
// that waits out a port still reported busy, reads on ready-read and on a 15 ms poll, and an
// orderly close when the device goes away.
class CorvaneSerialPort : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool connected READ isConnected NOTIFY connectedChanged)
    Q_PROPERTY(QString portName READ portName NOTIFY portNameChanged)
public:
    static constexpr int PollIntervalMs = 15;
    static constexpr int CloseFlushMs = 200;
    static constexpr int OpenAttempts = 24;
    static constexpr int OpenRetryDelayMs = 250;

    explicit CorvaneSerialPort(QObject *parent = nullptr);
    ~CorvaneSerialPort() override;

    bool open(const QString &portName, qint32 baudRate);
    void close();
    bool isConnected() const;
    QString portName() const;
    // Why the last open failed, as errorOccurred said it; empty after an open that succeeded.
    QString openError() const { return m_openError; }
    // An open waits between its attempts on a busy port, and the rest of the program runs meanwhile.
    bool isOpening() const { return m_opening; }
    qint64 write(const QByteArray &data);

    static QList<SerialPortEntry> availablePorts();

public slots:
    void onReadyRead();
    void pollRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);

signals:
    void connectedChanged(bool connected);
    void portNameChanged(const QString &portName);
    void dataReceived(const QByteArray &data);
    void errorOccurred(const QString &error);

private:
    void readAllAndEmit();
    void sendPending();
    void closeForRemoval(const QString &text);

    QSerialPort *m_port = nullptr;
    QString m_portName;
    QString m_openError;
    QTimer *m_pollTimer = nullptr;
    bool m_opening = false;
    // Set while an open waits between attempts, so close() or destruction can end the wait.
    QEventLoop *m_retryWait = nullptr;
    bool m_openCancelled = false;
    // A removal is being handled: further errors of the vanished line are not reported.
    bool m_removing = false;
};

} // namespace corvane
