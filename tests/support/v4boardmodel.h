#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace ostratest {

// A receiver V4 board as bytes in and bytes out: its running firmware's text console ("VER",
// "HW", "DFU") and the STM32 ROM boot loader (sync, GET, GET_ID, READ MEMORY, WRITE MEMORY,
// EXTENDED ERASE, GO) over 256 KB of flash, with faults to inject. Used on a pseudo-terminal by
// SimulatedV4Receiver and in process by MockV4Flasher.
class V4BoardModel
{
public:
    enum Mode { Firmware, Bootloader, Off };

    struct Event
    {
        enum Kind { Erase, Write, Read, Go, Reset };
        Kind kind;
        quint32 address = 0; // page number for Erase
        int size = 0;
        qint64 at = 0;
    };

    static constexpr quint32 FlashBase = 0x08000000;
    static constexpr int FlashSize = 256 * 1024;
    static constexpr int PageSize = 2048;

    V4BoardModel();

    // Takes what the host sent and returns what the board answers.
    QByteArray feed(const QByteArray &bytes);
    // Switching the board off and on: it comes back in its boot loader, not yet synchronised.
    void powerCycle();

    // --- the board ---
    Mode mode = Firmware;
    QString firmwareVersion = QStringLiteral("1.2.0");
    QString hardware = QStringLiteral("QOR-V4-G0B1");
    bool answersVersion = true;
    bool answersHardware = true;
    // The version the board's firmware reports after GO, once its flash was changed; a GO with
    // nothing changed starts the firmware it had.
    QString versionAfterGo = QStringLiteral("1.3.0");
    quint8 protocolVersion = 0x31;
    QByteArray commands = QByteArray::fromHex("0001021121314463738292");
    QByteArray chipId = QByteArray::fromHex("0467");
    QByteArray flash;
    qint64 now = 0; // the owner's clock, stamped on events

    // --- faults ---
    int nackWrites = 0; // the next WRITE MEMORY frames are refused (nothing written)
    int dropReplyBytes = 0; // the next answer bytes are lost on the line
    int dropWriteAcks = 0; // the next WRITE MEMORY frames land, but their ACK is lost
    int corruptPage = -1; // reads from this page's start come back with their first byte flipped ...
    int corruptReads = 0; // ... this many times
    int resetAfterWrites = -1; // the chip resets during that many-th next write (not written, not answered)
    int dieAfterWrites = -1; // the same, but the board goes silent until powerCycle()

    // --- what happened ---
    QList<Event> events;
    QList<QByteArray> consoleLines;
    int syncCount = 0;

private:
    enum Await { AwaitSync, AwaitCommand, AwaitAddress, AwaitReadCount, AwaitWriteData, AwaitErase };

    void onByte(quint8 byte, QByteArray &out);
    void consoleByte(quint8 byte, QByteArray &out);
    void ack(QByteArray &out) { out.append(char(0x79)); }
    void nack(QByteArray &out);
    bool chipReset(int &counter, Mode after);

    Await m_await = AwaitSync;
    quint8 m_command = 0;
    QByteArray m_frame;
    quint32 m_address = 0;
    QByteArray m_line;
    bool m_flashChanged = false; // since the boot loader was entered
};

} // namespace ostratest
