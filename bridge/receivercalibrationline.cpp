#include "bridge/receivercalibrationline.h"

#include <QRegularExpression>

#include <algorithm>

namespace corvane {

namespace {

// Digits too long for an int are not a reading.
bool capture(const QRegularExpressionMatch &match, int &us, int &crsf)
{
    bool usOk = false;
    bool crsfOk = false;
    const int newUs = match.captured(1).toInt(&usOk, 10);
    const int newCrsf = match.captured(2).toInt(&crsfOk, 10);
    if (!usOk || !crsfOk)
        return false;
    us = newUs;
    crsf = newCrsf;
    return true;
}

} // namespace

QByteArray ReceiverCalibrationLine::enterCommand()
{
    return QByteArrayLiteral("ENTER_CALIB\n");
}

QByteArray ReceiverCalibrationLine::exitCommand()
{
    return QByteArrayLiteral("EXIT_CALIB\n");
}

QByteArray ReceiverCalibrationLine::failsafeCommand(int steeringCenter, int throttleNeutral)
{
    return QStringLiteral("SET_FAILSAFE CH1:%1 CH2:%2\n").arg(steeringCenter).arg(throttleNeutral).toUtf8();
}

void ReceiverCalibrationLine::addLine(const QString &line)
{
    static const QRegularExpression ch1(QStringLiteral("CH1:(\\d+)us\\s+CRSF:(\\d+)"));
    static const QRegularExpression ch2(QStringLiteral("CH2:(\\d+)us\\s+CRSF:(\\d+)"));
    const bool got1 = capture(ch1.match(line), m_ch1Us, m_ch1Crsf);
    const bool got2 = capture(ch2.match(line), m_ch2Us, m_ch2Crsf);
    if (!holding())
        return;
    if ((m_heldChannel == 1 && got1) || (m_heldChannel == 2 && got2))
        m_heldReported = true;
    m_samples.append(channelUs(m_heldChannel));
    if (m_samples.size() > MaxSamples)
        m_samples.removeFirst();
}

void ReceiverCalibrationLine::startHold(int channel)
{
    m_heldChannel = channel;
    m_heldReported = false;
    m_samples.clear();
}

void ReceiverCalibrationLine::stopHold()
{
    m_heldChannel = 0;
    m_heldReported = false;
    m_samples.clear();
}

bool ReceiverCalibrationLine::holdSteady() const
{
    if (m_samples.size() < MinSamplesForCheck)
        return true;
    const auto first = m_samples.cend() - std::min<qsizetype>(m_samples.size(), CheckedSamples);
    const auto [lo, hi] = std::minmax_element(first, m_samples.cend());
    return *hi - *lo <= MaxSpreadUs;
}

} // namespace corvane
