#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

namespace corvane {

class CorvaneController;

// Base of the API's request handlers: each answers the event names it lists and pushes its
// unasked events through pushEvent, which the server delivers to the subscribed clients.
class WsHandler : public QObject
{
    Q_OBJECT
public:
    WsHandler(CorvaneController *controller, QObject *parent);

    virtual QStringList supportedEvents() const = 0;
    virtual QJsonObject handleEvent(const QString &event, const QJsonObject &data) = 0;

signals:
    void pushEvent(const QString &event, const QJsonObject &data);

protected:
    CorvaneController *m_controller = nullptr;
};

} // namespace corvane
