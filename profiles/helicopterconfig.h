#pragma once

#include <QJsonObject>

#include <array>

#include "profiles/axissettings.h"
#include "profiles/deviceconnections.h"

struct HeliArmSwitch
{
    bool enabled = false;
    int channel = 4; // zero-based
    int onUs = 2012;
    int offUs = 988;

    static HeliArmSwitch fromJson(const QJsonObject &obj);
};

struct DualRates
{
    bool enabled = true;
    int beginnerPct = 60;
    int sportPct = 80;
    int threeDPct = 100;
    int activeMode = 0; // 0 beginner, 1 sport, 2 3D

    static DualRates fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// Five-point curve: outputs 0..1 at stick positions 0, 0.25, 0.5, 0.75, 1.
struct HeliCurve
{
    bool enabled = false;
    std::array<float, 5> points{{0.0f, 0.25f, 0.5f, 0.75f, 1.0f}};

    static HeliCurve fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// Everything kept for flying a helicopter; nested as its JSON nests.
struct HelicopterConfig
{
    struct Joystick
    {
        DeviceConnection device;
        int xAxis = 0;
        int yAxis = 4;
    };
    struct Throttle
    {
        DeviceConnection device;
        int axis = 5;
    };
    struct Pedals
    {
        DeviceConnection device;
        int axis = 3;
        int axis2 = -1;
        bool differential = false;
    };
    struct Inputs
    {
        Joystick joystick;
        Throttle throttle;
        Pedals pedals;
    };
    struct Calibration
    {
        Calibration();
        AxisConfig roll;
        AxisConfig pitch;
        AxisConfig throttle;
        AxisConfig rudder;
    };
    struct Channels
    {
        int roll = 0;
        int pitch = 1;
        int throttle = 2;
        int rudder = 3;
    };
    struct Fly
    {
        bool armAtIdle = true;
        bool softStart = false;
        int softStartSec = 3;
        HeliArmSwitch arm;
        DualRates dualRates;
        HeliCurve pitchCurve;
        HeliCurve throttleCurve;
        int motorChannel = 5;
    };
    struct Attitude
    {
        bool invertPitch = false;
        bool invertRoll = false;
        bool invertYaw = false;
    };

    Inputs inputs;
    Calibration calibration;
    Channels channels;
    Fly fly;
    Attitude attitude;

    static HelicopterConfig fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};
