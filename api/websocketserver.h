#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <array>
#include <functional>
#include <memory>

#include "api/requestqueue.h"
#include "api/wsframereader.h"
#include "api/wsjson.h"

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QTimer;
class QWebSocket;
class QWebSocketCorsAuthenticator;
class QWebSocketServer;

namespace corvane {

class CorvaneController;
class MdnsResponder;
class WsHandler;

// The mobile app's way in: a plain WebSocket server exchanging one compact JSON object per
// text message. Requests go by their "event" name to the handler that registered it; pushes
// go to the clients subscribed to their name; silent clients are pinged and then dropped.
// Every client is read as its frames come; the request queue applies what they send (a stop at
// once, anything else in its client's order) and sends the replies in order.
// No authentication, but bounded: message size, clients, connections per address, connections
// still in their opening handshake, subscriptions, unsent and waiting bytes. A handshake is
// accepted only without an Origin or with one naming this machine on the API port: any other
// Origin is a web page (or an extension) that must not drive the car.
class WebSocketServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int HeartbeatIntervalMs = 2000;
    // A client sent a close frame (refused or dropped) that does not answer it is cut off after this.
    static constexpr int CloseGraceMs = 2000;
    // A tick this long after the previous one means the machine slept: nobody is blamed for it.
    static constexpr qint64 TickGapMs = 4000;
    // Clients silent for longer than this are dropped at the next tick.
    static constexpr qint64 SilenceLimitMs = 8000;
    // A message longer than this is refused before it is taken in: its client is closed with code
    // 1009, "message too big". A client's socket, and the frame being taken from it, each hold one
    // such message at most. An import of a large profile as people make them (128 mappings, every
    // LED and sensor, names at their longest) is about 52 KB; the app's other requests are far
    // smaller.
    static constexpr quint64 MaxMessageBytes = 64 * 1024;
    // When they are all taken, a client from an address holding at least two fewer of them than
    // the address holding most takes the place of that address's longest-idle client; else it is
    // closed with CloseCodeTryAgainLater.
    static constexpr int MaxClients = 32;
    // Close code "try again later" for a client beyond MaxClients, and for the one whose place
    // it takes.
    static constexpr int CloseCodeTryAgainLater = 1013;
    static constexpr int MaxPendingConnections = 8;
    // Connections that have not finished their opening handshake (or are being closed), from
    // anyone: each holds a descriptor the program needs for its files. A connection beyond them
    // takes the place of one of them.
    static constexpr int MaxHandshakes = 32;
    // Connections of any kind from one address: one machine cannot take every slot. A client
    // that has gone counts until what it sent has been read.
    static constexpr int MaxConnectionsPerAddress = 8;
    // A handshake not finished by then is cut at the next heartbeat tick.
    static constexpr qint64 HandshakeTimeoutMs = 4000;
    // Connections the system queues for us to accept (Qt's default is 50): under a flood that
    // is closed one by one, a short queue would make the phone's connection wait for a retry.
    static constexpr int ListenBacklog = 1024;
    // After the system refused to accept (no descriptor left), accepting resumes this much later.
    static constexpr int AcceptRetryMs = 1000;
    // Connections taken from the system's queue in one pass of the event loop: the 7 ms tick
    // shares the thread, and a flood is taken over several passes.
    static constexpr int MaxAcceptsPerPass = 32;
    static constexpr int MaxEchoedChars = wsjson::MaxEchoedChars;
    static constexpr int MaxSubscriptionsPerClient = 256;
    // The longest event name the program has, of a request or a push: a longer name names
    // nothing to subscribe to.
    static constexpr int MaxEventNameChars = 37;
    // A client that leaves more than this unread in the server's hands (beyond what the system
    // took) is behind: it gets no pushes, its requests wait in the request queue, counted there,
    // and its pings go unanswered until it has caught up. It is still read: its stop takes effect.
    // Small, so that a client let go has its close frame nearly at once.
    static constexpr qint64 MaxUnsentBytes = 64 * 1024;
    // Close code for a client whose requests waiting passed the request queue's limit.
    static constexpr int CloseCodeTooManyRequests = 1008;
    // A client let go is still read this long at most, for its stops, unless it ends first: what
    // it wrote before it had its close reaches the server in that time even behind a burst of a
    // few hundred thousand requests.
    static constexpr int LetGoReadMs = 10000;
    // Time a pass of the event loop spends taking messages from the clients' sockets, a frame
    // from each client in turn: what peers send costs the thread of the 7 ms tick no more, however
    // small their messages; the rest waits in their sockets, and then in the system's. Half the
    // queue's turns' time: peers sending a message in frames of a byte each fill it at every pass,
    // and the passes that take longer delay another client's answers as much.
    static constexpr qint64 ReadBudgetNs = RequestQueue::TurnBudgetNs / 2;
    // Refused connections are logged at most this often.
    static constexpr qint64 RefusalLogIntervalMs = 1000;
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
    // Whether the code running now runs for a client's request, so what it causes is the
    // client's: while its handler runs, and while the writer reports how the files it changed
    // were stored. Not while a handler waits in a nested event loop (what runs there, the desktop
    // user's own actions, is not; another request read there is), nor when a reply goes later.
    bool isHandlingRequest() const;

