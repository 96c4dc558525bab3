#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QWebSocket;
class QWebSocketServer;

namespace ostratest {

// A race station's WebSocket API as race control sees it: lounge events, ping, get_app_version
// and the axis and wheel force-feedback requests. It records every text message, knows which
// client subscribed to what, and pushes lounge state and live values when the test asks.
class FakeRaceStation : public QObject
{
    Q_OBJECT
public:
    explicit FakeRaceStation(QObject *parent = nullptr);
    ~FakeRaceStation() override;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const;
    QString host() const;
    // Stops listening and drops every client (as a station that was switched off).
    void stop();
    int clientCount() const { return int(m_clients.size()); }

    // --- behaviour ---
    void setDeviceId(const QString &id) { m_state.insert(QStringLiteral("deviceId"), id); }
    // false: a station that drives a helicopter; its "action_" requests are refused.
    void setSupported(bool on) { m_state.insert(QStringLiteral("supported"), on); }
    void setVersion(const QString &version) { m_version = version; }
    // Records but answers nothing, not even pings.
    void setSilent(bool on) { m_silent = on; }
    void setAnswersPings(bool on) { m_answersPings = on; }
    // These events are refused as software without them does: "Unknown event: <name>".
    void setUnknownEvents(const QStringList &events) { m_unknown = events; }
    // This event is refused with `message`, as a station that cannot do it right now.
    void refuse(const QString &event, const QString &message) { m_refused.insert(event, message); }
    void setStateValue(const QString &key, const QJsonValue &value) { m_state.insert(key, value); }
    void setAxisSettings(const QJsonObject &axis) { m_axis = axis; }
    void setWheelFfb(const QJsonObject &ffb) { m_ffb = ffb; }
    QJsonObject loungeState() const;

    // --- pushes, to the subscribed clients ---
    void pushState();
    void pushLive(const QJsonObject &live);
    // Sends a raw text message to every client.
    void sendText(const QString &text);

    // --- record ---
    QStringList messages() const { return m_messages; }
    // Every received request object, in order, whose event is `event` (all when empty).
    QList<QJsonObject> requests(const QString &event = QString()) const;
    QStringList events() const;
    void clearRecord() { m_messages.clear(); }
    // Close codes of the clients' close frames, in arrival order.
    QList<int> closeCodes() const { return m_closeCodes; }

signals:
    void messageReceived(const QString &event);
    // A client's connection ended, with the close code of its close frame.
    void clientClosed(int code);

private:
    void onNewConnection();
    void onText(QWebSocket *client, const QString &text);
    QJsonObject answer(QWebSocket *client, const QString &event, const QJsonObject &data);
    void push(const QString &event, const QJsonObject &data);
    static void sendObject(QWebSocket *client, const QJsonObject &object);

    QWebSocketServer *m_server;
    QList<QWebSocket *> m_clients;
    QHash<QWebSocket *, QSet<QString>> m_subscriptions;
    QJsonObject m_state;
    QJsonObject m_axis;
    QJsonObject m_ffb;
    QString m_version = QStringLiteral("1.2.27");
    bool m_silent = false;
    bool m_answersPings = true;
    QStringList m_unknown;
    QHash<QString, QString> m_refused;
    QStringList m_messages;
    QList<int> m_closeCodes;
};

} // namespace ostratest
