#include "receiver/receiversettingspanel.h"
#include "panelprobe.h"
#include "receiver/colorwheelwidget.h"
#include "receiver/ledconfigdialog.h"
#include "support/widgets/modalanswerer.h"
#include "support/writesdone.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QListWidget>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>

using corvane::ColorWheelWidget;
using corvane::LedConfigDialog;
using namespace paneltest;

namespace {

struct Dialog
{
    Dialog()
    {
        dialog = std::make_unique<LedConfigDialog>(rig.controller.get());
        dialog->show();
        ok = QTest::qWaitForWindowExposed(dialog.get());
    }

    QLabel *label(const QString &startsWith) const
    {
        for (QLabel *l : dialog->findChildren<QLabel *>()) {
            if (l->text().startsWith(startsWith))
                return l;
        }
        return nullptr;
    }
    QGroupBox *group(const QString &title) const
    {
        for (QGroupBox *g : dialog->findChildren<QGroupBox *>()) {
            if (g->title() == title)
                return g;
        }
        return nullptr;
    }
    QSpinBox *count() const { return dialog->findChild<QSpinBox *>(); }
    QListWidget *zones() const { return dialog->findChild<QListWidget *>(); }
    // A press on the left of the wheel's ring: cyan.
    void pickCyan() { QTest::mousePress(dialog->findChild<ColorWheelWidget *>(), Qt::LeftButton, {}, QPoint(5, 100)); }
    void setMode(int row) { dialog->findChildren<QComboBox *>().at(0)->setCurrentIndex(row); }

    ReceiverRig rig;
    std::unique_ptr<LedConfigDialog> dialog;
    bool ok = false;
};

LedSettings perLed(int count, int selected)
{
    LedSettings s;
    s.mode = LedMode::PerLed;
    s.ledCount = count;
    s.selectedLedIndex = selected;
    return s;
}

} // namespace

class TestLedConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void pickingTwiceReplaces()
    {
        Dialog d;
        QVERIFY(d.ok);
        d.dialog->setSettings(perLed(8, 2));
        d.pickCyan();
        d.pickCyan();
        const LedSettings s = d.dialog->settings();
        QCOMPARE(s.ledColors.size(), 1);
        QCOMPARE(s.ledColors.first().index, 2);
        QCOMPARE(s.ledColors.first().color.b, std::uint8_t(255));
        QVERIFY(d.label("R:   0  G: 255  B: 255"));
    }

    void zoneTextColour_data()
    {
        QTest::addColumn<QColor>("zone");
        QTest::addColumn<QColor>("text");
        QTest::newRow("128,128,129 white") << QColor(128, 128, 129) << QColor(Qt::white);
        QTest::newRow("129,129,129 black") << QColor(129, 129, 129) << QColor(Qt::black);
    }

    void zoneTextColour()
    {
        QFETCH(QColor, zone);
        QFETCH(QColor, text);
        Dialog d;
        LedSettings s;
        s.mode = LedMode::Range;
        s.rangeZones.append({0, 50, RgbColor{std::uint8_t(zone.red()), std::uint8_t(zone.green()), std::uint8_t(zone.blue())}});
        d.dialog->setSettings(s);
        QCOMPARE(d.zones()->item(0)->foreground().color(), text);
    }

    void addAndRemoveZones()
    {
        Dialog d;
        QVERIFY(d.ok);
        d.setMode(2);
        QVERIFY(d.group("Range Zones")->isVisible());
        QVERIFY(!button(d.dialog.get(), "- Remove Zone")->isEnabled());
        button(d.dialog.get(), "+ Add Zone")->click();
        QCOMPARE(d.zones()->item(0)->text(), QStringLiteral("Zone 1: 0% - 100%"));
        d.dialog->findChildren<QSpinBox *>().at(2)->setValue(40); // end %
        button(d.dialog.get(), "+ Add Zone")->click();
        QCOMPARE(d.zones()->item(1)->text(), QStringLiteral("Zone 2: 40% - 100%"));
        QCOMPARE(d.dialog->settings().selectedZoneIndex, 1);
        d.pickCyan();
        QCOMPARE(d.dialog->settings().rangeZones.at(1).color.b, std::uint8_t(255));
        QCOMPARE(d.dialog->settings().rangeZones.at(0).color.b, std::uint8_t(0));
        button(d.dialog.get(), "- Remove Zone")->click();
        QCOMPARE(d.zones()->count(), 1);
        QCOMPARE(d.dialog->settings().selectedZoneIndex, 0);
        button(d.dialog.get(), "- Remove Zone")->click();
        QCOMPARE(d.zones()->count(), 0);
        QCOMPARE(d.dialog->settings().selectedZoneIndex, -1);
        QVERIFY(!button(d.dialog.get(), "- Remove Zone")->isEnabled());
    }

    // A record beyond what the receiver takes is pulled in, so a pick lands on an LED it lights.
    void recordBeyondTheReceiver_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("shown");
        QTest::newRow("300 LEDs, LED 251") << 300 << 250 << "LED 100 / 100";
        QTest::newRow("8 LEDs, LED 251") << 8 << 250 << "LED 8 / 8";
        QTest::newRow("100 LEDs, LED 100") << 100 << 99 << "LED 100 / 100";
    }

    void recordBeyondTheReceiver()
    {
        QFETCH(int, count);
        QFETCH(int, selected);
        QFETCH(QString, shown);
        Dialog d;
        QVERIFY(d.ok);
        // Twice: the second time the count box already shows the limit and says nothing.
        d.dialog->setSettings(perLed(count, selected));
        d.dialog->setSettings(perLed(count, selected));
        QVERIFY(d.label(shown));
        QVERIFY(!button(d.dialog.get(), "Next >")->isEnabled());
        d.pickCyan();
        const LedSettings s = d.dialog->settings();
        QCOMPARE(s.ledCount, std::min(count, LedSettings::MaxLedCount));
        QCOMPARE(s.ledColors.size(), 1);
        QCOMPARE(s.ledColors.first().index, s.ledCount - 1);
        d.count()->setValue(500);
        QCOMPARE(d.dialog->settings().ledCount, LedSettings::MaxLedCount);
        QVERIFY(d.count()->toolTip().contains("at most 100 LEDs"));
    }

    // At the receiver's zone limit "+ Add Zone" is off and the dialog says why.
    void zoneLimit()
    {
        Dialog d;
        QVERIFY(d.ok);
        d.setMode(2);
        QPushButton *add = button(d.dialog.get(), "+ Add Zone");
        QLabel *why = d.label("The receiver takes at most 8 zones");
        QVERIFY(why);
        QVERIFY(!why->isVisible());
        for (int i = 0; i < LedSettings::MaxZones; ++i)
            add->click();
        QCOMPARE(d.zones()->count(), 8);
        QVERIFY(!add->isEnabled());
        QVERIFY(why->isVisible());
        add->click();
        QCOMPARE(d.dialog->settings().rangeZones.size(), 8);
        button(d.dialog.get(), "- Remove Zone")->click();
        QVERIFY(add->isEnabled());
        QVERIFY(!why->isVisible());
    }

    void applyWithoutReceiver()
    {
        Dialog d;
        d.count()->setValue(42);
        ostratest::ModalAnswerer answer;
        answer.press("OK");
        button(d.dialog.get(), "Apply to Receiver (USB)")->click();
        QCOMPARE(answer.records().value(0).title, QStringLiteral("Receiver Not Connected"));
        QVERIFY(ostratest::writesDone());
        const QString path = d.rig.controller->profileManager()->profileFilePath(
            d.rig.controller->profileManager()->activeProfileId());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject led = QJsonDocument::fromJson(file.readAll()).object().value("ledSettings").toObject();
        QCOMPARE(led.value("ledCount").toInt(), 42);
    }

    void applyWithReceiver()
    {
        Dialog d;
        QVERIFY(d.rig.syncOverUsb());
        ostratest::ModalAnswerer answer;
        answer.press("OK");
        QPushButton *apply = button(d.dialog.get(), "Apply to Receiver (USB)");
        apply->click();
        QCOMPARE(apply->text(), QStringLiteral("Pushing to receiver..."));
        QVERIFY(d.rig.rx.waitFor([&] { return !answer.records().isEmpty(); }));
        QCOMPARE(answer.records().value(0).title, QStringLiteral("Configuration Saved"));
        QCOMPARE(apply->text(), QStringLiteral("Apply to Receiver (USB)"));
        QVERIFY(apply->isEnabled());
    }

    void render_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("extraZones");
        QTest::newRow("global") << 0 << "global" << 0;
        QTest::newRow("per-led") << 1 << "per-led" << 0;
        QTest::newRow("range") << 2 << "range" << 0;
        QTest::newRow("range, all zones") << 2 << "range-full" << 5;
    }

    void render()
    {
        QFETCH(int, mode);
        QFETCH(QString, name);
        QFETCH(int, extraZones);
        Dialog d;
        LedSettings s;
        s.mode = LedMode(mode);
        s.globalColor = RgbColor{255, 73, 0};
        s.rangeZones = {{0, 30, RgbColor{255, 0, 0}}, {30, 70, RgbColor{0, 255, 0}}, {70, 100, RgbColor{0, 0, 255}}};
        for (int i = 0; i < extraZones; ++i)
            s.rangeZones.append({100, 100, RgbColor{40, 40, 200}});
        s.selectedZoneIndex = 1;
        d.dialog->setSettings(s);
        // The picker shows the colour of the mode: the global one, LED 1's (the global one), zone 2's.
        QCOMPARE(d.dialog->findChild<ColorWheelWidget *>()->color(), mode == 2 ? QColor(0, 255, 0) : QColor(255, 73, 0));
        d.dialog->resize(540, d.dialog->sizeHint().height());
        QCoreApplication::processEvents();
        // With every zone taken, the picture shows the zone list and the note under it.
        if (extraZones > 0)
            d.dialog->findChild<QScrollArea *>()->ensureWidgetVisible(d.label("The receiver takes at most"));
        QCoreApplication::processEvents();
        QVERIFY(d.dialog->grab().toImage().save(picture(QStringLiteral("led-dialog-%1").arg(name))));
    }

    // The help button is the round 20 px button it is drawn as, level with the heading.
    void helpButtonIsRound()
    {
        Dialog d;
        const QPushButton *help = ostratest::withText<QPushButton>(d.dialog.get(), QStringLiteral("?"));
        QVERIFY(help);
        QCOMPARE(help->size(), QSize(20, 20));
        const QLabel *heading = ostratest::withText<QLabel>(d.dialog.get(), QStringLiteral("LED Strip Configuration"));
        QVERIFY(qAbs(help->geometry().center().y() - heading->geometry().center().y()) <= 2);
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("receiver", {"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestLedConfigDialog)
#include "tst_ledconfigdialog.moc"
