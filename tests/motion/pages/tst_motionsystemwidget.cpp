#include "motion/pages/motionsystemwidget.h"

#include "motion/motionsystemcontroller.h"
#include "motion/pages/motionrunbutton.h"
#include "ostraui/dot.h"
#include "ostraui/pill.h"
#include "ostraui/segmented.h"
#include "ostraui/sliderrow.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "ostraui/toggle.h"
#include "ostraui/vmeter.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"

#include "support/fixednetwork.h"
#include "support/simulatedmotioncontroller.h"
#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"
#include "support/widgets/widgetlookup.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTcpServer>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using corvane::MotionRunButton;
using corvane::MotionSystemController;
using corvane::MotionSystemSettings;
using corvane::MotionSystemWidget;
using corvane::SerialPortLister;
using ostratest::SimulatedMotionController;

namespace {

constexpr int Patience = 10000;

QString picture(const QString &name) { return ostratest::themedPicture("motion", name); }

QByteArray hex(const QByteArray &bytes)
{
    return SimulatedMotionController::hex(bytes);
}

// The page with its run clock set by the test.
class ClockedPage : public MotionSystemWidget
{
public:
    using MotionSystemWidget::MotionSystemWidget;
    qint64 elapsedMs = 0;

protected:
    qint64 runElapsedMs() const override { return elapsedMs; }
};

template <typename T>
T *child(QWidget *page, const QString &name)
{
    return page->findChild<T *>(name);
}

QPushButton *button(QWidget *page, const QString &text)
{
    for (QPushButton *b : page->findChildren<QPushButton *>()) {
        if (b->text().trimmed() == text)
            return b;
    }
    return nullptr;
}

QSlider *slider(ostra::SliderRow *row)
{
    return row->findChild<QSlider *>();
}

QString toastText(QWidget *page)
{
    auto *toast = page->window()->findChild<ostra::Toast *>();
    return toast ? toast->text() : QString();
}

// The text of each log line, newest first.
QStringList logLines(QWidget *page)
{
    QStringList lines;
    QTextDocument *document = child<QTextEdit>(page, "logView")->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (!block.text().isEmpty() && !block.text().contains(QChar(0x25CF)))
            lines.append(block.text());
    }
    // Each line is a table of three cells: time, dot, text; keep the texts.
    QStringList texts;
    for (int i = 0; i + 1 < lines.size(); i += 2)
        texts.append(lines.at(i + 1));
    return texts;
}

QColor dotColorOfNewestLine(QWidget *page)
{
    QTextDocument *document = child<QTextEdit>(page, "logView")->document();
    const QTextCursor found = document->find(QString(QChar(0x25CF)));
    QTextCursor at(document);
    at.setPosition(found.selectionEnd());
    return at.charFormat().foreground().color();
}

} // namespace

