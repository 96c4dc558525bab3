#include "racecontrol/racestationlink.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTimer>
#include <QWebSocket>

namespace corvane {

namespace {

constexpr int kReconnectDelayMs = 3000;
constexpr int kKeepAliveMs = 2000;
constexpr int kConnectTimeoutMs = 8000;
constexpr int kRequestTimeoutMs = 8000;
// Silence after which a connection counts as dead: short once the station has answered a ping,
// long before (a station may not answer pings but still push its live values).
constexpr qint64 kSilenceAfterPongMs = 6000;
constexpr qint64 kSilenceBeforePongMs = 22000;

} // namespace

RaceStationLink::RaceStationLink(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_url(url)
    , m_socket(new QWebSocket(QString(), QWebSocketProtocol::Version13, this))
    , m_reconnectTimer(new QTimer(this))
    , m_keepAliveTimer(new QTimer(this))
    , m_silenceTimer(new QTimer(this))
{
    m_socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
    m_socket->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
    m_reconnectTimer->setSingleShot(true);
    m_reconnectTimer->setInterval(kReconnectDelayMs);
    m_keepAliveTimer->setInterval(kKeepAliveMs);
    m_reconnectTimer->setTimerType(Qt::PreciseTimer);
    m_keepAliveTimer->setTimerType(Qt::PreciseTimer);
    m_silenceTimer->setSingleShot(true);
    m_silenceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_silenceTimer, &QTimer::timeout, this, [this] {
        // As the keep-alive does: the disconnected signal does the rest.
        if (m_connected)
            m_socket->abort();
    });
    connect(m_reconnectTimer, &QTimer::timeout, this, &RaceStationLink::open);
    connect(m_keepAliveTimer, &QTimer::timeout, this, &RaceStationLink::onKeepAliveTick);
    connect(m_socket, &QWebSocket::connected, this, &RaceStationLink::onConnected);
    connect(m_socket, &QWebSocket::disconnected, this, &RaceStationLink::onDisconnected);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &RaceStationLink::onTextMessage);
    connect(m_socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            &RaceStationLink::onSocketError);
    open();
}

QUrl RaceStationLink::urlFor(const QString &host, int port)
{
    return QUrl(QStringLiteral("ws://%1:%2").arg(host).arg(port));
}

QHostAddress RaceStationLink::peerAddress() const
{
    return m_connected ? m_socket->peerAddress() : QHostAddress();
}

RaceStationLink::~RaceStationLink()
{
    m_closing = true;
    m_socket->disconnect(this);
    // Callers may be half torn down themselves: their callbacks are dropped, not called.
    m_pending.clear();
}

void RaceStationLink::open()
{
    if (m_closing)
        return;
    m_socket->abort();
    m_reconnectTimer->stop();
    m_socket->open(m_url);
    // Bound to this attempt, so a check left over from an earlier, quickly failed attempt
    // cannot cut a later one short.
    const quint64 attempt = ++m_attempt;
    QTimer::singleShot(kConnectTimeoutMs, Qt::PreciseTimer, this, [this, attempt] {
        if (attempt != m_attempt || m_connected || m_closing
            || m_socket->state() == QAbstractSocket::UnconnectedState)
            return;
        m_socket->abort();
        emit closed();
        scheduleReconnect();
    });
}

void RaceStationLink::onConnected()
{
    m_connected = true;
    m_pongSeen = false;
    m_lastRxMs = QDateTime::currentMSecsSinceEpoch();
    m_keepAliveTimer->start();
    if (m_silenceTimer->interval() > 0)
        m_silenceTimer->start();
    emit opened();
}

void RaceStationLink::onDisconnected()
{
    const bool wasConnected = m_connected;
    m_connected = false;
    m_keepAliveTimer->stop();
    m_silenceTimer->stop();
    failPending(tr("Connection lost"));
    if (wasConnected)
        emit closed();
    scheduleReconnect();
}

void RaceStationLink::onSocketError()
{
    // An established connection ends through its disconnected signal instead.
    if (m_connected || m_closing)
        return;
    emit closed();
    scheduleReconnect();
}

void RaceStationLink::scheduleReconnect()
{
    if (!m_closing)
        m_reconnectTimer->start();
}

