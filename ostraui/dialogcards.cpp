#include "ostraui/dialogcards.h"

#include <QFrame>
#include <QLabel>
#include <QScrollArea>

#include "ostraui/focusring.h"

namespace ostra {

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

QLabel *makeStyledLabel(const QString &text, const QString &style, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setStyleSheet(style);
    return label;
}

QWidget *makeScrollPage(QWidget *content)
{
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    makeScrollBody(scroll);
    return scroll;
}

} // namespace ostra
