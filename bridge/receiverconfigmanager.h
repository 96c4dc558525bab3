#pragma once

#include <QObject>

namespace corvane {

class CorvaneController;

// Placeholder until the receiver configuration manager is built.
class ReceiverConfigManager : public QObject
{
    Q_OBJECT
public:
    explicit ReceiverConfigManager(CorvaneController *controller);

    // After the receiver's USB port (re)opens: probe the receiver again.
    void resync();
};

} // namespace corvane
