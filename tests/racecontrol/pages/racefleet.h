#pragma once

#include <QTest>

#include "ostraui/theme.h"
#include "racecontrol/racecontrol.h"
#include "support/racestationrig.h"
#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"

// A venue of fake stations inside network namespaces, one in each state a car can show: running
// with live values and caps, stopped, a helicopter, a different car, software without race
// control, switched off, and one that never answers (still connecting).
class RaceFleet
{
public:
    enum Car { Running, Stopped, Helicopter, OtherCar, OldSoftware, SwitchedOff, Unreachable, CarCount };

    static QString host(int car) { return QStringLiteral("10.77.0.%1").arg(car + 3); }
    static QString id(int car) { return QStringLiteral("s%1").arg(car + 3); }

    // Empty on success, else why the fleet cannot exist here.
    QString setUp(int cars = CarCount)
    {
        QStringList hosts;
        for (int car = 0; car < cars && car < Unreachable; ++car)
            hosts.append(host(car));
        if (!rig.setUp(hosts))
            return rig.error();
        QStringList stored = hosts;
        if (cars > Unreachable)
            stored.append(host(Unreachable));
        ostratest::storeRaceStations(stored);
        for (int car = 0; car < cars && car < Unreachable; ++car)
            configure(car);
        control = std::make_unique<corvane::RaceControl>();
        control->openIncludedStations();
        return QString();
    }

    // Waits until every answering car has its state, then sends the live values and the second
    // identity of the other car.
    bool settle(int cars = CarCount)
    {
        for (int car = 0; car < cars && car < SwitchedOff; ++car) {
            const int want = car == OldSoftware ? corvane::UpdateFirmware : corvane::Linked;
            if (!QTest::qWaitFor([&] { return control->findStation(id(car))->status == want; }, 5000))
                return false;
        }
        if (cars > OtherCar) {
            rig.station(OtherCar)->setDeviceId("B");
            rig.station(OtherCar)->pushState();
        }
        rig.station(Running)->pushLive({{"throttle", 0.9}, {"brake", 0.2}, {"steering", -0.237}, {"gear", 2}});
        if (cars > Stopped)
            rig.station(Stopped)->pushLive({{"throttle", 0.6}, {"brake", 0.0}, {"steering", 0.5}, {"gear", -1}});
        return QTest::qWaitFor([&] {
            return !control->findStation(id(Running))->live.isEmpty()
                   && (cars <= OtherCar || control->findStation(id(OtherCar))->status == corvane::WrongCar)
                   && (cars <= SwitchedOff || control->findStation(id(SwitchedOff))->status == corvane::NoSignal);
        }, 5000);
    }

    ostratest::RaceStationRig rig;
    std::unique_ptr<corvane::RaceControl> control;

private:
    void configure(int car)
    {
        ostratest::FakeRaceStation *fake = rig.station(car);
        switch (car) {
        case Running:
            fake->setStateValue("speedCap", true);
            fake->setStateValue("speedCapPercent", 75);
            fake->setStateValue("pitLimiter", true);
            fake->setStateValue("pitLimiterPercent", 50);
            break;
        case Stopped:
            fake->setStateValue("stopped", true);
            fake->setStateValue("stopReason", "operator");
            fake->setStateValue("pitLimiter", true);
            fake->setStateValue("pitLimiterPercent", 75);
            break;
        case Helicopter: fake->setSupported(false); break;
        case OtherCar: fake->setDeviceId("A"); break;
        case OldSoftware: fake->setUnknownEvents({"get_lounge_state"}); break;
        case SwitchedOff: fake->stop(); break;
        default: break;
        }
    }
};

// Where a render goes, by theme.
inline QString racePicture(const QString &name) { return ostratest::themedPicture("racecontrol", name); }

// The light run paints the given test functions once more in the dark theme.
inline bool renderDarkToo(const QStringList &functions) { return ostratest::renderDarkTwin("racecontrol", functions); }
