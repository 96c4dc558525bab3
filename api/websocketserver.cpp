#include "api/websocketserver.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include <algorithm>
#include <iterator>
#include <memory>
#include <utility>

#include "api/mdnsresponder.h"
#include "api/wshandler.h"
#include "api/wsjson.h"
#include "platform/network/acceptqueue.h"
#include "platform/network/firewallrule.h"
#include "platform/network/machinename.h"
#include "platform/network/receivequeue.h"

namespace corvane {

using wsjson::echoed;

namespace {

const QString kEvent = QStringLiteral("event");
const QString kData = QStringLiteral("data");
const QString kMessage = QStringLiteral("message");
const QString kSuccess = QStringLiteral("success");

// What a client's socket takes from the system before its frames are taken in, while the system
// may hold megabytes: the largest frame (a header of at most 14 bytes and its payload) must fit,
// or it would never be taken whole.
constexpr qint64 ReadBufferBytes = qint64(WebSocketServer::MaxMessageBytes) + 14;
// How far the end of an opening request still arriving is looked for: a client's is a few hundred
// bytes.
constexpr qint64 MaxRequestBytes = 16 * 1024;

QString peerOf(const QWebSocket *client)
{
    return client->peerAddress().toString();
}

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonArray eventNames(const QJsonObject &data)
{
    return data.value(QStringLiteral("events")).toArray();
}

// What a peer's connections count against: its IPv4 address, or its IPv6 /64, as an IPv6
// host picks its addresses from its whole /64 at will.
QHostAddress sourceAddress(const QHostAddress &peer)
{
    // An IPv4 peer of the dual-stack listener comes as ::ffff:a.b.c.d; it is a.b.c.d.
    const QHostAddress address = MachineName::unmapped(peer);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    Q_IPV6ADDR prefix = address.toIPv6Address();
    std::fill(std::begin(prefix.c) + 8, std::end(prefix.c), quint8(0));
    return QHostAddress(prefix);
}

QString sourceText(const QHostAddress &source)
{
    return source.protocol() == QAbstractSocket::IPv6Protocol ? source.toString() + QLatin1String("/64")
                                                               : source.toString();
}

} // namespace

WebSocketServer::WebSocketServer(CorvaneController *controller, QObject *parent)
    : QObject(parent)
    , m_server(new QWebSocketServer(QStringLiteral("Corvane"), QWebSocketServer::NonSecureMode, this))
    , m_listener(new QTcpServer(this))
    , m_controller(controller)
    , m_heartbeat(new QTimer(this))
    , m_acceptRetry(new QTimer(this))
    , m_refusalLog(new QTimer(this))
{
    // The WebSocket server only speaks the handshakes of the connections our own listener has
    // let in: there they are counted, per address and while in handshake, before they cost more.
    m_server->setMaxPendingConnections(MaxPendingConnections);
    connect(m_server, &QWebSocketServer::newConnection, this, &WebSocketServer::onNewConnection);
    connect(m_server, &QWebSocketServer::originAuthenticationRequired, this, &WebSocketServer::onOriginCheck);
    m_listener->setListenBacklogSize(ListenBacklog);
    m_acceptRetry->setSingleShot(true);
    m_acceptRetry->setInterval(AcceptRetryMs);
    connect(m_acceptRetry, &QTimer::timeout, this, [this] {
        if (m_acceptor)
            m_acceptor->setEnabled(true);
    });
    m_refusalLog->setObjectName(QStringLiteral("refusalLogTimer"));
    m_refusalLog->setSingleShot(true);
    m_refusalLog->setInterval(int(RefusalLogIntervalMs));
    connect(m_refusalLog, &QTimer::timeout, this, &WebSocketServer::flushRefusalLog);
    m_heartbeat->setObjectName(QStringLiteral("heartbeatTimer"));
    // The drop time is counted in whole ticks: a coarse timer would shift it by up to 5 %.
    m_heartbeat->setTimerType(Qt::PreciseTimer);
    m_heartbeat->setInterval(HeartbeatIntervalMs);
    connect(m_heartbeat, &QTimer::timeout, this, &WebSocketServer::onHeartbeatTick);
    m_monotonic.start();
    m_queue = new RequestQueue({[this](QWebSocket *client, const QJsonObject &reply) { sendJson(client, reply); },
                                [this](QWebSocket *client) { return !isBehind(client); },
                                [this](QWebSocket *client, const QString &event, const QJsonObject &data) {
                                    return ownAnswer(client, event, data);
                                },
                                [this](QWebSocket *client) { return arrived(client); },
                                [this](quint64 connection) { return arrivedOpening(connection); },
                                [this] { acceptWaiting(ListenBacklog); }},
                               this);
    connect(m_queue, &RequestQueue::drained, this, &WebSocketServer::leaveIfRead);
    // A long message is read on another thread: it is done after the client was paused.
    connect(m_queue, &RequestQueue::shrunk, this, &WebSocketServer::updateReading);
    connect(m_queue, &RequestQueue::overflowed, this, &WebSocketServer::letGo);
}

WebSocketServer::~WebSocketServer()
{
    stop();
}

void WebSocketServer::setClock(std::function<qint64()> clock)
{
    m_clock = std::move(clock);
}

qint64 WebSocketServer::now() const
{
    return m_clock ? m_clock() : m_monotonic.elapsed();
}

bool WebSocketServer::start(quint16 port)
{
    if (m_listener->isListening())
        return true;
    ensureFirewallRule(port);
    if (!m_listener->listen(QHostAddress::Any, port)) {
        qWarning().noquote() << "WebSocketServer: failed to listen on port" << port << m_listener->errorString();
        return false;
    }
    qInfo().noquote() << "WebSocketServer: listening on port" << m_listener->serverPort();
    m_listener->pauseAccepting();
    m_acceptor = new QSocketNotifier(m_listener->socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_acceptor, &QSocketNotifier::activated, this, [this] { acceptWaiting(MaxAcceptsPerPass); });
    m_heartbeat->start();
    m_lastTick = now();
    if (!m_mdns) {
        m_mdns = new MdnsResponder(MachineName::announcedName(), this);
        if (!m_mdns->start())
            qWarning() << "WebSocketServer: mDNS advertisement failed (non-fatal)";
    }
    return true;
}

void WebSocketServer::stop()
{
    m_heartbeat->stop();
    const QList<QWebSocket *> clients = m_clients;
    for (QWebSocket *client : clients) {
        forgetClient(client);
        client->close(QWebSocketProtocol::CloseCodeNormal);
    }
    // What was sent and not yet read goes with the server.
    for (QWebSocket *sender : std::as_const(m_senders)) {
        if (!m_closing.contains(sender))
            sender->deleteLater();
    }
    m_senders.clear();
    m_peers.clear();
    m_queue->clear();
    m_reading.clear();
    emit clientCountChanged(0);
    const QList<QTcpSocket *> opening = m_handshakes.keys();
    for (QTcpSocket *socket : opening) {
        forgetHandshake(socket);
        socket->abort();
    }
    if (m_mdns) {
        m_mdns->stop();
        delete m_mdns;
        m_mdns = nullptr;
    }
    m_acceptRetry->stop();
    // Before the socket it watches is closed.
    delete m_acceptor;
    m_acceptor = nullptr;
    if (m_listener->isListening())
        m_listener->close();
}

void WebSocketServer::registerHandler(WsHandler *handler)
{
    m_queue->registerHandler(handler);
    connect(handler, &WsHandler::pushEvent, this, &WebSocketServer::onHandlerPushEvent);
}

bool WebSocketServer::isListening() const
{
    return m_listener->isListening();
}

quint16 WebSocketServer::serverPort() const
{
    return m_listener->serverPort();
}

bool WebSocketServer::isHandlingRequest() const
{
    return m_queue->isHandlingRequest();
}

void WebSocketServer::sendJson(QWebSocket *client, const QJsonObject &object)
{
    sendText(client, compact(object));
}

void WebSocketServer::sendText(QWebSocket *client, const QString &text)
{
    client->sendTextMessage(text);
}

bool WebSocketServer::isBehind(QWebSocket *client) const
{
    return client->bytesToWrite() > MaxUnsentBytes;
}

qint64 WebSocketServer::arrived(QWebSocket *client) const
{
    const auto reading = m_reading.constFind(client);
    if (reading == m_reading.cend())
        return -1;
    // Everything one that has gone sent was taken from its socket before it went.
    if (!reading->socket)
        return reading->frames.readBytes();
    return reading->frames.readBytes() + reading->socket->bytesAvailable()
           + ReceiveQueue::waitingBytes(reading->socket->socketDescriptor());
}

qint64 WebSocketServer::arrivedOpening(quint64 connection) const
{
    const auto opening = std::find_if(m_handshakes.cbegin(), m_handshakes.cend(),
                                      [connection](const Handshake &handshake) { return handshake.arrival == connection; });
    if (opening == m_handshakes.cend())
        return 0;
    QTcpSocket *socket = opening.key();
    const qintptr descriptor = socket->socketDescriptor();
    // The socket holds its request, whole or begun, and nothing after it: that went to `early`.
    const qint64 buffered = socket->bytesAvailable();
    const qint64 waiting = ReceiveQueue::waitingBytes(descriptor);
    qint64 requestBytes = opening->requestBytes;
    if (requestBytes < 0) {
        // The rest of the request, and frames after it, may be with the system still.
        if (waiting == 0)
            return 0;
        const qsizetype end = (socket->peek(buffered) + ReceiveQueue::peek(descriptor, MaxRequestBytes)).indexOf("\r\n\r\n");
        // An end beyond what was looked at may have frames before it or not: all of it counts.
        if (end < 0)
            return waiting > MaxRequestBytes ? buffered + waiting : 0;
        requestBytes = end + 4;
    }
    return opening->early.size() + buffered + waiting - requestBytes;
}

void WebSocketServer::letGo(QWebSocket *client)
{
    const auto reading = m_reading.find(client);
    if (!m_clients.contains(client) || reading == m_reading.end())
        return;
    qInfo().noquote() << "WebSocketServer: client" << peerOf(client) << "has too many requests waiting, closing it";
    const QPointer<QTcpSocket> socket = reading->socket;
    reading->lettingGo = true;
    forgetClient(client);
    emit clientCountChanged(clientCount());
    // Told at once, ahead of the replies it has not taken, which go nowhere now. Until it answers
    // or the grace is over it is still read: its stops take effect.
    closeAndRelease(client, CloseCodeTooManyRequests, QStringLiteral("Too many requests waiting"), socket, LetGoReadMs);
    if (socket) {
        connect(socket, &QIODevice::readyRead, this, &WebSocketServer::scheduleReading);
        connect(socket, &QAbstractSocket::disconnected, this, [this, client] {
            keepUnread(client);
            scheduleReading();
        });
    }
    scheduleReading();
}

void WebSocketServer::keepUnread(QWebSocket *client)
{
    // A socket deletes itself once its connection has ended: what it holds is taken out first.
    const auto reading = m_reading.find(client);
    if (reading != m_reading.end() && reading->socket)
        reading->frames.feed(reading->socket->readAll());
}

void WebSocketServer::updateReading(QWebSocket *client)
{
    const auto peer = m_peers.find(client);
    if (peer == m_peers.end())
        return;
    // What a client that has gone sent is all in its socket already.
    const bool pause = m_clients.contains(client) && m_queue->unreadBytes(client) > RequestQueue::MaxHeldBytes;
    if (pause == peer->paused)
        return;
    peer->paused = pause;
    // Not taken from for those few milliseconds, its socket fills, then the kernel's buffers, and
    // the client's own sending stalls: TCP holds it back.
    if (!pause)
        scheduleReading();
}

void WebSocketServer::scheduleReading()
{
    if (m_readingQueued)
        return;
    m_readingQueued = true;
    QMetaObject::invokeMethod(this, &WebSocketServer::takeMessages, Qt::QueuedConnection);
}

void WebSocketServer::takeMessages()
{
    m_readingQueued = false;
    if (inTurns(this, m_senders, m_nextRead, ReadBudgetNs, [this](QWebSocket *client) { return takeMessage(client); }))
        scheduleReading();
}

bool WebSocketServer::takeMessage(QWebSocket *client)
{
    const auto reading = m_reading.find(client);
    const auto peer = m_peers.constFind(client);
    if (reading == m_reading.end() || peer == m_peers.cend() || peer->paused)
        return false;
    // Everything it sent has been taken.
    const auto finish = [this, client, reading] {
        m_reading.erase(reading);
        leaveIfRead(client);
        return false;
    };
    const QPointer<QTcpSocket> socket = reading->socket;
    const bool lettingGo = reading->lettingGo;
    // A client behind on reading has no pongs piled up for it; one let go is sent nothing after
    // its close.
    const WsFrameReader::Taken taken = reading->frames.next(socket, !lettingGo && !isBehind(client));
    switch (taken.kind) {
    case WsFrameReader::Kind::None:
        // One that has gone sends no more; one let go, once it has been cut.
        if (!socket || (!m_clients.contains(client) && (!lettingGo || socket->state() != QAbstractSocket::ConnectedState)))
            return finish();
        return false;
    case WsFrameReader::Kind::Text:
        onTextMessageReceived(client, taken.text, reading->frames.takenBytes());
        break;
    case WsFrameReader::Kind::Pong:
        // As the socket's own reading would have told it: the heartbeat pinged at its last tick.
        emit client->pong(quint64(std::max<qint64>(0, now() - m_lastTick)), QByteArray());
        break;
    case WsFrameReader::Kind::Close:
        // Nothing it sends after it counts. Answered, and the connection ends: its disconnect
        // forgets it. One let go was sent its close already.
        if (lettingGo && socket)
            socket->disconnectFromHost();
        else if (!lettingGo)
            client->close();
        finish();
        break;
    case WsFrameReader::Kind::Fault:
        qInfo().noquote() << "WebSocketServer: client" << peerOf(client) << "closed:" << taken.reason;
        if (lettingGo) {
            if (socket)
                socket->abort();
            return finish();
        }
        closeClient(client, taken.code, taken.reason);
        break;
    case WsFrameReader::Kind::Ping:
    case WsFrameReader::Kind::Fragment:
    case WsFrameReader::Kind::Binary: // ignored, and no sign of life
        break;
    }
    return true;
}

void WebSocketServer::onBytesWritten(QWebSocket *client)
{
    if (m_peers.contains(client) && !isBehind(client))
        m_queue->resume(client);
}

void WebSocketServer::ensureFirewallRule(quint16 port)
{
    // Once per process: neither a failed check nor a later start repeats it.
    static bool checked = false;
    if (checked)
        return;
    checked = true;
    FirewallRule::ensureInboundTcp(QStringLiteral("Qorvant Corvane"), port);
}

void WebSocketServer::acceptWaiting(int most)
{
    // Not while it waits to try again, nor once it has stopped.
    if (!m_acceptor || !m_acceptor->isEnabled())
        return;
    for (int taken = 0; taken < most; ++taken) {
        const AcceptQueue::Next next = AcceptQueue::takeNext(m_listener->socketDescriptor());
        if (next.outcome == AcceptQueue::Outcome::Empty)
            return;
        if (next.outcome == AcceptQueue::Outcome::Failed) {
            // Mostly no descriptor left: the queue stays readable, and asking again at once would
            // only spin until one is free.
            m_acceptor->setEnabled(false);
            logRefusal(Refusal::AcceptFailed,
                       QStringLiteral("WebSocketServer: cannot accept a connection (%1), trying again in %2 ms")
                           .arg(next.error)
                           .arg(AcceptRetryMs));
            m_acceptRetry->start();
            return;
        }
        auto *socket = new QTcpSocket(m_listener);
        if (!socket->setSocketDescriptor(next.descriptor)) {
            AcceptQueue::release(next.descriptor);
            delete socket;
            continue;
        }
        admitConnection(socket);
    }
}

void WebSocketServer::admitConnection(QTcpSocket *socket)
{
    const QHostAddress source = sourceAddress(socket->peerAddress());
    if (connectionsFrom(source) >= MaxConnectionsPerAddress) {
        // Closed at once, without a word: its descriptor is what it must not keep.
        logRefusal(Refusal::AddressLimit,
                   QStringLiteral("WebSocketServer: %1 connections from %2 already, refusing another")
                       .arg(MaxConnectionsPerAddress)
                       .arg(sourceText(source)));
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (m_handshakes.size() + m_closing.size() >= MaxHandshakes)
        makeRoomForHandshake(source);
    const quint64 connection = ++m_arrivals;
    m_handshakes.insert(socket, {socket->peerAddress(), socket->peerPort(), source, now(), connection, {}, -1});
    m_queue->expect(connection);
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] { forgetHandshake(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket, connection] {
        m_handshakes.remove(socket);
        m_queue->abandon(connection);
    });
    // Before the handshake reads what came: frames sent with its request are taken in after it.
    connect(socket, &QIODevice::readyRead, this, [this, socket] { holdBackFrames(socket); });
    holdBackFrames(socket);
    m_server->handleConnection(socket);
}

void WebSocketServer::forgetHandshake(QTcpSocket *socket)
{
    const auto opening = m_handshakes.constFind(socket);
    if (opening == m_handshakes.cend())
        return;
    m_queue->abandon(opening->arrival);
    m_handshakes.erase(opening);
    socket->disconnect(this);
    socket->deleteLater();
}

void WebSocketServer::makeRoomForHandshake(const QHostAddress &newcomer)
{
    // One already refused or dropped goes first: it has been told.
    if (!m_closing.isEmpty()) {
        const auto closing = m_closing.begin();
        QWebSocket *socket = closing.key();
        logRefusal(Refusal::HandshakeLimit,
                   QStringLiteral("WebSocketServer: %1 connections still opening, cutting one from %2 that is closing")
                       .arg(MaxHandshakes)
                       .arg(sourceText(closing.value())));
        m_closing.erase(closing);
        socket->abort();
        return;
    }
    // Else the oldest of the address holding the most, the newcomer counted: a few addresses
    // cannot hold every place, and a client that finishes its handshake promptly keeps its own.
    QHash<QHostAddress, int> held{{newcomer, 1}};
    for (const Handshake &opening : std::as_const(m_handshakes))
        ++held[opening.source];
    auto victim = m_handshakes.end();
    int victimHeld = 0;
    for (auto opening = m_handshakes.begin(); opening != m_handshakes.end(); ++opening) {
        const int count = held.value(opening->source);
        if (victim == m_handshakes.end() || count > victimHeld
            || (count == victimHeld && opening->arrival < victim->arrival)) {
            victim = opening;
            victimHeld = count;
        }
    }
    QTcpSocket *socket = victim.key();
    logRefusal(Refusal::HandshakeLimit,
               QStringLiteral("WebSocketServer: %1 connections still opening, cutting the oldest from %2, which holds %3")
                   .arg(MaxHandshakes)
                   .arg(sourceText(victim->source))
                   .arg(victimHeld));
    forgetHandshake(socket);
    socket->abort();
}

void WebSocketServer::holdBackFrames(QTcpSocket *socket)
{
    const auto opening = m_handshakes.find(socket);
    if (opening == m_handshakes.end())
        return;
    const QByteArray held = socket->peek(socket->bytesAvailable());
    const qsizetype requestEnd = held.indexOf("\r\n\r\n") + 4;
    if (requestEnd < 4)
        return;
    opening->requestBytes = requestEnd;
    if (requestEnd == held.size())
        return;
    // The handshake would read them with its request and drop them: only the request is left.
    socket->read(held.size());
    for (qsizetype i = requestEnd - 1; i >= 0; --i)
        socket->ungetChar(held.at(i));
    opening->early += held.mid(requestEnd);
}

QTcpSocket *WebSocketServer::handshakeFinished(QWebSocket *client, QByteArray &early, quint64 &connection)
{
    for (auto opening = m_handshakes.begin(); opening != m_handshakes.end(); ++opening) {
        if (opening->peerPort == client->peerPort() && opening->peer == client->peerAddress()) {
            // The client now owns the socket.
            QTcpSocket *socket = opening.key();
            early = opening->early;
            connection = opening->arrival;
            socket->disconnect(this);
            m_handshakes.erase(opening);
            return socket;
        }
    }
    return nullptr;
}

int WebSocketServer::connectionsFrom(const QHostAddress &source) const
{
    int count = 0;
    for (const Handshake &opening : m_handshakes)
        count += opening.source == source ? 1 : 0;
    for (const Sender &peer : m_peers)
        count += peer.source == source ? 1 : 0;
    for (auto closing = m_closing.cbegin(); closing != m_closing.cend(); ++closing)
        count += closing.value() == source && !m_peers.contains(closing.key()) ? 1 : 0;
    return count;
}

void WebSocketServer::onNewConnection()
{
    while (m_server->hasPendingConnections()) {
        QWebSocket *client = m_server->nextPendingConnection();
        if (!client)
            continue;
        QByteArray early;
        quint64 connection = 0;
        QTcpSocket *socket = handshakeFinished(client, early, connection);
        if (!socket) {
            // Cut while its handshake finished.
            client->deleteLater();
            continue;
        }
        if (m_clients.size() >= MaxClients && !makeRoomForClient(client)) {
            m_queue->abandon(connection);
            rejectClient(client);
            continue;
        }
        client->setParent(this);
        client->setReadBufferSize(ReadBufferBytes);
        // Its frames are taken by takeMessages, a few at a time, not by its own reading, which
        // takes all its socket holds at once.
        disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
        connect(socket, &QIODevice::readyRead, this, &WebSocketServer::scheduleReading);
        const auto reading = m_reading.insert(client, {socket});
        reading->frames.feed(early);
        // What came with the handshake is in hand already, and no signal tells of it.
        if (!early.isEmpty() || socket->bytesAvailable() > 0)
            scheduleReading();
        connect(client, &QWebSocket::disconnected, this, &WebSocketServer::onClientDisconnected);
        connect(client, &QWebSocket::pong, this, [this, client] { onPong(client); });
        connect(client, &QWebSocket::bytesWritten, this, [this, client] { onBytesWritten(client); });
        m_clients.append(client);
        m_senders.append(client);
        m_subscriptions.insert(client, {});
        m_lastHeard.insert(client, now());
        m_peers.insert(client, {false, now(), sourceAddress(client->peerAddress())});
        m_queue->open(client, connection);
        qInfo().noquote() << "WebSocketServer: client connected from" << peerOf(client);
        emit clientCountChanged(clientCount());
    }
}

bool WebSocketServer::makeRoomForClient(QWebSocket *newcomer)
{
    // One machine holds several addresses (IPv4, link-local, an IPv6 prefix from each router):
    // by address alone it could take every place. Two fewer, not one: two machines one place
    // apart would otherwise take each other's places in turn as each reconnects.
    QHash<QHostAddress, int> held;
    for (const QWebSocket *client : std::as_const(m_clients))
        ++held[sourceAddress(client->peerAddress())];
    const QHostAddress source = sourceAddress(newcomer->peerAddress());
    QWebSocket *victim = nullptr;
    int victimHeld = 0;
    qint64 victimRequest = 0;
    for (QWebSocket *client : std::as_const(m_clients)) {
        const int count = held.value(sourceAddress(client->peerAddress()));
        const qint64 lastRequest = m_peers.value(client).lastRequest;
        if (!victim || count > victimHeld || (count == victimHeld && lastRequest < victimRequest)) {
            victim = client;
            victimHeld = count;
            victimRequest = lastRequest;
        }
    }
    if (!victim || victimHeld < held.value(source) + 2)
        return false;
    logRefusal(Refusal::ClientReplaced,
               QStringLiteral("WebSocketServer: client limit of %1 reached, %2 holds %3: closing its longest-idle "
                              "client for one from %4")
                   .arg(MaxClients)
                   .arg(sourceText(sourceAddress(victim->peerAddress())))
                   .arg(victimHeld)
                   .arg(sourceText(source)));
    closeClient(victim, CloseCodeTryAgainLater, QStringLiteral("Too many clients from one address"));
    return true;
}

void WebSocketServer::rejectClient(QWebSocket *socket)
{
    logRefusal(Refusal::ClientLimit,
               QStringLiteral("WebSocketServer: client limit of %1 reached, refusing %2").arg(MaxClients).arg(peerOf(socket)));
    socket->setParent(this);
    closeAndRelease(socket, CloseCodeTryAgainLater, QStringLiteral("Too many clients"));
}

void WebSocketServer::onOriginCheck(QWebSocketCorsAuthenticator *check)
{
    // The phone app and other stations send none; some phone stacks fill it from the URL they
    // connect to. Anything else is a page in a browser ("null" from a sandbox or a file) or an
    // extension, which could otherwise drive the car.
    const QString origin = check->origin();
    if (origin.isEmpty() || namesThisMachine(origin))
        return;
    check->setAllowed(false);
    logRefusal(Refusal::Origin,
               QStringLiteral("WebSocketServer: refusing a connection with the Origin %1, not this machine's API")
                   .arg(echoed(origin)));
}

bool WebSocketServer::namesThisMachine(const QString &origin) const
{
    const QUrl url(origin.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.port() != int(serverPort()))
        return false;
    // A phone stack fills Origin from the URL it connected to, which may use a name.
    return MachineName::isThisMachine(url.host());
}

void WebSocketServer::logRefusal(Refusal reason, const QString &text)
{
    RefusalCount &count = m_refusals[size_t(reason)];
    const qint64 at = now();
    if (count.lastReport >= 0 && at - count.lastReport < RefusalLogIntervalMs) {
        ++count.unreported;
        // The tail of a burst is reported even when no later refusal comes.
        if (!m_refusalLog->isActive())
            m_refusalLog->start();
        return;
    }
    if (count.unreported > 0)
        qWarning().noquote() << text << QStringLiteral("(%1 more refused since the last report)").arg(count.unreported);
    else
        qWarning().noquote() << text;
    count.lastReport = at;
    count.unreported = 0;
}

void WebSocketServer::flushRefusalLog()
{
    static const char *const reasons[] = {"Origin not of this machine", "client limit reached",
                                          "client places given to other addresses", "connections per address",
                                          "connections still opening", "accept failed"};
    static_assert(std::size(reasons) == size_t(Refusal::Count));
    const qint64 at = now();
    bool waiting = false;
    for (size_t reason = 0; reason < m_refusals.size(); ++reason) {
        RefusalCount &count = m_refusals[reason];
        if (count.unreported == 0)
            continue;
        if (at - count.lastReport < RefusalLogIntervalMs) {
            waiting = true;
            continue;
        }
        qWarning().noquote() << QStringLiteral("WebSocketServer: %1 more refused since the last report (%2)")
                                    .arg(count.unreported)
                                    .arg(QLatin1String(reasons[reason]));
        count.lastReport = at;
        count.unreported = 0;
    }
    if (waiting)
        m_refusalLog->start();
}

void WebSocketServer::closeAndRelease(QWebSocket *socket, int code, const QString &reason, QTcpSocket *taken, int graceMs)
{
    // Its descriptor stays taken until it has gone: it counts against the limits till then.
    m_closing.insert(socket, sourceAddress(socket->peerAddress()));
    connect(socket, &QObject::destroyed, this, [this, socket] { m_closing.remove(socket); });
    // Deleted once its messages have been read too.
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        m_closing.remove(socket);
        if (!m_peers.contains(socket))
            socket->deleteLater();
    });
    QTimer::singleShot(graceMs, socket, &QWebSocket::abort);
    if (!taken) {
        socket->close(QWebSocketProtocol::CloseCode(code), reason);
        return;
    }
    // Its client ends the connection once it has the close frame. What it sends until then is
    // taken and dropped, unless it is still read (let go, for its stops): closed with bytes
    // unread, the connection would be reset, losing the frame.
    taken->write(WsFrameReader::closeFrame(QWebSocketProtocol::CloseCode(code), reason));
    if (m_reading.contains(socket))
        return;
    connect(taken, &QIODevice::readyRead, socket, [taken] { taken->readAll(); });
    taken->readAll();
}