    // Milliseconds on a monotonic clock; the heartbeat reads silence and tick gaps from it.
    // Tests install a clock they advance themselves.
    void setClock(std::function<qint64()> clock);

signals:
    void clientCountChanged(int count);

public slots:
    void onNewConnection();
    void onClientDisconnected();
    // Takes a message in, ending at `end` in its client's stream: a stop takes effect now,
    // anything else in its client's order.
    void onTextMessageReceived(QWebSocket *client, const QString &message, qint64 end);
    void onHandlerPushEvent(const QString &event, const QJsonObject &data);
    void onHeartbeatTick();

private slots:
    // Reports the refusals counted since the last report once RefusalLogIntervalMs has passed.
    void flushRefusalLog();

private:
    enum class Refusal { Origin, ClientLimit, ClientReplaced, AddressLimit, HandshakeLimit, AcceptFailed, Count };

    struct RefusalCount
    {
        qint64 lastReport = -1;
        int unreported = 0;
    };

    // A connection still in its opening handshake.
    struct Handshake
    {
        QHostAddress peer; // as the system gives it, to find the client it becomes
        quint16 peerPort = 0;
        QHostAddress source; // the address its limit counts against
        qint64 startedAt = 0;
        quint64 arrival = 0; // order of arrival, and the connection's number in the request queue
        QByteArray early; // the frames that came after its request
        qint64 requestBytes = -1; // once all of it has come
    };

    // A client's socket, whose frames the server takes itself.
    struct Reading
    {
        QPointer<QTcpSocket> socket;
        WsFrameReader frames{MaxMessageBytes};
        // Let go for too many requests and sent its close: read, for its stops, until it answers
        // or is cut.
        bool lettingGo = false;
    };

    // A client, from its connection until everything it sent has taken effect.
    struct Sender
    {
        bool paused = false; // nothing is read from its socket: its long messages are being read
        qint64 lastRequest = 0; // when it last sent a request, or connected
        QHostAddress source; // the address its limit counts against, while it is read
    };

