#pragma once

#include "api/wshandler.h"

namespace corvane {

// The user presets for the app: named snapshots of the controls ("controls") or of the wheel's
// force feedback ("ffb"), listed, saved, loaded, renamed and deleted; a push follows every
// change of a kind's list.
class WsPresetHandler : public WsHandler
{
    Q_OBJECT
public:
    WsPresetHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    // With an empty id, as when the preset was refused.
    QJsonObject unstoredReply(QJsonObject reply, const QString &failure) const override;

private:
    QJsonObject presetsJson(const QString &kind) const;
    QJsonObject handleSavePreset(const QString &event, const QJsonObject &data);
    QJsonObject handleLoadPreset(const QString &event, const QJsonObject &data);
    void pushPresetsChanged(const QString &kind);
};

} // namespace corvane
