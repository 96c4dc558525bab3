#pragma once

#include <QWidget>

namespace corvane {

class CorvaneController;

// Placeholder until the RC helicopter mode is built.
class HelicopterSetupWidget : public QWidget
{
    Q_OBJECT
public:
    explicit HelicopterSetupWidget(CorvaneController *controller, QWidget *parent = nullptr)
        : QWidget(parent), m_controller(controller)
    {
    }

    void refreshFromController() {}

signals:
    void updateReceiverFirmwareRequested();
    void updateTransmitterFirmwareRequested();
    void updateTransmitterSocFirmwareRequested();

private:
    CorvaneController *m_controller;
};

} // namespace corvane
