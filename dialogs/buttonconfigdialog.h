#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

#include "profiles/buttonmapping.h"

namespace corvane {

class CorvaneController;
class InputDevice;

// Placeholder until Bridge setup dialogs and live displays is built.
class ButtonConfigDialog : public QDialog
{
    Q_OBJECT
public:
    ButtonConfigDialog(CorvaneController *controller, QWidget *parent = nullptr);

    void setInputDevices(const QList<InputDevice *> &devices, const QStringList &names);
    void setMappings(const ButtonMappingSet &mappings) { m_mappings = mappings; }
    ButtonMappingSet mappings() const { return m_mappings; }

private:
    CorvaneController *m_controller;
    QList<InputDevice *> m_devices;
    QStringList m_names;
    ButtonMappingSet m_mappings;
};

} // namespace corvane
