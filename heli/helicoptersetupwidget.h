#pragma once

#include <QList>
#include <QWidget>

#include <array>

#include "profiles/helicopterconfig.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace ostra {
class BusyButton;
class ChannelCell;
class DeviceRow;
class Meter;
class Pill;
class Segmented;
class TxButton;
}

namespace corvane {

class CorvaneController;
class HeliControlGaugeWidget;

// The RC helicopter page: transmitter link and transmission, the joystick, throttle and pedals
// roles, the live check of the four main controls with the rate selector, the setup dialogs,
// firmware updates, the 16 channels being sent, and saving the setup as a helicopter profile.
// It computes no radio channels: the controller builds them from the active profile's setup.
class HelicopterSetupWidget : public QWidget
{
    Q_OBJECT
public:
    // The input roles, in row order.
    enum Role { JoystickRole = 0, ThrottleRole = 1, PedalsRole = 2, RoleCount = 3 };

    explicit HelicopterSetupWidget(CorvaneController *controller, QWidget *parent = nullptr);

    // Reloads the working copy, the device lists and every state shown from the controller.
    void refreshFromController();

    // The page's working copy of the helicopter setup.
    HelicopterConfig workingConfig() const { return m_config; }

signals:
    void updateTransmitterFirmwareRequested();
    void updateReceiverFirmwareRequested();
    void updateTransmitterSocFirmwareRequested();

public slots:
    void onLiveUpdate();
    void updateTransmissionUi();
    void connectRoleDevice(int role);
    void connectTransmitter();
    void toggleTransmission();
    void openConfigDialog();
    void openButtonMapping();
    void openFlySettingsDialog();
    void openCurvesDialog();
    void openElrsDialog();
    void openTransmissionView();
    void openAttitudeIndicator();
    void saveProfile();
    void refreshTransmitterPorts();
    void updateRateModeUi();

private:
    struct Preview
    {
        ostra::Meter *meter = nullptr;
        QLabel *value = nullptr;
    };

    QWidget *buildTransmitterSection();
    QWidget *buildDeviceSetupSection();
    QWidget *buildConfigureSection();
    void makeConfigureCard(QVBoxLayout *layout, const QString &title, const QString &toolTip,
                           void (HelicopterSetupWidget::*handler)());
    QWidget *buildFirmwareSection();
    QWidget *buildChannelActivitySection();
    QWidget *buildLiveControlSection();
    QWidget *buildProfileSection();
    void fillDeviceCombo(QComboBox *combo, const QString &placeholder);
    // The profile name field shows the active helicopter profile's name, the one Save keeps.
    void followActiveProfileName();
    void updateRoleStatus();
    // Runs a setup dialog loaded from the controller's record; true when it was accepted, and
    // then its record is the working copy and stored through the controller.
    template<typename Dialog>
    bool runSetupDialog(Dialog &dialog);

    CorvaneController *m_controller;
    HelicopterConfig m_config;

    std::array<ostra::DeviceRow *, RoleCount> m_roleRows{};
    ostra::BusyButton *m_refreshButton = nullptr;

    QComboBox *m_portCombo = nullptr;
    ostra::Pill *m_connectionPill = nullptr;
    QPushButton *m_connectButton = nullptr;
    ostra::TxButton *m_txButton = nullptr;
    QPushButton *m_armButton = nullptr;
    QLabel *m_statusLabel = nullptr;

    QList<QFrame *> m_transmitterFirmwareRows;
    QLabel *m_firmwareSubtitle = nullptr;

    QLabel *m_channelSubtitle = nullptr;
    std::array<ostra::ChannelCell *, 16> m_channelCells{};

    QLineEdit *m_profileName = nullptr;
    QPushButton *m_saveButton = nullptr;

    HeliControlGaugeWidget *m_gauge = nullptr;
    std::array<Preview, 4> m_preview{};
    QLabel *m_liveSubtitle = nullptr;
    QLabel *m_axisNote = nullptr;
    ostra::Segmented *m_rateSelector = nullptr;
    bool m_updatingRateMode = false;
};

} // namespace corvane
