#include "receiver/hintlabel.h"

#include <QLabel>

namespace corvane {

QLabel *makeHintLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: #5B6675; font-size: 9pt;"));
    return label;
}

} // namespace corvane