void WebSocketServer::onClientDisconnected()
{
    auto *client = qobject_cast<QWebSocket *>(sender());
    if (!client)
        return;
    qInfo() << "WebSocketServer: client disconnected";
    keepUnread(client);
    if (forgetClient(client))
        emit clientCountChanged(clientCount());
    leaveIfRead(client);
}

bool WebSocketServer::forgetClient(QWebSocket *client)
{
    if (!m_clients.removeOne(client))
        return false;
    m_subscriptions.remove(client);
    m_lastHeard.remove(client);
    if (const QPointer<QTcpSocket> socket = m_reading.value(client).socket)
        socket->disconnect(this);
    client->disconnect(this);
    // What it sent before it went still takes effect.
    const auto peer = m_peers.find(client);
    if (peer != m_peers.end())
        peer->paused = false;
    m_queue->leave(client);
    scheduleReading();
    return true;
}

void WebSocketServer::leaveIfRead(QWebSocket *client)
{
    if (!m_peers.contains(client) || m_clients.contains(client) || m_reading.contains(client) || !m_queue->isDone(client))
        return;
    m_peers.remove(client);
    m_queue->forget(client);
    m_senders.removeOne(client);
    // One still being closed is deleted once it has gone.
    if (!m_closing.contains(client))
        client->deleteLater();
}

