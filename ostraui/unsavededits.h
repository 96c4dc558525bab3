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
    // Called once with whether the edits are stored: on disk, not merely handed over.
    using Stored = std::function<void(bool stored)>;
    // Stores the edits and calls its argument once that is settled, maybe only later.
    using Save = std::function<void(const Stored &)>;

    // `what` names the edits in that question; `pending` says whether there are any now; `save`
    // stores them. What could not be stored is reported by its holder.
    UnsavedEdits(QObject *holder, const QString &what, std::function<bool()> pending, Save save);

    QString what() const { return m_what; }
    bool pending() const { return m_pending(); }
    void save(const Stored &done) { m_save(done); }

    // Those under `roots` with edits pending.
    static QList<UnsavedEdits *> pendingUnder(const QList<QObject *> &roots);

private:
    QString m_what;
    std::function<bool()> m_pending;
    Save m_save;
};

// A setup dialog that may refuse its OK (values it cannot take): says whether it takes its values,
// having told the user why not. Its accept() goes through it, and so does saving its edits on
// close, before anything is stored.
class ConfirmsValues
{
public:
    virtual ~ConfirmsValues() = default;
    virtual bool confirmValues() = 0;
};

// Runs a setup dialog modally and returns its result; `store` stores what an accepted dialog
// holds, given no function to call back when no one waits for its result. While the dialog
// runs, its edits are pending as long as `edits` (its working copy) reads other than when it
// opened. Saving them stores them first and accepts the dialog once they are stored; a dialog
// that refuses its values, or a store that fails, leaves the dialog open with its edits.
int execSetupDialog(QDialog &dialog, const std::function<QJsonValue()> &edits, const UnsavedEdits::Save &store);

} // namespace ostra
