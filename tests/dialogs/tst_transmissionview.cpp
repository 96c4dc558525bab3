#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <memory>

#include "bridge/corvanecontroller.h"
#include "bridge/elrsparametermanager.h"
#include "dialogs/currentpagetabwidget.h"
#include "dialogs/transmissionview.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "profiles/profilename.h"
#include "receiver/receiversettingspanel.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"
#include "support/transmitrig.h"
#include "support/widgets/contrast.h"
#include "support/widgets/modalanswerer.h"
#include "support/widgets/widgetlookup.h"

using corvane::ElrsParameterManager;
using corvane::TransmissionView;
using ostratest::ModalAnswerer;
using ostratest::SimulatedTransmitter;
using ostratest::TransmitRig;

namespace {

const QString IdleText = QStringLiteral("Press Start Configuring to read RF settings.");
const QString EngagingText = QStringLiteral("Engaging ELRS module… (a few seconds)");
const QString ReadOnlyText = QStringLiteral(
    "Config mode stopped — settings shown from last discovery. Press Start Configuring to make changes.");

// What the tab says once nothing answered on the transmitter's port.
QString silentText(const corvane::CorvaneController &controller)
{
    return controller.transmitterSilentMessage() + QStringLiteral(" Then press Start configuring to try again.");
}

// The module of the parameter tests: a folder, a value under a non-folder parent, a bind entry
// and a command that get no row, and a power whose top option the module refuses (max 2).
QList<SimulatedTransmitter::Field> moduleFields()
{
    using T = SimulatedTransmitter;
    return {
        {1, T::textSelectionEntry(0, "Packet Rate", {"50Hz", "100Hz Full", "150Hz", "250Hz"}, 3, 0, 3, 3)},
        {2, T::folderEntry(0, "Radio")},
        {3, T::textSelectionEntry(2, "Max Power", {"10", "25", "50", "100"}, 2, 0, 2, 2, "mW")},
        {4, T::commandEntry(0, "Enable WiFi")},
        {5, T::textSelectionEntry(0, "bInD", {"Off", "On"}, 0, 0, 1, 0)},
        {6, T::uint8Entry(9, "Model Id", 5, 0, 63, 0, "#")},
    };
}

// A view over a rig's controller, shown in a window as the main window would host it.
struct Host
{
    explicit Host(TransmitRig &rig, bool connect = true)
        : rig(rig)
    {
        if (connect)
            QVERIFY(rig.openTransmitter());
        window.resize(1100, 900);
        window.show();
        view = std::make_unique<TransmissionView>(rig.controller.get(), &window);
        view->finishBuilding();
    }

    QPushButton *button(const QString &text) const
    {
        for (QPushButton *b : view->findChildren<QPushButton *>()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    QLabel *label(const QString &text) const
    {
        for (QLabel *l : view->findChildren<QLabel *>()) {
            if (l->text() == text)
                return l;
        }
        return nullptr;
    }
    // The value under a link card caption.
    QLabel *statLabel(const QString &caption) const
    {
        QLabel *captionLabel = label(caption);
        auto *grid = qobject_cast<QGridLayout *>(captionLabel->parentWidget()->layout()->itemAt(1)->layout());
        int row = 0, column = 0, rs = 0, cs = 0;
        grid->getItemPosition(grid->indexOf(captionLabel), &row, &column, &rs, &cs);
        return qobject_cast<QLabel *>(grid->itemAtPosition(row + 1, column)->widget());
    }
    QString stat(const QString &caption) const { return statLabel(caption)->text(); }
    QPlainTextEdit *console() const
    {
        for (auto *edit : view->findChildren<QPlainTextEdit *>()) {
            if (edit->placeholderText().startsWith("Telemetry frames"))
                return edit;
        }
        return nullptr;
    }
    QStringList consoleLines() const
    {
        const QString text = console()->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
    QLineEdit *commandLine() const
    {
        for (auto *edit : view->findChildren<QLineEdit *>()) {
            if (edit->placeholderText().startsWith("Type a command"))
                return edit;
        }
        return nullptr;
    }
    QTreeWidget *tree(const QString &firstHeader) const
    {
        for (auto *tree : view->findChildren<QTreeWidget *>()) {
            if (tree->headerItem()->text(0) == firstHeader)
                return tree;
        }
        return nullptr;
    }
    QTreeWidget *sensors() const { return tree("Sensor"); }
    QTreeWidget *parameters() const { return tree("Setting"); }
    QString banner() const
    {
        auto *frame = view->findChild<QFrame *>("stateBanner");
        return frame->isHidden() ? QString() : frame->findChild<QLabel *>()->text();
    }
    // Shown as far as the view decides: the tab holding it may be another.
    static bool shown(QWidget *w) { return w && !w->isHidden(); }
    QWidget *row(const QString &name) const
    {
        for (QWidget *w : parameters()->findChildren<QWidget *>()) {
            if (!qobject_cast<QComboBox *>(w) && w->property("paramName").toString() == name)
                return w;
        }
        return nullptr;
    }
    QComboBox *combo(const QString &name) const { return row(name)->findChild<QComboBox *>(); }
    QLabel *rowLabel(const QString &name) const { return row(name)->findChild<QLabel *>("pendingLabel"); }
    void choose(const QString &name, const QString &option) const
    {
        QComboBox *box = combo(name);
        const int index = box->findText(option);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    QList<QComboBox *> manualCombos() const
    {
        return view->findChild<QFrame *>("manualPanel")->findChildren<QComboBox *>();
    }
    QString unsaved() const
    {
        auto *bar = view->findChild<QFrame *>("applyBar");
        return bar->isHidden() ? QString() : bar->findChild<QLabel *>()->text();
    }
    void tick() const { QMetaObject::invokeMethod(view.get(), "refreshCounters", Qt::DirectConnection); }
    void retryTimeout() const { QMetaObject::invokeMethod(view.get(), "onRetryTimeout", Qt::DirectConnection); }
    ElrsParameterManager *manager() const { return rig.controller->elrsParameterManager(); }

    // Configuration mode on and the module's parameters read.
    bool discover()
    {
        button("Start configuring")->click();
        if (!rig.tx.waitForLine("CFGMODE ON"))
            return false;
        retryTimeout();
        return rig.tx.waitFor([this] { return manager()->state() != ElrsParameterManager::WalkingFields; })
               && manager()->state() == ElrsParameterManager::Ready;
    }

    TransmitRig &rig;
    QWidget window;
    std::unique_ptr<TransmissionView> view;
};

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QString picture(const QString &name)
{
    return ostratest::artefactDir("dialogs")
           + QStringLiteral("/transmissionview-%1-%2.png").arg(name, ostra::isDarkTheme() ? "dark" : "light");
}

void setSensors(TransmitRig &rig, const QStringList &ids, const QStringList &pinned)
{
    Profile *profile = rig.controller->profileManager()->mutableActiveProfile();
    profile->telemetrySensors.clear();
    for (const QString &id : ids)
        profile->telemetrySensors.append({id, id + " label", QString()});
    profile->telemetryDashboard = pinned;
    rig.controller->loadTelemetrySensors();
}

} // namespace

class TestTransmissionView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    // --- console ---

    void consoleFrames_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("line");

        QTest::newRow("link statistics") << 0x14 << bytes("C40064090000000000 00")
                                         << "LINK_STATS  (0x14)  [10]  C4 00 64 09 00 00 00 00 00 00   |  "
                                            "RSSI -60 dBm  LQ 100%  SNR 9 dB";
        QTest::newRow("rc channels") << 0x16 << bytes("0000") << QString();
        QTest::newRow("motion 6 bytes") << 0x08 << bytes("006400C8000A")
                                        << "MOTION      (0x08)  [ 6]  00 64 00 C8 00 0A   |  "
                                           "latA 1.00 m/s²  yaw 2.00 rad/s  jerk 1.0  I 0.0 A";
        QTest::newRow("motion 7 bytes") << 0x08 << bytes("FF9C00C8000A05")
                                        << "MOTION      (0x08)  [ 7]  FF 9C 00 C8 00 0A 05   |  "
                                           "latA -1.00 m/s²  yaw 2.00 rad/s  jerk 1.0  I 0.0 A";
        QTest::newRow("motion current") << 0x08 << bytes("00000000000000FA")
                                        << "MOTION      (0x08)  [ 8]  00 00 00 00 00 00 00 FA   |  "
                                           "latA 0.00 m/s²  yaw 0.00 rad/s  jerk 0.0  I 25.0 A";
        QTest::newRow("g-force") << 0x23 << bytes("07 03E8 FE0C 0000")
                                 << "QOR_MOTION  (0x23)  [ 7]  07 03 E8 FE 0C 00 00   |  seq 7  lon 1.00 g  lat -0.50 g  vert 0.00 g";
        QTest::newRow("vario, no summary") << 0x07 << bytes("0102") << "VARIO       (0x07)  [ 2]  01 02";
        QTest::newRow("short link statistics") << 0x14 << bytes("C400") << "LINK_STATS  (0x14)  [ 2]  C4 00";
    }

    void consoleFrames()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, payload);
        QFETCH(QString, line);
        // One view for every row: a rig and its view take their time to build.
        if (!m_frameHost) {
            m_frameRig = std::make_unique<TransmitRig>();
            m_frameHost = std::make_unique<Host>(*m_frameRig, false);
        }
        Host &host = *m_frameHost;
        host.button("Clear")->click();
        host.view->onCrsfFrameReceived(quint8(type), payload);
        host.tick();
        const QStringList lines = host.consoleLines();
        if (line.isEmpty()) {
            QVERIFY(lines.isEmpty());
            QCOMPARE(host.label("0 frames") != nullptr, true);
            return;
        }
        QCOMPARE(lines.size(), 1);
        QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  ").match(lines.at(0)).hasMatch());
        QCOMPARE(lines.at(0).mid(14), line);
        QVERIFY(host.label("1 frames"));
    }

