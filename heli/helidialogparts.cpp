#include "heli/helidialogparts.h"

#include <QCoreApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>

#include <cmath>

#include "bridge/helicopterinput.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"

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
    // Measuring the content styles every control: that takes a slack of its own, apart from the
    // building that the click did, so the channel tick runs between the two.
    ostra::TickPace::instance()->waitForTurn();
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

std::array<QString, 4> heliMissingAxisNotes(const HelicopterConfig &config, const InputDevice *joystick,
                                            const InputDevice *throttle, const InputDevice *pedals)
{
    static const char *const notes[] = {
        QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Roll: axis %1 is not on the joystick, so roll stays centred."),
        QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Pitch: axis %1 is not on the joystick, so pitch stays centred."),
        QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget",
                          "Collective: axis %1 is not on the throttle, so the collective stays low."),
        QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Rudder: axis %1 is not on the pedals, so the rudder stays centred."),
    };
    const HelicopterConfig::Pedals &split = config.inputs.pedals;
    int rudder = split.axis;
    // The right pedal of split pedals is named once the left one is there.
    if (split.differential && split.axis2 >= 0 && !heliAxisMissing(pedals, rudder))
        rudder = split.axis2;
    const InputDevice *devices[] = {joystick, joystick, throttle, pedals};
    const int axes[] = {config.inputs.joystick.xAxis, config.inputs.joystick.yAxis, config.inputs.throttle.axis, rudder};
    std::array<QString, 4> out;
    for (size_t control = 0; control < out.size(); ++control) {
        if (heliAxisMissing(devices[control], axes[control]))
            out[control] = QCoreApplication::translate("corvane::HelicopterSetupWidget", notes[control]).arg(axes[control] + 1);
    }
    return out;
}

QLabel *makeHeliWarningLabel(QWidget *parent)
{
    QLabel *label = ostra::makeRoleLabel(QString(), "warning", parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->hide();
    return label;
}

void setHeliWarning(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
    label->setVisible(!text.isEmpty());
}

} // namespace corvane
