#pragma once

#include "api/wshandler.h"

namespace corvane {

// The user's ESC presets (neutral, full forward, full reverse) for the app: list, create,
// update, rename and delete, with a push whenever the list changes, whoever changed it.
class WsEscPresetHandler : public WsHandler
{
    Q_OBJECT
public:
    WsEscPresetHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    // Without the id of a preset that was taken back.
    QJsonObject unstoredReply(QJsonObject reply, const QString &failure) const override;

private:
    QJsonObject handleGetEscPresets(const QString &event) const;
    QJsonObject handleCreateEscPreset(const QString &event, const QJsonObject &data);
    QJsonObject handleUpdateEscPreset(const QString &event, const QJsonObject &data);
    QJsonObject handleRenameEscPreset(const QString &event, const QJsonObject &data);
    QJsonObject handleDeleteEscPreset(const QString &event, const QJsonObject &data);
    void pushEscPresetsChanged();
};

} // namespace corvane
