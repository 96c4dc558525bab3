#include "dialogs/dialogcards.h"

#include <QFrame>
#include <QLabel>

namespace corvane {

QFrame *makeDialogCard(QWidget *parent)
{
    auto *card = new QFrame(parent);
    card->setObjectName(QStringLiteral("card"));
    card->setProperty("dlgCard", true);
    return card;
}

QLabel *makeDialogHeading(const QString &text, QWidget *parent)
{
    auto *heading = new QLabel(text, parent);
    heading->setProperty("role", QStringLiteral("h2"));
    return heading;
}

} // namespace corvane
