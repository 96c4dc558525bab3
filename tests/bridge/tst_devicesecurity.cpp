#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
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
    // "AB12" on the list; ids are compared and stored upper-cased.
    void checkDevice_data()
    {
        QTest::addColumn<bool>("provisioning");
        QTest::addColumn<QString>("reported");
        QTest::addColumn<QStringList>("expectedList");
        QTest::addColumn<bool>("authorized");
        QTest::newRow("provisioning appends") << true << "cd34" << QStringList{"AB12", "CD34"} << true;
        QTest::newRow("listed id matches whatever its case") << false << "ab12" << QStringList{"AB12"} << true;
        QTest::newRow("unlisted id is rejected") << false << "cd34" << QStringList{"AB12"} << false;
    }

    void checkDevice()
    {
        QFETCH(bool, provisioning);
        QFETCH(QString, reported);
        QFETCH(QStringList, expectedList);
        QFETCH(bool, authorized);
        store(QStringList{"AB12"}, provisioning);
        DeviceSecurity security;
        QTest::ignoreMessage(authorized ? QtDebugMsg : QtWarningMsg,
                             QRegularExpression("Device (AUTHORIZED|REJECTED): " + reported.toUpper()));
        security.checkDevice(reported);
        QCOMPARE(security.isCurrentDeviceAuthorized(), authorized);
        QCOMPARE(DeviceSecurity().authorizedDevices(), expectedList);
    }

    void persistsAcrossObjects()
    {
        store(QStringList{}, true);
        {
            DeviceSecurity first;
            first.checkDevice("aa11");
            first.setProvisioningMode(false);
        }
        reopenFromDisk();
        {
            DeviceSecurity second;
            QCOMPARE(second.authorizedDevices(), QStringList{"AA11"});
            QVERIFY(!second.provisioningMode());
            // Removing the last entry must not make the stored list look damaged at the next start.
            second.setProvisioningMode(true);
            second.removeDevice("aa11");
        }
        reopenFromDisk();
        DeviceSecurity third;
        QVERIFY(third.provisioningMode() && third.authorizedDevices().isEmpty());
    }

    // A list that cannot be read locks every transmitter out until the owner provisions again.
    void damagedSettings()
    {
        store(QVariantMap{{"AB12", 1}}, true);
        reopenFromDisk();
        DeviceSecurity security;
        QVERIFY(!security.provisioningMode());
        QVERIFY(security.authorizedDevices().isEmpty());
        security.checkDevice("ab12");
        QVERIFY(!security.isCurrentDeviceAuthorized());
        security.setProvisioningMode(true);
        security.checkDevice("zz99");
        QCOMPARE(DeviceSecurity().authorizedDevices(), QStringList{"ZZ99"});
    }
};

OSTRA_TEST_MAIN_CORE(TestDeviceSecurity)
#include "tst_devicesecurity.moc"
