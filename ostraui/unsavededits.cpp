#include "ostraui/unsavededits.h"

#include <QDialog>
#include <QPointer>

#include <memory>

#include "ostraui/tickpace.h"

namespace ostra {

UnsavedEdits::UnsavedEdits(QObject *holder, const QString &what, std::function<bool()> pending, Save save)
    : QObject(holder)
    , m_what(what)
    , m_pending(std::move(pending))
    , m_save(std::move(save))
{
}

QList<UnsavedEdits *> UnsavedEdits::pendingUnder(const QList<QObject *> &roots)
{
    QList<UnsavedEdits *> pending;
    for (QObject *root : roots) {
        if (!root)
            continue;
        for (UnsavedEdits *edits : root->findChildren<UnsavedEdits *>()) {
            if (edits->pending() && !pending.contains(edits))
                pending.append(edits);
        }
    }
    return pending;
}

int execSetupDialog(QDialog &dialog, const std::function<QJsonValue()> &edits, const UnsavedEdits::Save &store)
{
    const QJsonValue opened = edits();
    // Outlives this call: a store may report after the dialog has gone another way.
    const auto storedHere = std::make_shared<bool>(false);
    auto *guard = new UnsavedEdits(
        &dialog, dialog.windowTitle(), [&dialog, edits, opened] { return dialog.isVisible() && edits() != opened; },
        [&dialog, edits, store, storedHere](const UnsavedEdits::Stored &done) {
            if (auto *confirms = dynamic_cast<ConfirmsValues *>(&dialog); confirms && !confirms->confirmValues()) {
                done(false);
                return;
            }
            const QPointer<QDialog> alive(&dialog);
            const QJsonValue saved = edits();
            store([alive, edits, saved, storedHere, done](bool ok) {
                // Edited again while the disk worked: those edits are not stored, and keep it open.
                ok = ok && alive && alive->isVisible() && edits() == saved;
                if (ok) {
                    *storedHere = true;
                    // Confirmed before the store: not asked again.
                    alive->done(QDialog::Accepted);
                }
                done(ok);
            });
        });
    const int result = execAfterTick(dialog);
    delete guard;
    if (result == QDialog::Accepted && !*storedHere)
        store(UnsavedEdits::Stored());
    return result;
}

} // namespace ostra