    void cleanupFrameHost()
    {
        m_frameHost.reset();
        m_frameRig.reset();
    }

    // Real bytes from the transmitter: the frame is logged, its bytes counted, its text lines shown.
    void consoleFromTransmitter()
    {
        TransmitRig rig;
        Host host(rig);
        QVERIFY(rig.tx.sendRaw("hello there\r\n"));
        QVERIFY(rig.tx.sendFrame(0x14, bytes("C4006409000000000000")));
        QVERIFY(rig.tx.waitFor([&] {
            host.tick();
            return host.consoleLines().size() >= 2;
        }));
        QVERIFY(host.consoleLines().contains("hello there"));
        QVERIFY(host.consoleLines().filter("RSSI -60 dBm  LQ 100%  SNR 9 dB").size() == 1);
        QVERIFY(host.label("1 frames"));
        QLabel *rx = host.view->findChildren<QLabel *>().at(0);
        for (QLabel *l : host.view->findChildren<QLabel *>()) {
            if (l->text().startsWith("RX "))
                rx = l;
        }
        QVERIFY(rx->text().startsWith("RX "));
        QVERIFY(rx->text().section(' ', 1, 1).toInt() >= 13 + 14);
    }

    void consolePauseAndClear()
    {
        TransmitRig rig;
        Host host(rig, false);
        QPushButton *pause = host.button("Pause");
        pause->click();
        for (int i = 0; i < 3; ++i)
            host.view->onCrsfFrameReceived(0x07, bytes("0001"));
        host.view->onTransmitterTextLine("  still shown  ");
        host.tick();
        QVERIFY(host.label("3 frames"));
        QCOMPARE(host.consoleLines(), QStringList{"still shown"});
        pause->click();
        host.view->onCrsfFrameReceived(0x07, bytes("0002"));
        host.tick();
        QVERIFY(host.label("4 frames"));
        QCOMPARE(host.consoleLines().size(), 2);
        QVERIFY(host.consoleLines().last().endsWith("00 02"));

        host.view->onCrsfFrameReceived(0x07, bytes("0003"));
        host.button("Clear")->click();
        host.tick();
        QVERIFY(host.consoleLines().isEmpty());
        QVERIFY(host.label("0 frames"));
    }

    // More frames than the console keeps, within one tick: the newest 400 remain.
    void consoleBurst()
    {
        TransmitRig rig;
        Host host(rig, false);
        for (int i = 0; i < 450; ++i)
            host.view->onCrsfFrameReceived(0x07, QByteArray(1, char(i >> 8)) + char(i & 0xFF));
        host.tick();
        const QStringList lines = host.consoleLines();
        QCOMPARE(lines.size(), 400);
        QVERIFY(lines.first().endsWith("00 32"));
        QVERIFY(lines.last().endsWith("01 C1"));
        QVERIFY(host.label("450 frames"));
    }