class TestMotionSystemWidget : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimulatedMotionController> m_board;
    std::unique_ptr<MotionSystemController> m_controller;
    std::unique_ptr<QWidget> m_host;
    ClockedPage *m_page = nullptr;

    void usePorts(bool withBoard)
    {
        QList<corvane::SerialPortEntry> ports { { "ttyUSB7", "USB Serial", "QinHeng", 0x1A86, 0x7523 } };
        if (withBoard)
            ports.append({ m_board->portName(), "STM32 STLink", "STMicroelectronics", 0x0483, 0x374B });
        SerialPortLister::setFixedPorts(ports);
    }

    void makePage()
    {
        m_host = std::make_unique<QWidget>();
        m_host->setAutoFillBackground(true);
        auto *layout = new QVBoxLayout(m_host.get());
        layout->setContentsMargins(16, 16, 16, 0);
        m_page = new ClockedPage(m_controller.get());
        layout->addWidget(m_page);
        m_host->resize(1280, 800);
        m_host->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
    }

    // Connected through the page with the board in `state`; the board's records cleared.
    void connectBoard(const QByteArray &state = "ready", const QMap<int, int> &mm = {}, char sleep = 0)
    {
        child<QPushButton>(m_page, "connectButton")->click();
        QVERIFY(m_controller->isConnected());
        QVERIFY(m_board->sendHeartbeat(state, mm, sleep));
        QVERIFY(m_board->waitForFrame('Q'));
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), QString::fromLatin1(state), Patience);
        m_board->clearRecords();
    }

    void selectTarget(const QString &label)
    {
        auto *targets = child<ostra::Segmented>(m_page, "testTargets");
        targets->setCurrentIndex(int(targets->options().indexOf(label)));
        QCOMPARE(targets->options().at(targets->currentIndex()), label);
    }

    QStringList visibleNames(const QString &prefix, int max)
    {
        // Widgets added to a shown page appear with the next turn of the event loop.
        QCoreApplication::processEvents();
        QStringList names;
        for (int i = 1; i <= max; ++i) {
            auto *w = m_page->findChild<QWidget *>(prefix + QString::number(i));
            if (w && w->isVisible())
                names.append(w->objectName());
        }
        return names;
    }

    void refreshRun() { QMetaObject::invokeMethod(m_page, "refreshRunButton"); }

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void init()
    {
        corvane::SettingsFile(QStringLiteral("MotionSystem")).remove(QString());
        m_board = std::make_unique<SimulatedMotionController>();
        m_controller = std::make_unique<MotionSystemController>();
        usePorts(true);
        makePage();
    }

    void cleanup()
    {
        m_host.reset();
        m_controller.reset();
        m_board.reset();
        SerialPortLister::useSystemPorts();
        corvane::NetworkInterfaceLister::useSystemInterfaces();
    }

    void portList()
    {
        auto *ports = child<QComboBox>(m_page, "portList");
        // The board was preselected at construction: nothing had been chosen.
        QCOMPARE(ports->currentData().toString(), m_board->portName());
        // A port the user chose stays chosen across a refresh.
        ports->setCurrentIndex(0);
        m_page->onRefreshPorts();
        QCOMPARE(ports->currentData().toString(), QString("ttyUSB7"));

        SerialPortLister::setFixedPorts({});
        m_page->onRefreshPorts();
        QCOMPARE(ports->currentText(), QString("No serial ports found"));
        m_page->onConnectClicked();
        QCOMPARE(toastText(m_page), QString("Choose a serial port first"));
        QCOMPARE(logLines(m_page).first(), QString("! Select a serial port first"));
    }

    void connectionStates()
    {
        auto *status = child<QLabel>(m_page, "statusLabel");
        auto *dot = child<ostra::Dot>(m_page, "statusDot");
        QCOMPARE(status->text(), QString("Offline"));
        QCOMPARE(ostratest::shortDashes(m_page), QStringList()); // actuators without a position
        child<QPushButton>(m_page, "connectButton")->click();
        QCOMPARE(status->text(), QString("Connecting"));

        struct Step { QByteArray state; QString text; int level; bool ripple; };
        const QList<Step> steps {
            { "Ready", "Ready", ostra::LevelWarning, false }, // not "ready"
            { "ready", "Online", ostra::LevelSuccess, true },
            { "FAIL", QString::fromUtf8("Fault \u2014 fix, then Auto home"), ostra::LevelDanger, false },
            { "released", QString::fromUtf8("Released \u2014 Auto home to resume"), ostra::LevelWarning, false },
            { "calibrate", "Calibrating", ostra::LevelInfo, true },
        };
        for (const Step &step : steps) {
            QVERIFY(m_board->sendHeartbeat(step.state));
            QTRY_COMPARE_WITH_TIMEOUT(status->text(), step.text, Patience);
            QCOMPARE(dot->color(), ostra::levelAccentColor(step.level));
            QCOMPARE(dot->hasRipple(), step.ripple);
        }
        // A state the page does not know shows as the board's text, never as markup.
        QVERIFY(m_board->sendHeartbeat("<b>odd</b>"));
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("<b>odd</b>"), Patience);
        QVERIFY(status->sizeHint().width() >= status->fontMetrics().horizontalAdvance(status->text()));
        // Homing shows on Auto home; calibrating tints Calibration.
        QVERIFY(m_board->sendHeartbeat("homing"));
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("Homing"), Patience);
        QCOMPARE(child<QPushButton>(m_page, "homeButton")->text(), QString::fromUtf8("    Homing\u2026"));
        QVERIFY(m_board->sendHeartbeat("calibrate"));
        QTRY_VERIFY_WITH_TIMEOUT(!child<QPushButton>(m_page, "calibrationButton")->styleSheet().isEmpty(), Patience);
        QCOMPARE(child<QPushButton>(m_page, "homeButton")->text(), QString("    Auto home"));

        child<QPushButton>(m_page, "connectButton")->click();
        QCOMPARE(status->text(), QString("Offline"));
    }

    // A refused Connect says why by the button, not only in the collapsed log: a port this user
    // may not open is named so, apart from one another program holds; a good connect clears it.
    void connectRefusal_data()
    {
        QTest::addColumn<bool>("denied");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no permission") << true << "No permission to open %1. Add your user to the port's group "
                                                  "(often dialout), then log in again.";
        QTest::newRow("held by another program")
            << false << "%1 is in use by another program (PuTTY? a test script?). Close it and connect again.";
    }

    void connectRefusal()
    {
        QFETCH(bool, denied);
        QFETCH(QString, reason);
        const QString port = m_board->portName();
        const QByteArray path = QFile::encodeName(port);
        auto other = std::make_unique<MotionSystemController>();
        if (denied) {
            QCOMPARE(::chmod(path.constData(), 0), 0);
            // Root opens it whatever its mode: the open runs as nobody.
            if (::geteuid() == 0 && ::seteuid(65534) != 0)
                QSKIP("cannot take another user's rights");
        } else {
            QVERIFY(other->connectPort(port));
        }
        child<QPushButton>(m_page, "connectButton")->click();
        if (::getuid() == 0)
            QCOMPARE(::seteuid(0), 0);
        QVERIFY(!m_controller->isConnected());
        auto *problem = child<QLabel>(m_page, "connectProblem");
        QVERIFY(problem->isVisible());
        QCOMPARE(problem->text(), reason.arg(port));
        QCOMPARE(problem->textFormat(), Qt::PlainText);
        QCOMPARE(logLines(m_page).first(), "! " + reason.arg(port));
        QVERIFY(m_host->grab().toImage().save(picture(QStringLiteral("motion-page-refused-%1").arg(denied ? "denied" : "held"))));

        other.reset();
        QCOMPARE(::chmod(path.constData(), 0600), 0);
        connectBoard();
        QVERIFY(problem->isHidden());
    }

    // A link that connected but is not up says why by the button too, until the board answers.
    void linkProblem_data()
    {
        QTest::addColumn<QByteArray>("firstState"); // empty: no heartbeat at all
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no heartbeat") << QByteArray() << "onFirstHeartbeatTimeout"
                                      << "No heartbeat from the controller within 3.5 s \u2014 wrong port, or the "
                                         "ST-LINK is wedged (unplug and replug the USB).";
        QTest::newRow("heartbeats stopped") << QByteArray("ready") << "onHeartbeatTimeout"
                                            << "Heartbeats stopped \u2014 link may be wedged (unplug and replug the USB if it persists).";
    }

    void linkProblem()
    {
        QFETCH(QByteArray, firstState);
        QFETCH(QString, timeout);
        QFETCH(QString, reason);
        if (firstState.isEmpty())
            child<QPushButton>(m_page, "connectButton")->click();
        else
            connectBoard(firstState);
        QVERIFY(QMetaObject::invokeMethod(m_controller.get(), qPrintable(timeout)));
        auto *problem = child<QLabel>(m_page, "connectProblem");
        QVERIFY(problem->isVisible());
        QCOMPARE(problem->text(), reason);
        auto *status = child<QLabel>(m_page, "statusLabel");
        QCOMPARE(status->text(), QString("Connecting"));
        QTRY_VERIFY(status->width() >= status->sizeHint().width());
        QVERIFY(m_host->grab().toImage().save(picture(QStringLiteral("motion-page-%1").arg(QTest::currentDataTag()).replace(' ', '-'))));

        QVERIFY(m_board->sendHeartbeat("ready"));
        QTRY_VERIFY_WITH_TIMEOUT(problem->isHidden(), Patience);
    }

    void logCard_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("level"); // -1: faint text
        QTest::newRow("saved") << QString::fromUtf8("Settings saved \u2014 will apply on connect") << int(ostra::LevelSuccess);
        QTest::newRow("homing") << "Homing requested" << int(ostra::LevelWarning);
        QTest::newRow("release is not released") << QString::fromUtf8("Release requested \u2014 motion disabled, Home to resume") << -1;
        QTest::newRow("bang") << "! anything" << int(ostra::LevelDanger);
        QTest::newRow("markup stays text") << "<b>error</b> & more" << int(ostra::LevelDanger);
    }

    void logCard()
    {
        QFETCH(QString, line);
        QFETCH(int, level);
        emit m_controller->statusLine(line);
        QCOMPARE(logLines(m_page).first(), line);
        QCOMPARE(dotColorOfNewestLine(m_page), level < 0 ? ostra::ThemeColors::textMuted : ostra::levelAccentColor(level));
    }

    void platformChange()
    {
        QCOMPARE(m_page->platformDof(), 5);
        QCOMPARE(visibleNames("liveColumn", 6).size(), 6);
        m_page->setPlatformDof(3);
        QCOMPARE(m_controller->platformDof(), 3);
        QCOMPARE(child<ostra::Pill>(m_page, "dofPill")->text(), QString("3DOF"));
        QCOMPARE(visibleNames("liveColumn", 6), QStringList({ "liveColumn1", "liveColumn2", "liveColumn3", "liveColumn4" }));
        auto *targets = child<ostra::Segmented>(m_page, "testTargets");
        QCOMPARE(targets->options(), QStringList({ "Pitch", "Roll", "Heave", "Free", "Full system", "Haptics" }));
        QCOMPARE(targets->options().at(targets->currentIndex()), QString("Pitch"));

        // Nothing reported yet: empty meters reading "—"; channel 5 has no meter here.
        auto *value = child<QWidget>(m_page, "liveColumn1")->findChildren<QLabel *>().last();
        QCOMPARE(value->text(), QString::fromUtf8("\u2014"));
        connectBoard("ready", { { 0, 75 }, { 5, 40 } });
        QCOMPARE(value->text(), QString("75 mm"));
        QCOMPARE(child<QWidget>(m_page, "liveColumn1")->findChild<ostra::VMeter *>()->value(), 0.5);

        m_page->setPlatformDof(5);
        selectTarget("Roll");
        m_page->setPlatformDof(2);
        QCOMPARE(targets->options(), QStringList({ "Surge", "Traction loss", "Free", "Full system", "Haptics" }));
        QCOMPARE(targets->options().at(targets->currentIndex()), QString("Traction loss"));
        auto *names = child<QWidget>(m_page, "liveColumn2")->findChildren<QLabel *>().first();
        QVERIFY(names->text().endsWith(">CH2</span>"));
    }

    // A map naming a channel the new platform lacks goes back to the identity map (unsaved);
    // one that fits is kept.
    void platformChangeResetsActuatorSlots_data()
    {
        QTest::addColumn<QList<int>>("stored");
        QTest::addColumn<int>("dof");
        QTest::addColumn<QList<int>>("expected");
        const QList<int> identity { 0, 1, 2, 3, 4, 5 };
        QTest::newRow("3 DOF, channel 5 on actuator 1") << QList<int> { 5, 1, 2, 3, 4, 0 } << 3 << identity;
        QTest::newRow("3 DOF, channel 4 on actuator 4") << QList<int> { 0, 1, 2, 4, 3, 5 } << 3 << identity;
        QTest::newRow("3 DOF, four channels swapped") << QList<int> { 1, 0, 3, 2, 4, 5 } << 3 << QList<int> { 1, 0, 3, 2, 4, 5 };
        QTest::newRow("2 DOF, channel 2 on actuator 2") << QList<int> { 0, 2, 1, 3, 4, 5 } << 2 << identity;
        QTest::newRow("2 DOF, two channels swapped") << QList<int> { 1, 0, 2, 3, 5, 4 } << 2 << QList<int> { 1, 0, 2, 3, 5, 4 };
    }

    void platformChangeResetsActuatorSlots()
    {
        QFETCH(QList<int>, stored);
        QFETCH(int, dof);
        QFETCH(QList<int>, expected);
        MotionSystemSettings s = m_controller->settings();
        std::copy(stored.begin(), stored.end(), s.actuatorSlots.begin());
        m_controller->applySettings(s, {"actuatorSlots"});
        m_page->setPlatformDof(dof);
        for (int i = 0; i < MotionSystemController::actuatorCount(dof); ++i) {
            auto *combo = child<QWidget>(m_page, QString("actuatorRow%1").arg(i + 1))->findChild<QComboBox *>();
            QCOMPARE(combo->currentData().toInt(), expected.at(i));
        }
        const bool reset = expected != stored;
        QCOMPARE(child<QLabel>(m_page, "mapStatus")->text(),
                 reset ? QString("Save to apply the new positions") : QString("Sent to the controller on connect"));
        auto *save = child<QPushButton>(m_page, "saveButton");
        QCOMPARE(save->isEnabled(), reset);
        if (reset)
            save->click();
        const std::array<int, 6> saved = m_controller->settings().actuatorSlots;
        QCOMPARE(QList<int>(saved.begin(), saved.end()), expected);
    }

    void freeTestAxis_data()
    {
        QTest::addColumn<int>("selector");
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("All") << 0 << QByteArray("FF 1E 00 32 05");
        QTest::newRow("3") << 3 << QByteArray("02 1E 00 32 05");
    }

    void freeTestAxis()
    {
        QFETCH(int, selector);
        QFETCH(QByteArray, payload);
        connectBoard();
        selectTarget("Free");
        child<ostra::Segmented>(m_page, "freeActuators")->setCurrentIndex(selector);
        child<MotionRunButton>(m_page, "runButton")->click();
        QVERIFY(m_board->waitForFrame('T'));
        QCOMPARE(hex(m_board->frames('T').first().payload), payload);
        QCOMPARE(child<QLabel>(m_page, "testStatus")->text(), QString::fromUtf8("Running Free at 30% travel \u2014 Release aborts"));
        child<QPushButton>(m_page, "releaseButton")->click();
        QVERIFY(!m_controller->isBusy());
        QCOMPARE(toastText(m_page), QString("Motors released"));
    }

    void runButtonCountsDown()
    {
        connectBoard();
        selectTarget("Full system");
        auto *run = child<MotionRunButton>(m_page, "runButton");
        run->click();
        QCOMPARE(run->text(), QString::fromUtf8("Running \u00b7 5 min"));

        struct Tick { qint64 ms; QString text; };
        const QList<Tick> ticks {
            { 181000, QString::fromUtf8("Running \u00b7 119s") },
            { 179000, QString::fromUtf8("Running \u00b7 3 min") },
            { 310000, QString::fromUtf8("Running \u00b7 0s") },
        };
        for (const Tick &tick : ticks) {
            m_page->elapsedMs = tick.ms;
            refreshRun();
            QCOMPARE(run->text(), tick.text);
        }
        QCOMPARE(run->progress(), 1.0);
        QCOMPARE(child<QLabel>(m_page, "testStatus")->text(), QString::fromUtf8("Running the full system test \u2014 Release aborts"));

        child<QPushButton>(m_page, "releaseButton")->click();
        // Reset half a second after the test finished.
        QTRY_COMPARE_WITH_TIMEOUT(run->text(), QString("Run test"), Patience);
    }

    void hapticPreset()
    {
        connectBoard();
        selectTarget("Haptics");
        button(m_page, "Kerb")->click();
        child<MotionRunButton>(m_page, "runButton")->click();
        QVERIFY(m_board->waitForFrame('V'));
        QCOMPARE(hex(m_board->rawReceived()), QByteArray("50 56 FF 14 0C 03 21 21"));
        QCOMPARE(child<QLabel>(m_page, "testStatus")->text(), QString::fromUtf8("Running haptics: 2.0 mm at 12 Hz \u2014 Release aborts"));
    }

    void draggedSliderIsNotPulledBack()
    {
        connectBoard();
        selectTarget("Free");
        auto *first = child<ostra::SliderRow>(m_page, "axisRow1");
        auto *second = child<ostra::SliderRow>(m_page, "axisRow2");
        first->setValue(100); // as the user drags it
        QVERIFY(m_board->waitForFrame('M'));
        QCOMPARE(hex(m_board->frames('M').first().payload), QByteArray("00 00 64"));
        QVERIFY(m_board->sendPositions({ 40, 50, 60, 70, 80, 90 }));
        QTRY_COMPARE_WITH_TIMEOUT(second->value(), 50, Patience);
        QCOMPARE(first->value(), 100);
        QCOMPARE(first->findChildren<QLabel *>().last()->text(), QString("40 mm"));
        QCOMPARE(m_board->frameCount('M'), 1); // reports move no actuator
    }

    void strokeMovesTravelAndPark_data()
    {
        QTest::addColumn<int>("park");
        QTest::addColumn<int>("stroke");
        QTest::addColumn<int>("parkAfter");
        QTest::addColumn<int>("travelMax");
        QTest::addColumn<int>("travelAfter");
        QTest::newRow("150 to 200, park 75") << 75 << 200 << 100 << 190 << 140;
        QTest::newRow("150 to 100, park 75") << 75 << 100 << 50 << 90 << 90;
    }

    void strokeMovesTravelAndPark()
    {
        QFETCH(int, park);
        QFETCH(int, stroke);
        QFETCH(int, parkAfter);
        QFETCH(int, travelMax);
        QFETCH(int, travelAfter);
        child<ostra::SliderRow>(m_page, "parkRow")->setValue(park);
        child<ostra::SliderRow>(m_page, "strokeRow")->setValue(stroke);
        QCOMPARE(child<ostra::SliderRow>(m_page, "parkRow")->value(), parkAfter);
        QCOMPARE(slider(child<ostra::SliderRow>(m_page, "maxTravelRow"))->maximum(), travelMax);
        QCOMPARE(child<ostra::SliderRow>(m_page, "maxTravelRow")->value(), travelAfter);
        QCOMPARE(child<QLabel>(m_page, "saveStatus")->text(), QString::fromUtf8("Unsaved \u2014 applies on connect"));
    }

    void saveWhileDisconnected()
    {
        child<ostra::SliderRow>(m_page, "intensityRow")->setValue(60);
        child<QPushButton>(m_page, "saveButton")->click();
        QCOMPARE(m_controller->settings().intensity, 60);
        // Said once the settings are on disk.
        QTRY_COMPARE(toastText(m_page), QString::fromUtf8("Saved \u2014 applies on connect"));
        QCOMPARE(logLines(m_page).first(), QString::fromUtf8("Settings saved \u2014 will apply on connect"));
        // Revert brings back the stored values.
        child<ostra::SliderRow>(m_page, "intensityRow")->setValue(30);
        child<QPushButton>(m_page, "revertButton")->click();
        QCOMPARE(child<ostra::SliderRow>(m_page, "intensityRow")->value(), 60);
        QCOMPARE(toastText(m_page), QString("Changes reverted"));
    }

    void actuatorPositionsSwap()
    {
        MotionSystemSettings s = m_controller->settings();
        s.actuatorSlots = { 0, 1, 3, 2, 4, 5 };
        m_controller->applySettings(s, {"actuatorSlots"});
        auto *first = child<QWidget>(m_page, "actuatorRow1")->findChild<QComboBox *>();
        emit first->activated(first->findData(2));
        QCOMPARE(first->currentData().toInt(), 2);
        QCOMPARE(child<QWidget>(m_page, "actuatorRow4")->findChild<QComboBox *>()->currentData().toInt(), 0);
        QCOMPARE(child<QLabel>(m_page, "mapStatus")->text(), QString("Save to apply the new positions"));
        child<QPushButton>(m_page, "saveButton")->click();
        QCOMPARE(m_controller->settings().actuatorSlots, (std::array<int, 6> { 2, 1, 3, 0, 4, 5 }));
        QCOMPARE(first->itemText(0), QString::fromUtf8("Front left  \u00b7  sim ch 1"));
    }

    void buzz()
    {
        auto *buzz = child<QWidget>(m_page, "actuatorRow3")->findChild<QPushButton *>();
        connectBoard();
        buzz->click();
        QVERIFY(m_board->waitForFrame('V'));
        QCOMPARE(hex(m_board->rawReceived()), QByteArray("50 56 02 14 08 02 21 21"));
        QCOMPARE(logLines(m_page).first(), QString("Buzzing actuator 3"));
        QVERIFY(!buzz->isEnabled());
        m_page->elapsedMs = 500;
        refreshRun();
        QCOMPARE(child<MotionRunButton>(m_page, "runButton")->text(), QString::fromUtf8("Running \u00b7 2s"));
    }

    void sleepStatus_data()
    {
        QTest::addColumn<char>("flag");
        QTest::addColumn<QString>("text");
        QTest::newRow("waiting") << '-' << QString::fromUtf8("Waiting for the controller\u2026");
        QTest::newRow("awake") << 'a' << QString::fromUtf8("Awake \u2014 sleeps after 10 s without motion");
        QTest::newRow("asleep") << 'z' << QString::fromUtf8("Asleep \u2014 servos off. Motion wakes it.");
        QTest::newRow("not reported") << char(0) << QString::fromUtf8("Controller does not report sleep \u2014 it may need the firmware update");
    }

    void sleepStatus()
    {
        QFETCH(char, flag);
        QFETCH(QString, text);
        auto *status = child<QLabel>(m_page, "sleepStatus");
        MotionSystemSettings s = m_controller->settings();
        s.sleepEnabled = true;
        m_controller->applySettings(s, {"sleepEnabled"});
        QCOMPARE(status->text(), QString("Sent to the controller on connect"));
        connectBoard("ready", {}, flag);
        QCOMPARE(status->text(), text);
        // Edits show at the next refresh, not while moving the controls.
        child<ostra::SliderRow>(m_page, "sleepAfterRow")->setValue(20);
        QCOMPARE(status->text(), text);
        refreshRun();
        QCOMPARE(status->text(), QString("Save to apply"));
    }

    // A settings echo without a usable stroke leaves the page drawable.
    void echoWithoutStroke()
    {
        m_page->setPlatformDof(3);
        connectBoard("ready", { { 0, 60 } });
        QVERIFY(m_board->sendSettingsEcho(80, 100, 90, 70, 30, 0));
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->settings().strokeMm, 0, Patience);
        QCOMPARE(child<ostra::SliderRow>(m_page, "strokeRow")->value(), 50);
        QCOMPARE(slider(child<ostra::SliderRow>(m_page, "maxTravelRow"))->maximum(), 40);
        QCOMPARE(slider(child<ostra::SliderRow>(m_page, "axisRow1"))->maximum(), 45);
        QCOMPARE(child<QWidget>(m_page, "liveColumn1")->findChild<ostra::VMeter *>()->value(), 0.0);
        QVERIFY(!m_host->grab().toImage().isNull());
    }

    // Holds 8090..8099: ctest runs it under a resource lock. Off every network the panel runs for
    // this PC alone, and the page says a phone finds no network.
    void webPanelButton_data()
    {
        QTest::addColumn<bool>("network");
        QTest::newRow("home network") << true;
        QTest::newRow("no network") << false;
    }

    void webPanelButton()
    {
        QFETCH(bool, network);
        corvane::NetworkInterfaceLister::setFixedInterfaces({network ? ostratest::networkInterface("wlan0", "192.168.1.20")
                                                                     : ostratest::networkInterface("lo", "127.0.0.1")});
        const QString url = network ? "http://192.168.1.20:8090" : "http://127.0.0.1:8090";
        auto *web = child<QPushButton>(m_page, "webPanelButton");
        auto *address = child<QLabel>(m_page, "webAddressLabel");
        QList<QTcpServer *> taken;
        for (quint16 p = 8090; p <= 8099; ++p) {
            auto *server = new QTcpServer;
            taken.append(server);
            if (!server->listen(QHostAddress::AnyIPv4, p)) {
                qDeleteAll(taken);
                QSKIP("a port of 8090..8099 is in use on this machine");
            }
        }
        web->click();
        QCOMPARE(address->text(), QString("Web panel failed to start (ports 8090-8099 all in use)"));
        QCOMPARE(logLines(m_page).first(), QString("! Web panel failed to start (ports 8090-8099 in use)"));
        delete taken.takeFirst(); // 8090 free again

        QStringList shown;
        const auto closeQrDialog = [this, &shown] {
            QTimer::singleShot(0, this, [&shown] {
                if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                    shown.append(dialog->findChild<QLabel *>("urlLabel")->text());
                    dialog->accept();
                }
            });
        };
        closeQrDialog();
        web->click();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first(), network ? url : QString("No network found"));
        QCOMPARE(address->text(), network ? QString("Web panel running at %1").arg(url)
                                          : QString::fromUtf8("Web panel running at %1 \u2014 no network found for a phone").arg(url));
        QCOMPARE(logLines(m_page).first(), QString("Web panel started at %1").arg(url));
        // A click on the address shows the code again.
        closeQrDialog();
        QTest::mouseClick(address, Qt::LeftButton);
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.last(), shown.first());

        web->click();
        QVERIFY(address->isHidden());

        QCOMPARE(logLines(m_page).first(), QString("Web panel stopped"));
        qDeleteAll(taken);
    }

    void render_data()
    {
        QTest::addColumn<int>("dof");
        QTest::addColumn<QString>("state");
        QTest::newRow("5dof-disconnected") << 5 << "disconnected";
        QTest::newRow("3dof-connected") << 3 << "connected";
        QTest::newRow("2dof-running") << 2 << "running";
        QTest::newRow("5dof-running") << 5 << "running";
    }

    void render()
    {
        QFETCH(int, dof);
        QFETCH(QString, state);
        m_page->setPlatformDof(dof);
        if (state != QLatin1String("disconnected")) {
            connectBoard("ready", { { 0, 40 }, { 1, 75 }, { 2, 110 }, { 3, 20 }, { 4, 75 }, { 5, 140 } }, 'a');
            QVERIFY(m_board->sendMapEcho({ 0, 1, 2, 3, 4, 5 }));
            QTRY_VERIFY_WITH_TIMEOUT(m_controller->isMapConfirmed(), Patience);
            child<QPushButton>(m_page, "showLogButton")->click();
        }
        if (state == QLatin1String("running")) {
            selectTarget("Free");
            child<MotionRunButton>(m_page, "runButton")->click();
            QVERIFY(m_controller->isBusy());
            m_page->elapsedMs = 2000;
            refreshRun();
        }
        const QString name = QStringLiteral("motion-page-%1").arg(QString::fromLatin1(QTest::currentDataTag()));
        QCoreApplication::processEvents(); // rows built while shown appear first
        m_host->resize(1280, m_host->layout()->totalHeightForWidth(1280));
        QTest::qWait(50);
        QVERIFY(m_host->grab().toImage().save(picture(name)));
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("motion", {"render", "connectRefusal", "linkProblem"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestMotionSystemWidget)
#include "tst_motionsystemwidget.moc"
