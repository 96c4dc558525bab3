#!/usr/bin/env bash
# Every timer of the device and network services that times out, watches or paces something is a
# precise timer: Qt's default type lets an 8 s time-out fire anywhere within 5 % of it and rounds
# one of 20 s or more to whole seconds (a 32.5 s watchdog ends at 33 to 33.5 s), and a single shot
# of 2 s or more goes the same way unless it names its type. Listed below: timers of 20 ms or less,
# which Qt runs precisely whatever their type, and the pages' repaint ticks.
# Usage: precisetimers.sh <source root>
set -euo pipefail
cd "$1"

exempt=(
    "bridge/corvanecontroller.cpp m_transmitTimer"          # 7 ms
    "bridge/corvanecontroller.cpp m_monitorTimer"           # 16 ms
    "bridge/corvaneserialport.cpp m_pollTimer"              # 15 ms
    "racecontrol/pages/racecardialog.cpp m_liveTimer"       # repaint
    "racecontrol/pages/racecontrolpage.cpp m_refreshTimer"  # repaint
    "motion/pages/ffbmotionpreviewdialog.cpp m_updateTimer" # repaint
    "motion/pages/motionsystemwidget.cpp m_refreshTimer"    # repaint
    "motion/pages/motionsystemwidget.cpp 500"               # repaint after a test
    "motion/pages/motionoutputdialog.cpp m_statusTimer"     # repaint
    "receiver/motioncalibrationdialog.h m_statusTimer"      # repaint
)

exempted() {
    local entry
    for entry in "${exempt[@]}"; do
        [[ "$entry" == "$1 $2" ]] && return 0
    done
    return 1
}

faults=0
checked=0
while IFS= read -r file; do
    folder=$(dirname "$file")
    # Timers made with new, and timers held by value.
    names=$({ grep -oE '[A-Za-z_][A-Za-z0-9_]*(\(| = )new QTimer\(' "$file" | sed -E 's/(\(| = )new QTimer\($//'
              grep -oE '^\s*QTimer\s+[A-Za-z_][A-Za-z0-9_]*;' "$file" | sed -E 's/^\s*QTimer\s+//; s/;$//'; } | sort -u || true)
    for name in $names; do
        checked=$((checked + 1))
        exempted "$file" "$name" && continue
        if ! grep -qE "\b${name}(->|\.)setTimerType\(Qt::PreciseTimer\)" "$folder"/*.cpp; then
            echo "$file: timer $name is not precise"
            faults=$((faults + 1))
        fi
    done
    while IFS= read -r call; do
        checked=$((checked + 1))
        delay=$(sed -E 's/.*QTimer::singleShot\(([^,]+),.*/\1/' <<<"$call")
        [[ "$delay" == 0 ]] && continue
        exempted "$file" "$delay" && continue
        echo "$file:${call%%:*}: single shot of $delay without Qt::PreciseTimer"
        faults=$((faults + 1))
    done < <(grep -n 'QTimer::singleShot(' "$file" | grep -v 'Qt::PreciseTimer' || true)
done < <(find bridge racecontrol motion firmware receiver \( -name '*.cpp' -o -name '*.h' \) | sort)

echo "$checked timers checked, $faults not precise"
[ "$faults" -eq 0 ]