void WebSocketServer::dropClient(QWebSocket *client, const QString &why, const QString &reason)
{
    if (!m_clients.contains(client))
        return;
    qInfo().noquote() << "WebSocketServer: client" << peerOf(client) << why;
    closeClient(client, QWebSocketProtocol::CloseCodeGoingAway, reason);
}

void WebSocketServer::closeClient(QWebSocket *client, int code, const QString &reason)
{
    // Nothing more is taken from it.
    const QPointer<QTcpSocket> taken = m_reading.take(client).socket;
    // Forgotten first, so its disconnect finds nothing left to report. One that has gone already
    // is told nothing.
    if (forgetClient(client)) {
        closeAndRelease(client, code, reason, taken);
        emit clientCountChanged(clientCount());
    }
    leaveIfRead(client);
}

void WebSocketServer::onPong(QWebSocket *client)
{
    auto heard = m_lastHeard.find(client);
    if (heard != m_lastHeard.end())
        *heard = now();
}

void WebSocketServer::onTextMessageReceived(QWebSocket *client, const QString &message, qint64 end)
{
    const auto peer = m_peers.find(client);
    if (peer == m_peers.end())
        return; // removed while this message waited
    if (const auto heard = m_lastHeard.find(client); heard != m_lastHeard.end())
        *heard = now();
    peer->lastRequest = now();
    m_queue->take(client, message, end);
    updateReading(client);
}

