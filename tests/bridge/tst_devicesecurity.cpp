#include <QTest>

#include "bridge/devicesecurity.h"
#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"

using corvane::DeviceSecurity;

namespace {

// Once nothing holds the settings and they are written, the next reader parses the file, as
// after a restart.
void reopenFromDisk()
{
    QVERIFY(corvane::SettingsFile::waitForWrites(5000));
}

void store(const QVariant &ids, const QVariant &provisioning)
{
    corvane::SettingsFile().setValues(QStringLiteral("DeviceSecurity"),
                                      {{QStringLiteral("authorizedDevices"), ids}, {QStringLiteral("provisioningMode"), provisioning}});
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
