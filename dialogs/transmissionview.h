#pragma once

#include <QDialog>

namespace corvane {

class CorvaneController;

// Placeholder until Bridge setup dialogs and live displays is built.
class TransmissionView : public QDialog
{
    Q_OBJECT
public:
    TransmissionView(CorvaneController *controller, QWidget *parent = nullptr);

private:
    CorvaneController *m_controller;
};

} // namespace corvane