QJsonObject WebSocketServer::ownAnswer(QWebSocket *client, const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("ping"))
        return {{kEvent, QStringLiteral("pong")}};
    if (event == QLatin1String("action_subscribe"))
        return handleSubscribe(client, data);
    if (event == QLatin1String("action_unsubscribe"))
        return handleUnsubscribe(client, data);
    return {};
}

QJsonObject WebSocketServer::handleSubscribe(QWebSocket *client, const QJsonObject &data)
{
    const QJsonArray events = eventNames(data);
    for (qsizetype i = 0; i < events.size(); ++i) {
        if (events.at(i).toString().size() > MaxEventNameChars) {
            return {{kEvent, QStringLiteral("action_subscribe")},
                    {kSuccess, false},
                    {kMessage, QStringLiteral("'events[%1]' must be an event name of at most %2 characters")
                                   .arg(i)
                                   .arg(MaxEventNameChars)}};
        }
    }
    // A client that has gone gets no pushes: it keeps none.
    const auto subscribed = m_subscriptions.find(client);
    for (qsizetype i = 0; i < events.size() && subscribed != m_subscriptions.end(); ++i) {
        if (subscribed->size() >= MaxSubscriptionsPerClient)
            break;
        subscribed->insert(events.at(i).toString());
    }
    return {{kEvent, QStringLiteral("action_subscribe")}, {kSuccess, true}};
}

