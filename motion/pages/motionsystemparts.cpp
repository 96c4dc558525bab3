#include "motion/pages/motionsystemparts.h"

#include "ostraui/theme.h"

#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

namespace corvane::motionsystem {

const QString Ready = QStringLiteral("ready");

QSlider *innerSlider(ostra::SliderRow *row)
{
    return row->findChild<QSlider *>();
}

void setEnabledWithCursor(QWidget *widget, bool enabled)
{
    widget->setEnabled(enabled);
    widget->setCursor(enabled ? Qt::PointingHandCursor : Qt::ForbiddenCursor);
}

QLabel *makeMutedText(const QString &text, QWidget *parent)
{
    QLabel *label = ostra::makeRoleLabel(text, "muted", parent);
    label->setWordWrap(true);
    return label;
}

ostra::SliderRow *makeNamedRow(const QString &label, int minimum, int maximum, int value, const char *name,
                               const ostra::SliderRow::Formatter &format, QWidget *parent)
{
    auto *row = new ostra::SliderRow(label, minimum, maximum, value, parent);
    row->setObjectName(QLatin1String(name));
    row->setFormatter(format);
    return row;
}

QVBoxLayout *panelLayout(QWidget *panel, int spacing)
{
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace corvane::motionsystem
