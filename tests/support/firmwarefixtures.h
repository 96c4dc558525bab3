#pragma once

#include <QByteArray>
#include <QEvent>
#include <QObject>
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

} // namespace ostratest
