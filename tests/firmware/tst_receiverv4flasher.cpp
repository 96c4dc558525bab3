#include "firmware/receiverv4flasher.h"

#include "support/mockv4flasher.h"
#include "support/simulatedv4receiver.h"
#include "support/testenvironment.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QThread>

#include "support/v4firmwareimage.h"
#include <QtEndian>

#include <memory>

using corvane::ReceiverV4Flasher;
using ostratest::MockV4Flasher;
using ostratest::SimulatedV4Receiver;
using ostratest::V4BoardModel;
using Image = ReceiverV4Flasher::Image;

namespace {

constexpr int Patience = 20000;

QByteArray firmwareBytes(int size, quint32 stack = 0x20010000, quint32 reset = 0x08000101)
{
    return ostratest::v4FirmwareBytes(size, stack, reset);
}

QJsonObject descriptionOf(const QByteArray &bin, const QString &version = QStringLiteral("1.3.0"))
{
    return ostratest::v4DescriptionOf(bin, version);
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson();
}

QByteArray json(QJsonObject object, const char *key, const QJsonValue &value)
{
    object.insert(QLatin1String(key), value);
    return json(object);
}

Image imageOf(const QByteArray &bin, const QString &version = QStringLiteral("1.3.0"))
{
    Image image;
    ReceiverV4Flasher::loadImage(bin, json(descriptionOf(bin, version)), &image);
    return image;
}

QString errorOf(const std::function<void()> &step)
{
    try {
        step();
    } catch (const ReceiverV4Flasher::Error &e) {
        return e.message();
    }
    return QString();
}

QStringList texts(const QSignalSpy &spy, int argument = 0)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(argument).toString();
    return out;
}

// The flasher on a board that waits in its synchronised boot loader.
void syncedBootloader(MockV4Flasher &flasher)
{
    flasher.board.powerCycle();
    QVERIFY(flasher.syncBootloader(300));
    flasher.sent.clear();
}

} // namespace

class TestReceiverV4Flasher : public QObject
{
    Q_OBJECT

private slots:
    void loadImage_data()
    {
        QTest::addColumn<QByteArray>("bin");
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<QString>("error");

        const QByteArray bin = firmwareBytes(1001);
        const QJsonObject good = descriptionOf(bin);
        const QString mismatch = QStringLiteral("The firmware file doesn't match its description (corrupted or wrong file).");
        const QString address = QStringLiteral("The firmware's flash address is not 0x08000000.");

        QTest::newRow("good") << bin << json(good) << QString();
        QTest::newRow("address without 0x") << bin << json(good, "flash_address", "08000000") << QString();
        QTest::newRow("not json") << bin << QByteArray("{\"version\":") << "The firmware description (.json) can't be read.";
        QJsonObject twoFaults = good;
        twoFaults.insert("hardware", "QOR-V3");
        twoFaults.insert("flash_address", "0x0");
        QTest::newRow("hardware decides before the address") << bin << json(twoFaults)
                                                             << "This firmware is for \"QOR-V3\", not a QOR receiver V4.";
        QTest::newRow("address elsewhere") << bin << json(good, "flash_address", "0x08000800") << address;
        QTest::newRow("address without its leading zero") << bin << json(good, "flash_address", "0x8000000") << QString();
        QTest::newRow("address as a JSON number") << bin << json(good, "flash_address", 134217728) << address;
        QTest::newRow("hash in upper case")
            << bin << json(good, "sha256", good.value("sha256").toString().toUpper()) << QString();
        QTest::newRow("size differs, hash right") << bin << json(good, "size", 1000) << mismatch;
        QTest::newRow("hash wrong") << bin << json(good, "sha256", QString(64, QLatin1Char('0'))) << mismatch;
        QTest::newRow("version blank") << bin << json(good, "version", "  ") << "The firmware description has no version.";
        QTest::newRow("version of NUL and a direction override")
            << bin << json(good, "version", QString(QChar(0)) + QChar(0x202E))
            << "The firmware description's version holds control characters or text direction overrides.";
        QTest::newRow("version with a line break") << bin << json(good, "version", "1.3\n.0")
            << "The firmware description's version holds control characters or text direction overrides.";
        QTest::newRow("version with a zero-width space") << bin << json(good, "version", QString("4.2") + QChar(0x200B))
            << "The firmware description's version holds invisible characters (a zero-width space or the like).";
        QTest::newRow("version of 5000 digits") << bin << json(good, "version", QString(5000, QLatin1Char('9')))
            << "The firmware description's version is too long (5000 characters, at most 32).";
        QTest::newRow("version with a number past int") << bin << json(good, "version", "4.2147483648.0")
            << "The firmware description's version holds a number too large to compare (2147483648).";
        QTest::newRow("version of 32 characters") << bin << json(good, "version", "1.3.0-" + QString(26, 'a'))
                                                  << QString();
        const QByteArray tiny = firmwareBytes(4);
        QTest::newRow("too small") << tiny << json(descriptionOf(tiny)) << "The firmware file is too small.";
        const QByteArray huge = firmwareBytes(262145);
        QTest::newRow("over 256 KB") << huge << json(descriptionOf(huge)) << "The firmware file is larger than 256 KB.";
        const QByteArray lowStack = firmwareBytes(1001, 0x20000000);
        QTest::newRow("stack below RAM") << lowStack << json(descriptionOf(lowStack))
                                         << "Not a QOR receiver firmware (stack pointer 0x20000000).";
        const QByteArray evenReset = firmwareBytes(1001, 0x20010000, 0x08000100);
        QTest::newRow("reset address even") << evenReset << json(descriptionOf(evenReset))
                                            << "Not a QOR receiver firmware (reset address 0x08000100).";
        const QByteArray shortImage = firmwareBytes(256, 0x20010000, 0x08000101);
        QTest::newRow("reset address past a 256-byte image")
            << shortImage << json(descriptionOf(shortImage)) << "Not a QOR receiver firmware (reset address 0x08000101).";
        const QByteArray longerImage = firmwareBytes(257, 0x20010000, 0x08000101);
        QTest::newRow("reset address inside a 257-byte image") << longerImage << json(descriptionOf(longerImage))
                                                               << QString();
    }

