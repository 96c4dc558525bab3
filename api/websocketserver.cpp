#include "api/websocketserver.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include <memory>

#include "api/mdnsresponder.h"
#include "api/wshandler.h"
#include "platform/network/firewallrule.h"

namespace corvane {

namespace {

const QString kEvent = QStringLiteral("event");
const QString kData = QStringLiteral("data");
const QString kMessage = QStringLiteral("message");
const QString kSuccess = QStringLiteral("success");

// A client that does not finish its opening handshake in this time is let go.
constexpr int HandshakeTimeoutMs = 10000;
// A client sent a close frame (refused or dropped) that does not answer it is cut off after this.
constexpr int CloseGraceMs = 2000;
// Read buffer size that holds a client's socket still: no frame fits, so nothing more is taken.
constexpr qint64 PausedReadBufferBytes = 1;

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

// A browser names the page that opens a WebSocket; the phone app and other stations send no Origin.
bool isWebPageOrigin(const QString &origin)
{
    const QString trimmed = origin.trimmed();
    return trimmed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
           || trimmed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

} // namespace

WebSocketServer::WebSocketServer(CorvaneController *controller, QObject *parent)
    : QObject(parent)
    , m_server(new QWebSocketServer(QStringLiteral("Corvane"), QWebSocketServer::NonSecureMode, this))
    , m_controller(controller)
    , m_heartbeat(new QTimer(this))
{
    m_server->setMaxPendingConnections(MaxPendingConnections);
    m_server->setHandshakeTimeout(HandshakeTimeoutMs);
    connect(m_server, &QWebSocketServer::newConnection, this, &WebSocketServer::onNewConnection);
    connect(m_server, &QWebSocketServer::originAuthenticationRequired, this, &WebSocketServer::onOriginCheck);
    m_heartbeat->setObjectName(QStringLiteral("heartbeatTimer"));
    // The drop time is counted in whole ticks: a coarse timer would shift it by up to 5 %.
    m_heartbeat->setTimerType(Qt::PreciseTimer);
    m_heartbeat->setInterval(HeartbeatIntervalMs);
    connect(m_heartbeat, &QTimer::timeout, this, &WebSocketServer::onHeartbeatTick);
    m_monotonic.start();
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
    if (m_server->isListening())
        return true;
    ensureFirewallRule(port);
    if (!m_server->listen(QHostAddress::Any, port)) {
        qWarning().noquote() << "WebSocketServer: failed to listen on port" << port << m_server->errorString();
        return false;
    }
    qInfo().noquote() << "WebSocketServer: listening on port" << m_server->serverPort();
    m_heartbeat->start();
    m_lastTick = now();
    if (!m_mdns) {
        m_mdns = new MdnsResponder(QStringLiteral("qorvant-transmitter"), this);
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
        client->deleteLater();
        client->close(QWebSocketProtocol::CloseCodeNormal);
    }
    emit clientCountChanged(0);
    if (m_mdns) {
        m_mdns->stop();
        delete m_mdns;
        m_mdns = nullptr;
    }
    if (m_server->isListening())
        m_server->close();
}

void WebSocketServer::registerHandler(WsHandler *handler)
{
    const QStringList events = handler->supportedEvents();
    for (const QString &event : events)
        m_handlers.insert(event, handler);
    connect(handler, &WsHandler::pushEvent, this, &WebSocketServer::onHandlerPushEvent);
}

bool WebSocketServer::isListening() const
{
    return m_server->isListening();
}

quint16 WebSocketServer::serverPort() const
{
    return m_server->serverPort();
}

void WebSocketServer::sendJson(QWebSocket *client, const QJsonObject &object)
{
    sendText(client, compact(object));
}

void WebSocketServer::sendText(QWebSocket *client, const QString &text)
{
    client->sendTextMessage(text);
    updateReading(client);
}

bool WebSocketServer::isBehind(QWebSocket *client) const
{
    return client->bytesToWrite() > MaxUnsentBytes;
}

void WebSocketServer::updateReading(QWebSocket *client)
{
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end())
        return;
    const bool pause = isBehind(client) || inbox->queuedBytes > MaxQueuedBytes;
    if (pause == inbox->paused)
        return;
    inbox->paused = pause;
    // The kernel's buffers then fill and the client's own sending stalls: TCP holds it back.
    client->setReadBufferSize(pause ? PausedReadBufferBytes : 0);
}

void WebSocketServer::onBytesWritten(QWebSocket *client)
{
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end())
        return;
    // Its pongs are not read while it is paused: taking our data is its sign of life then.
    if (inbox->paused)
        m_lastHeard.insert(client, now());
    if (isBehind(client))
        return;
    updateReading(client);
    queueNextTurn(client);
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

void WebSocketServer::onNewConnection()
{
    while (m_server->hasPendingConnections()) {
        QWebSocket *client = m_server->nextPendingConnection();
        if (!client)
            continue;
        if (m_clients.size() >= MaxClients) {
            rejectClient(client);
            continue;
        }
        client->setParent(this);
        client->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
        client->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
        connect(
            client, &QWebSocket::textMessageReceived, this,
            [this, guard = QPointer<QWebSocket>(client)](const QString &message) {
                if (guard)
                    onTextMessageReceived(guard, message);
            },
            Qt::QueuedConnection);
        connect(client, &QWebSocket::disconnected, this, &WebSocketServer::onClientDisconnected);
        connect(client, &QWebSocket::pong, this, [this, client] { onPong(client); });
        connect(client, &QWebSocket::bytesWritten, this, [this, client] { onBytesWritten(client); });
        m_clients.append(client);
        m_subscriptions.insert(client, {});
        m_lastHeard.insert(client, now());
        m_inboxes.insert(client, {});
        qInfo().noquote() << "WebSocketServer: client connected from" << peerOf(client);
        emit clientCountChanged(clientCount());
    }
}

void WebSocketServer::rejectClient(QWebSocket *socket)
{
    logRefusal(QStringLiteral("WebSocketServer: client limit of %1 reached, refusing %2").arg(MaxClients).arg(peerOf(socket)));
    socket->setParent(this);
    closeAndRelease(socket, CloseCodeTryAgainLater, QStringLiteral("Too many clients"));
}

void WebSocketServer::onOriginCheck(QWebSocketCorsAuthenticator *check)
{
    if (!isWebPageOrigin(check->origin()))
        return;
    // Any page open in a browser on this network could otherwise drive the car.
    check->setAllowed(false);
    logRefusal(QStringLiteral("WebSocketServer: refusing a connection from the web page %1").arg(check->origin()));
}

void WebSocketServer::logRefusal(const QString &text)
{
    const qint64 at = now();
    if (m_lastRefusalLog >= 0 && at - m_lastRefusalLog < RefusalLogIntervalMs) {
        ++m_unloggedRefusals;
        return;
    }
    if (m_unloggedRefusals > 0)
        qWarning().noquote() << text << QStringLiteral("(%1 more refused since the last report)").arg(m_unloggedRefusals);
    else
        qWarning().noquote() << text;
    m_lastRefusalLog = at;
    m_unloggedRefusals = 0;
}

void WebSocketServer::closeAndRelease(QWebSocket *socket, int code, const QString &reason)
{
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(CloseGraceMs, socket, &QWebSocket::abort);
    socket->close(QWebSocketProtocol::CloseCode(code), reason);
}

void WebSocketServer::onClientDisconnected()
{
    auto *client = qobject_cast<QWebSocket *>(sender());
    if (!client)
        return;
    qInfo() << "WebSocketServer: client disconnected";
    client->deleteLater();
    if (forgetClient(client))
        emit clientCountChanged(clientCount());
}

bool WebSocketServer::forgetClient(QWebSocket *client)
{
    if (!m_clients.removeOne(client))
        return false;
    m_subscriptions.remove(client);
    m_lastHeard.remove(client);
    m_inboxes.remove(client);
    client->disconnect(this);
    return true;
}

void WebSocketServer::dropClient(QWebSocket *client, const QString &why, const QString &reason)
{
    if (!m_clients.contains(client))
        return;
    qInfo().noquote() << "WebSocketServer: client" << peerOf(client) << why;
    // Forgotten first, so its disconnect finds nothing left to report.
    forgetClient(client);
    // Read again, so that its answer to the close frame can end the connection.
    client->setReadBufferSize(0);
    closeAndRelease(client, QWebSocketProtocol::CloseCodeGoingAway, reason);
    emit clientCountChanged(clientCount());
}

void WebSocketServer::onPong(QWebSocket *client)
{
    auto heard = m_lastHeard.find(client);
    if (heard != m_lastHeard.end())
        *heard = now();
}

void WebSocketServer::onTextMessageReceived(QWebSocket *client, const QString &message)
{
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end())
        return; // removed while this message waited
    m_lastHeard.insert(client, now());
    inbox->requests.enqueue(message);
    inbox->queuedBytes += message.size();
    updateReading(client);
    answerNext(client);
}

