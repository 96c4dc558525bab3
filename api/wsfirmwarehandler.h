#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "api/wshandler.h"
#include "firmware/firmwareupdateprocedure.h"

namespace corvane {

// Lets the mobile app read the program's version and run a firmware update of the receiver,
// the transmitter or the transmitter's system software (auto update), following it through
// pushed "event_firmware_progress" events. It owns its own run and installs without asking.
class WsFirmwareHandler : public WsHandler
{
    Q_OBJECT
public:
    WsFirmwareHandler(CorvaneController *controller, QObject *parent);
    ~WsFirmwareHandler() override;

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;

    // "soc" and "software" (any case) are the system software, "transmitter" the transmitter,
    // anything else the receiver.
    static FirmwareTarget parseDevice(const QString &device);

private:
    QJsonObject startRun(const QString &event, const QJsonObject &data);
    QJsonObject status() const;
    // Adds the versions the run knows, when not empty.
    void addVersions(QJsonObject *data) const;
    QString deviceName() const;

    void onReport(const FirmwareReport &report);
    void pushProgress(const QString &state, const QString &text, int progress);
    void pushError(const QString &text);
    void pushDone(const QString &text);
    void checkSocVersion();
    void checkCurrentVersion();

    FirmwareUpdateProcedure *m_procedure;
};

} // namespace corvane
