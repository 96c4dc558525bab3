#pragma once

#include <QObject>

namespace corvane {

// Placeholder until the motion platform is built.
class MotionSystemController : public QObject
{
    Q_OBJECT
public:
    explicit MotionSystemController(QObject *parent = nullptr) : QObject(parent) {}

    // Whether the controller's serial link is open.
    bool isConnected() const { return false; }

signals:
    void connectedChanged(bool connected);
    void controllerStateChanged(int state);
};

} // namespace corvane