void WebSocketServer::answerNext(QWebSocket *client)
{
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end() || inbox->answering || inbox->requests.isEmpty() || isBehind(client))
        return;
    // Held until the reply has gone: the handler may run a nested event loop (a serial open
    // waiting to retry) in which this client's later messages arrive.
    inbox->answering = true;
    const QString message = inbox->requests.dequeue();
    inbox->queuedBytes -= message.size();
    updateReading(client);
    answer(client, message);
}

void WebSocketServer::queueNextTurn(QWebSocket *client)
{
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end() || inbox->turnPending || inbox->answering || inbox->requests.isEmpty())
        return;
    // One request per pass of the event loop: other clients, the socket's writes and the
    // transmit timer get their turns between a client's pipelined requests.
    inbox->turnPending = true;
    const QPointer<QWebSocket> guard = client;
    QMetaObject::invokeMethod(
        this,
        [this, guard] {
            const auto pending = m_inboxes.find(guard.data());
            if (!guard || pending == m_inboxes.end())
                return;
            pending->turnPending = false;
            answerNext(guard);
        },
        Qt::QueuedConnection);
}

void WebSocketServer::finishRequest(QWebSocket *client, const QJsonObject &reply)
{
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end())
        return; // gone while its request was handled
    inbox->answering = false;
    sendJson(client, reply);
    queueNextTurn(client);
}

