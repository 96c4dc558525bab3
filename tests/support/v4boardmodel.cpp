#include "support/v4boardmodel.h"

#include <QtEndian>

namespace ostratest {

namespace {

constexpr quint8 kNack = 0x1F;

quint8 xorOf(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char c : bytes)
        sum ^= quint8(c);
    return sum;
}

} // namespace

V4BoardModel::V4BoardModel()
    : flash(FlashSize, char(0xFF))
{
}

void V4BoardModel::powerCycle()
{
    mode = Bootloader;
    m_flashChanged = false;
    m_await = AwaitSync;
    m_frame.clear();
    m_line.clear();
}

QByteArray V4BoardModel::feed(const QByteArray &bytes)
{
    QByteArray out;
    for (char c : bytes)
        onByte(quint8(c), out);
    while (dropReplyBytes > 0 && !out.isEmpty()) {
        out.remove(0, 1);
        --dropReplyBytes;
    }
    return out;
}

void V4BoardModel::nack(QByteArray &out)
{
    out.append(char(kNack));
    m_await = AwaitCommand;
    m_frame.clear();
}

bool V4BoardModel::chipReset(int &counter, Mode after)
{
    if (counter < 0 || --counter > 0)
        return false;
    counter = -1;
    events.append({ Event::Reset, 0, 0, now });
    mode = after;
    m_await = AwaitSync;
    m_frame.clear();
    return true;
}

void V4BoardModel::consoleByte(quint8 byte, QByteArray &out)
{
    if (byte != '\n') {
        if (byte != '\r')
            m_line.append(char(byte));
        return;
    }
    const QByteArray line = m_line;
    m_line.clear();
    if (line.isEmpty())
        return;
    consoleLines.append(line);
    if (line == "VER" && answersVersion)
        out.append("QOR:" + firmwareVersion.toLatin1() + "\r\n");
    else if (line == "HW" && answersHardware)
        out.append("HW:" + hardware.toLatin1() + "\r\n");
    else if (line == "DFU")
        powerCycle();
}

void V4BoardModel::onByte(quint8 byte, QByteArray &out)
{
    if (mode == Off)
        return;
    if (mode == Firmware) {
        consoleByte(byte, out);
        return;
    }
    switch (m_await) {
    case AwaitSync:
        if (byte == 0x7F) {
            ++syncCount;
            ack(out);
            m_await = AwaitCommand;
        }
        return;
    case AwaitCommand:
        if (m_frame.isEmpty() && byte == 0x7F) {
            // Already synchronised: a further sync byte is refused.
            ++syncCount;
            out.append(char(kNack));
            return;
        }
        m_frame.append(char(byte));
        if (m_frame.size() < 2)
            return;
        m_command = quint8(m_frame.at(0));
        if ((m_command ^ quint8(m_frame.at(1))) != 0xFF) {
            nack(out);
            return;
        }
        m_frame.clear();
        switch (m_command) {
        case 0x00:
            ack(out);
            out.append(char(commands.size()));
            out.append(char(protocolVersion));
            out.append(commands);
            ack(out);
            return;
        case 0x02:
            ack(out);
            out.append(char(chipId.size() - 1));
            out.append(chipId);
            ack(out);
            return;
        case 0x11:
        case 0x21:
        case 0x31:
            if (!commands.contains(char(m_command))) {
                nack(out);
                return;
            }
            ack(out);
            m_await = AwaitAddress;
            return;
        case 0x44:
            ack(out);
            m_await = AwaitErase;
            return;
        default:
            nack(out);
            return;
        }
    case AwaitAddress: {
        m_frame.append(char(byte));
        if (m_frame.size() < 5)
            return;
        m_address = qFromBigEndian<quint32>(m_frame.constData());
        const bool valid = xorOf(m_frame.left(4)) == quint8(m_frame.at(4)) && m_address >= FlashBase
                           && m_address < FlashBase + FlashSize;
        m_frame.clear();
        if (!valid) {
            nack(out);
            return;
        }
        ack(out);
        if (m_command == 0x11) {
            m_await = AwaitReadCount;
        } else if (m_command == 0x31) {
            m_await = AwaitWriteData;
        } else {
            events.append({ Event::Go, m_address, 0, now });
            mode = Firmware;
            if (m_flashChanged)
                firmwareVersion = versionAfterGo;
            m_await = AwaitSync;
        }
        return;
    }
    case AwaitReadCount: {
        m_frame.append(char(byte));
        if (m_frame.size() < 2)
            return;
        const int count = quint8(m_frame.at(0)) + 1;
        const bool valid = (quint8(m_frame.at(0)) ^ quint8(m_frame.at(1))) == 0xFF;
        const qsizetype offset = m_address - FlashBase;
        m_frame.clear();
        if (!valid || offset + count > FlashSize) {
            nack(out);
            return;
        }
        ack(out);
        QByteArray data = flash.mid(offset, count);
        if (corruptReads > 0 && corruptPage >= 0 && offset == qsizetype(corruptPage) * PageSize) {
            --corruptReads;
            data[0] = char(~quint8(data.at(0)));
        }
        events.append({ Event::Read, m_address, count, now });
        out.append(data);
        m_await = AwaitCommand;
        return;
    }
    case AwaitWriteData: {
        m_frame.append(char(byte));
        const int count = quint8(m_frame.at(0)) + 1;
        if (m_frame.size() < count + 2)
            return;
        const QByteArray frame = m_frame;
        m_frame.clear();
        m_await = AwaitCommand;
        if (chipReset(resetAfterWrites, Bootloader) || chipReset(dieAfterWrites, Off))
            return;
        const qsizetype offset = m_address - FlashBase;
        if (xorOf(frame.left(count + 1)) != quint8(frame.at(count + 1)) || offset + count > FlashSize) {
            nack(out);
            return;
        }
        if (nackWrites > 0) {
            --nackWrites;
            nack(out);
            return;
        }
        // Flash bits only go from 1 to 0 until the page is erased.
        for (int i = 0; i < count; ++i)
            flash[offset + i] = char(quint8(flash.at(offset + i)) & quint8(frame.at(1 + i)));
        events.append({ Event::Write, m_address, count, now });
        m_flashChanged = true;
        if (dropWriteAcks > 0)
            --dropWriteAcks;
        else
            ack(out);
        return;
    }
    case AwaitErase: {
        m_frame.append(char(byte));
        if (m_frame.size() < 2)
            return;
        const int pages = qFromBigEndian<quint16>(m_frame.constData()) + 1;
        if (pages > FlashSize / PageSize) {
            nack(out);
            return;
        }
        if (m_frame.size() < 2 + pages * 2 + 1)
            return;
        const QByteArray frame = m_frame;
        m_frame.clear();
        m_await = AwaitCommand;
        if (xorOf(frame.left(frame.size() - 1)) != quint8(frame.at(frame.size() - 1))) {
            nack(out);
            return;
        }
        for (int i = 0; i < pages; ++i) {
            const int page = qFromBigEndian<quint16>(frame.constData() + 2 + i * 2);
            if (page * PageSize >= FlashSize) {
                nack(out);
                return;
            }
            flash.replace(page * PageSize, PageSize, QByteArray(PageSize, char(0xFF)));
            m_flashChanged = true;
            events.append({ Event::Erase, quint32(page), 0, now });
        }
        ack(out);
        return;
    }
    }
}

} // namespace ostratest