    void commands_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("echo");
        QTest::newRow("sent") << true << "STATUS" << "> STATUS   [sent 7 bytes]";
        QTest::newRow("trimmed") << true << "  STATUS  " << "> STATUS   [sent 7 bytes]";
        QTest::newRow("port closed") << false << "STATUS" << "> STATUS   [write FAILED — transmitter not connected]";
        QTest::newRow("blank") << true << "   " << QString();
    }

    void commands()
    {
        QFETCH(bool, connected);
        QFETCH(QString, typed);
        QFETCH(QString, echo);
        TransmitRig rig;
        Host host(rig, connected);
        rig.tx.clearRecords();
        host.commandLine()->setText(typed);
        QTest::keyClick(host.commandLine(), Qt::Key_Return);
        // The transmitter's own lines may reach the console meanwhile; echoes start with "> ".
        const QStringList echoes = host.consoleLines().filter(QRegularExpression("^> "));
        if (echo.isEmpty()) {
            QVERIFY(echoes.isEmpty());
            QCOMPARE(host.commandLine()->text(), typed);
            QTest::qWait(50);
            rig.tx.process();
            QVERIFY(rig.tx.rawReceived().isEmpty());
            return;
        }
        QCOMPARE(echoes, QStringList{echo});
        QVERIFY(host.commandLine()->text().isEmpty());
        if (connected)
            QVERIFY(rig.tx.waitForLine("STATUS"));
    }

    // --- link card ---

    void linkCard()
    {
        TransmitRig rig;
        Host host(rig);
        for (const char *caption : {"RSSI 1 (dBm)", "RSSI 2 (dBm)", "Link Quality", "SNR (dB)", "TX Power", "RF Mode"})
            QCOMPARE(host.stat(caption), QString("\u2014"));
        QCOMPARE(ostratest::shortDashes(host.view.get()), QStringList());
        QLabel *hint = host.label("Link status appears when connected to a receiver.");
        QVERIFY(host.shown(hint));

        QVERIFY(rig.tx.sendLinkStatistics(0, -72, 150, -3, 0, 5, 2));
        QSignalSpy stats(rig.controller.get(), &corvane::CorvaneController::linkStatisticsUpdated);
        QVERIFY(stats.wait());
        QCOMPARE(host.stat("RSSI 1 (dBm)"), QString("—"));
        QCOMPARE(host.stat("RSSI 2 (dBm)"), QString("-72"));
        QCOMPARE(host.stat("Link Quality"), QString("100%"));
        QCOMPARE(host.stat("SNR (dB)"), QString("-3"));
        QCOMPARE(host.stat("TX Power"), QString("2"));
        QCOMPARE(host.stat("RF Mode"), QString("5"));
        QVERIFY(QFontInfo(host.statLabel("RF Mode")->font()).fixedPitch());
        QVERIFY(!host.shown(hint));

        // Discovered parameters name the power: "Max Power" under its folder.
        rig.tx.setFields(SimulatedTransmitter::typicalFields());
        QVERIFY(host.discover());
        QCOMPARE(host.stat("TX Power"), QString("100"));
    }

    // The empty console's placeholder says what will come there: readable at 3:1 or better.
    void consolePlaceholderReads()
    {
        TransmitRig rig;
        Host host(rig);
        host.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.view.get()));
        QPlainTextEdit *console = host.console();
        QVERIFY(console->toPlainText().isEmpty());
        const QImage image = console->viewport()->grab().toImage();
        const double ratio = ostratest::textContrast(image, image.rect().adjusted(2, 2, -2, -2));
        QVERIFY2(ratio >= 3.0, qPrintable(QString::number(ratio)));
    }

    // The scrolled content and its scroll bar keep off the card's right edge and rounded bottom.
    void scrollKeepsOffTheEdges()
    {
        TransmitRig rig;
        Host host(rig);
        host.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.view.get()));
        QScrollArea *scroll = nullptr;
        for (QScrollArea *area : host.view->findChildren<QScrollArea *>()) {
            if (area->objectName() != QLatin1String("ostraDialogScroll"))
                scroll = area;
        }
        QVERIFY(scroll);
        // The card: the dialog less the chrome's shadow room.
        const QRect card = host.view->layout()->contentsRect();
        QWidget *view = host.view.get();
        const int viewportBottom = scroll->viewport()->mapTo(view, QPoint(0, scroll->viewport()->height())).y();
        QVERIFY2(viewportBottom <= card.bottom() + 1 - 12, qPrintable(QString::number(viewportBottom)));
        QScrollBar *bar = scroll->verticalScrollBar();
        QVERIFY(bar->isVisible());
        QVERIFY(bar->mapTo(view, QPoint(bar->width(), 0)).x() <= card.right() + 1 - 4);
    }

    // --- RF settings states ---

    void rfDiscovery()
    {
        TransmitRig rig;
        rig.tx.setFields(moduleFields());
        Host host(rig);
        host.view->showRfSettingsTab();
        host.view->show();
        QCOMPARE(host.banner(), IdleText);
        QStringList progress;
        QObject::connect(host.manager(), &ElrsParameterManager::discoveryProgress, host.view.get(), [&] {
            for (QLabel *l : host.view->findChildren<QLabel *>()) {
                if (l->text().startsWith("Discovering parameters") && host.shown(l))
                    progress.append(l->text());
            }
        });
        host.button("Start configuring")->click();
        QVERIFY(rig.tx.waitForLine("CFGMODE ON"));
        host.retryTimeout();
        QVERIFY(rig.tx.waitForLine("WALKRF"));
        QVERIFY(rig.tx.waitFor([&] { return host.manager()->state() == ElrsParameterManager::Ready; }));
        QVERIFY(progress.contains("Discovering parameters… 1 / 8"));
        QVERIFY(progress.contains("Discovering parameters… 6 / 8"));
        QCOMPARE(host.banner(), QString());
        QVERIFY(host.shown(host.parameters()));
        QVERIFY(host.combo("Packet Rate")->isEnabled());

        host.button("Stop configuring")->click();
        QVERIFY(rig.tx.waitForLine("CFGMODE OFF"));
        QCOMPARE(host.banner(), ReadOnlyText);
        QVERIFY(host.shown(host.parameters()));
        QVERIFY(!host.combo("Packet Rate")->isEnabled());

        // A new view over the same manager opens read-only on the tree, built in a later pass.
        TransmissionView again(rig.controller.get(), &host.window);
        again.show();
        QTRY_VERIFY(again.isPageBuilt(TransmissionView::RfSettingsTab));
        QCOMPARE(again.findChild<QFrame *>("stateBanner")->findChild<QLabel *>()->text(), ReadOnlyText);
    }

    void rfConfigOffDuringWait()
    {
        TransmitRig rig;
        rig.tx.setFields(moduleFields());
        Host host(rig);
        host.button("Start configuring")->click();
        QCOMPARE(host.banner(), EngagingText);
        host.button("Stop configuring")->click();
        QCOMPARE(host.banner(), IdleText);
        host.retryTimeout();
        QVERIFY(rig.tx.waitForLine("CFGMODE OFF"));
        QCOMPARE(rig.tx.lineCount("WALKRF"), 0);
        QCOMPARE(host.manager()->state(), ElrsParameterManager::Idle);
    }

    // A walk that reads nothing falls back to the manual panel with the table's defaults.
    void rfManualPanel()
    {
        TransmitRig rig;
        rig.tx.setFields({});
        Host host(rig);
        QSignalSpy errors(host.manager(), &ElrsParameterManager::error);
        QVERIFY(!host.discover());
        QVERIFY(errors.size() >= 1);
        QVERIFY(host.shown(host.view->findChild<QFrame *>("manualPanel")));
        QCOMPARE(host.banner(), QString());
        QList<QComboBox *> combos = host.manualCombos();
        QStringList shown;
        for (QComboBox *box : combos) {
            shown << box->currentText();
            QVERIFY(box->isEnabled());
        }
        QCOMPARE(shown, (QStringList{"250Hz", "Std", "Wide", "50mW", "Off"}));
        QVERIFY(!host.shown(host.label("Press Start Configuring to send RF settings.")));

        combos.at(0)->setCurrentIndex(5);
        combos.at(3)->setCurrentIndex(2);
        QCOMPARE(host.unsaved(), QString("2 unsaved change(s)"));
        QVERIFY(host.shown(host.label("unsaved")));
        host.button("Discard")->click();
        shown.clear();
        for (QComboBox *box : combos)
            shown << box->currentText();
        QCOMPARE(shown, (QStringList{"250Hz", "Std", "Wide", "50mW", "Off"}));
        QCOMPARE(host.unsaved(), QString());

        // Applied blind, by field id.
        combos.at(4)->setCurrentIndex(1);
        rig.tx.clearRecords();
        host.button("Apply && restart")->click();
        QVERIFY(rig.tx.waitFor([&] { return !rig.tx.parameterWrites().isEmpty(); }));
        QCOMPARE(rig.tx.parameterWrites().first().field, quint8(7));
        QCOMPARE(rig.tx.parameterWrites().first().value, QByteArray(1, '\x01'));

        host.button("Stop configuring")->click();
        QVERIFY(host.shown(host.label("Press Start Configuring to send RF settings.")));
        QVERIFY(!combos.at(0)->isEnabled());
    }

    void rfErrorRetry_data()
    {
        QTest::addColumn<bool>("configuring");
        QTest::addColumn<bool>("readsNothing"); // the walk reads no parameter: the manual panel stands in
        QTest::addColumn<bool>("swapped"); // then a transmitter that answers nothing takes its place
        QTest::newRow("configuration mode on") << true << false << false;
        QTest::newRow("configuration mode off") << false << false << false;
        QTest::newRow("walk reads nothing") << true << true << false;
        QTest::newRow("walk reads nothing, then a silent transmitter") << true << true << true;
    }

    // An error that came while discovering shows once the discovery stopped without a result;
    // Retry reads the module again, out of configuration mode by starting it first.
    void rfErrorRetry()
    {
        QFETCH(bool, configuring);
        QFETCH(bool, readsNothing);
        QFETCH(bool, swapped);
        TransmitRig rig;
        rig.tx.setFields(readsNothing ? QList<SimulatedTransmitter::Field>{} : moduleFields());
        Host host(rig);
        host.button("Start configuring")->click();
        QVERIFY(rig.tx.waitForLine("CFGMODE ON"));
        host.retryTimeout();
        QVERIFY(host.manager()->isDiscovering());
        if (readsNothing) {
            QVERIFY(rig.tx.waitFor([&] { return !host.manager()->isDiscovering(); }));
            rig.tx.setFields(moduleFields());
        } else {
            // A write from elsewhere (the mobile app) during the walk is refused; then the walk stops.
            QVERIFY(!host.manager()->setParameterByIndex("Packet Rate", 1));
            if (configuring)
                host.manager()->abortDiscovery();
            else
                host.button("Stop configuring")->click();
        }
        auto *error = host.view->findChild<QFrame *>("errorBanner");
        QVERIFY(host.shown(error));
        QVERIFY(readsNothing || error->findChild<QLabel *>()->text() == QString("ELRS parameters are not yet discovered."));
        QCOMPARE(host.banner(), QString());
        QCOMPARE(host.shown(host.button("Use manual settings")), !readsNothing);
        QVERIFY(!host.shown(host.parameters()));
        QCOMPARE(host.shown(host.view->findChild<QFrame *>("manualPanel")), readsNothing);
        if (swapped) {
            SimulatedTransmitter silent(QStringLiteral("QORTX02"));
            silent.setSilent(true);
            rig.controller->disconnectTransmitter();
            QVERIFY(rig.controller->connectTransmitter(silent.portName(), 115200));
            QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
            for (int query = 0; query < 4; ++query)
                QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onDeviceIdRetry"));
            QCOMPARE(host.banner(), silentText(*rig.controller));
            QVERIFY(!host.shown(error));
            QVERIFY(!host.shown(host.view->findChild<QFrame *>("manualPanel")));
            return;
        }
        QPushButton *retry = host.button("Retry");
        QVERIFY(retry->isEnabled());
        retry->click();
        if (!configuring) {
            QVERIFY(rig.controller->isConfigMode());
            QCOMPARE(host.banner(), EngagingText);
            host.retryTimeout();
        }
        QVERIFY(host.manager()->isDiscovering());
        QVERIFY(!host.shown(error));
        QVERIFY(rig.tx.waitFor([&] { return host.manager()->state() == ElrsParameterManager::Ready; }));
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.lineCount("WALKRF") == 2; }));
        QVERIFY(host.shown(host.parameters()));
        QVERIFY(host.combo("Packet Rate")->isEnabled());
    }

    // Configuring waits while transmission runs. On a port known silent it asks the transmitter
    // again; the WiFi switch waits for an answer.
    void rfTransmitting_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("transmitting") << false;
        QTest::newRow("nothing answers on the port") << true;
    }

    void rfTransmitting()
    {
        QFETCH(bool, silent);
        TransmitRig rig;
        rig.tx.setFields(moduleFields());
        rig.tx.setAnswersId(!silent);
        QVERIFY(silent ? rig.openTransmitter() : rig.startCar());
        Host host(rig, false);
        host.view->showRfSettingsTab();
        host.view->show();
        QCOMPARE(host.banner(), IdleText);
        if (silent) {
            QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
            for (int query = 0; query < 4; ++query)
                QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onDeviceIdRetry"));
        }
        QPushButton *configure = host.button("Start configuring");
        QPushButton *wifi = host.button("QOR Transmitter");
        QCOMPARE(configure->isEnabled(), silent);
        QVERIFY(!wifi->isEnabled());
        QString refused;
        QVERIFY(!rig.controller->enterWifiUpdateMode(false, &refused));
        QCOMPARE(refused, silent ? rig.controller->transmitterSilentMessage() : QString("Stop transmission first"));
        QCOMPARE(configure->toolTip(), silent ? QString() : QString("Stop transmission first"));
        QCOMPARE(host.banner(), silent ? silentText(*rig.controller) : IdleText);
        if (silent) {
            rig.tx.setAnswersId(true);
            configure->click();
            QVERIFY(rig.tx.waitFor([&] { return rig.controller->isTransmitterAnswered(); }));
            QCOMPARE(host.banner(), EngagingText);
        } else {
            rig.controller->stopTransmissionAndHold();
            QVERIFY(configure->isEnabled());
            QVERIFY(configure->toolTip().isEmpty());
            configure->click();
        }
        QVERIFY(wifi->isEnabled());
        QVERIFY(host.button("Stop configuring")->isEnabled());
    }

    // "Start configuring" pressed before the transmitter has answered: once its ID queries give
    // up, configuring ends with the search, and the tab names the silent port and how to try
    // again. The big button, pressed from the keyboard, asks the transmitter again.
    void rfSilentEndsSearch_data()
    {
        QTest::addColumn<bool>("discovering");
        QTest::newRow("while discovering") << true;
        QTest::newRow("while engaging the module") << false;
    }

    void rfSilentEndsSearch()
    {
        QFETCH(bool, discovering);
        TransmitRig rig;
        rig.tx.setSilent(true);
        rig.tx.setFields(moduleFields());
        Host host(rig);
        host.view->showRfSettingsTab();
        host.view->show();
        host.button("Start configuring")->click();
        QCOMPARE(host.banner(), EngagingText);
        const QString progress = QStringLiteral("Discovering parameters… 0 / 8");
        if (discovering) {
            host.retryTimeout();
            QVERIFY(rig.tx.waitForLine("WALKRF"));
            QVERIFY(host.shown(host.label(progress)));
        }
        QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
        for (int query = 0; query < 4; ++query)
            QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onDeviceIdRetry"));
        QVERIFY(!rig.controller->isConfigMode());
        QVERIFY(!host.manager()->isDiscovering());
        QCOMPARE(host.banner(), silentText(*rig.controller));
        QVERIFY(!host.shown(host.label(progress)));
        QVERIFY(!host.shown(host.view->findChild<QFrame *>("errorBanner")));
        QVERIFY(!host.shown(host.view->findChild<QFrame *>("manualPanel")));
        QPushButton *configure = host.button("Start configuring");
        QVERIFY(configure && configure->isEnabled());
        rig.tx.setSilent(false);
        configure->setFocus();
        QTest::keyClick(configure, Qt::Key_Space);
        QVERIFY(rig.tx.waitFor([&] { return rig.controller->isTransmitterAnswered(); }));
        QVERIFY(rig.controller->isConfigMode());
        QCOMPARE(host.banner(), EngagingText);
    }

    // --- parameters ---

    void parameterTreeLeavesOutBindAndCommands_data()
    {
        QTest::addColumn<QByteArray>("bind");
        QTest::addColumn<int>("parent");
        QTest::newRow("Bind at the top") << QByteArray("Bind") << 0;
        QTest::newRow("BIND in a folder") << QByteArray("BIND") << 2;
        QTest::newRow("bInD under a value") << QByteArray("bInD") << 9;
    }

    // Binding and commands are never one combo pick away: they get no row at all.
    void parameterTreeLeavesOutBindAndCommands()
    {
        QFETCH(QByteArray, bind);
        QFETCH(int, parent);
        using T = SimulatedTransmitter;
        QList<T::Field> fields = moduleFields();
        fields[4] = {5, T::textSelectionEntry(quint8(parent), bind, {"Off", "On"}, 0, 0, 1, 0)};
        fields.append({7, T::commandEntry(2, "Enable Rx WiFi")});
        TransmitRig rig;
        rig.tx.setFields(fields);
        Host host(rig);
        QVERIFY(host.discover());
        QCOMPARE(host.manager()->parameters().size(), 7);
        QStringList shown;
        QTreeWidget *tree = host.parameters();
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem *item = tree->topLevelItem(i);
            shown << item->text(0);
            for (int j = 0; j < item->childCount(); ++j)
                shown << "  " + item->child(j)->text(0);
        }
        QCOMPARE(shown, (QStringList{"Radio", "  Max Power", "Packet Rate", "Model Id"}));
        QVERIFY(!host.row(QString::fromLatin1(bind)));
    }

    void parameterStaging()
    {
        TransmitRig rig;
        rig.tx.setFields(moduleFields());
        Host host(rig);
        QVERIFY(host.discover());
        host.choose("Packet Rate", "100Hz Full");
        QCOMPARE(host.rowLabel("Packet Rate")->text(), QString("(unsaved)"));
        QVERIFY(host.shown(host.rowLabel("Packet Rate")));
        QCOMPARE(host.unsaved(), QString("1 unsaved change(s)"));
        host.choose("Packet Rate", "250Hz");
        QVERIFY(!host.shown(host.rowLabel("Packet Rate")));
        QCOMPARE(host.unsaved(), QString());

        host.choose("Packet Rate", "50Hz");
        host.choose("Max Power", "25");
        host.manualCombos().at(2)->setCurrentIndex(1);
        QCOMPARE(host.unsaved(), QString("3 unsaved change(s)"));
        host.button("Discard")->click();
        QCOMPARE(host.combo("Packet Rate")->currentText(), QString("250Hz"));
        QCOMPARE(host.unsaved(), QString());

        // Staged while read-only: counted, but the bar stays hidden.
        host.button("Stop configuring")->click();
        QCOMPARE(host.banner(), ReadOnlyText);
        host.view->onComboActivated("Packet Rate", 0);
        QCOMPARE(host.unsaved(), QString());
    }

    void parameterApply()
    {
        TransmitRig rig;
        rig.tx.setFields(moduleFields());
        Host host(rig);
        QVERIFY(host.discover());
        host.choose("Packet Rate", "100Hz Full");
        host.choose("Max Power", "25");
        rig.tx.clearRecords();
        host.button("Apply && restart")->click();
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.parameterWrites().size() >= 2; }));
        QList<QPair<int, int>> written;
        for (const auto &write : rig.tx.parameterWrites())
            written.append({write.field, quint8(write.value.at(0))});
        std::sort(written.begin(), written.end());
        QCOMPARE(written, (QList<QPair<int, int>>{{1, 1}, {3, 1}}));
        QVERIFY(!host.shown(host.rowLabel("Packet Rate")));
        QCOMPARE(host.combo("Packet Rate")->currentText(), QString("100Hz Full"));
        QCOMPARE(rig.tx.lineCount("CFGMODE OFF"), 0);

        QMetaObject::invokeMethod(host.view.get(), "showAppliedNotice", Qt::DirectConnection);
        QVERIFY(rig.tx.waitForLine("CFGMODE OFF"));
        QVERIFY(host.shown(host.label("✓ Configuration applied")));
        QCOMPARE(host.banner(), ReadOnlyText);
    }

    void parameterWriteFeedback()
    {
        TransmitRig rig;
        rig.tx.setFields(moduleFields());
        Host host(rig);
        QVERIFY(host.discover());
        QSignalSpy errors(host.manager(), &ElrsParameterManager::error);

        // The module's range stops at "50": the write is refused and the old value comes back.
        host.choose("Max Power", "100");
        host.button("Apply && restart")->click();
        QCOMPARE(host.rowLabel("Max Power")->text(), QString("Write refused"));
        QCOMPARE(host.combo("Max Power")->currentText(), QString("50"));
        QVERIFY(host.combo("Max Power")->isEnabled());
        QCOMPARE(errors.size(), 1);

        // Sent but never confirmed.
        host.choose("Packet Rate", "150Hz");
        {
            const QSignalBlocker silent(host.manager());
            host.button("Apply && restart")->click();
        }
        QCOMPARE(host.rowLabel("Packet Rate")->text(), QString("(pending…)"));
        QVERIFY(!host.combo("Packet Rate")->isEnabled());
        host.view->onWriteTimeout("Packet Rate");
        QCOMPARE(host.rowLabel("Packet Rate")->text(), QString("Write failed"));
        QCOMPARE(host.combo("Packet Rate")->currentText(), QString("250Hz"));
        QVERIFY(host.combo("Packet Rate")->isEnabled());
    }

    // --- sensors ---

    void sensorList()
    {
        TransmitRig rig;
        Host host(rig);
        setSensors(rig, {"RQly", "GSpd"}, {"GSpd"});
        host.tick();
        QTreeWidget *list = host.sensors();
        QCOMPARE(list->topLevelItemCount(), 2);
        QVERIFY(host.label("2 sensors"));
        QTreeWidgetItem *never = list->topLevelItem(1);
        QCOMPARE(never->text(0), QString("GSpd label"));
        QCOMPARE(never->text(1), QString("—"));
        // The list's mono face, or the text face for no value, as its rows are drawn.
        list->ensurePolished();
        const auto fixedPitch = [list](QTreeWidgetItem *item) {
            return QFontInfo(item->font(1).resolve(list->font())).fixedPitch();
        };
        QVERIFY(!fixedPitch(never));
        QCOMPARE(never->checkState(0), Qt::Checked);

        QVERIFY(rig.tx.sendLinkStatistics(-60, -61, 99, 7));
        QVERIFY(rig.tx.waitFor([&] {
            host.tick();
            return list->topLevelItem(0)->text(1) != QString("—");
        }));
        QCOMPARE(list->topLevelItem(0)->text(1), QString("99 %"));
        QVERIFY(fixedPitch(list->topLevelItem(0)));
    }

    void sensorTicks()
    {
        TransmitRig rig;
        Host host(rig);
        // Pinned in another order than the rows, and one pin without a row.
        setSensors(rig, {"AAAA", "BBBB", "CCCC"}, {"CCCC", "GONE", "AAAA"});
        QSignalSpy dashboard(rig.controller.get(), &corvane::CorvaneController::telemetryDashboardChanged);
        host.tick();
        QCOMPARE(dashboard.size(), 0);

        // From the keyboard: Tab from "Delete all" reaches the list, and Space ticks a row.
        host.view->show();
        QApplication::setActiveWindow(host.view.get());
        QVERIFY(QTest::qWaitForWindowActive(host.view.get()));
        host.button("Delete all")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), host.sensors());
        QTest::keyClick(host.sensors(), Qt::Key_Space);
        QCOMPARE(rig.controller->telemetryDashboard(), (QStringList{"CCCC", "GONE"}));
        QTest::keyClick(host.sensors(), Qt::Key_Space);

        host.sensors()->topLevelItem(1)->setCheckState(0, Qt::Checked);
        QCOMPARE(rig.controller->telemetryDashboard(), (QStringList{"AAAA", "BBBB", "CCCC", "GONE"}));
        host.sensors()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(rig.controller->telemetryDashboard(), (QStringList{"BBBB", "CCCC", "GONE"}));

        // "Delete all" keeps the pins; a sensor ticked afterwards keeps them too.
        ModalAnswerer answer;
        answer.press("Yes");
        host.button("Delete all")->click();
        QCOMPARE(answer.records().at(0).title, QString("Delete all sensors"));
        host.tick();
        QCOMPARE(host.sensors()->topLevelItemCount(), 0);
        Profile *profile = rig.controller->profileManager()->mutableActiveProfile();
        profile->telemetrySensors = {{"DDDD", "DDDD label", QString()}};
        rig.controller->loadTelemetrySensors();
        host.tick();
        host.sensors()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        QCOMPARE(rig.controller->telemetryDashboard(), (QStringList{"DDDD", "BBBB", "CCCC", "GONE"}));
    }

    void sensorRenameAndDelete()
    {
        TransmitRig rig;
        Host host(rig);
        setSensors(rig, {"RQly", "GSpd"}, {});
        rig.controller->renameTelemetrySensor("RQly", "Quality");
        host.tick();
        QTreeWidget *list = host.sensors();
        QCOMPARE(list->topLevelItem(0)->text(0), QString("Quality"));
        // The label, from the profile file, set apart from the words after it.
        QCOMPARE(list->topLevelItem(0)->toolTip(0), QString("\u2068RQly label\u2069 (renamed). Right-click to rename or delete."));
        const QPoint at = list->visualItemRect(list->topLevelItem(0)).center();

        ModalAnswerer answer;
        answer.press("Rename…");
        answer.type("  RQly label  ");
        emit list->customContextMenuRequested(at);
        QTRY_COMPARE(answer.pending(), 0);
        QCOMPARE(answer.records().at(0).entries, (QStringList{"Rename…", "Delete"}));
        QCOMPARE(answer.records().at(1).title, QString("Rename sensor"));
        QCOMPARE(answer.records().at(1).text, QString("Name for \u2068RQly label\u2069 (leave empty for the default):"));
        QCOMPARE(answer.records().at(1).preset, QString("Quality"));
        QVERIFY(rig.controller->findTelemetrySensor("RQly").name.isEmpty());
        host.tick();
        QCOMPARE(list->topLevelItem(0)->text(0), QString("RQly label"));
        // A name is held to the length the API's import takes.
        answer.press("Rename…");
        answer.type(QString(5000, 'q'));
        emit list->customContextMenuRequested(at);
        QTRY_COMPARE(answer.pending(), 0);
        QCOMPARE(rig.controller->findTelemetrySensor("RQly").name, QString(corvane::ProfileName::MaxLength, 'q'));
        // A name the name rule refuses is asked again, as typed, after the reason.
        answer.press("Rename…");
        answer.type("Mine\u202E");
        answer.press("OK");
        answer.cancel();
        emit list->customContextMenuRequested(at);
        QTRY_COMPARE(answer.pending(), 0);
        QCOMPARE(answer.records().at(6).text, corvane::ProfileName::forbiddenCharacterMessage(corvane::ProfileName::Of::TelemetrySensor));
        QCOMPARE(answer.records().at(7).preset, QString("Mine\u202E"));
        QCOMPARE(rig.controller->findTelemetrySensor("RQly").name, QString(corvane::ProfileName::MaxLength, 'q'));

        answer.press("Delete");
        emit list->customContextMenuRequested(list->visualItemRect(list->topLevelItem(1)).center());
        QTRY_COMPARE(answer.pending(), 0);
        QVERIFY(rig.controller->findTelemetrySensor("GSpd").id.isEmpty());
        host.tick();
        QCOMPARE(list->topLevelItemCount(), 1);

        // "Delete all" on an empty list asks nothing.
        rig.controller->clearTelemetrySensors();
        ModalAnswerer unused;
        unused.cancel();
        host.button("Delete all")->click();
        QTest::qWait(30);
        QVERIFY(unused.records().isEmpty());
    }

    // --- closing and WiFi ---

    void closeLeavesConfigMode()
    {
        TransmitRig rig;
        Host host(rig);
        host.view->open();
        host.button("Start configuring")->click();
        QVERIFY(rig.tx.waitForLine("CFGMODE ON"));
        QPushButton *chromeClose = nullptr;
        for (QPushButton *b : host.view->findChildren<QPushButton *>()) {
            if (b->property("iconRound").toBool())
                chromeClose = b;
        }
        chromeClose->click();
        QVERIFY(!host.view->isVisible());
        QVERIFY(rig.tx.waitForLine("CFGMODE OFF"));
        QTest::qWait(50);
        rig.tx.process();
        QCOMPARE(rig.tx.lineCount("CFGMODE OFF"), 1);
        QVERIFY(!rig.controller->isConfigMode());
    }

    void wifiButtons()
    {
        TransmitRig rig;
        Host host(rig, false);
        const QList<QPushButton *> buttons{host.button("QOR Transmitter"), host.button("QOR Receiver")};
        const auto enabled = [&] { return buttons.at(0)->isEnabled() && buttons.at(1)->isEnabled(); };
        const auto disabled = [&] { return !buttons.at(0)->isEnabled() && !buttons.at(1)->isEnabled(); };
        QVERIFY(disabled());
        QVERIFY(rig.openTransmitter());
        QVERIFY(enabled());
        QVERIFY(rig.connectCar() && rig.start());
        QVERIFY(disabled());
        rig.controller->stopTransmissionAndHold();
        QVERIFY(enabled());

        ModalAnswerer answer;
        answer.press("No");
        buttons.at(1)->click();
        QCOMPARE(answer.records().at(0).text,
                 QString("Put the QOR Receiver in WiFi update mode? The car must be on and linked; the link drops "
                         "until you power-cycle the car."));
        QVERIFY(!rig.controller->isWifiSwitchPending());

        answer.press("Yes");
        answer.press("OK");
        buttons.at(0)->click();
        QVERIFY(rig.controller->isWifiSwitchPending());
        QVERIFY(disabled());
        QSignalSpy sent(rig.controller.get(), &corvane::CorvaneController::elrsWifiModeSent);
        QVERIFY(sent.wait(8000));
        QTRY_COMPARE(answer.pending(), 0);
        QCOMPARE(answer.records().at(2).text,
                 QString("The transmitter's radio is in WiFi update mode. Power-cycle the transmitter when you're done."));
        QVERIFY(enabled());
    }

    // Closing while the switch waits for its ELRS command leaves configuration mode only after it.
    void closeDuringWifiSwitch()
    {
        TransmitRig rig;
        Host host(rig);
        host.view->open();
        host.button("Start configuring")->click();
        QVERIFY(rig.tx.waitForLine("CFGMODE ON"));
        QString error;
        QVERIFY(rig.controller->enterWifiUpdateMode(false, &error));
        host.button("Close")->click();
        host.view.reset();
        QVERIFY(rig.controller->isConfigMode());
        QVERIFY(rig.tx.waitFor([&] { return !rig.tx.parameterWrites().isEmpty(); }));
        QCOMPARE(rig.tx.parameterWrites().first().field, quint8(16));
        QCOMPARE(rig.tx.lineCount("CFGMODE OFF"), 0);
        QVERIFY(rig.tx.waitForLine("CFGMODE OFF"));
        QVERIFY(!rig.controller->isConfigMode());
        QTest::qWait(50);
        rig.tx.process();
        QCOMPARE(rig.tx.lineCount("CFGMODE OFF"), 1);
    }

    // "Close" stays in view below the tabs, on every tab, however far their content scrolls.
    void closeStaysInView()
    {
        TransmitRig rig;
        Host host(rig);
        host.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.view.get()));
        QPushButton *close = host.button("Close");
        QVERIFY(close);
        for (QWidget *w = close->parentWidget(); w; w = w->parentWidget())
            QVERIFY2(!qobject_cast<QAbstractScrollArea *>(w), qPrintable(w->objectName()));
        QVERIFY(QRect(QPoint(), host.view->size()).contains(QRect(close->mapTo(host.view.get(), QPoint()), close->size())));
        QVERIFY(close->isVisible());
    }

    // An opening builds the tab it shows; the other pages come when chosen or one per pass after
    // the dialog shows, and are there whichever comes first.
    void pagesBuiltWhenShown_data()
    {
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("chosen");
        QTest::newRow("telemetry, then shown") << int(TransmissionView::TelemetryTab) << -1;
        QTest::newRow("RF settings, then shown") << int(TransmissionView::RfSettingsTab) << -1;
        QTest::newRow("receiver") << int(TransmissionView::ReceiverTab) << -1;
        QTest::newRow("telemetry, then the receiver tab")
            << int(TransmissionView::TelemetryTab) << int(TransmissionView::ReceiverTab);
        QTest::newRow("receiver, then the telemetry tab")
            << int(TransmissionView::ReceiverTab) << int(TransmissionView::TelemetryTab);
    }

    void pagesBuiltWhenShown()
    {
        QFETCH(int, shown);
        QFETCH(int, chosen);
        TransmitRig rig;
        TransmissionView view(rig.controller.get(), nullptr, TransmissionView::Tab(shown));
        const auto receiverPanels = [&] { return view.findChildren<corvane::ReceiverSettingsPanel *>().size(); };
        const auto built = [&] {
            int count = 0;
            for (const auto tab : {TransmissionView::TelemetryTab, TransmissionView::RfSettingsTab,
                                   TransmissionView::ReceiverTab})
                count += view.isPageBuilt(tab) ? 1 : 0;
            return count;
        };
        QCOMPARE(view.findChild<QTabWidget *>()->currentIndex(), shown);
        QCOMPARE(receiverPanels(), shown == TransmissionView::ReceiverTab ? 1 : 0);
        QCOMPARE(built(), 1);
        QVERIFY(view.isPageBuilt(TransmissionView::Tab(shown)));
        const auto telemetryCards = [&] {
            QWidget *page = view.findChild<QTabWidget *>()->widget(0);
            return page->findChildren<QFrame *>(QString(), Qt::FindDirectChildrenOnly).size();
        };
        QCOMPARE(telemetryCards(), shown == TransmissionView::TelemetryTab ? 3 : 0);
        if (chosen >= 0) {
            view.findChild<QTabWidget *>()->setCurrentIndex(chosen);
            QCOMPARE(receiverPanels(), 1);
            QCOMPARE(telemetryCards(), 3);
            QCOMPARE(built(), 2);
        }
        view.show();
        // Showing builds nothing more: the other pages come in the passes after, and the page
        // painted first (laid out as the event loop does before it paints) looks the same once
        // they have come.
        QCOMPARE(built(), chosen >= 0 ? 2 : 1);
        for (int pass = 0; pass < 4; ++pass)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCOMPARE(built(), chosen >= 0 ? 2 : 1);
        const QImage first = view.grab().toImage();
        QTRY_COMPARE(built(), 3);
        QCOMPARE(receiverPanels(), 1);
        QCOMPARE(telemetryCards(), 3);
        auto *tabs = view.findChild<QTabWidget *>();
        QVERIFY(view.findChild<corvane::ReceiverSettingsPanel *>()->isVisibleTo(tabs->widget(2)));
        QVERIFY(ostratest::withText<QPushButton>(tabs->widget(0), "Delete all")->isVisibleTo(tabs->widget(0)));
        QVERIFY(view.findChild<QFrame *>("stateBanner")->isVisibleTo(tabs->widget(1)));
        // Tab reaches "Close" after every control of the pages, those made later too.
        const auto closeLast = [&] {
            QList<QWidget *> chain;
            for (QWidget *w = view.nextInFocusChain(); w != &view; w = w->nextInFocusChain())
                chain << w;
            const auto close = std::find_if(chain.cbegin(), chain.cend(), [](QWidget *w) {
                return qobject_cast<QPushButton *>(w) && static_cast<QPushButton *>(w)->text() == "Close";
            });
            // The keyboard's order: what takes no focus by Tab plays no part.
            return close != chain.cend() && std::none_of(close, chain.cend(), [tabs](QWidget *w) {
                       return (w->focusPolicy() & Qt::TabFocus) && tabs->isAncestorOf(w);
                   });
        };
        QTRY_VERIFY(ostratest::withText<QPushButton>(tabs->widget(2), "Live stream"));
        QTRY_VERIFY(closeLast());
        QCOMPARE(view.grab().toImage(), first);
    }

    // Opened while the channel stream ticks, the page shown is built in the slacks after the ticks
    // before anything shows, and looks as one built at once.
    void openedWhileTicking_data()
    {
        QTest::addColumn<int>("shown");
        QTest::newRow("telemetry") << int(TransmissionView::TelemetryTab);
        QTest::newRow("RF settings") << int(TransmissionView::RfSettingsTab);
        QTest::newRow("receiver") << int(TransmissionView::ReceiverTab);
    }

    void openedWhileTicking()
    {
        QFETCH(int, shown);
        TransmitRig rig;
        ostra::TickPace *pace = ostra::TickPace::instance();
        QTimer ticks;
        ticks.setInterval(7);
        connect(&ticks, &QTimer::timeout, pace, &ostra::TickPace::ticked);
        QList<QImage> pictures;
        for (const bool ticking : {false, true}) {
            if (ticking) {
                ticks.start();
                QTRY_VERIFY(pace->isTicking());
            }
            QSignalSpy slacks(pace, &ostra::TickPace::slack);
            TransmissionView view(rig.controller.get(), nullptr, TransmissionView::Tab(shown));
            QCOMPARE(slacks.count() > 0, ticking);
            QVERIFY(view.isPageBuilt(TransmissionView::Tab(shown)));
            ticks.stop();
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            pictures.append(view.grab().toImage());
        }
        QCOMPARE(pictures.at(1), pictures.at(0));
    }

    // What the controller says while a page is not built yet is on the page once it is.
    void valuesBeforePageBuilt_data()
    {
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("news");
        QTest::newRow("link statistics") << int(TransmissionView::ReceiverTab) << "link";
        QTest::newRow("console lines and frames") << int(TransmissionView::RfSettingsTab) << "console";
        QTest::newRow("discovery progress") << int(TransmissionView::TelemetryTab) << "progress";
        QTest::newRow("a walk that read nothing") << int(TransmissionView::TelemetryTab) << "manual";
        QTest::newRow("sensors, before any refresh") << int(TransmissionView::ReceiverTab) << "sensors";
    }

    void valuesBeforePageBuilt()
    {
        QFETCH(int, shown);
        QFETCH(QString, news);
        TransmitRig rig;
        QVERIFY(rig.openTransmitter());
        TransmissionView view(rig.controller.get(), nullptr, TransmissionView::Tab(shown));
        if (news == "link") {
            corvane::LinkStatistics stats;
            stats.uplinkRssi1 = -48;
            stats.linkQuality = 97;
            view.onLinkStatisticsUpdated(stats);
        } else if (news == "console") {
            view.onTransmitterTextLine("HELLO");
            view.onCrsfFrameReceived(0x07, bytes("0102"));
            QMetaObject::invokeMethod(&view, "refreshCounters", Qt::DirectConnection);
        } else if (news == "sensors") {
            setSensors(rig, {"RQly", "GSpd"}, {});
        } else if (news == "progress") {
            view.onDiscoveryStarted();
            view.onDiscoveryProgress(3, 8);
        } else {
            view.onManagerError("Nothing read");
        }
        const bool telemetryNews = news == "link" || news == "console" || news == "sensors";
        QVERIFY(!view.isPageBuilt(telemetryNews ? TransmissionView::TelemetryTab : TransmissionView::RfSettingsTab));
        view.finishBuilding();
        if (news == "sensors") {
            auto *sensors = view.findChild<QTabWidget *>()->widget(0)->findChild<QTreeWidget *>();
            QCOMPARE(sensors->topLevelItemCount(), 2);
            return;
        }
        QMetaObject::invokeMethod(&view, "refreshCounters", Qt::DirectConnection);
        // Shown as far as the view decides (the tab holding it is another), or only there.
        const auto labelled = [&](const QString &text, bool shownToo = true) {
            for (QLabel *l : view.findChildren<QLabel *>()) {
                if (l->text() == text && (!shownToo || !l->isHidden()))
                    return true;
            }
            return false;
        };
        if (news == "link") {
            QVERIFY(labelled("-48"));
            QVERIFY(labelled("97%"));
        } else if (news == "console") {
            auto *console = view.findChild<QTabWidget *>()->widget(0)->findChild<QPlainTextEdit *>();
            QVERIFY(console->toPlainText().contains("HELLO"));
            QVERIFY(console->toPlainText().contains("VARIO"));
            QVERIFY(labelled("1 frames"));
        } else if (news == "progress") {
            QVERIFY(labelled("Discovering parameters… 3 / 8", false));
        } else {
            QVERIFY(!view.findChild<QFrame *>("manualPanel")->isHidden());
            QVERIFY(labelled("Nothing read"));
        }
    }

    // The tab widget measures the page it shows; a hidden one is not laid out for every width.
    void heightForWidthAsksTheShownPage()
    {
        struct Page : QWidget
        {
            mutable int asked = 0;
            int heightForWidth(int width) const override { return ++asked, QWidget::heightForWidth(width); }
        };
        corvane::CurrentPageTabWidget tabs;
        auto *tall = new Page;
        auto *hidden = new Page;
        for (Page *page : {tall, hidden}) {
            auto *label = new QLabel(QString("Wrapped text ").repeated(page == tall ? 40 : 4), page);
            label->setWordWrap(true);
            (new QVBoxLayout(page))->addWidget(label);
        }
        tabs.addTab(tall, "tall");
        tabs.addTab(hidden, "short");
        for (const int current : {0, 1}) {
            tabs.setCurrentIndex(current);
            Page *other = current == 0 ? hidden : tall;
            other->asked = 0;
            const int height = tabs.heightForWidth(300);
            QCOMPARE(other->asked, 0);
            // The tallest shown: the height Qt's own sum gives; a shorter one: less.
            QCOMPARE(height == tabs.QTabWidget::heightForWidth(300), current == 0);
            QVERIFY(height <= tabs.QTabWidget::heightForWidth(300));
        }
    }

    // --- pictures ---

    void render_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name :
             {"telemetry", "telemetry-no-link", "receiver", "rf-idle", "rf-discovering", "rf-editable", "rf-manual",
              "rf-silent", "rf-silent-search"})
            QTest::newRow(name) << QString(name);
    }

    void render()
    {
        QFETCH(QString, name);
        TransmitRig rig;
        rig.tx.setFields(moduleFields());
        rig.tx.setAnswersId(name != "rf-silent");
        rig.tx.setSilent(name == "rf-silent-search");
        Host host(rig);
        host.window.hide();
        if (name == "telemetry") {
            setSensors(rig, {"RQly", "1RSS", "GSpd"}, {"RQly"});
            rig.controller->renameTelemetrySensor("GSpd", "Speed");
            QVERIFY(rig.tx.sendLinkStatistics(-48, -51, 100, 9));
            host.commandLine()->setText("STATUS");
            QTest::keyClick(host.commandLine(), Qt::Key_Return);
            QVERIFY(rig.tx.waitFor([&] {
                host.tick();
                return host.consoleLines().size() >= 2;
            }));
            host.view->onCrsfFrameReceived(0x1E, bytes("0064FF9C0000"));
            host.view->onCrsfFrameReceived(0x23, bytes("07 03E8 FE0C 0000"));
            host.tick();
        } else if (name == "receiver") {
            host.view->showReceiverTab();
        } else if (name.startsWith("rf-")) {
            host.view->showRfSettingsTab();
            if (name == "rf-discovering") {
                // A module that starts its walk and takes its time.
                rig.tx.scriptReplies("WALKRF", {"WALK: starting\r\n"});
                host.button("Start configuring")->click();
                host.retryTimeout();
                host.view->onDiscoveryProgress(3, 8);
            } else if (name == "rf-editable") {
                QVERIFY(host.discover());
                host.choose("Packet Rate", "100Hz Full");
            } else if (name == "rf-manual") {
                rig.tx.setFields({});
                QVERIFY(!host.discover());
                host.manualCombos().at(3)->setCurrentIndex(2);
            } else if (name.startsWith("rf-silent")) {
                if (name == "rf-silent-search") {
                    host.button("Start configuring")->click();
                    host.retryTimeout();
                }
                QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
                for (int query = 0; query < 4; ++query)
                    QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onDeviceIdRetry"));
            }
        }
        host.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.view.get()));
        QTest::qWait(60);
        QVERIFY(host.view->grab().toImage().save(picture(name)));
    }

    void renderDark() { QVERIFY(ostra::isDarkTheme() || ostratest::runDarkTwin("dialogs", {"render"})); }

private:
    std::unique_ptr<TransmitRig> m_frameRig;
    std::unique_ptr<Host> m_frameHost;
};

OSTRA_TEST_MAIN_WIDGETS(TestTransmissionView)
#include "tst_transmissionview.moc"