void RaceStationLink::send(const QString &event, const QJsonObject &data, Callback callback)
{
    if (!m_connected) {
        if (callback)
            callback(false, QJsonObject(), tr("Not connected"));
        return;
    }
    QJsonObject message{{QStringLiteral("event"), event}};
    if (!data.isEmpty())
        message.insert(QStringLiteral("data"), data);
    if (callback) {
        const quint64 id = m_nextRequestId++;
        m_pending[event].append(PendingRequest{id, std::move(callback)});
        QTimer::singleShot(kRequestTimeoutMs, Qt::PreciseTimer, this, [this, event, id] { onRequestTimeout(event, id); });
    }
    m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void RaceStationLink::close()
{
    if (m_closing)
        return;
    m_closing = true;
    m_reconnectTimer->stop();
    m_keepAliveTimer->stop();
    m_silenceTimer->stop();
    failPending(tr("Closed"));
    // A connection already gone (or still being made) has no one to send the close frame to.
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        m_socket->flush();
    } else {
        m_socket->abort();
    }
    deleteLater();
}

void RaceStationLink::setSilenceLimit(int ms)
{
    if (ms == m_silenceTimer->interval())
        return;
    m_silenceTimer->setInterval(qMax(0, ms));
    if (ms > 0 && m_connected && !m_closing)
        m_silenceTimer->start();
    else
        m_silenceTimer->stop();
}

int RaceStationLink::silenceLimit() const
{
    return m_silenceTimer->interval();
}

void RaceStationLink::onRequestTimeout(const QString &event, quint64 id)
{
    auto it = m_pending.find(event);
    if (it == m_pending.end())
        return;
    QList<PendingRequest> &list = it.value();
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i).id != id)
            continue;
        Callback callback = std::move(list[i].callback);
        list.removeAt(i);
        if (list.isEmpty())
            m_pending.erase(it);
        if (callback)
            callback(false, QJsonObject(), tr("No answer"));
        return;
    }
}

bool RaceStationLink::takePending(const QString &event, Callback *callback)
{
    auto it = m_pending.find(event);
    if (it == m_pending.end() || it->isEmpty())
        return false;
    *callback = std::move(it->first().callback);
    it->removeFirst();
    if (it->isEmpty())
        m_pending.erase(it);
    return true;
}

void RaceStationLink::failPending(const QString &reason)
{
    // Detached first, so a callback that sends a new request starts a fresh table.
    const QHash<QString, QList<PendingRequest>> failed = std::exchange(m_pending, {});
    for (const QList<PendingRequest> &list : failed) {
        for (const PendingRequest &request : list) {
            if (request.callback)
                request.callback(false, QJsonObject(), reason);
        }
    }
}

void RaceStationLink::onTextMessage(const QString &text)
{
    m_lastRxMs = QDateTime::currentMSecsSinceEpoch();
    if (m_silenceTimer->interval() > 0 && m_connected)
        m_silenceTimer->start();
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString event = message.value(QStringLiteral("event")).toString();
    if (event.isEmpty())
        return;
    if (event == QLatin1String("pong")) {
        m_pongSeen = true;
        return;
    }
    Callback callback;
    if (event == QLatin1String("error")) {
        if (takePending(message.value(QStringLiteral("source")).toString(), &callback) && callback)
            callback(false, QJsonObject(), message.value(QStringLiteral("message")).toString());
        return;
    }
    if (takePending(event, &callback) || takePending(QStringLiteral("get_") + event, &callback)) {
        if (callback) {
            const QJsonObject data = message.contains(QStringLiteral("data"))
                                         ? message.value(QStringLiteral("data")).toObject()
                                         : message;
            callback(true, data, QString());
        }
        return;
    }
    emit pushed(event, message.value(QStringLiteral("data")).toObject());
}

void RaceStationLink::onKeepAliveTick()
{
    const qint64 silence = QDateTime::currentMSecsSinceEpoch() - m_lastRxMs;
    if ((m_pongSeen && silence > kSilenceAfterPongMs) || (!m_pongSeen && silence > kSilenceBeforePongMs)) {
        // The disconnected signal fails the waiting requests and schedules the reconnection.
        m_socket->abort();
        return;
    }
    m_socket->sendTextMessage(QStringLiteral("{\"event\":\"ping\"}"));
}

} // namespace corvane
