#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QTimer;
class QUrlQuery;

namespace corvane {

class MotionSystemController;

// One line of the panel's log as the phone receives it.
struct MotionPanelLogEntry
{
    int seq = 0;
    QString time;
    QString text;
};

// The phone web panel: a minimal HTTP/1.1 server that serves one page and a small query-string
// API over the motion controller. One request per connection; the answer closes it.
class MotionWebPanel : public QObject
{
    Q_OBJECT
public:
    static constexpr int PortCount = 10;
    static constexpr int LogLimit = 80;
    // A request header longer than this is refused and the connection closed.
    static constexpr int HeaderLimit = 8 * 1024;
    // A connection is checked every sweep and dropped after IdleSweeps sweeps without a whole
    // header, so a silent client is gone after about ten seconds; one whose settings update
    // waits for its save is kept until it is answered.
    static constexpr int IdleSweepMs = 2500;
    static constexpr int IdleSweeps = 4;
    // Connections open at once, so a stranger holding many half-sent requests cannot use up
    // the program's descriptors; with all taken, a newcomer cuts the oldest. The page needs one
    // or two.
    static constexpr int MaxConnections = 32;
    // Connections from one address; more from it are closed as they come, so one machine
    // cannot hold every place.
    static constexpr int MaxConnectionsPerAddress = 8;

    explicit MotionWebPanel(MotionSystemController *controller, QObject *parent = nullptr);
    ~MotionWebPanel() override;

    // Listens on the first free port of basePort .. basePort + 9 (any IPv4 address); base 0 takes
    // any free port.
    bool start(quint16 basePort);
    void stop();
    bool isListening() const;
    quint16 port() const { return m_port; }

    QByteArray statusJson(int since) const;
    QByteArray configJson() const;
    // Empty when a test may start, else the reason for the phone.
    QString checkTestAllowed() const;
    QList<MotionPanelLogEntry> log() const { return m_log; }

signals:
    void statusChanged();

public slots:
    void appendLog(const QString &text);

private slots:
    void onNewConnection();
    void onSocketReadyRead();
    void onIdleSweep();

private:
    struct Connection
    {
        QByteArray buffer;
        QHostAddress source;
        quint64 arrival = 0;
        int sweeps = 0;
        bool answered = false;
        // A HEAD request: answered as GET without the body.
        bool headOnly = false;
        // A settings update waiting for its write: answered when this write has ended.
        quint64 savedBy = 0;
    };

    int connectionsFrom(const QHostAddress &source) const;
    void drop(QTcpSocket *socket);

    void handleRequest(QTcpSocket *socket, const QByteArray &request);
    void sendResponse(QTcpSocket *socket, int code, const QByteArray &type, const QByteArray &body);
    void answer(QTcpSocket *socket, int code, const QString &text);
    void updateSettings(QTcpSocket *socket, const QUrlQuery &query);
    // Answers the settings updates whose write has ended.
    void onSettingsWritten(quint64 ticket, bool ok);
    void startTest(QTcpSocket *socket, const QUrlQuery &query);

    MotionSystemController *m_controller;
    QTcpServer *m_server;
    quint16 m_port = 0;
    QList<MotionPanelLogEntry> m_log;
    int m_lastSeq = 0;
    QHash<QTcpSocket *, Connection> m_connections;
    quint64 m_arrivals = 0;
    QTimer *m_idleSweep;
};

// The address a phone on the LAN opens: "http://<address>:<port>", the best private IPv4
// address of a real interface, 127.0.0.1 when there is none; empty while not listening.
QString lanPanelUrl(const MotionWebPanel *panel);

} // namespace corvane
