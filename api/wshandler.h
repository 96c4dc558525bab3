#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace corvane {

class CorvaneController;

// Sends the reply to one request; called exactly once per request.
using WsReply = std::function<void(const QJsonObject &reply)>;

// Base of the API's request handlers: each answers the event names it lists and pushes its
// unasked events through pushEvent, which the server delivers to the subscribed clients.
class WsHandler : public QObject
{
    Q_OBJECT
public:
    WsHandler(CorvaneController *controller, QObject *parent);

    virtual QStringList supportedEvents() const = 0;
    virtual QJsonObject handleEvent(const QString &event, const QJsonObject &data) = 0;
    // How the server asks, as soon as it has read the request: by default answered at once with
    // handleEvent's reply. A handler whose work takes time (a child process) answers later instead,
    // without blocking the GUI thread; the client's later requests wait for the answer, stops
    // aside.
    virtual void handleRequest(const QString &event, const QJsonObject &data, const WsReply &reply);
    // Whether the request only makes the car or the motor safe: it takes effect when it arrives,
    // ahead of whatever its client or another has waiting. None by default.
    virtual bool isStop(const QString &event, const QJsonObject &data) const;
    // Whether the request takes effect when it arrives, ahead of whatever waits, and is never
    // refused for what waits: a stop, and a sign of life a watchdog counts on. By default a stop.
    virtual bool appliesOnArrival(const QString &event, const QJsonObject &data) const;
    // Whether what the stop made safe is still so: a start made since is not undone by the stop
    // applied again after a request that arrived before it. By default it is.
    virtual bool stopHolds(const QString &event, const QJsonObject &data) const;
    // The state a reply to the request carries, as it is now: a reply that waited carries it as
    // it is when it goes, or a push sent meanwhile would be undone in the client's view by an
    // older state. Empty for a reply whose data is no state (an id, what was made). By default a
    // get_ request is read again.
    virtual QJsonObject stateOf(const QString &event, const QJsonObject &data);
    // A reply that waited, as it goes: by default its "data" becomes stateOf's state (a reply
    // without "data" carries none). A handler whose replies tell their state elsewhere puts it
    // there.
    virtual QJsonObject stateReply(const QString &event, const QJsonObject &data, QJsonObject reply);
    // The refusal of a request in the form of the handler's replies: the error form for a get_
    // request, else "success" false with the message.
    virtual QJsonObject refusedReply(const QString &event, const QString &message) const;
    // The reply to a request whose change could not be stored: refused with the writer's message,
    // unless the handler refused it already, and by default keeping what else it carries.
    virtual QJsonObject unstoredReply(QJsonObject reply, const QString &failure) const;

signals:
    void pushEvent(const QString &event, const QJsonObject &data);

protected:
    CorvaneController *m_controller = nullptr;
};

} // namespace corvane