    void loadImage()
    {
        QFETCH(QByteArray, bin);
        QFETCH(QByteArray, description);
        QFETCH(QString, error);
        Image image;
        image.version = QStringLiteral("untouched");
        QString message;
        QCOMPARE(ReceiverV4Flasher::loadImage(bin, description, &image, &message), error.isEmpty());
        QCOMPARE(message, error);
        if (!error.isEmpty()) {
            QCOMPARE(image.version, QStringLiteral("untouched"));
            return;
        }
        // Padded with 0xFF to whole 8-byte words.
        QCOMPARE(image.data, bin + QByteArray((8 - bin.size() % 8) % 8, char(0xFF)));
        QVERIFY(image.version.startsWith(QStringLiteral("1.3.0")));
    }

    void bootloaderFrames()
    {
        MockV4Flasher flasher;
        syncedBootloader(flasher);
        flasher.erasePage(5);
        QCOMPARE(flasher.sentSince(0), QByteArray::fromHex("44bb" "0000000505"));
        flasher.sent.clear();
        flasher.writeMemory(0x08000800, QByteArray(256, char(0x5A)));
        const QByteArray write = flasher.sentSince(0);
        QCOMPARE(write.left(2 + 5), QByteArray::fromHex("31ce" "0800080000"));
        QCOMPARE(write.size(), 2 + 5 + 1 + 256 + 1);
        QCOMPARE(quint8(write.at(write.size() - 1)), quint8(0xFF)); // 0xFF ^ (0x5A x 256)
        QCOMPARE(flasher.readMemoryRange(0x800, 300), QByteArray(256, char(0x5A)) + QByteArray(44, char(0xFF)));
        QVERIFY(flasher.readMemoryRange(0, 0).isEmpty());
    }

    void identify_data()
    {
        QTest::addColumn<QByteArray>("chipId");
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QString>("error");
        const QByteArray all = QByteArray::fromHex("0001021121314463738292");
        QTest::newRow("receiver V4") << QByteArray::fromHex("0467") << all << QString();
        QTest::newRow("other chip") << QByteArray::fromHex("0460") << all
                                    << "This is not a QOR receiver V4 (chip ID 0x460, expected 0x467). Nothing was written.";
        QTest::newRow("long id ending like ours") << QByteArray::fromHex("0100000467") << all
                                                  << "This is not a QOR receiver V4 (chip ID 0x100000467, expected 0x467). "
                                                     "Nothing was written.";
        QTest::newRow("readout protection") << QByteArray::fromHex("0467") << QByteArray::fromHex("000102112144")
                                            << "The board's readout protection is on, so it can't be updated over the cable.";
    }

