#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include "api/dialogs/webstatusdialog.h"
#include "api/websocketserver.h"
#include "bridge/corvanecontroller.h"
#include "ostraui/theme.h"
#include "platform/network/networkinterfacelister.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"

using corvane::WebStatusDialog;
using Entry = corvane::NetworkInterfaceEntry;

namespace {

Entry nic(const QString &name, const QStringList &addresses, bool running = true)
{
    Entry entry;
    entry.name = name;
    entry.up = true;
    entry.running = running;
    for (const QString &address : addresses)
        entry.addresses.append(QHostAddress(address));
    return entry;
}

Entry loopback()
{
    Entry entry = nic("lo", {"127.0.0.1", "::1"});
    entry.loopback = true;
    return entry;
}

QString picture(const QString &name)
{
    return ostratest::artefactDir("api") + QStringLiteral("/%1-%2.png").arg(name, ostra::isDarkTheme() ? "dark" : "light");
}

QLabel *qrLabel(WebStatusDialog &dialog)
{
    for (QLabel *label : dialog.findChildren<QLabel *>()) {
        if (label->styleSheet().startsWith("background: white"))
            return label;
    }
    return nullptr;
}

QPushButton *button(WebStatusDialog &dialog, const QString &text)
{
    for (QPushButton *candidate : dialog.findChildren<QPushButton *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

} // namespace

class TestWebStatusDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    // The dialogs below see one home network, whatever this machine has.
    void init() { corvane::NetworkInterfaceLister::setFixedInterfaces({loopback(), nic("wlp2s0", {"192.168.1.20"})}); }
    void cleanup() { corvane::NetworkInterfaceLister::useSystemInterfaces(); }

    void pickLanAddress_data()
    {
        QTest::addColumn<QList<Entry>>("interfaces");
        QTest::addColumn<QString>("address");
        QTest::newRow("home beats office") << QList<Entry>{loopback(), nic("eth0", {"10.0.0.5"}), nic("wlan0", {"192.168.1.20"})}
                                           << "192.168.1.20";
        QTest::newRow("openvpn only") << QList<Entry>{loopback(), nic("OpenVPN Data Channel", {"10.8.0.2"})} << "127.0.0.1";
        QTest::newRow("not running") << QList<Entry>{nic("eth0", {"192.168.1.20"}, false), nic("eth1", {"172.20.0.3"})}
                                     << "172.20.0.3";
        QTest::newRow("cgnat loses") << QList<Entry>{nic("eth0", {"100.101.4.5"}), nic("eth1", {"81.2.3.4"})} << "81.2.3.4";
        QTest::newRow("docker skipped") << QList<Entry>{nic("docker0", {"172.17.0.1"}), nic("enp3s0", {"203.0.113.9"})}
                                        << "203.0.113.9";
        QTest::newRow("container bridges") << QList<Entry>{nic("br-5f2a", {"172.18.0.1"}), nic("veth12", {"10.1.1.1"}),
                                                           nic("virbr0", {"192.168.122.1"}), nic("tun0", {"10.8.0.1"}),
                                                           nic("wg0", {"10.9.0.1"}), nic("eth0", {"8.8.4.4"})}
                                           << "8.8.4.4";
        QTest::newRow("172.32 is public") << QList<Entry>{nic("eth0", {"172.32.0.1"}), nic("eth1", {"172.31.0.1"})}
                                          << "172.31.0.1";
    }

    void pickLanAddress()
    {
        QFETCH(QList<Entry>, interfaces);
        QFETCH(QString, address);
        corvane::NetworkInterfaceLister::setFixedInterfaces(interfaces);
        QCOMPARE(WebStatusDialog::pickLanAddress(), address);
    }

    // Off every network (loopback alone) there is no address a phone can reach: the dialog says
    // so instead of offering 127.0.0.1.
    void contents_data()
    {
        QTest::addColumn<QList<Entry>>("interfaces");
        QTest::addColumn<QString>("shown");
        QTest::newRow("home network") << QList<Entry>{loopback(), nic("wlp2s0", {"192.168.1.20"})} << "192.168.1.20";
        QTest::newRow("no network") << QList<Entry>{loopback()} << "No network found";
    }

    void contents()
    {
        QFETCH(QList<Entry>, interfaces);
        QFETCH(QString, shown);
        corvane::NetworkInterfaceLister::setFixedInterfaces(interfaces);
        corvane::CorvaneController controller;
        corvane::WebSocketServer server(&controller);
        WebStatusDialog dialog(&server, nullptr);
        QCOMPARE(dialog.windowTitle(), QString("Connect from Mobile Device"));
        QLabel *addressLabel = nullptr;
        for (QLabel *label : dialog.findChildren<QLabel *>()) {
            if (label->text() == shown)
                addressLabel = label;
        }
        QVERIFY(addressLabel);
        const bool reachable = shown != "No network found";
        QCOMPARE(!qrLabel(dialog)->isHidden(), reachable);
        QCOMPARE(dialog.findChild<QLabel *>("noNetworkNote") != nullptr, !reachable);
        QCOMPARE(button(dialog, "Copy IP") != nullptr, reachable);
        // No step points at an address or a code that is not shown.
        const QString steps = dialog.findChild<QLabel *>("instructions")->text();
        QCOMPARE(steps.contains("IP address shown above"), reachable);
        QCOMPARE(steps.contains("QR code"), reachable);
        QVERIFY(steps.contains("2. Open the app and tap \"Connect with Custom IP\""));
        if (!reachable)
            return;

        QGuiApplication::clipboard()->setText("something else");
        button(dialog, "Copy IP")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), shown);

        button(dialog, "Close")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    // The card shows all of its content, without a scroll bar and without an empty band above
    // Close, on a network and off every network.
    void render_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::newRow("on a network") << true;
        QTest::newRow("no network") << false;
    }

    void render()
    {
        QFETCH(bool, reachable);
        if (!reachable)
            corvane::NetworkInterfaceLister::setFixedInterfaces({loopback()});
        corvane::CorvaneController controller;
        corvane::WebSocketServer server(&controller);
        QVERIFY(server.start(0));
        WebStatusDialog dialog(&server, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.resize(dialog.sizeHint());
        auto *scroll = dialog.findChild<QScrollArea *>();
        QTRY_COMPARE(scroll->viewport()->width(), scroll->width());
        QWidget *steps = dialog.findChild<QLabel *>("instructions");
        QPushButton *close = button(dialog, "Close");
        const int spacing = dialog.findChild<QWidget *>("ostraDialogContent")->layout()->spacing();
        QCOMPARE(close->y() - steps->geometry().bottom() - 1, spacing);
        QVERIFY(dialog.grab().save(picture(reachable ? "web-status-dialog" : "web-status-dialog-no-network")));
        if (reachable) {
            // The code stays on white in both themes, so a phone can scan it.
            QLabel *qr = qrLabel(dialog);
            const QImage label = qr->grab().toImage();
            QCOMPARE(label.pixelColor(4, label.height() / 2), QColor(Qt::white));
            QCOMPARE(label.pixelColor(label.width() - 4, label.height() / 2), QColor(Qt::white));
        }
        server.stop();
    }

    void darkTheme()
    {
        if (ostra::isDarkTheme())
            QSKIP("this run is the dark one");
        QVERIFY(ostratest::runDarkTwin("api", {"render"}));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestWebStatusDialog)
#include "tst_webstatusdialog.moc"
