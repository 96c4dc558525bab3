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
    // How the server asks: by default answered at once with handleEvent's reply. A handler whose
    // work takes time (a child process) answers later instead, without blocking the GUI thread;
    // the server holds the client's further requests until it has.
    virtual void handleRequest(const QString &event, const QJsonObject &data, const WsReply &reply);
    // Whether the request is handled as soon as it is read, ahead of the client's earlier
    // requests (whose replies may wait for the disk): what it does takes effect then, and only its
    // reply (and what it stored) waits for its turn. By default no: a request is handled in its
    // turn. A request that makes a car safer (a stop) is taken so: none may wait for a disk.
    virtual bool answersOnArrival(const QString &event, const QJsonObject &data) const;
    // Whether `earlier`, a request still waiting for its turn, would undo `event`, taken after it
    // (a start sent before a stop): on arrival, from this client or another, or outside any request
    // ("action_stop" and "action_set_heli_armed" then name a stop and a disarm). It is refused in
    // its turn instead, so that what came last holds. By default no.
    virtual bool wouldUndo(const QString &earlier, const QJsonObject &earlierData, const QString &event) const;
    // The reply as it goes, once its turn has come and what it stored is on disk: by default as
    // the handler gave it. One that tells a state others may change meanwhile tells it as it is
    // then, or a later push would be undone by an older state.
    virtual QJsonObject replyAsItGoes(QJsonObject reply) const;
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
