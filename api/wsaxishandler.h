#pragma once

#include "api/wshandler.h"
#include "bridge/corvanecontroller.h"

class QTimer;
struct WheelFfbSettings;

namespace corvane {

namespace wsjson {
class FieldReader;
}

// The car controls of the active profile for the app: axis settings, a live steering trim
// that is tried out and then stored or reverted, the ESC mode, the wheel's force feedback with
// a level stream and a test pulse, the axis mappings of wheel base and pedals, the shifter's
// gear buttons, and gear and button detection with their pushes. The requests about settings
// and trim live in wsaxishandler.cpp, the others in wsaxishandler_devices.cpp.
class WsAxisHandler : public WsHandler
{
    Q_OBJECT
public:
    static constexpr int LevelStreamMs = 66;
    static constexpr int TestPulseMs = 500;

    WsAxisHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    QJsonObject stateOf(const QString &event, const QJsonObject &data) override;

    // The app's names of gears 0..8: "Neutral", "Reverse", "Gear 1".."Gear 7".
    static QString gearName(int gearIndex);

    // Readers of the requests' values by the rule of `wsjson::FieldReader`, with the ranges of
    // the desktop's dialogs; a profile's file holds the same keys. One axis's response (all but
    // its name and curve, which the app names and the file numbers):
    static void mergeAxisResponse(const wsjson::FieldReader &in, AxisConfig &axis);
    // The axis settings beside the four axes and the ESC mode:
    static void mergeAxisValues(const wsjson::FieldReader &in, AxisSettings &settings);
    // The three force-feedback levels (held within 0..1) and auto-engage:
    static void mergeWheelFfb(const wsjson::FieldReader &in, WheelFfbSettings &ffb);
    // A device's axis mapping, and the shifter's gear buttons, each read over a fresh mapping:
    // what the data leaves out takes the defaults.
    static AxisMapping readAxisMapping(const wsjson::FieldReader &in);
    static ShifterMapping readShifterMapping(const wsjson::FieldReader &in);

private slots:
    void onShifterDetectionStarted(int gearIndex);
    void onShifterDetectionResult(int gearIndex, int buttonIndex, bool success);
    void onShifterMappingChanged();
    void onReverseModeChanged(bool active);
    void onButtonDetectionStarted(const QString &deviceName);
    void onButtonDetectionResult(int buttonIndex, bool success);
    void onFfbLevel(float level);
    void pushFfbLevel();
    void endTestPulse();
    void pushReceiverFfb(corvane::ReceiverFfbState state);

private:
    // Settings, trim and ESC mode (wsaxishandler.cpp).
    QJsonObject axisSettingsJson() const;
    QJsonObject handleSetAxisSettings(const QString &event, const QJsonObject &data);
    QJsonObject handleSetSteeringTrimLive(const QString &event, const QJsonObject &data);
    QJsonObject handleApplySteeringTrim(const QString &event);
    QJsonObject handleRevertSteeringTrim(const QString &event);
    QJsonObject escModeJson() const;
    QJsonObject handleSetEscMode(const QString &event, const QJsonObject &data);
    QJsonObject escModesJson() const;

    // Force feedback, mappings and detection (wsaxishandler_devices.cpp).
    QJsonObject handleDeviceEvent(const QString &event, const QJsonObject &data);
    QJsonObject wheelFfbJson() const;
    QJsonObject handleSetWheelFfb(const QString &event, const QJsonObject &data);
    QJsonObject handleCheckWheelFfb(const QString &event);
    QJsonObject handleTestWheelFfb(const QString &event, const QJsonObject &data);
    QJsonObject handleGetAxisMapping(const QString &event, InputDevice *device, const QString &notConnected) const;
    QJsonObject handleSetAxisMapping(const QString &event, const QJsonObject &data, InputDevice *device,
                                     void (CorvaneController::*setter)(const AxisMapping &),
                                     const QString &notConnected);
    QJsonObject shifterMappingJson() const;
    QJsonObject handleSetShifterMapping(const QString &event, const QJsonObject &data);
    QJsonObject handleStartShifterDetection(const QString &event, const QJsonObject &data);
    QJsonObject handleStartButtonDetection(const QString &event, const QJsonObject &data);

    bool m_trimOpen = false;
    qint32 m_trimLeft = 0;
    qint32 m_trimCenter = 0;
    qint32 m_trimRight = 0;
    QTimer *m_streamTimer = nullptr;
    QTimer *m_pulseTimer = nullptr;
    float m_pendingLevel = 0.0f;
    bool m_levelPending = false;
};

} // namespace corvane
