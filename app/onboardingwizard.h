#pragma once

#include <QDialog>
#include <QList>

#include <array>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTimer;
class QVBoxLayout;

namespace ostra {
class PassBuilder;
}

namespace corvane {

class CorvaneController;
struct SerialPortEntry;

// The setup guide: power, connect, map and test, one step per page.
class OnboardingWizard : public QDialog
{
    Q_OBJECT
public:
    OnboardingWizard(CorvaneController *controller, QWidget *parent);
    ~OnboardingWizard() override;

    // Opening builds the first step only; the others follow in later passes of the event loop,
    // or at once from here (or as a step is turned to).
    void finishPages();
    int builtPages() const { return m_builtPages; }

signals:
    void requestStartTransmission();
    void requestOpenAxisConfig();

public slots:
    void onNext();
    void onBack();
    void onSkip();
    void onTick();
    void onConnectTransmitterClicked();
    void onRefreshPorts();
    void onConnectWheelClicked();
    void onConnectPedalsClicked();
    void onConnectShifterClicked();
    void onRefreshDevices();

private:
    void buildFrame();
    void buildPage(int index);
    void fillPorts(const QList<SerialPortEntry> &ports);
    void buildSafetyPage(QWidget *page);
    void buildPowerOnPage(QWidget *page);
    void buildConnectTransmitterPage(QWidget *page);
    void buildConnectControlsPage(QWidget *page);
    void buildMapControlsPage(QWidget *page);
    void buildCheckInputsPage(QWidget *page);
    void buildDonePage(QWidget *page);
    QFrame *buildDeviceRow(const QString &title, QComboBox **combo, QPushButton **button, QLabel **status,
                           void (OnboardingWizard::*connectSlot)());
    void addBarRow(QVBoxLayout *layout, const QString &caption, bool isSigned, QProgressBar **bar);
    bool canAdvance() const;
    void showPage(int index);
    void refreshFooter();
    // The keyboard's focus to the first control of the step shown.
    void focusFirstControl();
    void refreshConnectButtons();
    void refreshStepLabel();

    CorvaneController *m_controller;
    QStackedWidget *m_pageStack = nullptr;
    QLabel *m_stepLabel = nullptr;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_nextButton = nullptr;
    QPushButton *m_skipButton = nullptr;
    QCheckBox *m_poweredCheck = nullptr;
    QComboBox *m_portCombo = nullptr;
    QPushButton *m_transmitterButton = nullptr;
    QLabel *m_transmitterStatus = nullptr;
    QComboBox *m_wheelCombo = nullptr;
    QPushButton *m_wheelButton = nullptr;
    QLabel *m_wheelStatus = nullptr;
    QComboBox *m_pedalsCombo = nullptr;
    QPushButton *m_pedalsButton = nullptr;
    QLabel *m_pedalsStatus = nullptr;
    QComboBox *m_shifterCombo = nullptr;
    QPushButton *m_shifterButton = nullptr;
    QLabel *m_shifterStatus = nullptr;
    QLabel *m_presetLabel = nullptr;
    QProgressBar *m_steeringBar = nullptr;
    QProgressBar *m_throttleBar = nullptr;
    QProgressBar *m_brakeBar = nullptr;
    QProgressBar *m_clutchBar = nullptr;
    QTimer *m_tickTimer = nullptr;
    ostra::PassBuilder *m_pages = nullptr;
    // The part that builds each step (the first is built at opening), and those that fill the
    // port and device lists.
    std::array<int, 7> m_pageParts{};
    int m_portsPart = -1;
    int m_devicesPart = -1;
    int m_builtPages = 0;
};

} // namespace corvane
