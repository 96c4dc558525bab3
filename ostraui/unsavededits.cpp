#include "ostraui/unsavededits.h"

#include <QDialog>

namespace ostra {

UnsavedEdits::UnsavedEdits(QObject *holder, const QString &what, std::function<bool()> pending,
                           std::function<bool()> save)
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

int execSetupDialog(QDialog &dialog, const std::function<QJsonValue()> &edits)
{
    const QJsonValue opened = edits();
    auto *guard = new UnsavedEdits(
        &dialog, dialog.windowTitle(), [&dialog, edits, opened] { return dialog.isVisible() && edits() != opened; },
        [&dialog] {
            // A dialog may refuse its OK (values it cannot take), and has said why.
            dialog.accept();
            return dialog.result() == QDialog::Accepted;
        });
    const int result = dialog.exec();
    delete guard;
    return result;
}

} // namespace ostra