    void identify()
    {
        QFETCH(QByteArray, chipId);
        QFETCH(QByteArray, commands);
        QFETCH(QString, error);
        MockV4Flasher flasher;
        flasher.board.chipId = chipId;
        flasher.board.commands = commands;
        syncedBootloader(flasher);
        QSignalSpy log(&flasher, &ReceiverV4Flasher::logMessage);
        QCOMPARE(errorOf([&] { flasher.cmdGetId(); }), error);
        const bool getIdSent = flasher.sentSince(0).contains(QByteArray::fromHex("02fd"));
        QCOMPARE(getIdSent, !error.contains("readout"));
        if (error.isEmpty())
            QCOMPARE(texts(log), QStringList({ "Bootloader protocol 3.1, chip ID 0x467" }));
    }

    void retriedStepGivesUpAfterFive()
    {
        MockV4Flasher flasher;
        syncedBootloader(flasher);
        int attempts = 0;
        const QString error = errorOf([&] {
            flasher.withRetry(
                [&]() -> QByteArray {
                    ++attempts;
                    throw ReceiverV4Flasher::NoReply(QStringLiteral("READ: short data"));
                },
                5);
        });
        QCOMPARE(error, QStringLiteral("giving up after 5 attempts: READ: short data"));
        QCOMPARE(attempts, 5);
        QCOMPARE(flasher.retryCount(), 5);
        // Lost contact passes through at once.
        attempts = 0;
        try {
            flasher.withRetry([&]() -> QByteArray {
                ++attempts;
                throw ReceiverV4Flasher::LostContact(QStringLiteral("gone"));
            }, 5);
            QFAIL("no exception");
        } catch (const ReceiverV4Flasher::LostContact &) {
        }
        QCOMPARE(attempts, 1);
    }

