#pragma once

#include <QTimer>
#include <array>

#include "api/wshandler.h"
#include "bridge/receivercalibrationline.h"

namespace corvane {

// The mobile app's radio calibration: the same six held positions as the desktop wizard,
// measured from the receiver's report lines. It only listens and reports: it writes nothing to
// the receiver and stores the six values nowhere.
class WsCalibrationHandler : public WsHandler
{
    Q_OBJECT
public:
    WsCalibrationHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;

private slots:
    void onReceiverData(const QString &line);
    void onMeasureTick();

private:
    static constexpr int IdleStep = -1;
    static constexpr int CompleteStep = 6;

    QJsonObject handleStep(const QString &event, const QJsonObject &data);
    QJsonObject statusData() const;
    QJsonObject resultJson() const;
    QString stepName() const;
    int measuredChannel() const { return m_step >= 0 && m_step <= 2 ? 2 : 1; }
    void startMeasuring();
    void pushProgress();

    int m_step = IdleStep;
    bool m_measuring = false;
    int m_countdown = 0;
    std::array<int, 6> m_result{};
    ReceiverCalibrationLine m_line;
    QTimer m_timer;
};

} // namespace corvane
