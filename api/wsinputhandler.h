#pragma once

#include "api/wshandler.h"

namespace corvane {

class InputDevice;

// The driver's inputs for the app: the controller's reading of them, one device's raw state or
// buttons, and the pit limiter; streams the reading on every monitor tick.
class WsInputHandler : public WsHandler
{
    Q_OBJECT
public:
    WsInputHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;

public slots:
    void pushInputChanged();

private:
    QJsonObject handleGetInputState(const QString &event) const;
    QJsonObject handleGetRawInputState(const QString &event, const QJsonObject &data) const;
    QJsonObject handleGetButtonStates(const QString &event, const QJsonObject &data) const;
    QJsonObject inputStateJson() const;
    // The chosen device, or null with `error` filled in.
    InputDevice *chooseDevice(const QString &event, const QString &word, QJsonObject &error) const;
};

} // namespace corvane
