// Capturing the inputs of the dialog's game controllers as virtual input indexes.
#include "dialogs/buttonconfigdialog.h"

#include <QLabel>
#include <QPushButton>

#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"

namespace corvane {

namespace {

constexpr int HatBase = 128;
constexpr int AxisBase = 144;

} // namespace

void ButtonConfigDialog::setInputDevices(const QList<InputDevice *> &devices, const QStringList &names)
{
    m_devices = devices;
    m_deviceNames = names;
    // The prompt names the devices the dialog now listens to.
    if (m_captured.isEmpty())
        showCapturePrompt();
}

int ButtonConfigDialog::inputCount() const
{
    return qMax(int(m_devices.size()), 1) * InputsPerDevice;
}

bool ButtonConfigDialog::isButtonPressed(int index) const
{
    if (index < 0)
        return false;
    const int slot = index / InputsPerDevice;
    if (slot >= m_devices.size())
        return false;
    const InputDevice *device = m_devices.at(slot);
    return device && device->isConnected()
           && CorvaneController::isVirtualButtonPressed(device, index % InputsPerDevice);
}

QString ButtonConfigDialog::inputName(int localIndex) const
{
    if (localIndex < HatBase)
        return tr("Button %1").arg(localIndex);
    if (localIndex < AxisBase) {
        static const char *const directions[] = {QT_TR_NOOP("Up"), QT_TR_NOOP("Right"), QT_TR_NOOP("Down"),
                                                 QT_TR_NOOP("Left")};
        const int hat = (localIndex - HatBase) / 4;
        return tr("Hat %1 %2").arg(hat + 1).arg(tr(directions[(localIndex - HatBase) % 4]));
    }
    const int axis = (localIndex - AxisBase) / 2;
    const bool positive = (localIndex - AxisBase) % 2 == 0;
    return tr("Axis %1 %2").arg(axis + 1).arg(positive ? QStringLiteral("+") : QStringLiteral("\u2212"));
}

QString ButtonConfigDialog::inputDisplayName(int index) const
{
    if (index < 0)
        return inputName(index);
    const int local = index % InputsPerDevice;
    if (m_devices.size() <= 1)
        return inputName(local);
    const int slot = index / InputsPerDevice;
    const QString device = slot < m_deviceNames.size() ? m_deviceNames.at(slot) : tr("Device %1").arg(slot + 1);
    return QStringLiteral("%1 \u00b7 %2").arg(inputName(local), device);
}

bool ButtonConfigDialog::hasConnectedDevice() const
{
    for (const InputDevice *device : m_devices) {
        if (device && device->isConnected())
            return true;
    }
    return false;
}

void ButtonConfigDialog::pollDevices()
{
    for (InputDevice *device : std::as_const(m_devices)) {
        if (device && device->isConnected())
            device->poll();
    }
}

void ButtonConfigDialog::readHeldInputs()
{
    const int count = inputCount();
    for (int index = 0; index < count; ++index) {
        if (isButtonPressed(index))
            m_held.insert(index);
    }
}

void ButtonConfigDialog::onPollButtons()
{
    if (!hasConnectedDevice())
        return;
    pollDevices();
    if (m_firstPoll) {
        // Inputs already held when the dialog opens are not captured.
        readHeldInputs();
        m_firstPoll = false;
        return;
    }
    const int count = inputCount();
    for (int index = 0; index < count; ++index) {
        if (!isButtonPressed(index)) {
            m_held.remove(index);
            continue;
        }
        if (m_held.contains(index))
            continue;
        if (!m_captured.contains(index)) {
            m_captured.append(index);
            showCapturePrompt();
            m_addButton->setEnabled(true);
        }
        m_held.insert(index);
    }
}

void ButtonConfigDialog::onResetCapture()
{
    m_captured.clear();
    m_editingIndex = -1;
    m_held.clear();
    m_addButton->setEnabled(false);
    m_addButton->setText(tr("Add Mapping"));
    // A new binding starts on a channel the helicopter setup leaves to mappings.
    if (m_setupChannels.contains(m_channelCombo->currentData().toInt()))
        preselectFreeChannel();
    if (hasConnectedDevice()) {
        pollDevices();
        readHeldInputs();
    }
    showCapturePrompt();
}

void ButtonConfigDialog::onClearCapturedButtons()
{
    m_captured.clear();
    m_held.clear();
    if (hasConnectedDevice()) {
        pollDevices();
        readHeldInputs();
    }
    m_addButton->setEnabled(false);
    showCapturePrompt();
}

void ButtonConfigDialog::showCapturePrompt()
{
    if (!m_captured.isEmpty()) {
        QStringList names;
        for (int index : std::as_const(m_captured))
            names.append(inputDisplayName(index));
        const QString prefix = m_editingIndex >= 0 ? tr("Editing \u2014") + QLatin1Char(' ') : QString();
        m_captureLabel->setText(prefix + tr("%1  (press more to add)").arg(names.join(QStringLiteral("  +  "))));
        m_captureLabel->setStyleSheet(
            QStringLiteral("color: #12A66A; font-size: 11pt; font-weight: bold; padding: 10px;"));
        return;
    }
    m_captureLabel->setText(m_devices.size() < 2 ? tr("Press a button or hat on your wheel...")
                                                 : tr("Press a button or hat on your joystick or throttle..."));
    m_captureLabel->setStyleSheet(QStringLiteral("color: #0F1720; font-size: 12pt; font-weight: bold; padding: 12px;"));
}

} // namespace corvane
