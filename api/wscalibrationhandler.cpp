#include "api/wscalibrationhandler.h"

#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kStep = QStringLiteral("step");
const QString kState = QStringLiteral("state");
const QString kCountdown = QStringLiteral("countdown");
const QString kMessage = QStringLiteral("message");
const QString kProgress = QStringLiteral("event_calibration_progress");
constexpr int kTickMs = 1000;

} // namespace

WsCalibrationHandler::WsCalibrationHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &WsCalibrationHandler::onMeasureTick);
    connect(controller, &CorvaneController::receiverDataReceived, this, &WsCalibrationHandler::onReceiverData);
}

QStringList WsCalibrationHandler::supportedEvents() const
{
    return {QStringLiteral("action_start_calibration"), QStringLiteral("action_calibration_step"),
            QStringLiteral("action_cancel_calibration"), QStringLiteral("get_calibration_status")};
}

QString WsCalibrationHandler::stepName() const
{
    static const char *const names[] = {"throttle_max",  "throttle_neutral", "throttle_reverse",
                                        "steering_left", "steering_center",  "steering_right"};
    if (m_step == IdleStep)
        return QStringLiteral("idle");
    if (m_step == CompleteStep)
        return QStringLiteral("complete");
    if (m_step >= 0 && m_step < CompleteStep)
        return QString::fromLatin1(names[m_step]);
    return QStringLiteral("unknown");
}

QJsonObject WsCalibrationHandler::resultJson() const
{
    return {{"throttleMax", m_result[0]},    {"throttleNeutral", m_result[1]}, {"throttleReverse", m_result[2]},
            {"steeringLeft", m_result[3]},   {"steeringCenter", m_result[4]},  {"steeringRight", m_result[5]}};
}

QJsonObject WsCalibrationHandler::statusData() const
{
    return {{kStep, stepName()},
            {"isCalibrating", m_measuring},
            {kCountdown, m_countdown},
            {"ch1Us", m_line.channelUs(1)},
            {"ch1Crsf", m_line.channelCrsf(1)},
            {"ch2Us", m_line.channelUs(2)},
            {"ch2Crsf", m_line.channelCrsf(2)},
            {"result", resultJson()}};
}

void WsCalibrationHandler::pushProgress()
{
    emit pushEvent(kProgress, {{kStep, stepName()},
                               {kState, m_measuring ? QStringLiteral("measuring") : QStringLiteral("waiting")},
                               {kCountdown, m_countdown}});
}

QJsonObject WsCalibrationHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("action_start_calibration")) {
        if (!m_controller->isReceiverConnected())
            return actionReply(event, false, QStringLiteral("QOR Receiver is not connected"));
        m_timer.stop();
        m_step = 0;
        m_measuring = false;
        m_result.fill(0);
        m_line.stopHold();
        pushProgress();
        QJsonObject reply = actionReply(event, true);
        reply.insert("data", QJsonObject{{kStep, stepName()},
                                         {kMessage, QStringLiteral("Calibration started. Send action_calibration_step "
                                                                   "with action='start' to begin throttle max measurement.")}});
        return reply;
    }
    if (event == QLatin1String("action_calibration_step"))
        return handleStep(event, data);
    if (event == QLatin1String("action_cancel_calibration")) {
        m_timer.stop();
        m_measuring = false;
        m_step = IdleStep;
        m_line.stopHold();
        emit pushEvent(kProgress, {{kState, QStringLiteral("cancelled")}});
        return actionReply(event, true);
    }
    if (event == QLatin1String("get_calibration_status"))
        return dataReply(event, statusData());
    return errorReply(event, QStringLiteral("Unhandled event in calibration handler"));
}

void WsCalibrationHandler::startMeasuring()
{
    m_measuring = true;
    m_countdown = ReceiverCalibrationLine::HoldSeconds;
    m_line.startHold(measuredChannel());
    m_timer.start(kTickMs);
    pushProgress();
}

QJsonObject WsCalibrationHandler::handleStep(const QString &event, const QJsonObject &data)
{
    if (m_step == IdleStep || m_step == CompleteStep)
        return actionReply(event, false, QStringLiteral("No calibration in progress. Call action_start_calibration first."));
    const QString action = readString(data, QStringLiteral("action"));
    QString message;
    if (action == QLatin1String("start")) {
        if (m_measuring)
            return actionReply(event, false, QStringLiteral("Already measuring. Wait for result or send action='cancel'."));
        startMeasuring();
        message = QStringLiteral("Measurement started. Hold position steady for 5 seconds.");
    } else if (action == QLatin1String("retry")) {
        startMeasuring();
        message = QStringLiteral("Retrying measurement. Hold position steady for 5 seconds.");
    } else if (action == QLatin1String("skip")) {
        m_timer.stop();
        m_measuring = false;
        m_line.stopHold();
        if (m_step < CompleteStep)
            ++m_step;
        pushProgress();
    } else {
        return actionReply(event, false, QStringLiteral("Invalid action. Use 'start', 'retry', or 'skip'."));
    }
    QJsonObject replyData{{kStep, stepName()}};
    if (!message.isEmpty())
        replyData.insert(kMessage, message);
    QJsonObject reply = actionReply(event, true);
    reply.insert("data", replyData);
    return reply;
}

void WsCalibrationHandler::onReceiverData(const QString &line)
{
    m_line.addLine(line);
    if (m_step < 0 || m_step >= CompleteStep)
        return;
    const int channel = measuredChannel();
    emit pushEvent(kProgress, {{kStep, stepName()},
                               {kState, m_measuring ? QStringLiteral("measuring") : QStringLiteral("waiting")},
                               {"channelUs", m_line.channelUs(channel)},
                               {"channelCrsf", m_line.channelCrsf(channel)},
                               {kCountdown, m_countdown}});
}

void WsCalibrationHandler::onMeasureTick()
{
    if (!m_measuring)
        return;
    const int channel = measuredChannel();
    const bool steady = m_line.holdSteady();
    // A hold in which the receiver never reported the channel has nothing to record.
    const bool silent = steady && m_countdown <= 1 && !m_line.heldChannelReported();
    if (!steady || silent) {
        m_countdown = ReceiverCalibrationLine::HoldSeconds;
        m_line.startHold(channel);
        emit pushEvent(kProgress, {{kStep, stepName()},
                                   {kState, QStringLiteral("unstable")},
                                   {kMessage, silent ? QStringLiteral("No signal on CH%1 — check the wiring").arg(channel)
                                                     : QStringLiteral("Hold steady! Input moving too much...")},
                                   {kCountdown, m_countdown}});
        return;
    }
    --m_countdown;
    if (m_countdown >= 1) {
        emit pushEvent(kProgress, {{kStep, stepName()},
                                   {kState, QStringLiteral("stable")},
                                   {kMessage, QStringLiteral("Good! Keep holding...")},
                                   {kCountdown, m_countdown},
                                   {"channelUs", m_line.channelUs(channel)},
                                   {"channelCrsf", m_line.channelCrsf(channel)}});
        return;
    }
    m_timer.stop();
    m_measuring = false;
    m_line.stopHold();
    const int value = m_line.channelCrsf(channel);
    m_result[size_t(m_step)] = value;
    ++m_step;
    QJsonObject progress{{kStep, stepName()},
                         {kState, m_step == CompleteStep ? QStringLiteral("complete") : QStringLiteral("step_success")},
                         {kMessage, QStringLiteral("Value recorded: CRSF %1").arg(value)},
                         {"recordedValue", value}};
    if (m_step == CompleteStep)
        progress.insert("result", resultJson());
    emit pushEvent(kProgress, progress);
}

} // namespace corvane
