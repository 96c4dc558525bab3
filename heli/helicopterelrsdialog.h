#pragma once

#include <QDialog>

#include <QList>

#include "ostraui/unsavededits.h"
#include "profiles/buttonmapping.h"
#include "profiles/helicopterconfig.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace corvane {

// "Arming & Safety": whether an arm channel is sent, on which channel, and its armed and safe
// pulse widths. Edits its own copy of the helicopter setup.
class HelicopterElrsDialog : public QDialog, public ostra::ConfirmsValues
{
    Q_OBJECT
public:
    explicit HelicopterElrsDialog(QWidget *parent = nullptr);

    void setConfig(const HelicopterConfig &config);
    HelicopterConfig config() const { return m_config; }
    // The button mappings the arm channel would silence, named when it takes their channel.
    void setButtonMappings(const QList<ButtonMapping> &mappings);

public slots:
    // Asks first when the pair would have the receiver do other than the buttons say.
    bool confirmValues() override;
    void accept() override;

private:
    void enableValues(bool on);
    void refreshMappingNote();

    HelicopterConfig m_config;
    QList<ButtonMapping> m_mappings;
    QLabel *m_mappingNote;
    QCheckBox *m_enabled;
    QComboBox *m_channel;
    QSpinBox *m_armedUs;
    QSpinBox *m_safeUs;
};

} // namespace corvane
