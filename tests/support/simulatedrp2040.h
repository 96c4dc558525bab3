#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

#include "support/ptydevice.h"

class QTimer;

namespace ostratest {

// An RP2040 board (the QOR Receiver's or the transmitter's MCU) on a pseudo-terminal, listed in
// the serial port list with its USB ids. It answers "VER"; on "DFU" it hangs up, leaves the port
// list and shows its boot drive "RPI-RP2" (a temporary folder) in the volume list. Once
// "firmware.uf2" lands there it takes the file, removes the drive and returns on a new
// pseudo-terminal, under the same port name or a new one, with the same USB ids, now answering
// with the updated version. It works while the Qt event loop runs.
class SimulatedRp2040 : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 VendorId = 0x2E8A;
    static constexpr quint16 ProductId = 0x00C0;

    // `name` names the port (a link in a temporary folder, so it survives the reboot).
    explicit SimulatedRp2040(const QString &version, const QString &name = QStringLiteral("ttyACM0"),
                             QObject *parent = nullptr);
    ~SimulatedRp2040() override;

    QString portName() const { return m_portName; }
    QString drivePath() const { return m_drive.path(); }
    bool isListed() const;
    bool isDriveMounted() const;

    // --- behaviour ---
    // The raw answer to "VER" (default "QOR: <version> \r\n"); empty: the board stays silent.
    void setVersionReply(const QByteArray &raw) { m_versionReply = raw; }
    void setVersionAfterUpdate(const QString &version) { m_versionAfterUpdate = version; }
    // Without a drive the board never shows up in the volume list after "DFU".
    void setShowsDrive(bool on) { m_showsDrive = on; }
    void setDriveName(const QString &name) { m_driveName = name; }
    // The board comes back under this port name rather than its old one.
    void setReturnName(const QString &name) { m_returnName = name; }
    // The drive takes no bytes: writing "firmware.uf2" there fails.
    void setDriveFull(bool on) { m_driveFull = on; }
    // While held, a copied image stays on the mounted drive.
    void setHoldDrive(bool on) { m_holdDrive = on; }

    // --- what happened ---
    QList<QByteArray> lines() const { return m_lines; }
    int lineCount(const QByteArray &line) const { return int(m_lines.count(line)); }
    QByteArray receivedImage() const { return m_image; }
    bool rebooted() const { return m_rebooted; }

    // Reads and answers what is waiting, once (a 1 ms timer does so while the event loop runs).
    void process();

    // Adds or removes one entry of the serial port list the program sees.
    static void listPort(const QString &name, quint16 vendorId, quint16 productId);
    static void unlistPort(const QString &name);

private:
    void handleLine(const QByteArray &line);
    void enterBootloader();
    void takeImage();
    void returnFromBootloader();
    void linkPort(const QString &name);

    QTemporaryDir m_links;
    QTemporaryDir m_drive;
    std::unique_ptr<PtyDevice> m_pty;
    QTimer *m_poll;
    QString m_portName;
    QString m_version;
    QString m_versionAfterUpdate;
    QString m_returnName;
    QString m_driveName = QStringLiteral("RPI-RP2");
    QByteArray m_versionReply;
    bool m_showsDrive = true;
    bool m_driveFull = false;
    bool m_holdDrive = false;
    bool m_inBootloader = false;
    bool m_rebooted = false;
    QByteArray m_in;
    QByteArray m_image;
    QList<QByteArray> m_lines;
};

} // namespace ostratest
