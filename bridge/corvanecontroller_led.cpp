#include "bridge/corvanecontroller.h"

#include <QHash>
#include <QTimer>

#include <algorithm>

#include "profiles/profilemanager.h"

namespace corvane {

namespace {

constexpr int kLedStepMs = 100;
// Each state of the configuration sequence lasts this many steps (1 s).
constexpr int kLedStepsPerState = 10;
constexpr int kLedConfirmMs = 10000;
constexpr int kRenderGlobal = 200;
constexpr int kRenderPerLed = 201;
constexpr int kRenderRange = 202;

// One byte on the wire: red, green and blue as 3-3-2 bits.
int wireColor(const RgbColor &c)
{
    return (c.r & 0xE0) | ((c.g & 0xE0) >> 3) | (c.b >> 6);
}

// The LED a percentage of the strip falls on; in 64 bits, as a stored percentage may be any int.
int zoneLed(int count, int percent)
{
    return int(std::clamp<qint64>(qint64(count) * percent / 100, 0, count));
}

} // namespace

QStringList CorvaneController::pushLedConfig() const
{
    const LedSettings &s = m_ledSettings;
    const int count = std::clamp(s.ledCount, 0, LedSettings::MaxLedCount);
    QStringList lines;
    lines << QStringLiteral("LED_ENABLE=1") << QStringLiteral("LED_COUNT=%1").arg(count)
          << QStringLiteral("LED_BRIGHT=%1").arg(std::clamp(s.brightness, 0, 100));
    const int render = s.mode == LedMode::PerLed ? kRenderPerLed : s.mode == LedMode::Range ? kRenderRange : kRenderGlobal;
    lines << QStringLiteral("LED_RENDER=%1").arg(render) << QStringLiteral("LED_CLEAR_COLORS")
          << QStringLiteral("LED_CLEAR_ZONES");

    switch (s.mode) {
    case LedMode::Global:
        lines << QStringLiteral("LED_COLOR 0 %1").arg(wireColor(s.globalColor));
        break;
    case LedMode::PerLed: {
        // The first entry for an LED counts.
        QHash<int, RgbColor> colors;
        for (const LedColorEntry &entry : s.ledColors) {
            if (!colors.contains(entry.index))
                colors.insert(entry.index, entry.color);
        }
        for (int i = 0; i < count; ++i)
            lines << QStringLiteral("LED_COLOR %1 %2").arg(i).arg(wireColor(colors.value(i, s.globalColor)));
        break;
    }
    case LedMode::Range: {
        const int zones = std::min(int(s.rangeZones.size()), LedSettings::MaxZones);
        const int leds = std::clamp(s.ledCount, 1, LedSettings::MaxLedCount);
        lines << QStringLiteral("LED_ZONE_COUNT=%1").arg(zones);
        for (int i = 0; i < zones; ++i) {
            const LedRangeZone &zone = s.rangeZones.at(i);
            const int first = zoneLed(leds, zone.startPercent);
            const int end = std::max(first, zoneLed(leds, zone.endPercent));
            lines << QStringLiteral("LED_ZONE %1 %2 %3 %4").arg(i).arg(first).arg(end).arg(wireColor(zone.color));
        }
        break;
    }
    }
    lines << QStringLiteral("LED_COMMIT");
    return lines;
}

bool CorvaneController::startLedConfigPush()
{
    if (m_ledPushActive)
        return false;
    if (!isReceiverConnected()) {
        emit ledConfigPushFinished(false, tr("Receiver is not connected over USB. Connect it in Telemetry \u25B8 "
                                             "Receiver first."));
        return false;
    }
    m_ledPushActive = true;
    m_ledReplyConnection = connect(this, &CorvaneController::receiverDataReceived, this,
                                   &CorvaneController::onLedReplyLine);
    emit ledConfigPushStarted();
    // Straight to the port, not through the receiver's command queue: the block goes at once.
    for (const QString &line : pushLedConfig())
        receiverWrite((line + QLatin1Char('\n')).toUtf8());
    m_ledConfirmTimer->start(kLedConfirmMs);
    return true;
}

void CorvaneController::onLedReplyLine(const QString &line)
{
    if (m_ledPushActive && line.trimmed() == QLatin1String("LED_COMMIT_OK"))
        finishLedConfigPush(true, tr("LED configuration saved to receiver."));
}

void CorvaneController::onLedConfirmationTimeout()
{
    if (m_ledPushActive)
        finishLedConfigPush(false, tr("Timed out waiting for the receiver to confirm. The strip may still have been "
                                      "configured — check it, or try again."));
}

void CorvaneController::finishLedConfigPush(bool success, const QString &message)
{
    m_ledPushActive = false;
    m_ledConfirmTimer->stop();
    disconnect(m_ledReplyConnection);
    emit ledConfigPushFinished(success, message);
}

void CorvaneController::setLedSettings(const LedSettings &settings)
{
    m_ledSettings = settings;
    m_profiles->setLedSettings(settings);
    m_profiles->saveActiveProfile();
    emit ledSettingsChanged();
    if (settings.configPending && settings.configState == 1) {
        m_ledSettings.configLedIndex = 0;
        m_ledStepTicks = 0;
        m_ledSettings.configState = 2;
        m_ledStepTimer->start(kLedStepMs);
        emit ledSettingsChanged();
    }
}

void CorvaneController::onLedConfigTimer()
{
    LedSettings &s = m_ledSettings;
    if (s.configState < 2 || s.configState > 9) {
        m_ledStepTimer->stop();
        emit ledSettingsChanged();
        return;
    }
    if (++m_ledStepTicks < kLedStepsPerState) {
        emit ledSettingsChanged();
        return;
    }
    m_ledStepTicks = 0;
    switch (s.configState) {
    case 5:
        s.configLedIndex = 0;
        s.configState = s.mode == LedMode::Range ? 7 : 6;
        break;
    case 6:
        ++s.configLedIndex;
        if (s.mode == LedMode::Range)
            s.configState = s.configLedIndex < s.rangeZones.size() ? 7 : 9;
        else if (s.mode == LedMode::Global ? s.configLedIndex >= 1 : s.configLedIndex >= s.ledCount)
            s.configState = 9;
        break;
    case 8:
        s.configState = 6;
        break;
    case 9:
        s.configState = 0;
        s.configPending = false;
        m_ledStepTimer->stop();
        break;
    default: // 2, 3, 4 and 7 move on to the next state
        ++s.configState;
        break;
    }
    emit ledSettingsChanged();
}

} // namespace corvane
