#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvane {

// The receiver's calibration text link: the commands of its calibration mode, its CH1/CH2
// report lines and the rule for a held stick position. In calibration mode the receiver
// prints the pulse width and CRSF value it sees on each input pin; a position counts as held
// while the recent pulse widths stay within a narrow spread.
class ReceiverCalibrationLine
{
public:
    static constexpr int MaxSamples = 30;
    static constexpr int MinSamplesForCheck = 10;
    static constexpr int CheckedSamples = 20;
    static constexpr int MaxSpreadUs = 100;
    static constexpr int HoldSeconds = 5;

    static QByteArray enterCommand();
    static QByteArray exitCommand();
    static QByteArray failsafeCommand(int steeringCenter, int throttleNeutral);

    // Takes one report line: stores the values of each channel it carries and, during a hold,
    // adds the held channel's latest pulse width as a sample whether or not the line matched.
    void addLine(const QString &line);

    int channelUs(int channel) const { return channel == 1 ? m_ch1Us : m_ch2Us; }
    int channelCrsf(int channel) const { return channel == 1 ? m_ch1Crsf : m_ch2Crsf; }

    // Starts (or restarts) a hold on channel 1 or 2: no samples, nothing reported yet.
    void startHold(int channel);
    void stopHold();
    bool holding() const { return m_heldChannel != 0; }
    int heldChannel() const { return m_heldChannel; }
    // False when the last samples spread over more than MaxSpreadUs; too few samples pass.
    bool holdSteady() const;
    // Whether a report line for the held channel arrived since the hold (re)started; a value
    // recorded without one would be a stale or never-seen reading.
    bool heldChannelReported() const { return m_heldReported; }
    int sampleCount() const { return int(m_samples.size()); }

private:
    int m_ch1Us = 0;
    int m_ch1Crsf = 0;
    int m_ch2Us = 0;
    int m_ch2Crsf = 0;
    int m_heldChannel = 0;
    bool m_heldReported = false;
    QList<int> m_samples;
};

} // namespace corvane