QJsonObject WebSocketServer::handleUnsubscribe(QWebSocket *client, const QJsonObject &data)
{
    auto subscribed = m_subscriptions.find(client);
    if (subscribed != m_subscriptions.end()) {
        const QJsonArray events = eventNames(data);
        for (const QJsonValue &name : events)
            subscribed->remove(name.toString());
    }
    return {{kEvent, QStringLiteral("action_unsubscribe")}, {kSuccess, true}};
}

void WebSocketServer::onHandlerPushEvent(const QString &event, const QJsonObject &data)
{
    QString text; // serialised once, for the first subscriber
    const QList<QWebSocket *> clients = m_clients;
    for (QWebSocket *client : clients) {
        if (!m_clients.contains(client))
            continue; // dropped while this push went out
        const auto subscribed = m_subscriptions.constFind(client);
        if (subscribed == m_subscriptions.cend() || !subscribed->contains(event))
            continue;
        // A client behind misses pushes; its replies still go out.
        if (isBehind(client))
            continue;
        if (text.isEmpty())
            text = compact({{kEvent, event}, {kData, data}});
        sendText(client, text);
    }
}

void WebSocketServer::onHeartbeatTick()
{
    const qint64 tick = now();
    if (m_lastTick >= 0 && tick - m_lastTick > TickGapMs) {
        for (auto heard = m_lastHeard.begin(); heard != m_lastHeard.end(); ++heard)
            *heard = tick;
    }
    m_lastTick = tick;
    const QList<QTcpSocket *> opening = m_handshakes.keys();
    for (QTcpSocket *socket : opening) {
        if (tick - m_handshakes.value(socket).startedAt > HandshakeTimeoutMs) {
            forgetHandshake(socket);
            socket->abort();
        }
    }
    const QList<QWebSocket *> clients = m_clients;
    for (QWebSocket *client : clients) {
        if (!m_clients.contains(client))
            continue;
        // Not read from while its long messages are: its silence is ours.
        if (const auto peer = m_peers.constFind(client); peer != m_peers.cend() && peer->paused)
            m_lastHeard.insert(client, tick);
        if (tick - m_lastHeard.value(client, tick) <= SilenceLimitMs) {
            client->ping();
        } else if (isBehind(client)) {
            dropClient(client, QStringLiteral("stopped reading, dropping it"), QStringLiteral("Client stopped reading"));
        } else {
            dropClient(client, QStringLiteral("stopped answering, dropping it"), QStringLiteral("Client stopped answering"));
        }
    }
}

} // namespace corvane