    // The server's answer to a request of its own; empty for any other.
    QJsonObject ownAnswer(QWebSocket *client, const QString &event, const QJsonObject &data);
    QJsonObject handleSubscribe(QWebSocket *client, const QJsonObject &data);
    QJsonObject handleUnsubscribe(QWebSocket *client, const QJsonObject &data);
    void ensureFirewallRule(quint16 port);
    void onPong(QWebSocket *client);
    void onBytesWritten(QWebSocket *client);
    void onOriginCheck(QWebSocketCorsAuthenticator *check);
    // Takes the connections the system queued, `most` of them at most; stops taking them for a
    // while when it cannot.
    void acceptWaiting(int most);
    // Refuses a connection beyond the limits, and hands it to the WebSocket handshake otherwise.
    void admitConnection(QTcpSocket *socket);
    void forgetHandshake(QTcpSocket *socket);
    // Cuts a connection still opening (or being closed) so that one from `newcomer` fits.
    void makeRoomForHandshake(const QHostAddress &newcomer);
    // Takes what followed the opening request out of the socket, for after the handshake.
    void holdBackFrames(QTcpSocket *socket);
    // Stops tracking the handshake that became `client`; its TCP socket, null when it was cut.
    // `early`: the frames that came after its request, which the handshake read.
    QTcpSocket *handshakeFinished(QWebSocket *client, QByteArray &early, quint64 &connection);
    // With every client place taken, closes the client whose place `newcomer` may take; false
    // when it may take none.
    bool makeRoomForClient(QWebSocket *newcomer);
    int connectionsFrom(const QHostAddress &source) const;
    bool namesThisMachine(const QString &origin) const;
    void sendText(QWebSocket *client, const QString &text);
    bool isBehind(QWebSocket *client) const;
    // See RequestQueue::Server::arrived and arrivedOpening.
    qint64 arrived(QWebSocket *client) const;
    qint64 arrivedOpening(quint64 connection) const;
    // Lets go of a client with too many requests waiting: it is sent its close at
    // once, and what it sends is still read, for its stops, until it answers or is cut.
    void letGo(QWebSocket *client);
    // Stops or resumes reading from the client by what its long messages still being read hold.
    void updateReading(QWebSocket *client);
    void keepUnread(QWebSocket *client);
    // Queues a pass of takeMessages on the event loop, once.
    void scheduleReading();
    // Takes the frames the clients' sockets hold, round-robin, one of each client at a time, for
    // at most ReadBudgetNs in all.
    void takeMessages();
    // Takes the client's next frame; false when its socket holds none whole or it is not read.
    bool takeMessage(QWebSocket *client);
    // Closes a client that stopped answering or reading; `why` is logged once.
    void dropClient(QWebSocket *client, const QString &why, const QString &reason);
    // Forgets a client, sends it a close frame with `code` and `reason` and cuts it off if it
    // does not answer.
    void closeClient(QWebSocket *client, int code, const QString &reason);
    // Forgets a client still in the list (no pushes, pings or replies go to it); false when it was
    // not. What it sent before it went is still taken and takes effect.
    bool forgetClient(QWebSocket *client);
    // Lets go of a client forgotten once everything it sent has been taken and has taken effect.
    void leaveIfRead(QWebSocket *client);
    // Closes a socket with a close frame and releases it once it has gone (or after `graceMs`).
    // `taken`: its TCP socket, when the server takes its frames.
    void closeAndRelease(QWebSocket *socket, int code, const QString &reason, QTcpSocket *taken = nullptr,
                         int graceMs = CloseGraceMs);
    void rejectClient(QWebSocket *socket);
    // Warns of a refused connection at most once per RefusalLogIntervalMs and reason, counting
    // the rest.
    void logRefusal(Refusal reason, const QString &text);
    qint64 now() const;

    QWebSocketServer *m_server = nullptr; // only speaks the handshakes
    QTcpServer *m_listener = nullptr; // only listens: its connections are taken by m_acceptor
    QSocketNotifier *m_acceptor = nullptr; // while listening
    CorvaneController *m_controller = nullptr;
    QList<QWebSocket *> m_clients;
    // The clients whose messages are taken in turns: those in m_clients, and those gone until
    // everything they sent has taken effect (a stop sent just before its client closes stops).
    QList<QWebSocket *> m_senders;
    QHash<QWebSocket *, QSet<QString>> m_subscriptions;
    QTimer *m_heartbeat = nullptr;
    QHash<QWebSocket *, qint64> m_lastHeard;
    QHash<QWebSocket *, Sender> m_peers;
    QHash<QWebSocket *, Reading> m_reading;
    bool m_readingQueued = false;
    qsizetype m_nextRead = 0; // the client in m_senders whose frame is taken next
    RequestQueue *m_queue = nullptr;
    QHash<QTcpSocket *, Handshake> m_handshakes;
    quint64 m_arrivals = 0;
    // Refused or dropped clients until their socket is released.
    QHash<QWebSocket *, QHostAddress> m_closing;
    QTimer *m_acceptRetry = nullptr;
    std::array<RefusalCount, size_t(Refusal::Count)> m_refusals;
    QTimer *m_refusalLog = nullptr;
    qint64 m_lastTick = -1;
    MdnsResponder *m_mdns = nullptr;
    QElapsedTimer m_monotonic;
    std::function<qint64()> m_clock;
};

} // namespace corvane
