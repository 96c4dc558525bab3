#pragma once

#include <QJsonObject>
#include <QString>

#include <array>
#include <cstdint>

// Which device axis serves each logical role: 0 steering, 1 throttle, 2 brake, 3 clutch.
struct AxisMapping
{
    std::array<int, 4> map{{0, 1, 2, 3}};
    std::array<bool, 4> inverted{{false, false, false, false}};
    QString presetName;
    bool combinedPedals = false;
    float combinedPedalsCenter = 0.0f;

    static AxisMapping fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// Virtual buttons of the shifter: element 0 neutral, 1 reverse, 2..8 gears 1..7; -1 unassigned.
struct ShifterMapping
{
    static constexpr int Size = 9;
    std::array<int, Size> buttonIndex{{-1, 7, 0, 1, 2, 3, 4, 5, 6}};

    int &operator[](int i) { return buttonIndex[static_cast<size_t>(i)]; }
    int operator[](int i) const { return buttonIndex[static_cast<size_t>(i)]; }

    static ShifterMapping fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// The stored identity of one game controller with its axis and shifter mappings.
struct DeviceConnection
{
    QString productName;
    QString instanceGuid;
    QString devicePath;
    QString uniqId;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    AxisMapping axisMapping;
    bool hasCustomAxisMapping = false;
    ShifterMapping shifterMapping;
    bool hasCustomShifterMapping = false;

    // No identity stored: product name, GUID and unique id empty and no vendor id.
    bool isEmpty() const;

    static DeviceConnection fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// The transmitter's serial port and the three car controller slots.
struct DeviceConnections
{
    QString portName;
    int baudRate = 115200;
    DeviceConnection wheelBase;
    DeviceConnection pedals;
    DeviceConnection shifter;

    static DeviceConnections fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};