void WebSocketServer::answer(QWebSocket *client, const QString &message)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        finishRequest(client, {{kEvent, QStringLiteral("error")},
                               {kMessage, QStringLiteral("Invalid JSON: ") + parseError.errorString()}});
        return;
    }
    const QJsonObject request = document.object();
    const QString event = request.value(kEvent).toString();
    const QJsonObject data = request.value(kData).toObject();
    if (event.isEmpty()) {
        finishRequest(client, {{kEvent, QStringLiteral("error")}, {kMessage, QStringLiteral("Missing 'event' field")}});
        return;
    }
    if (event == QLatin1String("ping")) {
        finishRequest(client, {{kEvent, QStringLiteral("pong")}});
        return;
    }
    if (event == QLatin1String("action_subscribe")) {
        handleSubscribe(client, data);
        return;
    }
    if (event == QLatin1String("action_unsubscribe")) {
        handleUnsubscribe(client, data);
        return;
    }
    WsHandler *handler = m_handlers.value(event);
    if (!handler) {
        finishRequest(client, {{kEvent, QStringLiteral("error")},
                               {QStringLiteral("source"), event},
                               {kMessage, QStringLiteral("Unknown event: ") + event}});
        return;
    }
    // The client may be gone and its socket deleted by the time the handler answers.
    const QPointer<QWebSocket> guard = client;
    const QPointer<WebSocketServer> self = this;
    auto answered = std::make_shared<bool>(false);
    ++m_handling;
    handler->handleRequest(event, data, [guard, self, answered](const QJsonObject &reply) {
        if (*answered)
            return;
        *answered = true;
        if (self && guard)
            self->finishRequest(guard, reply);
    });
    if (self)
        --m_handling;
}

void WebSocketServer::handleSubscribe(QWebSocket *client, const QJsonObject &data)
{
    QSet<QString> &subscribed = m_subscriptions[client];
    const QJsonArray events = eventNames(data);
    for (const QJsonValue &name : events) {
        if (subscribed.size() >= MaxSubscriptionsPerClient)
            break;
        subscribed.insert(name.toString());
    }
    finishRequest(client, {{kEvent, QStringLiteral("action_subscribe")}, {kSuccess, true}});
}

void WebSocketServer::handleUnsubscribe(QWebSocket *client, const QJsonObject &data)
{
    auto subscribed = m_subscriptions.find(client);
    if (subscribed != m_subscriptions.end()) {
        const QJsonArray events = eventNames(data);
        for (const QJsonValue &name : events)
            subscribed->remove(name.toString());
    }
    finishRequest(client, {{kEvent, QStringLiteral("action_unsubscribe")}, {kSuccess, true}});
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
    const QList<QWebSocket *> clients = m_clients;
    for (QWebSocket *client : clients) {
        if (!m_clients.contains(client))
            continue;
        const auto inbox = m_inboxes.constFind(client);
        const bool paused = inbox != m_inboxes.cend() && inbox->paused;
        // Not read from only while its own requests wait their turn: its silence is ours.
        if (paused && !isBehind(client))
            m_lastHeard.insert(client, tick);
        if (tick - m_lastHeard.value(client, tick) <= SilenceLimitMs) {
            client->ping();
        } else if (paused) {
            dropClient(client, QStringLiteral("stopped reading, dropping it"), QStringLiteral("Client stopped reading"));
        } else {
            dropClient(client, QStringLiteral("stopped answering, dropping it"), QStringLiteral("Client stopped answering"));
        }
    }
}

} // namespace corvane
