#include <QAbstractScrollArea>
#include <QApplication>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ostraui/toast.h"
#include "ostraui/toggle.h"
#include "platform/storage/settingsfile.h"
#include "racecontrol/pages/racestationsdialog.h"
#include "racefleet.h"
#include "support/fixednetwork.h"

using corvane::RaceControl;
using corvane::RaceStationsDialog;

namespace {

// Widgets of a rebuilt list are deleted later; let that happen before looking again.
void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QLabel *labelWith(QWidget *parent, const QString &text)
{
    settle();
    for (QLabel *label : parent->findChildren<QLabel *>()) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

QList<QPushButton *> buttons(QWidget *parent, const QString &text)
{
    settle();
    QList<QPushButton *> found;
    for (QPushButton *button : parent->findChildren<QPushButton *>()) {
        if (button->text() == text)
            found.append(button);
    }
    return found;
}

// Stations Pit 3, Pit 4 and Pit 5, of which only Pit 4 is chosen.
void storeThreeStations()
{
    ostratest::storeRaceStations({"10.77.0.3", "10.77.0.4", "10.77.0.5"});
    corvane::SettingsFile().setValue("raceControl/included", QStringList{"s4"});
}

} // namespace

// The stations dialog works on stored stations only; it opens no link, so it needs no network.
class TestRaceStationsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }
    void init() { storeThreeStations(); }
    void cleanup() { corvane::NetworkInterfaceLister::useSystemInterfaces(); }

    void headingCountsTheWholeList()
    {
        RaceControl control;
        RaceStationsDialog dialog(&control);
        QVERIFY(labelWith(&dialog, "Stations \u00B7 1 of 3 chosen"));
        // The chosen station comes first and shows its state.
        QVERIFY(labelWith(&dialog, "10.77.0.4 \u00B7 Connecting"));
        dialog.findChild<QLineEdit *>()->setText("PIT 5");
        QVERIFY(labelWith(&dialog, "Pit 5"));
        QVERIFY(!labelWith(&dialog, "Pit 3"));
        QVERIFY(labelWith(&dialog, "Stations \u00B7 1 of 3 chosen"));
        dialog.findChild<QLineEdit *>()->setText(".0.3");
        QVERIFY(labelWith(&dialog, "Pit 3"));
        dialog.findChild<QLineEdit *>()->setText("zzz");
        QVERIFY(labelWith(&dialog, "No station matches \u201Czzz\u201D."));
    }

    void removeTakesTwoClicks()
    {
        RaceControl control;
        RaceStationsDialog dialog(&control);
        QList<QPushButton *> remove = buttons(&dialog, "Remove");
        QCOMPARE(remove.size(), 3);
        remove.at(0)->click();
        const QString first = dialog.armedRemoveId();
        QVERIFY(!first.isEmpty());
        remove = buttons(&dialog, "Remove");
        // The armed button is the red one; pressing another row arms that row instead.
        QCOMPARE(std::count_if(remove.cbegin(), remove.cend(), [](QPushButton *b) { return b->property("danger").toBool(); }), 1);
        QPushButton *other = *std::find_if(remove.cbegin(), remove.cend(), [](QPushButton *b) { return !b->property("danger").toBool(); });
        other->click();
        const QString second = dialog.armedRemoveId();
        QVERIFY(second != first);
        QCOMPARE(control.stations().size(), 3);
        remove = buttons(&dialog, "Remove");
        (*std::find_if(remove.cbegin(), remove.cend(), [](QPushButton *b) { return b->property("danger").toBool(); }))->click();
        QCOMPARE(control.stations().size(), 2);
        QVERIFY(!control.findStation(second));
        QVERIFY(dialog.armedRemoveId().isEmpty());
        QVERIFY(labelWith(&dialog, QString("Stations \u00B7 %1 of 2 chosen").arg(second == "s4" ? 0 : 1)));
    }

    void choosingAndSafetyLink()
    {
        RaceControl control;
        RaceStationsDialog dialog(&control);
        settle();
        QList<ostra::Toggle *> toggles = dialog.findChildren<ostra::Toggle *>();
        // The safety link switch first, then one switch per row.
        QCOMPARE(toggles.size(), 4);
        toggles.at(0)->click();
        QVERIFY(control.watchdog());
        buttons(&dialog, "5 s").first()->click();
        QCOMPARE(control.watchdogTimeoutMs(), 5000);
        QVERIFY(buttons(&dialog, "5 s").first()->isChecked());
        QVERIFY(!buttons(&dialog, "2 s").first()->isChecked());
        buttons(&dialog, "Clear").first()->click();
        QVERIFY(control.included().isEmpty());
        QVERIFY(labelWith(&dialog, "Stations \u00B7 0 of 3 chosen"));
    }

    // Tab goes from control to control, the rows' among them; the list that holds them is no stop.
    void tabSkipsTheList()
    {
        RaceControl control;
        RaceStationsDialog dialog(&control);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        settle();
        QWidget *stop = dialog.findChild<QLineEdit *>();
        stop->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 16; ++i) {
            QTest::keyClick(stop, Qt::Key_Tab);
            stop = QApplication::focusWidget();
            QVERIFY(stop && !qobject_cast<QAbstractScrollArea *>(stop));
        }
    }

    void scanResults_data()
    {
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("nothing") << QStringList() << QStringList{"No stations found on this network."};
        QTest::newRow("only known") << QStringList{"10.77.0.3|1.2.27"} << QStringList{"Every station found is already in the list."};
        QTest::newRow("new ones, one without version")
            << QStringList{"10.77.0.3|1.2.27", "10.77.0.21|", "10.77.0.30|1.2.28"}
            << QStringList{"Found on this network", "10.77.0.21", "10.77.0.30 \u00B7 Corvane 1.2.28"};
        QTest::newRow("markup stays text") << QStringList{"10.77.0.50|<b>x</b>"}
                                           << QStringList{"Found on this network", "10.77.0.50 \u00B7 Corvane <b>x</b>"};
        QTest::newRow("long version cut") << QStringList{"10.77.0.51|" + QString(5000, 'v')}
                                          << QStringList{"10.77.0.51 \u00B7 Corvane " + QString(32, 'v') + "\u2026"};
    }

    void scanResults()
    {
        QFETCH(QStringList, results);
        QFETCH(QStringList, shown);
        RaceControl control;
        RaceStationsDialog dialog(&control);
        dialog.showScanResult(results);
        for (const QString &text : shown) {
            QLabel *label = labelWith(&dialog, text);
            QVERIFY2(label, qPrintable(text));
            if (text.contains("<b>"))
                QCOMPARE(label->textFormat(), Qt::PlainText);
        }
        QCOMPARE(buttons(&dialog, "Scan network").size(), 1);
    }

    // A text that cannot be an address is refused as such, and this PC's own addresses as this
    // PC, without trying to reach them; an address that can be a station is tried. What came of
    // it stays in the line under the field (no passing toast over it) until the next try; a
    // station let go without confirming shows there too (typed empty).
    void addressChecked_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("lanAddress");
        const QString invalid = QStringLiteral("\u201C%1\u201D is not a valid address");
        const QString thisPc = QStringLiteral("%1 is this PC \u2014 add the other PCs of the venue by their address");
        for (const char *text : {"999.1.1.1", "10.77.0.256", "10.77.0", "1.2.3.4.5", "10.77.0.3a.1", "ws://10.77.0.9",
                                 "pit 3", "-pit.local", "::g"})
            QTest::newRow(text) << text << invalid.arg(QLatin1String(text)) << "";
        QTest::newRow("own IPv4") << "127.0.0.1" << thisPc.arg("127.0.0.1") << "";
        QTest::newRow("own IPv6") << "::1" << thisPc.arg("::1") << "";
        QTest::newRow("own name") << "LocalHost" << thisPc.arg("LocalHost") << "";
        const QString name = QHostInfo::localHostName();
        QTest::newRow("own name, final dot") << name + "." << thisPc.arg(name + ".") << "";
        QTest::newRow("own name on the LAN, final dot") << name.toUpper() + ".local." << thisPc.arg(name.toUpper() + ".local.") << "";
        QTest::newRow("own LAN address") << "192.168.1.40" << thisPc.arg("192.168.1.40") << "192.168.1.40";
        QTest::newRow("own LAN address, leading zeros") << "192.168.001.040" << thisPc.arg("192.168.001.040") << "192.168.1.40";
        QTest::newRow("unreachable") << "10.77.0.99"
                                     << "Couldn't reach 10.77.0.99 \u2014 check it's on and on this network" << "";
        QTest::newRow("station let go unconfirmed") << "" << "Couldn't switch off the safety link of Pit 4" << "";
    }

    void addressChecked()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(QString, lanAddress);
        // Nothing the add tries leaves this PC.
        ostratest::OwnLoopback isolated;
        if (!isolated.entered() && typed == "10.77.0.99")
            QSKIP("needs a network namespace of its own");
        if (!lanAddress.isEmpty())
            corvane::NetworkInterfaceLister::setFixedInterfaces({ostratest::networkInterface("eth0", qPrintable(lanAddress))});
        RaceControl control;
        QWidget window;
        window.resize(800, 700);
        window.show();
        RaceStationsDialog dialog(&control, &window);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto *field = dialog.findChildren<QLineEdit *>().constLast();
        QCOMPARE(field->placeholderText(), QStringLiteral("Add by IP, e.g. 192.168.1.21"));
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        if (typed.isEmpty())
            emit control.errorOccurred(message);
        QTRY_VERIFY(labelWith(&dialog, message));
        QLabel *line = labelWith(&dialog, message);
        QVERIFY(line->isVisible());
        QVERIFY(line->mapTo(&dialog, QPoint()).y() >= field->mapTo(&dialog, QPoint(0, field->height())).y());
        QVERIFY(!dialog.window()->findChild<ostra::Toast *>());
        QCOMPARE(control.stations().size(), 3);
        QVERIFY(buttons(&dialog, "Add").value(0)->isEnabled());
        // The next try replaces it.
        field->setText("999.9.9.9");
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(!labelWith(&dialog, message));
        QVERIFY(labelWith(&dialog, "\u201C999.9.9.9\u201D is not a valid address")->isVisible());
    }

    void foundHeadingGoesWithItsLastRow_data()
    {
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<bool>("headingStays");
        QTest::newRow("the only one found") << QStringList{"10.77.0.21|1.2.28"} << false;
        QTest::newRow("one of two found") << QStringList{"10.77.0.21|1.2.28", "10.77.0.22|"} << true;
    }

    // "Found on this network" heads only rows still to add: with the last one added it goes too,
    // rather than seem to title the station list.
    void foundHeadingGoesWithItsLastRow()
    {
        QFETCH(QStringList, found);
        QFETCH(bool, headingStays);
        ostratest::RaceStationRig rig;
        if (!rig.setUp({"10.77.0.21", "10.77.0.22"}))
            QSKIP(qPrintable("adding needs stations inside network namespaces: " + rig.error()));
        RaceControl control;
        RaceStationsDialog dialog(&control);
        dialog.showScanResult(found);
        QLabel *row = labelWith(&dialog, "10.77.0.21 \u00B7 Corvane 1.2.28");
        QVERIFY(row);
        row->parentWidget()->findChild<QPushButton *>()->click();
        QTRY_COMPARE(control.stations().size(), 4);
        QVERIFY(!labelWith(&dialog, "10.77.0.21 \u00B7 Corvane 1.2.28"));
        QTRY_COMPARE(labelWith(&dialog, "Found on this network") != nullptr, headingStays);
        QCOMPARE(labelWith(&dialog, "10.77.0.22") != nullptr, headingStays);
    }

    void linesBelowKeepTheTopInView_data()
    {
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("line");
        QTest::newRow("nothing found") << QStringList() << "" << "No stations found on this network.";
        QTest::newRow("four found") << QStringList{"10.77.0.21|1.2.28", "10.77.0.22|", "10.77.0.23|", "10.77.0.24|"}
                                    << "" << "10.77.0.21 \u00B7 Corvane 1.2.28";
        QTest::newRow("no address") << QStringList() << "999.1.1.1" << "\u201C999.1.1.1\u201D is not a valid address";
        QTest::newRow("10,000 characters") << QStringList() << QString(10000, 'a')
                                            << "\u201C" + QString(39, 'a') + "\u2026\u201D is not a valid address";
        QTest::newRow("this PC") << QStringList() << "LOCALHOST"
                                 << "LOCALHOST is this PC \u2014 add the other PCs of the venue by their address";
    }

    // What a scan found (or that it found nothing) and the line under the add field show below
    // everything else, whole and within the dialog's edges, and what is above stays in view: the
    // dialog makes room for them rather than scroll its top (the safety link) away.
    void linesBelowKeepTheTopInView()
    {
        QFETCH(QStringList, found);
        QFETCH(QString, typed);
        QFETCH(QString, line);
        RaceControl control;
        QWidget parent;
        parent.resize(1366, 768);
        parent.show();
        RaceStationsDialog dialog(&control, &parent);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const int width = dialog.width();
        auto *field = dialog.findChildren<QLineEdit *>().constLast();
        if (typed.isEmpty()) {
            dialog.showScanResult(found);
        } else {
            field->setText(typed);
            QVERIFY(field->text().size() <= 253);
            QTest::keyClick(field, Qt::Key_Return);
        }
        QLabel *said = labelWith(&dialog, line);
        QVERIFY(said);
        QTRY_VERIFY(said->isVisible());
        QCOMPARE(dialog.width(), width);
        QVERIFY(said->mapTo(&dialog, QPoint()).y() >= field->mapTo(&dialog, QPoint(0, field->height())).y());
        const auto inView = [](QWidget *widget) {
            // Whole, within every scrolled view that holds it.
            for (QWidget *w = widget->parentWidget(); w; w = w->parentWidget()) {
                auto *area = qobject_cast<QAbstractScrollArea *>(w);
                if (area && (widget->sizeHint().width() > area->viewport()->width()
                             || !area->viewport()->rect().contains(QRect(widget->mapTo(area->viewport(), QPoint()), widget->size()))))
                    return false;
            }
            return true;
        };
        QTRY_VERIFY2(inView(said), qPrintable(line));
        QVERIFY(inView(labelWith(&dialog, "Safety link")));
        // Scroll bars come and go on the next turn of the event loop.
        QTest::qWait(100);
        QVERIFY(dialog.grab().save(racePicture(QStringLiteral("stations-dialog-below-%1").arg(QTest::currentDataTag()).replace(' ', '-'))));
    }

    void letGoMessageGoesWhenChosenAgain_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("stays");
        QTest::newRow("that station chosen again") << "s3" << false;
        QTest::newRow("another station chosen") << "s5" << true;
    }

    // What is said of a station let go unconfirmed holds until that station is race control's again.
    void letGoMessageGoesWhenChosenAgain()
    {
        QFETCH(QString, chosen);
        RaceControl control;
        RaceStationsDialog dialog(&control);
        const QString message = "Couldn't switch off the safety link of Pit 3: it may stop its car by itself.";
        emit control.errorOccurred(message, "s3");
        control.setStationIncluded(chosen, true);
        QLabel *line = labelWith(&dialog, message);
        QTEST(line && line->isVisibleTo(&dialog), "stays");
    }

    void render()
    {
        RaceControl control;
        QWidget parent;
        parent.resize(900, 820);
        parent.show();
        RaceStationsDialog dialog(&control, &parent);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.showScanResult({"10.77.0.21|1.2.28", "10.77.0.50|<b>x</b>"});
        auto *field = dialog.findChildren<QLineEdit *>().constLast();
        field->setText("127.0.0.1");
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(ostratest::saveDialogPicture(&parent, &dialog, racePicture("stations-dialog")));
    }

    void renderDarkTheme() { QVERIFY(renderDarkToo({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestRaceStationsDialog)
#include "tst_racestationsdialog.moc"
