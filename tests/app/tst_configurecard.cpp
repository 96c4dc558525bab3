#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "ostraui/listrow.h"
#include "ostraui/mapview.h"
#include "ostraui/pagestack.h"
#include "ostraui/segmented.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"
#include "support/darktwin.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/widgets/textrecorder.h"
#include "support/writesdone.h"

namespace {

// Closes every modal window a call opens, the way a user dismisses it, and notes what it was:
// its class and title.
class ModalCloser : public QObject
{
public:
    ModalCloser()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalCloser::poll);
        m_timer.start(5);
    }

    QStringList seen() const { return m_seen; }

private:
    void poll()
    {
        QWidget *window = QApplication::activeModalWidget();
        if (!window || !window->isVisible() || window == m_last)
            return;
        m_last = window;
        m_seen << QStringLiteral("%1 \"%2\"").arg(QLatin1String(window->metaObject()->className()),
                                                   window->windowTitle());
        QTimer::singleShot(0, window, [window] {
            if (auto *dialog = qobject_cast<QDialog *>(window))
                dialog->reject();
            else
                window->close();
        });
    }

    QStringList m_seen;
    QPointer<QWidget> m_last;
    QTimer m_timer;
};

// The Configure card read the way a user reads it.
struct Configure
{
    MainWindow &window;

    QWidget *card() const { return window.findChild<QWidget *>(QStringLiteral("configureCard")); }
    ostra::Segmented *selector() const { return card()->findChild<ostra::Segmented *>(QStringLiteral("configureSelector")); }
    QStackedWidget *stack() const { return card()->findChild<QStackedWidget *>(QStringLiteral("configureStack")); }
    QWidget *section() const { return card()->findChild<QWidget *>(QStringLiteral("configureSection")); }
    QLabel *hint() const { return card()->findChild<QLabel *>(QStringLiteral("firmwareHint")); }
    ostra::ListRow *row(const QString &title) const
    {
        for (ostra::ListRow *r : card()->findChildren<ostra::ListRow *>())
            if (r->text() == title)
                return r;
        return nullptr;
    }
    QStringList titles(int page) const
    {
        QStringList out;
        for (ostra::ListRow *r : stack()->widget(page)->findChildren<ostra::ListRow *>())
            out << r->text();
        return out;
    }
    static double opacity(QWidget *w)
    {
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(w->graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    }
};

// The top-level windows of a class that a call left open.
QList<QWidget *> openWindows(const char *className)
{
    QList<QWidget *> open;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->inherits(className))
            open << w;
    return open;
}

const QStringList TransmitterRows = {QStringLiteral("QOR Transmitter"), QStringLiteral("Transmitter SoC"),
                                     QStringLiteral("Transmitter SoC (V2)")};

} // namespace

