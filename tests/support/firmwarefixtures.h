#pragma once

#include <QByteArray>
#include <QEvent>
#include <QObject>
#include <QStringList>
#include <QtEndian>

namespace ostratest {

// A UF2 image of `blocks` blocks, each with its magic words and a payload that tells it apart.
inline QByteArray uf2Image(int blocks)
{
    QByteArray image(blocks * 512, '\0');
    for (int b = 0; b < blocks; ++b) {
        uchar *block = reinterpret_cast<uchar *>(image.data()) + b * 512;
        qToLittleEndian<quint32>(0x0A324655, block);
        qToLittleEndian<quint32>(0x9E5D5157, block + 4);
        for (int i = 32; i < 508; ++i)
            block[i] = uchar(b * 7 + i);
        qToLittleEndian<quint32>(0x0AB16F30, block + 508);
    }
    return image;
}

// Installed on a timer, holds back its timeouts: the test fires ticks and single shots itself.
class TimerGate : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override { return event->type() == QEvent::Timer; }
};

// The mobile app's reports ("message|state|progress") of a whole transmitter update from 1.4.2
// to 1.4.3, without the download's own progress steps.
inline QStringList uf2HandlerReports()
{
    return {
        "Checking current version...|checking_version|5",
        "Current version: 1.4.2|checking_version|10",
        "Checking for updates...|downloading_version|15",
        "Current: 1.4.2, Latest: 1.4.3|downloading_version|20",
        "New update available: 1.4.2 → 1.4.3|downloading_version|22",
        "Downloading update...|downloading_firmware|25",
        "Download complete.|downloading_firmware|50",
        "Preparing device for update...|entering_dfu|55",
        "Waiting for device...|waiting_for_drive|60",
        "Device ready|waiting_for_drive|65",
        "Installing update...|copying_firmware|70",
        "Update installed.|copying_firmware|85",
        "Update applied. Device restarting...|waiting_for_reboot|90",
        "Device restarting...|waiting_for_reboot|90",
        "Device found. Starting up...|waiting_for_reboot|93",
        "Reconnecting...|verifying_version|95",
        "Verifying update...|verifying_version|97",
        "Updated successfully! Version: 1.4.3|done|100",
    };
}

} // namespace ostratest
