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

// Settings read within one process come from a cache; point them at a copy of the file so
// the next reader parses what was written, as after a restart.
void reopenFromDisk()
{
    static int generation = 0;
    QString file;
    {
        QSettings settings;
        settings.sync();
        file = settings.fileName();
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QDir::homePath() + QStringLiteral("/settings-%1").arg(++generation));
    const QString copy = QSettings().fileName();
    QVERIFY(QDir().mkpath(QFileInfo(copy).absolutePath()));
    if (QFile::exists(file))
        QVERIFY(QFile::copy(file, copy));
}

void store(const QVariant &ids, const QVariant &provisioning)
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("DeviceSecurity"));
    settings.setValue("authorizedDevices", ids);
    settings.setValue("provisioningMode", provisioning);
}

} // namespace

class TestDeviceSecurity : public QObject
{
    Q_OBJECT

private slots:
    void checkDevice_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<bool>("provisioning");
        QTest::addColumn<QString>("reported");
        QTest::addColumn<QStringList>("expectedList");
        QTest::addColumn<bool>("authorized");
        QTest::newRow("provisioning appends upper-cased") << QStringList{"AB-12"} << true << "cd34"
                                                          << QStringList{"AB-12", "CD34"} << true;
        QTest::newRow("known id is not added again") << QStringList{"AB-12"} << true << "ab-12"
                                                     << QStringList{"AB-12"} << true;
        QTest::newRow("listed id matches whatever its case") << QStringList{"AB12"} << false << "ab12"
                                                             << QStringList{"AB12"} << true;
        QTest::newRow("unlisted id is rejected") << QStringList{"AB12"} << false << "cd34" << QStringList{"AB12"}
                                                 << false;
    }

    void checkDevice()
    {
        QFETCH(QStringList, stored);
        QFETCH(bool, provisioning);
        QFETCH(QString, reported);
        QFETCH(QStringList, expectedList);
        QFETCH(bool, authorized);
        store(stored, provisioning);
        DeviceSecurity security;
        QSignalSpy rejected(&security, &DeviceSecurity::deviceRejected);
        QTest::ignoreMessage(authorized ? QtDebugMsg : QtWarningMsg,
                             QRegularExpression("Device (AUTHORIZED|REJECTED): " + reported.toUpper()));
        security.checkDevice(reported);
        QCOMPARE(security.isCurrentDeviceAuthorized(), authorized);
        QCOMPARE(rejected.count(), authorized ? 0 : 1);
        QCOMPARE(DeviceSecurity().authorizedDevices(), expectedList);
    }

    void persistsAcrossObjects()
    {
        store(QStringList{}, true);
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
            QVERIFY(!second.provisioningMode());
            // Removing the last entry must not make the stored list look damaged at the next start.
            second.setProvisioningMode(true);
            second.removeDevice("aa11");
            second.removeDevice("BB22");
        }
        reopenFromDisk();
        DeviceSecurity third;
        QVERIFY(third.provisioningMode() && third.authorizedDevices().isEmpty());
    }

    void damagedSettings_data()
    {
        QTest::addColumn<QVariant>("list");
        QTest::addColumn<QVariant>("flag");
        QTest::addColumn<QStringList>("readable");
        QTest::newRow("list stored as a map, flag on") << QVariant(QVariantMap{{"AB12", 1}}) << QVariant(true)
                                                       << QStringList{};
        QTest::newRow("flag is not a truth value") << QVariant(QStringList{"AB12"}) << QVariant("banana")
                                                   << QStringList{"AB12"};
        QTest::newRow("hand-written entries are normalised") << QVariant(QStringList{" ab12 ", "", "cd34"})
                                                             << QVariant("false") << QStringList{"AB12", "CD34"};
    }

    // What cannot be read locks every transmitter out until the owner provisions again.
    void damagedSettings()
    {
        QFETCH(QVariant, list);
        QFETCH(QVariant, flag);
        QFETCH(QStringList, readable);
        store(list, flag);
        reopenFromDisk();
        DeviceSecurity security;
        QVERIFY(!security.provisioningMode());
        QCOMPARE(security.authorizedDevices(), readable);
        security.checkDevice("zz99");
        QVERIFY(!security.isCurrentDeviceAuthorized());
        security.setProvisioningMode(true);
        security.checkDevice("zz99");
        QCOMPARE(DeviceSecurity().authorizedDevices(), readable + QStringList{"ZZ99"});
    }
};

OSTRA_TEST_MAIN_CORE(TestDeviceSecurity)
#include "tst_devicesecurity.moc"
