#pragma once

#include "api/wshandler.h"

struct LedSettings;

namespace corvane {

namespace wsjson {
class FieldReader;
}

// The mobile app's LED strip setup: edits the controller's LED record field by field (each
// accepted edit is stored at once), manages colour zones and starts the USB push to the
// receiver, whose progress it pushes for every push, whoever started it.
class WsLedHandler : public WsHandler
{
    Q_OBJECT
public:
    WsLedHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    // A change's reply tells the record's values next to "success", not in "data".
    QJsonObject stateOf(const QString &event, const QJsonObject &data) override;
    QJsonObject stateReply(const QString &event, const QJsonObject &data, QJsonObject reply) override;

    // The keys of a whole LED setup as the app and a profile's file name them, read over
    // `settings` by the rule of `wsjson::FieldReader` ("ledColors" is not read); the selected
    // zone is one of the zones held before.
    static void mergeSettings(const wsjson::FieldReader &in, LedSettings &settings);

private:
    QJsonObject handleSetSettings(const QString &event, const QJsonObject &data);
    QJsonObject handleSetColor(const QString &event, const QJsonObject &data);
    QJsonObject handleZone(const QString &event, const QJsonObject &data);
    QJsonObject handleTrigger(const QString &event);
    QJsonObject store(const QString &event, const LedSettings &settings, const QJsonObject &extra = {});
};

} // namespace corvane
