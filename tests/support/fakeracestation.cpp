#include "support/fakeracestation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QWebSocket>
#include <QWebSocketServer>

namespace ostratest {

FakeRaceStation::FakeRaceStation(QObject *parent)
    : QObject(parent)
    , m_server(new QWebSocketServer(QStringLiteral("fake station"), QWebSocketServer::NonSecureMode, this))
{
    m_state = QJsonObject{{"supported", true},     {"deviceId", QString()}, {"stopped", false},
                          {"stopReason", QString()}, {"speedCap", false},    {"speedCapPercent", 100},
                          {"pitLimiter", false},     {"pitLimiterPercent", 100}, {"reverseAllowed", true},
                          {"watchdog", false},       {"watchdogTimeoutMs", 2000}};
    m_axis = QJsonObject{{"steeringCenter", 992}, {"smoothDeceleration", false}, {"decelRate", 50}};
    m_ffb = QJsonObject{{"enabled", true}, {"strength", 0.5}, {"centering", 0.3},
                        {"nativeCentering", false}, {"autoEngage", true}, {"capable", true}};
    connect(m_server, &QWebSocketServer::newConnection, this, &FakeRaceStation::onNewConnection);
}

FakeRaceStation::~FakeRaceStation()
{
    stop();
}

bool FakeRaceStation::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 FakeRaceStation::port() const
{
    return m_server->serverPort();
}

QString FakeRaceStation::host() const
{
    return m_server->serverAddress().toString();
}

void FakeRaceStation::stop()
{
    m_server->close();
    const QList<QWebSocket *> clients = std::exchange(m_clients, {});
    m_subscriptions.clear();
    for (QWebSocket *client : clients) {
        client->disconnect(this);
        client->abort();
        client->deleteLater();
    }
}

void FakeRaceStation::onNewConnection()
{
    while (QWebSocket *client = m_server->nextPendingConnection()) {
        m_clients.append(client);
        connect(client, &QWebSocket::textMessageReceived, this,
                [this, client](const QString &text) { onText(client, text); });
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            m_closeCodes.append(client->closeCode());
            emit clientClosed(client->closeCode());
            m_clients.removeAll(client);
            m_subscriptions.remove(client);
            client->deleteLater();
        });
    }
}

QJsonObject FakeRaceStation::loungeState() const
{
    return m_state;
}

QList<QJsonObject> FakeRaceStation::requests(const QString &event) const
{
    QList<QJsonObject> result;
    for (const QString &text : m_messages) {
        const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
        if (event.isEmpty() || object.value("event").toString() == event)
            result.append(object);
    }
    return result;
}

QStringList FakeRaceStation::events() const
{
    QStringList result;
    for (const QJsonObject &object : requests())
        result.append(object.value("event").toString());
    return result;
}

void FakeRaceStation::sendObject(QWebSocket *client, const QJsonObject &object)
{
    client->sendTextMessage(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void FakeRaceStation::onText(QWebSocket *client, const QString &text)
{
    m_messages.append(text);
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString event = message.value("event").toString();
    emit messageReceived(event);
    if (m_silent)
        return;
    const QJsonObject reply = answer(client, event, message.value("data").toObject());
    if (!reply.isEmpty())
        sendObject(client, reply);
}

QJsonObject FakeRaceStation::answer(QWebSocket *client, const QString &event, const QJsonObject &data)
{
    auto error = [&event](const QString &text) {
        return QJsonObject{{"event", "error"}, {"source", event}, {"message", text}};
    };
    auto reply = [&event](const QJsonObject &body) { return QJsonObject{{"event", event}, {"data", body}}; };
    if (event == QLatin1String("ping"))
        return m_answersPings ? QJsonObject{{"event", "pong"}} : QJsonObject();
    if (m_unknown.contains(event))
        return error(QStringLiteral("Unknown event: %1").arg(event));
    if (m_refused.contains(event))
        return error(m_refused.value(event));
    if (event == QLatin1String("action_subscribe")) {
        for (const QJsonValue &name : data.value("events").toArray())
            m_subscriptions[client].insert(name.toString());
        return QJsonObject{{"event", event}, {"success", true}};
    }
    if (event.startsWith(QLatin1String("action_")) && !m_state.value("supported").toBool())
        return error(QStringLiteral("Race control is for RC cars; this station drives a helicopter"));
    if (event == QLatin1String("get_app_version"))
        return reply(QJsonObject{{"version", m_version}});
    if (event == QLatin1String("get_lounge_state"))
        return reply(m_state);
    if (event == QLatin1String("lounge_heartbeat"))
        return reply(QJsonObject{{"stopped", m_state.value("stopped")}});
    if (event == QLatin1String("get_axis_settings"))
        return reply(m_axis);
    if (event == QLatin1String("set_axis_settings")) {
        for (auto it = data.begin(); it != data.end(); ++it)
            m_axis.insert(it.key(), it.value());
        return QJsonObject{{"event", event}, {"success", true}};
    }
    if (event == QLatin1String("get_wheel_ffb"))
        return reply(m_ffb);
    if (event == QLatin1String("set_wheel_ffb")) {
        for (auto it = data.begin(); it != data.end(); ++it)
            m_ffb.insert(it.key(), it.value());
        return reply(m_ffb);
    }
    // The lounge commands: members left out keep the current values.
    auto take = [&data, this](const char *from, const char *to) {
        if (data.contains(from))
            m_state.insert(to, data.value(from));
    };
    if (event == QLatin1String("action_lounge_stop")) {
        m_state.insert("stopped", true);
        m_state.insert("stopReason", "operator");
    } else if (event == QLatin1String("action_lounge_release")) {
        m_state.insert("stopped", false);
        m_state.insert("stopReason", QString());
    } else if (event == QLatin1String("set_lounge_speed_cap")) {
        take("enabled", "speedCap");
        take("percent", "speedCapPercent");
    } else if (event == QLatin1String("set_lounge_pit_limiter")) {
        take("enabled", "pitLimiter");
        take("percent", "pitLimiterPercent");
    } else if (event == QLatin1String("set_lounge_reverse")) {
        take("allowed", "reverseAllowed");
    } else if (event == QLatin1String("set_lounge_watchdog")) {
        take("enabled", "watchdog");
        take("timeoutMs", "watchdogTimeoutMs");
    } else {
        return error(QStringLiteral("Unknown event: %1").arg(event));
    }
    pushState();
    return reply(m_state);
}

void FakeRaceStation::push(const QString &event, const QJsonObject &data)
{
    for (QWebSocket *client : std::as_const(m_clients)) {
        if (m_subscriptions.value(client).contains(event))
            sendObject(client, QJsonObject{{"event", event}, {"data", data}});
    }
}

void FakeRaceStation::pushState()
{
    push(QStringLiteral("event_lounge_state"), m_state);
}

void FakeRaceStation::pushLive(const QJsonObject &live)
{
    push(QStringLiteral("event_lounge_live"), live);
}

void FakeRaceStation::sendText(const QString &text)
{
    for (QWebSocket *client : std::as_const(m_clients))
        client->sendTextMessage(text);
}

} // namespace ostratest
