#include "heli/helidialogparts.h"

#include <QLabel>

#include <cmath>

namespace corvane {

int percentOf(float fraction)
{
    // In float, as stored: 0.255 gives 25.5 and so 26.
    return static_cast<int>(std::lround(fraction * 100.0f));
}

QString heliHelpStyle()
{
    return QStringLiteral("color:%1;font-size:9pt;").arg(QStringLiteral("#5B6675"));
}

QString heliValueStyle()
{
    return QStringLiteral("color:%1;font-family:'Geist Mono';").arg(QStringLiteral("#5B6675"));
}

QString heliButtonBoxStyle()
{
    return QStringLiteral("QPushButton{background:%1;color:%2;border:1px solid %1;border-radius:6px;padding:6px 14px;}"
                          "QPushButton:hover{border-color:%3;}")
        .arg(QStringLiteral("#E6EAF0"), QStringLiteral("#0F1720"), QStringLiteral("#0F1720"));
}

QLabel *makeHeliHelpLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setStyleSheet(heliHelpStyle());
    return label;
}

} // namespace corvane
