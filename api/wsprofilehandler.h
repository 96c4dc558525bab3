#pragma once

#include "api/wshandler.h"

namespace corvane {

// The vehicle profiles for the app: list, active profile, switch, create, rename, duplicate,
// delete, import and export, with pushes when the active profile or the list changes.
class WsProfileHandler : public WsHandler
{
    Q_OBJECT
public:
    WsProfileHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    // Without the id of a profile that was taken back.
    QJsonObject unstoredReply(QJsonObject reply, const QString &failure) const override;

private:
    QJsonObject handleGetProfiles(const QString &event) const;
    QJsonObject handleGetActiveProfile(const QString &event) const;
    QJsonObject handleSetActiveProfile(const QString &event, const QJsonObject &data);
    QJsonObject handleCreateProfile(const QString &event, const QJsonObject &data);
    QJsonObject handleRenameProfile(const QString &event, const QJsonObject &data);
    QJsonObject handleDuplicateProfile(const QString &event, const QJsonObject &data);
    QJsonObject handleDeleteProfile(const QString &event, const QJsonObject &data);
    QJsonObject handleImportProfile(const QString &event, const QJsonObject &data);
    QJsonObject handleExportProfile(const QString &event, const QJsonObject &data);
    void pushProfileChanged(const QString &id);
    void pushProfileListChanged();
};

} // namespace corvane
