#pragma once

#include <QDialog>
#include <QList>
#include <QTimer>

#include <array>

#include "bridge/receivercalibrationline.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace corvane {

class CorvaneController;

// "Radio Calibration Wizard": measures the user's own radio through the receiver's CH1/CH2
// input pins (six held positions), then sends the receiver its failsafe and leaves calibration
// mode. The opener reads the six values with results() after an accepted run.
class RadioCalibrationDialog : public QDialog
{
    Q_OBJECT
public:
    enum Step { IntroStep = 0, WiringStep = 1, FirstMeasureStep = 2, LastMeasureStep = 7, CompleteStep = 8 };

    RadioCalibrationDialog(CorvaneController *controller, QWidget *parent = nullptr);
    ~RadioCalibrationDialog() override;

    // throttleMax, throttleNeutral, throttleReverse, steeringLeft, steeringCenter, steeringRight.
    QList<int> results() const { return QList<int>(m_results.begin(), m_results.end()); }
    int step() const { return m_step; }

public slots:
    void reject() override;

private slots:
    void onNextStep();
    void onPrevStep();
    void onReceiverData(const QString &line);
    void onCountdownTick();
    void onRetry();
    void onReceiverRefreshPorts();
    void onReceiverConnectClicked();
    void onAdvanceAfterRecord();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct MeasurePage
    {
        QLabel *value = nullptr;
        QLabel *status = nullptr;
        QLabel *countdown = nullptr;
        QProgressBar *progress = nullptr;
    };

    // A page of text under a centred title; the text of a numbered `list` reads down its left edge,
    // where centred wrapped lines would drift mid-page.
    QWidget *buildTextPage(const QString &title, const QString &text, bool list, QLabel **extra = nullptr);
    QWidget *buildMeasurePage(const QString &title, const QString &instruction, MeasurePage &page);
    QWidget *buildConnectCard();
    void refreshStep();
    void refreshConnectCard();
    void showStep(int step);
    void recordValue();
    void leaveCalibrationMode();
    void setStatus(const QString &text, const char *color);
    int measuredChannel() const { return m_step <= 4 ? 2 : 1; }
    MeasurePage &currentPage() { return m_pages[size_t(m_step - FirstMeasureStep)]; }

    CorvaneController *m_controller = nullptr;
    int m_step = IntroStep;
    std::array<int, 6> m_results{};
    ReceiverCalibrationLine m_line;
    bool m_measuring = false;
    int m_countdown = 0;
    bool m_calibrationEntered = false;
    bool m_portOpenedHere = false;
    QTimer m_countdownTimer;
    // Moves on 1500 ms after a recorded value, so the user sees it; a page change cancels it.
    QTimer m_advanceTimer;

    QLabel *m_stepTitle = nullptr;
    QComboBox *m_portCombo = nullptr;
    QPushButton *m_connectButton = nullptr;
    QLabel *m_connectStatus = nullptr;
    QStackedWidget *m_stack = nullptr;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_nextButton = nullptr;
    QLabel *m_introNextHint = nullptr;
    QLabel *m_summary = nullptr;
    std::array<MeasurePage, 6> m_pages;
};

} // namespace corvane
