#pragma once

#include <QObject>

namespace corvane {

// Placeholder until race control is built.
class RaceControl : public QObject
{
    Q_OBJECT
public:
    explicit RaceControl(QObject *parent = nullptr) : QObject(parent) {}

    void shutdown() {}
};

} // namespace corvane
