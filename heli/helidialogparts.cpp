#include "heli/helidialogparts.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>

#include <cmath>

#include "ostraui/dialogchrome.h"

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

void finishHeliDialog(QDialog *dialog)
{
    const QSize wanted = dialog->minimumSize();
    ostra::applyDialogChrome(dialog);
    // The dialog's own minimum moves to its content, and the dialog never shrinks below the
    // content's needs: an explicit minimum alone would let the groups be squeezed.
    // An explicit minimum replaces what the content needs, so its width is the larger of the
    // two, measured in the theme's fonts: a long check box widens the dialog instead of being cut.
    dialog->ensurePolished();
    if (auto *content = dialog->findChild<QWidget *>(QStringLiteral("ostraDialogContent")))
        content->setMinimumSize(qMax(wanted.width(), content->minimumSizeHint().width()), wanted.height());
    dialog->layout()->setSizeConstraint(QLayout::SetMinimumSize);
    // A group's minimum is measured before the theme styles its controls, which then need more
    // room: each group keeps at least its natural height, or its rows would overlap.
    for (QGroupBox *group : dialog->findChildren<QGroupBox *>())
        group->setSizePolicy(group->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
}

QLabel *makeHeliHelpLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setStyleSheet(heliHelpStyle());
    return label;
}

} // namespace corvane
