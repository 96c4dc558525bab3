#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "bridge/devicesecurity.h"
#include "support/testenvironment.h"

using corvane::DeviceSecurity;

namespace {

const QString kGroup = QStringLiteral("DeviceSecurity");

// Every signal of the allow-list in the order it came, with its argument.
struct EventLog : QObject
{
    explicit EventLog(DeviceSecurity &security)
    {
        connect(&security, &DeviceSecurity::authorizedDevicesChanged, this, [this] { events << "changed"; });
        connect(&security, &DeviceSecurity::deviceAuthorized, this,
                [this](const QString &id) { events << "authorized:" + id; });
        connect(&security, &DeviceSecurity::deviceRejected, this,
                [this](const QString &id) { events << "rejected:" + id; });
        connect(&security, &DeviceSecurity::provisioningModeChanged, this,
                [this](bool on) { events << (on ? "provisioning:on" : "provisioning:off"); });
    }
    QStringList events;
};

// Settings read within one process come from a cache; a restart of the program reads the
// file. Point the settings at a copy of the file so the next reader parses what was written.
void reopenFromDisk()
{
    static int generation = 0;
    QString file;
    {
        QSettings settings;
        settings.sync();
        file = settings.fileName();
    }
    const QString base = QDir::homePath() + QStringLiteral("/settings-%1").arg(++generation);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, base);
    const QString copy = QSettings().fileName();
    QVERIFY(QDir().mkpath(QFileInfo(copy).absolutePath()));
    if (QFile::exists(file))
        QVERIFY(QFile::copy(file, copy));
}

void store(const QStringList &ids, bool provisioning)
{
    DeviceSecurity seed;
    QSettings settings;
    settings.beginGroup(kGroup);
    settings.setValue("authorizedDevices", ids);
    settings.setValue("provisioningMode", provisioning);
}

} // namespace

