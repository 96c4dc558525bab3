#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace corvane {

class CorvaneController;

// A pedal reading (-1 released .. 1 fully pressed, -1 as well without a pedal device) as the share
// of its travel a bar shows, 0..1.
float pedalLevel(float reading);

// The check before transmission starts: three live pedal bars, a "moved" mark per pedal and a
// confirmation box that alone unlocks "Start Transmission".
class PedalVerificationDialog : public QDialog
{
    Q_OBJECT
public:
    PedalVerificationDialog(CorvaneController *controller, QWidget *parent = nullptr);
    ~PedalVerificationDialog() override;

public slots:
    void onPollTimer();
    void onConfirmToggled(bool checked);

private:
    void buildUi();
    QWidget *makePedalRow(const QString &label, const char *tone, QProgressBar **bar, QLabel **badge);
    static void updatePedalBar(float reading, QProgressBar *bar, QLabel *badge, bool &moved);

    CorvaneController *m_controller;
    QTimer *m_pollTimer;
    QProgressBar *m_throttleBar = nullptr;
    QProgressBar *m_brakeBar = nullptr;
    QProgressBar *m_clutchBar = nullptr;
    QLabel *m_throttleBadge = nullptr;
    QLabel *m_brakeBadge = nullptr;
    QLabel *m_clutchBadge = nullptr;
    QCheckBox *m_confirm = nullptr;
    QPushButton *m_startButton = nullptr;
    bool m_throttleMoved = false;
    bool m_brakeMoved = false;
    bool m_clutchMoved = false;
};

} // namespace corvane
