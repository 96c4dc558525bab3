#pragma once

#include "api/wshandler.h"

struct ButtonMapping;
struct ButtonMappingSet;

namespace corvane {

namespace wsjson {
class FieldReader;
}

// The active profile's button mappings for the app: read, replace, add, remove and clear.
// Every accepted change goes whole to the controller, which applies and saves it.
class WsButtonHandler : public WsHandler
{
    Q_OBJECT
public:
    WsButtonHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;

    // The ten keys of a mapping; extra buttons are neither shown nor taken. Reading refuses,
    // through the reader, a value of the wrong type or out of range, and holds the channel values
    // within the channel; the channel's range is the caller's check.
    static QJsonObject buttonMappingToJson(const ButtonMapping &mapping);
    static ButtonMapping buttonMappingFromJson(const wsjson::FieldReader &in);
    // A mapping of a whole list: its channel must be one of the free ones, 2 to 11.
    static ButtonMapping listedMappingFromJson(const wsjson::FieldReader &in);

private:
    QJsonObject handleSetButtonMappings(const QString &event, const QJsonObject &data);
    QJsonObject handleAddButtonMapping(const QString &event, const QJsonObject &data);
    QJsonObject handleRemoveButtonMapping(const QString &event, const QJsonObject &data);
    // Stores the set; refused with the store's message when the profile could not be saved.
    QJsonObject store(const QString &event, const ButtonMappingSet &set);
};

} // namespace corvane