class TestConfigureCard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
    }

    void init()
    {
        ostratest::freshDataFolder();
        corvane::SettingsFile().remove(QString());
        corvane::SettingsFile().setValue(QStringLiteral("ui/reduceMotion"), true);
        corvane::SettingsFile().setValue(QStringLiteral("disclaimer/accepted"), true);
        corvane::VirtualInputBackend::instance()->reset();
        corvane::SerialPortLister::setFixedPorts({});
    }

    void structure()
    {
        MainWindow window;
        Configure cfg{window};
        QVERIFY(cfg.card());
        QCOMPARE(cfg.selector()->options(), QStringList({"Car setup", "Extras", "Firmware"}));
        QCOMPARE(cfg.stack()->count(), 3);
        QCOMPARE(cfg.titles(0), QStringList({"Axis config", "Drive settings", "Button mapping", "Force feedback"}));
        QCOMPARE(cfg.titles(1), QStringList({"LED strip", "Dashboard", "Motion rig output", "FFB and motion calibration",
                                             "FFB and motion preview", "Setup guide", "Debug console"}));
        QCOMPARE(cfg.titles(2), QStringList({"QOR Transmitter", "QOR Receiver V4", "QOR Receiver", "Transmitter SoC",
                                             "Transmitter SoC (V2)"}));
        QCOMPARE(cfg.row("Axis config")->subtitle(), QStringLiteral("Map and calibrate the pedals and wheel"));
        QCOMPARE(cfg.row("QOR Receiver V4")->subtitle(), QStringLiteral("GPS receiver \u00B7 USB-UART cable on J14"));
        for (const QString &title : cfg.titles(2))
            QCOMPARE(cfg.row(title)->trailingText(), QStringLiteral("Update"));
        QCOMPARE(cfg.row("LED strip")->trailingText(), QString());
        QCOMPARE(cfg.row("Debug console")->objectName(), QStringLiteral("toggleDebugBtn"));
        // The receiver has reported no IMU yet.
        QTRY_COMPARE(cfg.row("Force feedback")->subtitle(), QStringLiteral("Needs a QOR receiver V4 (not detected yet)"));
    }

    // The stored page, limited to the three there are; the section closed unless stored open.
    void storedTab_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("page");
        QTest::newRow("none") << QVariant() << 0;
        QTest::newRow("extras") << QVariant(1) << 1;
        QTest::newRow("beyond") << QVariant(7) << 2;
        QTest::newRow("negative") << QVariant(-3) << 0;
        QTest::newRow("not a number") << QVariant(QStringLiteral("firmware")) << 0;
    }

    void storedTab()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, page);
        if (stored.isValid())
            corvane::SettingsFile().setValue(QStringLiteral("ui/carConfigureTab"), stored);
        MainWindow window;
        Configure cfg{window};
        QCOMPARE(cfg.selector()->currentIndex(), page);
        QCOMPARE(cfg.stack()->currentIndex(), page);
        QVERIFY(cfg.section()->isHidden());
        QCOMPARE(corvane::SettingsFile().value(QStringLiteral("ui/carConfigureTab"), stored), stored);
    }

    // Switching stores the page; a short page leaves the card no taller than it needs.
    void switching()
    {
        corvane::SettingsFile().setValue(QStringLiteral("ui/carConfigureOpen"), true);
        MainWindow window;
        Configure cfg{window};
        window.resize(1280, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showPage(MainWindow::CarPage);
        window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
        QVERIFY(cfg.section()->isVisible());
        ostra::Segmented *selector = cfg.selector();

        QTest::mouseClick(selector, Qt::LeftButton, {}, selector->rect().center());
        QCOMPARE(selector->currentIndex(), 1);
        QCOMPARE(cfg.stack()->currentIndex(), 1);
        QCOMPARE(corvane::SettingsFile().value(QStringLiteral("ui/carConfigureTab")).toInt(), 1);
        QTRY_COMPARE(cfg.stack()->height(), cfg.stack()->widget(1)->sizeHint().height());
        const int tall = cfg.card()->height();

        QTest::mouseClick(selector, Qt::LeftButton, {}, QPoint(8, selector->height() / 2));
        QCOMPARE(cfg.stack()->currentIndex(), 0);
        QCOMPARE(corvane::SettingsFile().value(QStringLiteral("ui/carConfigureTab")).toInt(), 0);
        QTRY_VERIFY(cfg.card()->height() < tall);
        // Still as wide as the card: the rows use the width there is.
        QTRY_COMPARE(cfg.stack()->width(), cfg.section()->width());

        // Closing the section is remembered too.
        window.findChild<QPushButton *>(QStringLiteral("configureSectionToggle"))->click();
        QVERIFY(cfg.section()->isHidden());
        QCOMPARE(corvane::SettingsFile().value(QStringLiteral("ui/carConfigureOpen")).toBool(), false);
    }

    void debugConsole()
    {
        MainWindow window;
        Configure cfg{window};
        QWidget *console = window.findChild<QWidget *>(QStringLiteral("debugConsoleCard"));
        ostra::ListRow *row = cfg.row("Debug console");
        QVERIFY(console->isHidden());
        window.resize(1366, 740);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showPage(MainWindow::CarPage);
        window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
        row->click();
        QVERIFY(!console->isHidden());
        QCOMPARE(row->text(), QStringLiteral("Hide debug console"));
        // Opened below the channel grid, it is scrolled into view.
        QWidget *viewport = window.findChild<QWidget *>(QStringLiteral("carPageContent"))->parentWidget();
        QTRY_VERIFY(viewport->rect().contains(QRect(console->mapTo(viewport, QPoint()), console->size())));
        row->click();
        QVERIFY(console->isHidden());
        QCOMPARE(row->text(), QStringLiteral("Debug console"));
    }

    // Without a transmitter its three rows are dimmed, not disabled; connected, they look like the rest.
    void transmitterRows()
    {
        ostratest::SimulatedTransmitter tx;
        MainWindow window;
        Configure cfg{window};
        QCOMPARE(cfg.hint()->text(), QStringLiteral("Connect the QOR Transmitter to update it"));
        for (ostra::ListRow *row : cfg.card()->findChildren<ostra::ListRow *>()) {
            const bool needsTransmitter = TransmitterRows.contains(row->text());
            QCOMPARE(Configure::opacity(row), needsTransmitter ? 0.45 : 1.0);
            QCOMPARE(row->toolTip(), needsTransmitter ? QStringLiteral("Connect the QOR Transmitter to update") : QString());
            QVERIFY(row->isEnabled());
        }
        {
            ModalCloser closer;
            cfg.row("QOR Transmitter")->click();
            QCOMPARE(closer.seen(), QStringList({"QMessageBox \"QOR Transmitter Required\""}));
        }

        QVERIFY(window.controller()->connectTransmitter(tx.portName(), 115200));
        QTRY_COMPARE(cfg.hint()->text(), QStringLiteral("Update QOR hardware over USB"));
        for (const QString &title : TransmitterRows) {
            QCOMPARE(Configure::opacity(cfg.row(title)), 1.0);
            QCOMPARE(cfg.row(title)->toolTip(), QString());
        }
        ModalCloser closer;
        cfg.row("QOR Transmitter")->click();
        cfg.row("Transmitter SoC (V2)")->click();
        QCOMPARE(closer.seen(), QStringList({"corvane::FirmwareUpdateDialog \"QOR Transmitter Firmware Update\"",
                                             "corvane::FirmwareUpdateDialog \"QOR Transmitter Software (V2) Firmware Update\""}));
        window.controller()->disconnectTransmitter();
        QTRY_COMPARE(Configure::opacity(cfg.row("Transmitter SoC")), 0.45);
    }

    // The firmware rows end in the word "Update" in the text face, not in the face of values.
    void firmwareRowsSayUpdate()
    {
        MainWindow window;
        Configure cfg{window};
        ostra::ListRow *row = cfg.row("QOR Receiver");
        row->resize(400, 56);
        ostratest::TextRecorder recorder(row->size());
        row->render(&recorder);
        const int update = int(recorder.texts().indexOf(QStringLiteral("Update")));
        QVERIFY(update >= 0);
        QCOMPARE(recorder.families().at(update), ostra::uiFont(12, 400).family());
    }

    // Each row opens what it names (without a transmitter or wheel base, their warnings).
    void rows_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("opened");
        QTest::newRow("axes") << "Axis config" << "corvane::AxisConfigDialog";
        QTest::newRow("drive") << "Drive settings" << "corvane::EscConfigDialog";
        QTest::newRow("buttons") << "Button mapping" << "QMessageBox \"Wheel Base Required\"";
        QTest::newRow("ffb") << "Force feedback" << "corvane::WheelFfbDialog";
        QTest::newRow("led") << "LED strip" << "corvane::LedConfigDialog \"Configure LED Strip\"";
        QTest::newRow("motion output") << "Motion rig output" << "corvane::MotionOutputDialog \"Motion Rig Output\"";
        QTest::newRow("calibration") << "FFB and motion calibration"
                                     << "corvane::MotionCalibrationDialog \"FFB and motion calibration\"";
        QTest::newRow("guide") << "Setup guide" << "corvane::OnboardingWizard";
        QTest::newRow("transmitter") << "QOR Transmitter" << "QMessageBox \"QOR Transmitter Required\"";
        QTest::newRow("receiver v4") << "QOR Receiver V4" << "corvane::ReceiverV4UpdateDialog \"QOR Receiver V4 Firmware\"";
        QTest::newRow("receiver") << "QOR Receiver" << "corvane::FirmwareUpdateDialog \"QOR Receiver Firmware Update\"";
        QTest::newRow("soc") << "Transmitter SoC" << "QMessageBox \"QOR Transmitter SOC Update\"";
        QTest::newRow("soc v2") << "Transmitter SoC (V2)" << "QMessageBox \"QOR Transmitter SOC Update (V2)\"";
    }

    void rows()
    {
        QFETCH(QString, title);
        QFETCH(QString, opened);
        // One window for every row: each dialog is gone again when its row's call returns.
        if (!m_rowsWindow)
            m_rowsWindow = std::make_unique<MainWindow>();
        Configure cfg{*m_rowsWindow};
        ModalCloser closer;
        cfg.row(title)->click();
        QCOMPARE(closer.seen().size(), 1);
        // Titles the dialogs give themselves are compared where the row fixes them.
        QVERIFY2(closer.seen().at(0).startsWith(opened), qPrintable(closer.seen().at(0)));
    }

    // The window the rows shared goes before the next case builds its own: one at a time serves the API port.
    void rowsDone() { m_rowsWindow.reset(); }

    // The two windows that stay open beside the main window, each opening a new one.
    void modelessRows_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("className");
        QTest::newRow("dashboard") << "Dashboard" << "corvane::DashboardWidget";
        QTest::newRow("preview") << "FFB and motion preview" << "corvane::FfbMotionPreviewDialog";
    }

    void modelessRows()
    {
        QFETCH(QString, title);
        QFETCH(QString, className);
        MainWindow window;
        Configure cfg{window};
        const QByteArray name = className.toLatin1();
        cfg.row(title)->click();
        cfg.row(title)->click();
        QList<QWidget *> open = openWindows(name.constData());
        QCOMPARE(open.size(), 2);
        QPointer<QWidget> first = open.at(0);
        QVERIFY(!first->isModal());
        for (QWidget *w : open)
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());
        QVERIFY(openWindows(name.constData()).isEmpty());
    }

    void render_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("1280x800") << QSize(1280, 800) << QString();
        QTest::newRow("1366x768") << QSize(1366, 768) << QStringLiteral("-1366");
        QTest::newRow("1920x1080") << QSize(1920, 1080) << QStringLiteral("-1920");
    }

    void render()
    {
        QFETCH(QSize, size);
        QFETCH(QString, suffix);
        corvane::SettingsFile().setValue(QStringLiteral("ui/carConfigureOpen"), true);
        MainWindow window;
        window.findChild<ostra::MapView *>()->setTileServer(QStringLiteral("http://127.0.0.1:9"), QString());
        Configure cfg{window};
        window.resize(size);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showPage(MainWindow::CarPage);
        window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
        const QString dir = ostratest::artefactDir(QStringLiteral("app"));
        const QString theme = ostra::isDarkTheme() ? QStringLiteral("dark") : QStringLiteral("light");
        // The card sits below the fold of an 800 px window: the page's whole content is taken.
        auto *content = window.findChild<QWidget *>(QStringLiteral("carPageContent"));
        const char *names[] = {"carsetup", "extras", "firmware"};
        for (int page = 0; page < 3; ++page) {
            cfg.selector()->setCurrentIndex(page);
            QCOMPARE(cfg.stack()->currentIndex(), page);
            QTRY_COMPARE(cfg.stack()->width(), cfg.section()->width());
            QVERIFY(content->grab().save(
                dir + QStringLiteral("/configure-%1%2-%3.png").arg(QLatin1String(names[page]), suffix, theme)));
            QVERIFY(cfg.card()->grab().save(
                dir + QStringLiteral("/configure-card-%1%2-%3.png").arg(QLatin1String(names[page]), suffix, theme)));
        }
        if (!ostra::isDarkTheme() && suffix.isEmpty())
            QVERIFY(ostratest::runDarkTwin(QStringLiteral("app"), {QStringLiteral("render")}));
    }

private:
    std::unique_ptr<MainWindow> m_rowsWindow;
};

OSTRA_TEST_MAIN_WIDGETS(TestConfigureCard)
#include "tst_configurecard.moc"
