#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QtEndian>

namespace ostratest {

// A receiver V4 image whose vector table passes: stack pointer in RAM, reset handler inside it.
inline QByteArray v4FirmwareBytes(int size, quint32 stack = 0x20010000, quint32 reset = 0x08000101)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + 7) & 0xFF);
    if (size >= 8) {
        qToLittleEndian(stack, bytes.data());
        qToLittleEndian(reset, bytes.data() + 4);
    }
    return bytes;
}

// The ".json" description that goes with an image.
inline QJsonObject v4DescriptionOf(const QByteArray &bin, const QString &version = QStringLiteral("1.3.0"))
{
    return QJsonObject { { "version", version },
                         { "hardware", "QOR-V4-G0B1" },
                         { "flash_address", "0x08000000" },
                         { "size", int(bin.size()) },
                         { "sha256", QString::fromLatin1(QCryptographicHash::hash(bin, QCryptographicHash::Sha256).toHex()) } };
}

} // namespace ostratest
