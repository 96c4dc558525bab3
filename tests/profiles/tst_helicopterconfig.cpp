#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/helicopterconfig.h"
#include "support/testenvironment.h"

using jsoncheck::row;

class TestHelicopterConfig : public QObject
{
    Q_OBJECT

private slots:
    void reading_data()
    {
        jsoncheck::columns();
        row("empty object gives the defaults", "{}", R"({"inputs": {"joystick": {"device": {}, "xAxis": 0, "yAxis": 4},
            "throttle": {"device": {}, "axis": 5}, "pedals": {"device": {}, "axis": 3, "axis2": -1,
            "differential": false}},
            "calibration": {"roll": {"name": "Roll"}, "pitch": {"name": "Pitch"}, "throttle": {"name": "Throttle"},
            "rudder": {"name": "Rudder"}}, "channels": {"roll": 0, "pitch": 1, "throttle": 2, "rudder": 3},
            "fly": {"armAtIdle": true, "softStart": false, "softStartSec": 3,
            "arm": {"enabled": false, "channel": 4, "onUs": 2012, "offUs": 988}, "dualRates": {"enabled": true,
            "beginnerPct": 60, "sportPct": 80, "threeDPct": 100, "activeMode": 0}, "pitchCurve": {"enabled": false,
            "points": [0, 0.25, 0.5, 0.75, 1]}, "throttleCurve": {"enabled": false, "points": [0, 0.25, 0.5, 0.75, 1]},
            "motorChannel": 5}, "attitude": {"invertPitch": false, "invertRoll": false, "invertYaw": false}})");
        row("present joystick group without axes gives 0 and 1", R"({"inputs": {"joystick": {}}})",
            R"({"inputs": {"joystick": {"xAxis": 0, "yAxis": 1}, "throttle": {"axis": 5}}})");
        row("present throttle group without axis gives 2",
            R"({"inputs": {"throttle": {"device": {"productName": "T"}}}})",
            R"({"inputs": {"joystick": {"yAxis": 4}, "throttle": {"axis": 2, "device": {"productName": "T"}}}})");
        row("pedals group read", R"({"inputs": {"pedals": {"axis": 6, "axis2": 7, "differential": true}}})",
            R"({"inputs": {"pedals": {"axis": 6, "axis2": 7, "differential": true}}})");
        row("calibration axis without a name reads with an empty name",
            R"({"calibration": {"roll": {"deadzone": 0.5}}})",
            R"({"calibration": {"roll": {"name": "", "deadzone": 0.5}, "pitch": {"name": "Pitch"}}})");
        row("short curve keeps the default points, points not an array give the line",
            R"({"fly": {"pitchCurve": {"enabled": true, "points": [0.1, 0.2]}, "throttleCurve": {"points": 3}}})",
            R"({"fly": {"pitchCurve": {"enabled": true, "points": [0.10000000149011612, 0.20000000298023224, 0.5,
            0.75, 1]},
            "throttleCurve": {"points": [0, 0.25, 0.5, 0.75, 1]}}})");
        row("long curve: five count, bad points keep the line",
            R"({"fly": {"throttleCurve": {"points": [1, "x", 1, 1, 1, 1, 1]}}})",
            R"({"fly": {"throttleCurve": {"enabled": false, "points": [1, 0.25, 1, 1, 1]}}})");
        row("fly without arm keeps the default arm switch, active mode not clamped",
            R"({"fly": {"motorChannel": 7, "dualRates": {"activeMode": 7}}})",
            R"({"fly": {"motorChannel": 7, "armAtIdle": true, "arm": {"enabled": false, "channel": 4, "onUs": 2012,
            "offUs": 988}, "dualRates": {"activeMode": 7, "enabled": true, "sportPct": 80}}})");
        row("empty arm object resets to the defaults", R"({"fly": {"arm": {}}})",
            R"({"fly": {"arm": {"enabled": false, "channel": 4, "onUs": 2012, "offUs": 988}}})");
        row("channels and attitude wrongly typed",
            R"({"channels": {"roll": "4", "rudder": 9}, "attitude": {"invertYaw": 1, "invertRoll": true}})",
            R"({"channels": {"roll": 0, "pitch": 1, "rudder": 9}, "attitude": {"invertYaw": false,
            "invertRoll": true}})");
        row("groups that are not objects",
            R"({"inputs": 5, "calibration": [], "channels": "x", "fly": null, "attitude": true})",
            R"({"inputs": {"joystick": {"yAxis": 4}, "throttle": {"axis": 5}}, "channels": {"roll": 0},
            "fly": {"motorChannel": 5, "softStartSec": 3}})");
    }

    void reading()
    {
        jsoncheck::checkRow(jsoncheck::pass<HelicopterConfig>);
    }
};

OSTRA_TEST_MAIN_CORE(TestHelicopterConfig)
#include "tst_helicopterconfig.moc"
