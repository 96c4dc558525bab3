#pragma once

#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QDialog;

namespace ostra {

// Edits a page or a running setup dialog holds and has not stored yet. It lives as a child of
// what holds them, so a window that closes over them finds it and asks before they are lost.
class UnsavedEdits : public QObject
{
    Q_OBJECT
public:
    // `what` names the edits in that question; `pending` says whether there are any now; `save`
    // stores them and says whether they could be stored.
    UnsavedEdits(QObject *holder, const QString &what, std::function<bool()> pending, std::function<bool()> save);

    QString what() const { return m_what; }
    bool pending() const { return m_pending(); }
    bool save() { return m_save(); }

    // Those under `roots` with edits pending.
    static QList<UnsavedEdits *> pendingUnder(const QList<QObject *> &roots);

private:
    QString m_what;
    std::function<bool()> m_pending;
    std::function<bool()> m_save;
};

// Runs a setup dialog modally and returns its result. While it runs, its edits are pending as
// long as `edits` (its working copy) reads other than when it opened; saving them accepts the
// dialog, whose opener stores what an accepted dialog holds, and fails when the dialog refuses.
int execSetupDialog(QDialog &dialog, const std::function<QJsonValue()> &edits);

} // namespace ostra