class TestDeviceSecurity : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings().remove(kGroup);
    }

    void checkDevice_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<bool>("provisioning");
        QTest::addColumn<QString>("reported");
        QTest::addColumn<QStringList>("expectedList");
        QTest::addColumn<QStringList>("expectedEvents");

        QTest::newRow("first transmitter is provisioned upper-cased")
            << QStringList{} << true << "ab-12" << QStringList{"AB-12"} << QStringList{"changed", "authorized:AB-12"};
        QTest::newRow("known transmitter in provisioning is not added again")
            << QStringList{"AB-12"} << true << "ab-12" << QStringList{"AB-12"} << QStringList{"authorized:AB-12"};
        QTest::newRow("second transmitter is appended after the first")
            << QStringList{"AB-12"} << true << "cd34" << QStringList{"AB-12", "CD34"}
            << QStringList{"changed", "authorized:CD34"};
        QTest::newRow("listed id matches whatever its case")
            << QStringList{"AB12"} << false << "ab12" << QStringList{"AB12"} << QStringList{"authorized:AB12"};
        QTest::newRow("unlisted id is rejected and not added")
            << QStringList{"AB12"} << false << "cd34" << QStringList{"AB12"} << QStringList{"rejected:CD34"};
        QTest::newRow("empty id only clears the current device")
            << QStringList{"AB12"} << true << "" << QStringList{"AB12"} << QStringList{};
    }

    void checkDevice()
    {
        QFETCH(QStringList, stored);
        QFETCH(bool, provisioning);
        QFETCH(QString, reported);
        QFETCH(QStringList, expectedList);
        QFETCH(QStringList, expectedEvents);
        const bool currentAuthorized = !expectedEvents.isEmpty() && expectedEvents.last().startsWith("authorized");

        store(stored, provisioning);
        DeviceSecurity security;
        EventLog log(security);

        if (!reported.isEmpty()) {
            const QString id = reported.toUpper();
            if (provisioning)
                QTest::ignoreMessage(QtDebugMsg,
                                     qPrintable("[SECURITY] Provisioning mode: auto-added device " + id));
            if (currentAuthorized)
                QTest::ignoreMessage(QtDebugMsg, qPrintable("[SECURITY] Device AUTHORIZED: " + id));
            else
                QTest::ignoreMessage(QtWarningMsg, qPrintable("[SECURITY] Device REJECTED: " + id));
        }
        security.checkDevice(reported);

        QCOMPARE(security.authorizedDevices(), expectedList);
        QCOMPARE(log.events, expectedEvents);
        QCOMPARE(security.isCurrentDeviceAuthorized(), currentAuthorized);
        QCOMPARE(security.currentDeviceId(), reported.toUpper());
        QCOMPARE(DeviceSecurity().authorizedDevices(), expectedList);
    }

    void removeDevice_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QStringList>("expectedList");
        QTest::addColumn<int>("changes");

        QTest::newRow("lower-case id removes the entry") << QStringList{"AB12", "CD34"} << "ab12"
                                                        << QStringList{"CD34"} << 1;
        QTest::newRow("unknown id changes nothing") << QStringList{"AB12"} << "EF56" << QStringList{"AB12"} << 0;
        QTest::newRow("every copy goes") << QStringList{"AB12", "CD34", "AB12"} << "AB12" << QStringList{"CD34"} << 1;
    }

    void removeDevice()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, removed);
        QFETCH(QStringList, expectedList);
        QFETCH(int, changes);

        store(stored, false);
        DeviceSecurity security;
        QSignalSpy spy(&security, &DeviceSecurity::authorizedDevicesChanged);
        security.removeDevice(removed);
        QCOMPARE(security.authorizedDevices(), expectedList);
        QCOMPARE(spy.count(), changes);
        reopenFromDisk();
        DeviceSecurity reloaded;
        QCOMPARE(reloaded.authorizedDevices(), expectedList);
        QVERIFY(!reloaded.provisioningMode());
    }

    void persistsAcrossObjects()
    {
        {
            DeviceSecurity first;
            first.checkDevice("aa11");
            first.checkDevice("bb22");
            first.setProvisioningMode(false);
        }
        reopenFromDisk();
        {
            DeviceSecurity second;
            QCOMPARE(second.authorizedDevices(), (QStringList{"AA11", "BB22"}));
            QVERIFY(!second.provisioningMode() && second.currentDeviceId().isEmpty());
            QVERIFY(second.isAuthorized("bb22") && !second.isAuthorized("cc33"));
            // Removing the last entry must not make the stored list look damaged at the next start.
            second.setProvisioningMode(true);
            second.removeDevice("AA11");
            second.removeDevice("bb22");
        }
        reopenFromDisk();
        DeviceSecurity third;
        QVERIFY(third.provisioningMode() && third.authorizedDevices().isEmpty());
    }

    void provisioningSwitch()
    {
        store({"AB12"}, false);
        DeviceSecurity security;
        security.checkDevice("CD34");
        QVERIFY(!security.isCurrentDeviceAuthorized());

        EventLog log(security);
        security.setProvisioningMode(false);
        QVERIFY(log.events.isEmpty());
        security.setProvisioningMode(true);
        QCOMPARE(log.events, QStringList{"provisioning:on"});
        // Every id counts as authorized while provisioning, but nothing is added until reported.
        QVERIFY(security.isCurrentDeviceAuthorized());
        QCOMPARE(security.authorizedDevices(), QStringList{"AB12"});
        QVERIFY(DeviceSecurity().provisioningMode());
    }

    void damagedSettings_data()
    {
        QTest::addColumn<bool>("writeList");
        QTest::addColumn<QVariant>("list");
        QTest::addColumn<bool>("writeFlag");
        QTest::addColumn<QVariant>("flag");
        QTest::addColumn<bool>("provisioning");
        QTest::addColumn<QStringList>("readable");
        QTest::addColumn<bool>("warned");

        QTest::newRow("undecodable list, flag missing")
            << true << QVariant() << false << QVariant() << false << QStringList{} << true;
        QTest::newRow("list stored as a map")
            << true << QVariant(QVariantMap{{"AB12", 1}}) << true << QVariant(true) << false << QStringList{} << true;
        QTest::newRow("list stored as bytes")
            << true << QVariant(QByteArray("\x01\xff", 2)) << false << QVariant() << false << QStringList{} << true;
        QTest::newRow("flag is not a truth value") << true << QVariant(QStringList{"AB12"}) << true
                                                   << QVariant("banana") << false << QStringList{"AB12"} << true;
        QTest::newRow("hand-written lower-case entries are normalised")
            << true << QVariant(QStringList{" ab12 ", "", "cd34"}) << true << QVariant("false")
            << false << QStringList{"AB12", "CD34"} << false;
        QTest::newRow("flag written as text true")
            << false << QVariant() << true << QVariant("true") << true << QStringList{} << false;
    }

    void damagedSettings()
    {
        QFETCH(bool, writeList);
        QFETCH(QVariant, list);
        QFETCH(bool, writeFlag);
        QFETCH(QVariant, flag);
        QFETCH(bool, provisioning);
        QFETCH(QStringList, readable);
        QFETCH(bool, warned);

        {
            QSettings settings;
            settings.beginGroup(kGroup);
            if (writeList)
                settings.setValue("authorizedDevices", list);
            if (writeFlag)
                settings.setValue("provisioningMode", flag);
        }
        reopenFromDisk();

        if (warned)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^\\[SECURITY\\] Stored"));
        DeviceSecurity security;
        QCOMPARE(security.provisioningMode(), provisioning);
        QCOMPARE(security.authorizedDevices(), readable);

        if (!provisioning) {
            // A transmitter that is not on the readable list stays locked out and is not added.
            QTest::ignoreMessage(QtWarningMsg, "[SECURITY] Device REJECTED: ZZ99");
            security.checkDevice("zz99");
            QVERIFY(!security.isCurrentDeviceAuthorized());
            QCOMPARE(security.authorizedDevices(), readable);

            // The owner provisions again and the next transmitter is taken.
            security.setProvisioningMode(true);
            QTest::ignoreMessage(QtDebugMsg, "[SECURITY] Provisioning mode: auto-added device ZZ99");
            QTest::ignoreMessage(QtDebugMsg, "[SECURITY] Device AUTHORIZED: ZZ99");
            security.checkDevice("zz99");
            QVERIFY(security.isCurrentDeviceAuthorized());
            DeviceSecurity reloaded;
            QVERIFY(reloaded.provisioningMode());
            QCOMPARE(reloaded.authorizedDevices(), readable + QStringList{"ZZ99"});
        }
    }
};

OSTRA_TEST_MAIN_CORE(TestDeviceSecurity)
#include "tst_devicesecurity.moc"
