#pragma once

#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QTimer;
class QWebSocket;

namespace corvane {

// One WebSocket client connection from race control to one station's mobile-app API. Replies
// carry no request identity: they are matched to waiting requests by event name and arrival
// order. The link keeps itself alive with pings and reconnects by itself until closed.
class RaceStationLink : public QObject
{
    Q_OBJECT
public:
    using Callback = std::function<void(bool ok, const QJsonObject &data, const QString &message)>;

    explicit RaceStationLink(const QUrl &url, QObject *parent = nullptr);

    // "ws://host:port", the address of a station's API.
    static QUrl urlFor(const QString &host, int port);
    // Race control's messages are small; a peer that sends more is not a station.
    static constexpr qint64 MaxMessageBytes = 1 << 20;
    ~RaceStationLink() override;

    QUrl url() const { return m_url; }
    bool isConnected() const { return m_connected; }
    // The address the connection reached; null while not connected.
    QHostAddress peerAddress() const;

    // Sends one request; the outcome arrives through the callback, which may be empty.
    void send(const QString &event, const QJsonObject &data = QJsonObject(), Callback callback = Callback());
    // Ends the link for good: waiting callbacks get "Closed", the socket closes normally and the
    // link deletes itself on the next turn of the event loop. Closing again does nothing.
    void close();
    // A connection not heard from for longer than this is taken as lost at once, besides the
    // keep-alive's own bounds; 0 leaves only those.
    void setSilenceLimit(int ms);
    int silenceLimit() const;

signals:
    void opened();
    void closed();
    void pushed(const QString &event, const QJsonObject &data);

private slots:
    void open();
    void onConnected();
    void onDisconnected();
    void onSocketError();
    void onTextMessage(const QString &text);
    void onKeepAliveTick();
    void onRequestTimeout(const QString &event, quint64 id);

private:
    struct PendingRequest
    {
        quint64 id = 0;
        Callback callback;
    };

    bool takePending(const QString &event, Callback *callback);
    void failPending(const QString &reason);
    void scheduleReconnect();

    QUrl m_url;
    QWebSocket *m_socket;
    QTimer *m_reconnectTimer;
    QTimer *m_keepAliveTimer;
    QTimer *m_silenceTimer;
    bool m_connected = false;
    bool m_closing = false;
    bool m_pongSeen = false;
    qint64 m_lastRxMs = 0;
    quint64 m_nextRequestId = 1;
    quint64 m_attempt = 0;
    QHash<QString, QList<PendingRequest>> m_pending;
};

} // namespace corvane
