#include "ostraui/systemboxes.h"

#include <QDialog>
#include <QEvent>
#include <QInputDialog>
#include <QMessageBox>

#include "ostraui/dialogchrome.h"

namespace ostra {

namespace {

// Room for a sentence or a profile name on one line.
constexpr int kMinContentWidth = 380;

} // namespace

SystemBoxes::SystemBoxes(QObject *parent)
    : QObject(parent)
{
}

bool SystemBoxes::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::ChildAdded && type != QEvent::Polish)
        return QObject::eventFilter(watched, event);
    auto *box = qobject_cast<QDialog *>(watched);
    if (!box || (!qobject_cast<QMessageBox *>(box) && !qobject_cast<QInputDialog *>(box))
        || box->property("ostraDialog").toBool())
        return QObject::eventFilter(watched, event);
    if (type == QEvent::ChildAdded) {
        // The card's window must be asked for before the native one exists, that is while the
        // box is still being built.
        if (!box->testAttribute(Qt::WA_WState_Created) && !(box->windowFlags() & Qt::FramelessWindowHint))
            requestCardWindow(box);
        return QObject::eventFilter(watched, event);
    }
    if (!(box->windowFlags() & Qt::FramelessWindowHint))
        return QObject::eventFilter(watched, event);
    applyDialogChrome(box);
    if (QWidget *content = box->findChild<QWidget *>(QStringLiteral("ostraDialogContent"))) {
        content->setMinimumWidth(kMinContentWidth);
        // The card's scroll area passes the content's least width on to the box's layout.
        if (QWidget *scroll = box->findChild<QWidget *>(QStringLiteral("ostraDialogScroll")))
            scroll->updateGeometry();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ostra
