#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "ostraui/meter.h"
#include "ostraui/pill.h"
#include "racecontrol/pages/racecarcard.h"
#include "racecontrol/pages/racedisplay.h"
#include "racefleet.h"
#include "support/widgets/contrast.h"
#include "support/widgets/widgetlookup.h"

using corvane::RaceCarCard;

namespace {

QPushButton *buttonStartingWith(QWidget *parent, const QString &start)
{
    for (QPushButton *button : parent->findChildren<QPushButton *>()) {
        if (button->text().startsWith(start))
            return button;
    }
    return nullptr;
}

} // namespace

// Car cards drawn from fake stations in every state; their buttons send to the station.
class TestRaceCarCard : public QObject
{
    Q_OBJECT

private:
    RaceFleet m_fleet;

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        const QString reason = m_fleet.setUp();
        if (!reason.isEmpty())
            QSKIP(qPrintable("car cards are tested against stations inside network namespaces: " + reason));
        QVERIFY(m_fleet.settle());
    }

    void cappedCarShowsTheThrottleItGets()
    {
        RaceCarCard card(m_fleet.control.get(), RaceFleet::id(RaceFleet::Running));
        card.refresh(0);
        QPushButton *cap = buttonStartingWith(&card, "Cap");
        QVERIFY(cap);
        QCOMPARE(cap->text(), QString("Cap 50% \u25BE"));
        QVERIFY(cap->styleSheet().contains("#B06F00") || ostra::isDarkTheme());
        const QList<ostra::Meter *> meters = card.findChildren<ostra::Meter *>();
        QCOMPARE(meters.first()->value(), 0.5);
        QStringList texts;
        for (QLabel *label : card.findChildren<QLabel *>())
            texts.append(label->text());
        QVERIFY2(texts.contains("50%") && texts.contains("20%") && texts.contains("L24") && texts.contains("2"),
                 qPrintable(texts.join(',')));
        QVERIFY(texts.contains("01"));
        QCOMPARE(card.findChild<ostra::Pill *>()->text(), QString("Running"));
        QVERIFY(!card.hasAlertFrame());
        QVERIFY(buttonStartingWith(&card, "Stop"));
    }

    void stoppedCarShowsNoGas()
    {
        RaceCarCard card(m_fleet.control.get(), RaceFleet::id(RaceFleet::Stopped));
        card.refresh(9);
        QPushButton *resume = buttonStartingWith(&card, "\u25B6 Resume");
        QVERIFY(resume);
        QCOMPARE(resume->property("txState").toString(), QString("go"));
        QCOMPARE(card.findChildren<ostra::Meter *>().first()->value(), 0.0);
        QStringList texts;
        for (QLabel *label : card.findChildren<QLabel *>())
            texts.append(label->text());
        QVERIFY(texts.contains("0%") && texts.contains("R") && texts.contains("10"));
        QVERIFY(card.hasAlertFrame());
    }

    // A car without live values shows the one empty-value mark in every value.
    void unreachableCarShowsNoValues()
    {
        RaceCarCard card(m_fleet.control.get(), RaceFleet::id(RaceFleet::Unreachable));
        card.refresh(6);
        int empty = 0;
        for (QLabel *label : card.findChildren<QLabel *>()) {
            QVERIFY2(label->text() != QStringLiteral("\u2013"), qPrintable(label->objectName()));
            empty += label->text() == QStringLiteral("\u2014") ? 1 : 0;
        }
        // Gear, gas, brake and steering.
        QCOMPARE(empty, 4);
        QCOMPARE(ostratest::shortDashes(&card), QStringList());
    }

    // One click stops this car alone; once its station reports it stopped, one click resumes it.
    void stopButtonStopsAndResumesThisCar()
    {
        const QString id = RaceFleet::id(RaceFleet::Running);
        ostratest::FakeRaceStation *station = m_fleet.rig.station(RaceFleet::Running);
        ostratest::FakeRaceStation *other = m_fleet.rig.station(RaceFleet::Stopped);
        RaceCarCard card(m_fleet.control.get(), id);
        card.refresh(0);
        station->clearRecord();
        other->clearRecord();
        buttonStartingWith(&card, "Stop")->click();
        QTRY_VERIFY(corvane::isStationStopped(*m_fleet.control->findStation(id)));
        card.refresh(0);
        QPushButton *resume = buttonStartingWith(&card, "\u25B6 Resume");
        QVERIFY(resume);
        QVERIFY(card.hasAlertFrame());
        QCOMPARE(station->events().count("action_lounge_release"), 0);
        resume->click();
        QTRY_VERIFY(!corvane::isStationStopped(*m_fleet.control->findStation(id)));
        card.refresh(0);
        QVERIFY(buttonStartingWith(&card, "Stop"));
        QCOMPARE(station->events().count("action_lounge_stop"), 1);
        QCOMPARE(station->events().count("action_lounge_release"), 1);
        QVERIFY(!other->events().contains("action_lounge_stop"));
        QVERIFY(!other->events().contains("action_lounge_release"));
    }

    void capButtonCyclesTheOwnCap_data()
    {
        QTest::addColumn<int>("cap");
        QTest::addColumn<QJsonObject>("sent");
        QTest::newRow("15 to off") << 15 << QJsonObject{{"enabled", false}};
        QTest::newRow("40, set elsewhere, to 75") << 40 << QJsonObject{{"enabled", true}, {"percent", 75}};
        QTest::newRow("75 to 50") << 75 << QJsonObject{{"enabled", true}, {"percent", 50}};
    }

    void capButtonCyclesTheOwnCap()
    {
        QFETCH(int, cap);
        QFETCH(QJsonObject, sent);
        ostratest::FakeRaceStation *station = m_fleet.rig.station(RaceFleet::Running);
        station->setStateValue("speedCapPercent", cap);
        station->pushState();
        const QString id = RaceFleet::id(RaceFleet::Running);
        QTRY_COMPARE(m_fleet.control->findStation(id)->state.value("speedCapPercent").toInt(), cap);
        RaceCarCard card(m_fleet.control.get(), id);
        card.refresh(0);
        station->clearRecord();
        buttonStartingWith(&card, "Cap")->click();
        QTRY_COMPARE(station->requests("set_lounge_speed_cap").size(), 1);
        QCOMPARE(station->requests("set_lounge_speed_cap").first().value("data").toObject(), sent);
        station->setStateValue("speedCapPercent", 75);
        station->pushState();
        QTRY_COMPARE(m_fleet.control->findStation(id)->state.value("speedCapPercent").toInt(), 75);
    }

    void renderEveryState()
    {
        QWidget host;
        host.setObjectName("host");
        host.setStyleSheet(QString("#host { background: %1; }").arg(ostra::colorHex(ostra::ThemeColors::windowBg)));
        auto *grid = new QGridLayout(&host);
        grid->setContentsMargins(16, 16, 16, 16);
        grid->setSpacing(16);
        QList<RaceCarCard *> cards;
        for (int car = 0; car < RaceFleet::CarCount; ++car) {
            auto *card = new RaceCarCard(m_fleet.control.get(), RaceFleet::id(car), &host);
            card->setFixedWidth(280);
            grid->addWidget(card, car / 4, car % 4);
            cards.append(card);
        }
        for (int i = 0; i < cards.size(); ++i)
            cards.at(i)->refresh(i);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QVERIFY(host.grab().toImage().save(racePicture("cards")));
        // Every car's number reads on its card, in either theme.
        for (int i = 0; i < cards.size(); ++i) {
            const QLabel *number = ostratest::withText<QLabel>(cards.at(i), corvane::carNumberText(i));
            QVERIFY(number);
            const QColor ink = number->palette().color(number->foregroundRole());
            QVERIFY2(ostratest::contrastRatio(ink, ostra::ThemeColors::surface) >= 3.0, qPrintable(number->text() + ' ' + ink.name()));
        }
        // Tab shows the theme's ring on a card, over a stopped car's red frame too.
        QApplication::setActiveWindow(&host);
        QVERIFY(QTest::qWaitForWindowActive(&host));
        for (RaceCarCard *card : {cards.at(RaceFleet::Running), cards.at(RaceFleet::Stopped)}) {
            int tabs = 0;
            do
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &host, Qt::Key_Tab);
            while (!card->hasFocus() && ++tabs < 60);
            QCOMPARE(card->grab().toImage().pixelColor(1, card->height() / 2), ostra::ThemeColors::infoText);
        }
        QVERIFY(host.grab().toImage().save(racePicture("cards-stopped-focused")));
    }

    void renderDarkTheme() { QVERIFY(renderDarkToo({"renderEveryState"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestRaceCarCard)
#include "tst_racecarcard.moc"
