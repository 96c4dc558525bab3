#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// One button binding that drives an output channel.
struct ButtonMapping
{
    QString name;
    int buttonIndex = -1;
    QList<int> extraButtons;
    int channel = 3; // zero-based
    int mode = 0;    // 0 press, 1 hold to raise, 2 hold to lower, 3 toggle, 4 switch position
    int outputValue = 2047;
    int rateUnitsPerSec = 1024;
    int minValue = 0;
    int maxValue = 2047;
    int startValue = 0;
    bool activatesPitLimiter = false;

    // buttonIndex when set, then every extra button that is 0 or more, duplicates included.
    QList<int> allButtons() const;

    // Holds the output, lowest, highest and start values within 0..2047.
    void limitChannelValues();

    static ButtonMapping fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;
};

// A profile's bindings plus the run-time state of their evaluation (never stored).
struct ButtonMappingSet
{
    // Bindings a set takes at most, a mapping's extra buttons counted as bindings of their own:
    // every transmit tick tests every one.
    static constexpr int MaxMappings = 512;

    QList<ButtonMapping> mappings;
    QHash<int, double> rampValues;
    QHash<int, bool> toggleStates;
    QHash<int, int> positionValues;
    QHash<int, bool> buttonWasDown;

    // Every mapping's values within 0..2047 (ButtonMapping::limitChannelValues).
    void limitChannelValues();
    // The mappings and their extra buttons, each counted once.
    qsizetype bindingCount() const;

    // Replaces the list; the run-time tables are left as they are.
    void fromJson(const QJsonArray &array);
    QJsonArray toJson() const;
};

// Puts `mapping` in by its button: replaces, whole and in its place, the first mapping for the
// same buttonIndex, or appends it when there is none. A list never gains a second mapping for
// one button this way.
void upsertButtonMapping(QList<ButtonMapping> &mappings, const ButtonMapping &mapping);
