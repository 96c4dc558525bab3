#include "api/websocketserver.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

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
// A client refused for the client limit that does not answer the close is cut off after this.
constexpr int RejectGraceMs = 2000;

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
        removeClient(client);
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
    if (client->bytesToWrite() > MaxUnsentBytes) {
        dropClient(client, QStringLiteral("is not reading (%1 bytes unsent), dropping it").arg(client->bytesToWrite()));
    }
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
        m_clients.append(client);
        m_subscriptions.insert(client, {});
        m_lastHeard.insert(client, now());
        qInfo().noquote() << "WebSocketServer: client connected from" << peerOf(client);
        emit clientCountChanged(clientCount());
    }
}

void WebSocketServer::rejectClient(QWebSocket *socket)
{
    qWarning().noquote() << "WebSocketServer: client limit of" << MaxClients << "reached, refusing"
                         << peerOf(socket);
    socket->setParent(this);
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(RejectGraceMs, socket, &QWebSocket::abort);
    socket->close(QWebSocketProtocol::CloseCode(CloseCodeTryAgainLater), QStringLiteral("Too many clients"));
}

void WebSocketServer::onClientDisconnected()
{
    auto *client = qobject_cast<QWebSocket *>(sender());
    if (!client)
        return;
    qInfo() << "WebSocketServer: client disconnected";
    if (removeClient(client))
        emit clientCountChanged(clientCount());
}

bool WebSocketServer::removeClient(QWebSocket *client)
{
    if (!m_clients.removeOne(client))
        return false;
    m_subscriptions.remove(client);
    m_lastHeard.remove(client);
    client->disconnect(this);
    client->deleteLater();
    return true;
}

void WebSocketServer::dropClient(QWebSocket *client, const QString &why)
{
    if (!m_clients.contains(client))
        return;
    qInfo().noquote() << "WebSocketServer: client" << peerOf(client) << why;
    // Forgotten before the abort, so its disconnect finds nothing left to report.
    removeClient(client);
    client->abort();
    emit clientCountChanged(clientCount());
}

void WebSocketServer::onPong(QWebSocket *client)
{
    auto heard = m_lastHeard.find(client);
    if (heard != m_lastHeard.end())
        *heard = now();
}

void WebSocketServer::onTextMessageReceived(QWebSocket *socket, const QString &message)
{
    // A handler may run a nested event loop (a serial open waiting to retry), during which
    // this client can disconnect or be dropped: it is held weakly and checked before replying.
    const QPointer<QWebSocket> client = socket;
    if (!m_clients.contains(socket))
        return; // removed while this message waited
    auto heard = m_lastHeard.find(client.data());
    if (heard != m_lastHeard.end())
        *heard = now();

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        sendJson(client, {{kEvent, QStringLiteral("error")},
                          {kMessage, QStringLiteral("Invalid JSON: ") + parseError.errorString()}});
        return;
    }
    const QJsonObject request = document.object();
    const QString event = request.value(kEvent).toString();
    const QJsonObject data = request.value(kData).toObject();
    if (event.isEmpty()) {
        sendJson(client, {{kEvent, QStringLiteral("error")}, {kMessage, QStringLiteral("Missing 'event' field")}});
        return;
    }
    if (event == QLatin1String("ping")) {
        sendJson(client, {{kEvent, QStringLiteral("pong")}});
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
        sendJson(client, {{kEvent, QStringLiteral("error")},
                          {QStringLiteral("source"), event},
                          {kMessage, QStringLiteral("Unknown event: ") + event}});
        return;
    }
    const QJsonObject reply = handler->handleEvent(event, data);
    if (client && m_clients.contains(client.data()))
        sendJson(client, reply);
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
    sendJson(client, {{kEvent, QStringLiteral("action_subscribe")}, {kSuccess, true}});
}

void WebSocketServer::handleUnsubscribe(QWebSocket *client, const QJsonObject &data)
{
    auto subscribed = m_subscriptions.find(client);
    if (subscribed != m_subscriptions.end()) {
        const QJsonArray events = eventNames(data);
        for (const QJsonValue &name : events)
            subscribed->remove(name.toString());
    }
    sendJson(client, {{kEvent, QStringLiteral("action_unsubscribe")}, {kSuccess, true}});
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
        if (tick - m_lastHeard.value(client, tick) <= SilenceLimitMs)
            client->ping();
        else
            dropClient(client, QStringLiteral("stopped answering, dropping it"));
    }
}

} // namespace corvane
