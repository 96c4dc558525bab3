#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class QTimer;
class QWebSocket;
class QWebSocketServer;

namespace corvane {

class CorvaneController;
class MdnsResponder;
class WsHandler;

// The mobile app's way in: a plain WebSocket server exchanging one compact JSON object per
// text message. Requests go by their "event" name to the handler that registered it; pushes
// go to the clients subscribed to their name; silent clients are pinged and then dropped.
// No authentication, but bounded: message size, clients, subscriptions and unsent bytes.
class WebSocketServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int HeartbeatIntervalMs = 2000;
    // A tick this long after the previous one means the machine slept: nobody is blamed for it.
    static constexpr qint64 TickGapMs = 4000;
    // Clients silent for longer than this are dropped at the next tick.
    static constexpr qint64 SilenceLimitMs = 8000;
    static constexpr quint64 MaxMessageBytes = 1024 * 1024;
    static constexpr int MaxClients = 32;
    // Close code "try again later" for a client beyond MaxClients.
    static constexpr int CloseCodeTryAgainLater = 1013;
    static constexpr int MaxPendingConnections = 8;
    static constexpr int MaxSubscriptionsPerClient = 256;
    // A client that leaves this much unread is not keeping up and is dropped.
    static constexpr qint64 MaxUnsentBytes = 1024 * 1024;
    static constexpr quint16 DefaultPort = 12345;

    WebSocketServer(CorvaneController *controller, QObject *parent = nullptr);
    ~WebSocketServer() override;

    bool start(quint16 port);
    void stop();
    void registerHandler(WsHandler *handler);
    bool isListening() const;
    quint16 serverPort() const;
    int clientCount() const { return int(m_clients.size()); }
    void sendJson(QWebSocket *client, const QJsonObject &object);

    // Milliseconds on a monotonic clock; the heartbeat reads silence and tick gaps from it.
    // Tests install a clock they advance themselves.
    void setClock(std::function<qint64()> clock);

signals:
    void clientCountChanged(int count);

public slots:
    void onNewConnection();
    void onClientDisconnected();
    // Runs from the event loop, never inside the socket's own signal: a handler may run a
    // nested event loop in which this client disconnects.
    void onTextMessageReceived(QWebSocket *client, const QString &message);
    void onHandlerPushEvent(const QString &event, const QJsonObject &data);
    void onHeartbeatTick();

private:
    void handleSubscribe(QWebSocket *client, const QJsonObject &data);
    void handleUnsubscribe(QWebSocket *client, const QJsonObject &data);
    void ensureFirewallRule(quint16 port);
    void onPong(QWebSocket *client);
    void sendText(QWebSocket *client, const QString &text);
    // Aborts a client and forgets it; `why` is logged once.
    void dropClient(QWebSocket *client, const QString &why);
    // Forgets a client still in the list and schedules its deletion; false when it was not.
    bool removeClient(QWebSocket *client);
    void rejectClient(QWebSocket *socket);
    qint64 now() const;

    QWebSocketServer *m_server = nullptr;
    CorvaneController *m_controller = nullptr;
    QList<QWebSocket *> m_clients;
    QHash<QString, WsHandler *> m_handlers;
    QHash<QWebSocket *, QSet<QString>> m_subscriptions;
    QTimer *m_heartbeat = nullptr;
    QHash<QWebSocket *, qint64> m_lastHeard;
    qint64 m_lastTick = -1;
    MdnsResponder *m_mdns = nullptr;
    QElapsedTimer m_monotonic;
    std::function<qint64()> m_clock;
};

} // namespace corvane
