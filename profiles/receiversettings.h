#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <cstdint>

// One colour of the receiver's LED strip.
struct RgbColor
{
    std::uint8_t r = 0;
    std::uint8_t g = 255;
    std::uint8_t b = 0;

    static RgbColor fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// Colour mode of the LED strip; files carry it as "global", "per_led" or "range".
enum class LedMode : std::int32_t { Global = 0, PerLed = 1, Range = 2 };

// "per_led" and "range" exactly; anything else is Global.
LedMode ledModeFromString(const QString &text);

struct LedColorEntry
{
    int index = 0;
    RgbColor color;
};

struct LedRangeZone
{
    int startPercent = 0;
    int endPercent = 100;
    RgbColor color;
};

// Steps of the LED configuration sequence, as the API reports them.
enum LedConfigState : int {
    LedConfigIdle = 0,
    LedConfigWaiting = 1,
    LedConfigSendingLedCount = 2,
    LedConfigSendingBrightness = 3,
    LedConfigSendingMode = 4,
    LedConfigSendingPayloadCount = 5,
    LedConfigSendingColor = 6,
    LedConfigSendingRangeStart = 7,
    LedConfigSendingRangeEnd = 8,
    LedConfigComplete = 9,
};

// "idle", "waiting", ... "complete"; "unknown" for any other value.
QString ledConfigStateName(int state);

// The receiver's addressable LED strip.
struct LedSettings
{
    // What the receiver takes: the push sends no more, so the dialog and the app offer no more.
    static constexpr int MaxLedCount = 100;
    static constexpr int MaxZones = 8;
    // The receiver button that toggles the strip is one of its first 32, or -1 for none.
    static constexpr int PowerButtonCount = 32;

    int ledCount = 8;
    int brightness = 99;
    int activePercentage = 100;
    bool powerOn = true;
    int powerButtonIndex = -1;
    LedMode mode = LedMode::Global;
    RgbColor globalColor;
    int selectedLedIndex = 0;
    QList<LedColorEntry> ledColors;
    int selectedZoneIndex = 0;
    QList<LedRangeZone> rangeZones;

    // State of the push to the receiver; never stored.
    int configState = 0;
    bool configPending = false;
    int configLedIndex = 0;

    // The LED's entry gets the colour, or a new entry is appended; false (nothing changed) for
    // an LED outside 0 .. MaxLedCount - 1, whose colour the receiver would never get.
    bool setLedColor(int ledIndex, const RgbColor &color);
    // The colour one LED shows in the record's mode.
    RgbColor displayColor(int ledIndex) const;

    static LedSettings fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// Receiver options the program sends to the receiver.
struct ReceiverSettings
{
    bool initialized = false;
    bool gpsEnabled = true;
    int gpsRateHz = 0;
    bool gpsTelem = true;
    bool imuTelem = true;
    bool motionTelem = true;
    int motionRateHz = 20;
    bool osdEnabled = false;
    bool motionSensors = false;
    int hudTopKmh = 60;
    int hudAccelKmhS = 30;
    int hudBrakeKmhS = 60;

    // Snaps the three HUD values to the steps the receiver offers.
    void normalizeHud();

    static ReceiverSettings fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// What the receiver reported about itself; -1 = not reported.
struct ReceiverCaps
{
    bool imu = false;
    bool gps = false;
    QString firmware;
    int osdOnBoard = -1;
    int hudTopOnBoard = -1;
    int hudAccelOnBoard = -1;
    int hudBrakeOnBoard = -1;

    // An IMU or a GPS, or firmware major version 4 or later.
    bool isAdvanced() const;

    static ReceiverCaps fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// Wheel force feedback levels, 0..1.
struct WheelFfbSettings
{
    float strength = 0.35f;
    float centering = 0.5f;
    float nativeCentering = 1.0f;
    bool autoEngage = false;

    static WheelFfbSettings fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};