    void chunkRecovery_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("landed");
        QTest::addColumn<int>("writes");
        // The ACK went astray but the chunk is in flash: it is not written again.
        QTest::newRow("answer lost, chunk landed") << "lost ack" << true << 1;
        // Refused while the range is still erased: written once more.
        QTest::newRow("refused, still erased") << "nack" << true << 1;
        // Refused over other content: the caller rewrites the page.
        QTest::newRow("refused, something else there") << "nack over data" << false << 0;
    }

    void chunkRecovery()
    {
        QFETCH(QString, fault);
        QFETCH(bool, landed);
        QFETCH(int, writes);
        MockV4Flasher flasher;
        syncedBootloader(flasher);
        if (fault == QLatin1String("lost ack"))
            flasher.board.dropWriteAcks = 1;
        else
            flasher.board.nackWrites = 1;
        if (fault == QLatin1String("nack over data"))
            flasher.board.flash[0x1000] = char(0x00);
        QSignalSpy log(&flasher, &ReceiverV4Flasher::logMessage);
        const QByteArray chunk(64, char(0x33));
        QCOMPARE(flasher.writeChunk(0x08001000, chunk), landed);
        int writeEvents = 0;
        for (const V4BoardModel::Event &e : std::as_const(flasher.board.events))
            writeEvents += e.kind == V4BoardModel::Event::Write;
        QCOMPARE(writeEvents, writes);
        QCOMPARE(flasher.retryCount(), 1);
        QCOMPARE(log.count(), 1);
        QVERIFY(texts(log).first().contains(QStringLiteral("write 0x08001000: ")));
        if (landed)
            QCOMPARE(flasher.board.flash.mid(0x1000, 64), chunk);
    }

    void updateWritesVectorTableLast()
    {
        MockV4Flasher flasher;
        QSignalSpy progress(&flasher, &ReceiverV4Flasher::progress);
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        const QByteArray bin = firmwareBytes(5000);
        flasher.update(QStringLiteral("ttyUSB0"), imageOf(bin));

        QCOMPARE(finished.first(), QList<QVariant>({ true, QStringLiteral("1.3.0") }));
        QVERIFY(!flasher.portOpen);
        QCOMPARE(flasher.board.flash.left(bin.size()), bin);

        QStringList stages;
        for (const QList<QVariant> &args : std::as_const(progress))
            stages << QStringLiteral("%1 %2/%3").arg(args.at(0).toString()).arg(args.at(1).toInt()).arg(args.at(2).toInt());
        QCOMPARE(stages, QStringList({ "connect 0/1", "connect 1/1", "program 0/3", "program 1/3", "program 2/3",
                                       "program 3/3", "verify 0/1", "verify 1/1" }));

        // Page 0 erased first; pages written 1, 2, 0; page 0's vector table the very last write.
        QList<int> erased;
        QList<quint32> written;
        qint64 goAt = -1;
        for (const V4BoardModel::Event &e : std::as_const(flasher.board.events)) {
            if (e.kind == V4BoardModel::Event::Erase)
                erased << int(e.address);
            else if (e.kind == V4BoardModel::Event::Write)
                written << e.address;
            else if (e.kind == V4BoardModel::Event::Go)
                goAt = e.at;
        }
        QCOMPARE(erased, QList<int>({ 0, 1, 2, 0 }));
        QCOMPARE(written.size(), 8 + 4 + 8);
        QCOMPARE(written.first(), quint32(0x08000800));
        QCOMPARE(written.last(), quint32(0x08000000));
        QVERIFY(goAt >= 0);

        // GO, then "\nVER\n" to the started firmware 1500 ms later.
        qint64 verAt = -1;
        for (const MockV4Flasher::Sent &sent : std::as_const(flasher.sent)) {
            if (sent.bytes == "\nVER\n")
                verAt = sent.at;
        }
        QCOMPARE(verAt - goAt, qint64(1500));
        QCOMPARE(flasher.board.consoleLines.count("DFU"), 1);
    }

    void updateRecovers_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("retries");
        QTest::newRow("one NACK on a write") << "nack" << 1;
        QTest::newRow("chip resets during a write") << "reset" << 1;
        QTest::newRow("page 1 read back wrong once") << "corrupt" << 1;
    }

    void updateRecovers()
    {
        QFETCH(QString, fault);
        QFETCH(int, retries);
        MockV4Flasher flasher;
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        QSignalSpy log(&flasher, &ReceiverV4Flasher::logMessage);
        // The fault strikes once page 0 is erased and the other pages are about to be written.
        connect(&flasher, &ReceiverV4Flasher::progress, this, [&](const QString &stage, int done) {
            if (stage != QLatin1String("program") || done != 0)
                return;
            if (fault == QLatin1String("nack"))
                flasher.board.nackWrites = 1;
            else if (fault == QLatin1String("drop"))
                flasher.board.dropReplyBytes = 1; // the erase of page 1 goes unanswered
            else if (fault == QLatin1String("reset"))
                flasher.board.resetAfterWrites = 3;
            else
                flasher.board.corruptReads = 1;
            flasher.board.corruptPage = 1;
        });
        const QByteArray bin = firmwareBytes(5000);
        flasher.update(QStringLiteral("ttyUSB0"), imageOf(bin));
        QCOMPARE(finished.first(), QList<QVariant>({ true, QStringLiteral("1.3.0") }));
        QCOMPARE(flasher.board.flash.left(bin.size()), bin);
        QVERIFY(texts(log).contains(QStringLiteral("Programmed and verified 5000 bytes (%1 retries).").arg(retries)));
    }

    void pageThatNeverVerifies()
    {
        MockV4Flasher flasher;
        flasher.board.corruptPage = 1;
        flasher.board.corruptReads = 4;
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        QSignalSpy log(&flasher, &ReceiverV4Flasher::logMessage);
        flasher.update(QStringLiteral("ttyUSB0"), imageOf(firmwareBytes(5000)));
        QCOMPARE(finished.first(), QList<QVariant>({ false, QStringLiteral("Page 1 could not be programmed.") }));
        const QStringList rewrites = texts(log).filter(QStringLiteral("verify failed"));
        QCOMPARE(rewrites, QStringList({ "Page 1: verify failed, rewriting (attempt 2)",
                                         "Page 1: verify failed, rewriting (attempt 3)",
                                         "Page 1: verify failed, rewriting (attempt 4)" }));
        QCOMPARE(flasher.retryCount(), 4);
        QVERIFY(!flasher.portOpen);
        // Page 0 stays erased: the board keeps waiting in its boot loader.
        QCOMPARE(flasher.board.flash.left(2048), QByteArray(2048, char(0xFF)));
    }

    void thirdLostContactEndsTheRun()
    {
        MockV4Flasher flasher;
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        QSignalSpy log(&flasher, &ReceiverV4Flasher::logMessage);
        QList<bool> prompts;
        flasher.board.dieAfterWrites = 2;
        connect(&flasher, &ReceiverV4Flasher::powerCycleRequested, this, [&](bool active) {
            prompts << active;
            if (active) {
                flasher.board.powerCycle();
                flasher.board.dieAfterWrites = 2;
            }
        });
        flasher.update(QStringLiteral("ttyUSB0"), imageOf(firmwareBytes(5000)));
        QCOMPARE(finished.first(), QList<QVariant>({ false,
                 QStringLiteral("Lost contact with the bootloader. Power-cycle the receiver and run the update again.") }));
        QCOMPARE(prompts, QList<bool>({ true, false, true, false }));
        QCOMPARE(texts(log).filter(QStringLiteral("Erasing page 0")).size(), 3);
    }

    void stopDuringPowerCycleWait()
    {
        MockV4Flasher flasher;
        flasher.board.mode = V4BoardModel::Off;
        QStringList order;
        qint64 promptAt = -1;
        qint64 stopAt = -1;
        qint64 finishedAt = -1;
        connect(&flasher, &ReceiverV4Flasher::powerCycleRequested, this, [&](bool active) {
            order << (active ? QStringLiteral("prompt") : QStringLiteral("prompt off"));
            if (active)
                promptAt = flasher.clock;
        });
        connect(&flasher, &ReceiverV4Flasher::finished, this, [&](bool ok, const QString &message) {
            order << QStringLiteral("finished %1 %2").arg(ok).arg(message);
            finishedAt = flasher.clock;
        });
        flasher.onClock = [&](qint64 now) {
            if (promptAt >= 0 && stopAt < 0 && now >= promptAt + 5000) {
                stopAt = now;
                flasher.requestStop();
            }
        };
        QSignalSpy log(&flasher, &ReceiverV4Flasher::logMessage);
        flasher.update(QStringLiteral("ttyUSB0"), imageOf(firmwareBytes(600)));
        QCOMPARE(order, QStringList({ "prompt", "prompt off", "finished 0 Cancelled." }));
        QVERIFY(stopAt > 0);
        QVERIFY2(finishedAt - stopAt <= 50, qPrintable(QString::number(finishedAt - stopAt)));
        // No answer to "VER"/"HW": "DFU" went out all the same.
        QVERIFY(flasher.sentSince(0).contains("DFU\n"));
        QVERIFY(texts(log).contains(QStringLiteral("No reply from the firmware (continuing; it may be in OSD mode or too old).")));
        QVERIFY(texts(log).contains(QStringLiteral("POWER-CYCLE THE BOARD NOW (switch its power off and on). Listening for 60 s...")));
    }

    // A run that ends after erasing page 0 and before writing it back reports the board in its
    // boot loader without firmware, also when cancelled; one that ends after does not (the
    // dialog's test has a failed page and a run that ends before).
    void failedRunReportsTheBoard_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("message");
        QTest::newRow("cancelled in the wait after lost contact") << true << "Cancelled.";
        QTest::newRow("started firmware reports another version") << false << "The receiver reports 1.2.9, expected 1.3.0.";
    }

    void failedRunReportsTheBoard()
    {
        QFETCH(bool, cancel);
        QFETCH(QString, message);
        MockV4Flasher flasher;
        flasher.board.dieAfterWrites = cancel ? 2 : -1;
        flasher.board.versionAfterGo = QStringLiteral("1.2.9");
        connect(&flasher, &ReceiverV4Flasher::powerCycleRequested, this, [&flasher](bool active) {
            if (active)
                flasher.requestStop();
        });
        QSignalSpy info(&flasher, &ReceiverV4Flasher::boardInfo);
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        QSignalSpy log(&flasher, &ReceiverV4Flasher::logMessage);
        flasher.update(QStringLiteral("ttyUSB0"), imageOf(firmwareBytes(5000)));
        QCOMPARE(finished.first(), QList<QVariant>({ false, message }));
        QCOMPARE(info.last() == QList<QVariant>({ QString(), QString(), true }), cancel);
        QCOMPARE(texts(log).contains("The board holds no firmware now; it stays in the bootloader until an update completes."),
                 cancel);
    }

    // A board refused before anything is written goes back to the firmware this run took it
    // out of, and the result says where it is; one found in its boot loader is left there. (The
    // dialog's test has a board that stays silent after GO.)
    void refusedBoardSentBack_data()
    {
        QTest::addColumn<QString>("board");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QVariantList>("info"); // the last boardInfo
        const QString chip = QStringLiteral("This is not a QOR receiver V4 (chip ID 0x410, expected 0x467). Nothing was written. ");
        QTest::newRow("another chip") << "chip" << chip + "It was sent back to its firmware."
                                      << QVariantList{"1.2.0", "QOR-V4-G0B1", false};
        QTest::newRow("readout protection, no GO")
            << "protected" << "The board's readout protection is on, so it can't be updated over the cable. It could not "
                              "be sent back to its firmware: switch its power off and on to restart it."
            << QVariantList{"", "", false};
        QTest::newRow("found in its boot loader") << "bootloader" << chip.trimmed() << QVariantList{"", "", true};
    }

    void refusedBoardSentBack()
    {
        QFETCH(QString, board);
        QFETCH(QString, message);
        QFETCH(QVariantList, info);
        MockV4Flasher flasher;
        flasher.board.chipId = QByteArray::fromHex("0410");
        if (board == "protected") {
            flasher.board.chipId = QByteArray::fromHex("0467");
            flasher.board.commands = QByteArray::fromHex("0001021131");
        } else if (board == "bootloader") {
            flasher.board.powerCycle();
        }
        QSignalSpy reported(&flasher, &ReceiverV4Flasher::boardInfo);
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        flasher.update(QStringLiteral("ttyUSB0"), imageOf(firmwareBytes(600)));
        QCOMPARE(finished.first(), QList<QVariant>({ false, message }));
        QVERIFY(!reported.isEmpty());
        QCOMPARE(reported.last(), info);
        QCOMPARE(flasher.board.mode == V4BoardModel::Firmware, board == "chip");
        QCOMPARE(flasher.board.flash, QByteArray(V4BoardModel::FlashSize, char(0xFF)));
        QVERIFY(!flasher.portOpen);
    }

    void boardAlreadyInBootloader()
    {
        MockV4Flasher flasher;
        flasher.board.powerCycle();
        QSignalSpy info(&flasher, &ReceiverV4Flasher::boardInfo);
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        flasher.readBoard(QStringLiteral("ttyUSB0"));
        QCOMPARE(info.first(), QList<QVariant>({ QString(), QString(), true }));

        QSignalSpy log(&flasher, &ReceiverV4Flasher::logMessage);
        flasher.sent.clear();
        flasher.update(QStringLiteral("ttyUSB0"), imageOf(firmwareBytes(600)));
        QVERIFY(finished.last().at(0).toBool());
        QVERIFY(texts(log).contains(QStringLiteral("The board is already in the bootloader.")));
        QVERIFY(!flasher.sentSince(0).contains("DFU"));
    }

    void readBoardReports_data()
    {
        QTest::addColumn<bool>("version");
        QTest::addColumn<bool>("hardware");
        QTest::addColumn<QString>("logLine"); // lines joined by line breaks
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("reported");
        QTest::newRow("both") << true << true << "Board: QOR:1.2.0 QOR-V4-G0B1" << "1.2.0" << "1.2.0";
        QTest::newRow("no version line") << false << true << "Board: QOR:? QOR-V4-G0B1" << "" << "1.2.0";
        QTest::newRow("silent") << false << false << "" << "" << "1.2.0";
        QTest::newRow("a version of 40 digits")
            << true << true << "The receiver's version is too long (40 characters, at most 32); it counts as unknown.\n"
                               "Board: QOR:? QOR-V4-G0B1" << "" << QString(40, '1');
    }

    void readBoardReports()
    {
        QFETCH(bool, version);
        QFETCH(bool, hardware);
        QFETCH(QString, logLine);
        QFETCH(QString, result);
        QFETCH(QString, reported);
        MockV4Flasher flasher;
        flasher.board.answersVersion = version;
        flasher.board.answersHardware = hardware;
        flasher.board.firmwareVersion = reported;
        QSignalSpy log(&flasher, &ReceiverV4Flasher::logMessage);
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        flasher.readBoard(QStringLiteral("ttyUSB0"));
        if (logLine.isEmpty()) {
            QCOMPARE(finished.first(), QList<QVariant>({ false, QStringLiteral("No reply from the receiver. ") + ReceiverV4Flasher::wiringHint() }));
            return;
        }
        QCOMPARE(texts(log).join('\n'), logLine);
        QCOMPARE(finished.first(), QList<QVariant>({ true, result }));
    }

    void startedFirmwareMustMatch_data()
    {
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("message");
        QTest::newRow("letter case differs") << "1.3.0-RC" << "The receiver reports 1.3.0-RC, expected 1.3.0-rc.";
        QTest::newRow("silent") << "" << "The firmware was written and verified, but the receiver did not answer after "
                                         "starting. Power-cycle it and check the version.";
    }

    void startedFirmwareMustMatch()
    {
        QFETCH(QString, after);
        QFETCH(QString, message);
        MockV4Flasher flasher;
        flasher.board.versionAfterGo = after;
        connect(&flasher, &ReceiverV4Flasher::progress, this, [&](const QString &stage) {
            if (stage == QLatin1String("verify"))
                flasher.board.answersVersion = !after.isEmpty();
        });
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        flasher.update(QStringLiteral("ttyUSB0"), imageOf(firmwareBytes(600), QStringLiteral("1.3.0-rc")));
        QCOMPARE(finished.first(), QList<QVariant>({ false, message }));
    }

    void portThatCannotOpen()
    {
        ReceiverV4Flasher flasher;
        QSignalSpy finished(&flasher, &ReceiverV4Flasher::finished);
        flasher.readBoard(QStringLiteral("/nonexistent/ttyUSB9"));
        QCOMPARE(finished.first().at(0).toBool(), false);
        const QString message = finished.first().at(1).toString();
        QVERIFY2(message.startsWith(QStringLiteral("Can't open /nonexistent/ttyUSB9: ")), qPrintable(message));
        QVERIFY(message.endsWith(QStringLiteral(". Close any other program using it.")));
    }

    // The real flasher on its worker thread against a board behind a pseudo-terminal.
    void workerThreadOverTheCable()
    {
        SimulatedV4Receiver receiver;
        QThread thread;
        auto *flasher = new ReceiverV4Flasher;
        flasher->moveToThread(&thread);
        connect(&thread, &QThread::finished, flasher, &QObject::deleteLater);
        thread.start();
        QSignalSpy finished(flasher, &ReceiverV4Flasher::finished);
        QSignalSpy info(flasher, &ReceiverV4Flasher::boardInfo);
        QSignalSpy prompts(flasher, &ReceiverV4Flasher::powerCycleRequested);

        QMetaObject::invokeMethod(flasher, "readBoard", Qt::QueuedConnection, Q_ARG(QString, receiver.portName()));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, Patience);
        QCOMPARE(finished.first(), QList<QVariant>({ true, QStringLiteral("1.2.0") }));
        QCOMPARE(info.first(), QList<QVariant>({ QStringLiteral("1.2.0"), QStringLiteral("QOR-V4-G0B1"), false }));

        const QByteArray bin = firmwareBytes(2100);
        QMetaObject::invokeMethod(flasher, "update", Qt::QueuedConnection, Q_ARG(QString, receiver.portName()),
                                  Q_ARG(corvane::ReceiverV4Flasher::Image, imageOf(bin)));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, Patience);
        QCOMPARE(finished.last(), QList<QVariant>({ true, QStringLiteral("1.3.0") }));
        QCOMPARE(receiver.board().flash.left(bin.size()), bin);
        QCOMPARE(prompts.count(), 0);

        // A board that never answers: stopped during the power-cycle wait.
        receiver.board().mode = V4BoardModel::Off;
        QMetaObject::invokeMethod(flasher, "update", Qt::QueuedConnection, Q_ARG(QString, receiver.portName()),
                                  Q_ARG(corvane::ReceiverV4Flasher::Image, imageOf(bin)));
        QTRY_COMPARE_WITH_TIMEOUT(prompts.count(), 1, Patience);
        flasher->requestStop();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, Patience);
        QCOMPARE(prompts.count(), 2);
        QCOMPARE(prompts.last().at(0).toBool(), false);
        QCOMPARE(finished.last(), QList<QVariant>({ false, QStringLiteral("Cancelled.") }));

        thread.quit();
        thread.wait();
    }
};

OSTRA_TEST_MAIN_CORE(TestReceiverV4Flasher)
#include "tst_receiverv4flasher.moc"
