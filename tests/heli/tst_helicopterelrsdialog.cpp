#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTest>

#include "heli/helicopterelrsdialog.h"
#include "helirender.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"

using corvane::HelicopterElrsDialog;

namespace {

const QString SafeArms = QString::fromUtf8("Safe %1 \u00B5s is above 1500 \u00B5s: the receiver treats it as armed, so the motor "
                                           "can run while the page reads \u201CArming: safe\u201D.");
const QString ArmedIsSafe = QString::fromUtf8("Armed %1 \u00B5s is not above 1500 \u00B5s: the receiver treats it as safe, so "
                                              "the motor will not run when you arm it.");

} // namespace

class TestHelicopterElrsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void channelOutsideTheListStaysUntilPicked()
    {
        HelicopterConfig cfg;
        cfg.fly.arm.enabled = true;
        cfg.fly.arm.channel = 2;
        HelicopterElrsDialog dialog;
        dialog.setConfig(cfg);
        auto *combo = dialog.findChild<QComboBox *>();
        QCOMPARE(combo->currentText(), QString("CH5"));
        QCOMPARE(combo->count(), 12);
        QCOMPARE(combo->itemText(11), QString("CH16"));
        QCOMPARE(dialog.config().fly.arm.channel, 2);
        emit combo->activated(0);
        QCOMPARE(dialog.config().fly.arm.channel, 4);
        combo->setCurrentIndex(11);
        QCOMPARE(dialog.config().fly.arm.channel, 15);
    }

    void anyPulsePairIsAccepted()
    {
        HelicopterElrsDialog dialog;
        dialog.setConfig(HelicopterConfig());
        dialog.findChild<QCheckBox *>()->click();
        const QList<QSpinBox *> spins = dialog.findChildren<QSpinBox *>();
        spins.at(0)->setValue(1400);
        spins.at(1)->setValue(1600);
        const HeliArmSwitch arm = dialog.config().fly.arm;
        QVERIFY(arm.enabled);
        QCOMPARE(arm.onUs, 1400);
        QCOMPARE(arm.offUs, 1600);
    }

    // Any pair is stored, but one that has the receiver arm when "safe" or stay safe when "armed"
    // only after a question naming it; Cancel keeps the dialog open and stores nothing.
    void pairAgainstTheReceiverAsksFirst_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("armedUs");
        QTest::addColumn<int>("safeUs");
        QTest::addColumn<QString>("answer"); // empty: no question expected
        QTest::addColumn<QString>("question");
        QTest::newRow("swapped, stored anyway") << true << 1400 << 1600 << "Store anyway"
                                                << SafeArms.arg(1600) + "\n\n" + ArmedIsSafe.arg(1400);
        QTest::newRow("safe mistyped 1988, cancelled") << true << 2012 << 1988 << "Cancel" << SafeArms.arg(1988);
        QTest::newRow("armed at 1500 is not above it") << true << 1500 << 988 << "Cancel" << ArmedIsSafe.arg(1500);
        QTest::newRow("safe at 1500 is safe") << true << 2012 << 1500 << "" << "";
        QTest::newRow("defaults") << true << 2012 << 988 << "" << "";
        QTest::newRow("no arm channel sent") << false << 1400 << 1600 << "" << "";
    }

    void pairAgainstTheReceiverAsksFirst()
    {
        QFETCH(bool, enabled);
        QFETCH(int, armedUs);
        QFETCH(int, safeUs);
        QFETCH(QString, answer);
        QFETCH(QString, question);
        HelicopterConfig cfg;
        cfg.fly.arm.enabled = enabled;
        cfg.fly.arm.onUs = armedUs;
        cfg.fly.arm.offUs = safeUs;
        HelicopterElrsDialog dialog;
        dialog.setConfig(cfg);
        dialog.show();
        ostratest::ModalAnswerer answerer;
        answerer.press(answer.isEmpty() ? QStringLiteral("Cancel") : answer);
        dialog.accept();
        QCoreApplication::processEvents();
        QCOMPARE(answerer.records().size(), answer.isEmpty() ? 0 : 1);
        if (!answer.isEmpty()) {
            QCOMPARE(answerer.records().first().title, QStringLiteral("Arming values"));
            QCOMPARE(answerer.records().first().text, question);
        }
        const bool accepted = answer != "Cancel";
        QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        QCOMPARE(dialog.isVisible(), !accepted);
    }

    void switchedOffKeepsTheValues()
    {
        HelicopterConfig cfg;
        cfg.fly.arm.onUs = 2500; // outside the spin box's range
        HelicopterElrsDialog dialog;
        dialog.setConfig(cfg);
        const QList<QSpinBox *> spins = dialog.findChildren<QSpinBox *>();
        QVERIFY(!spins.at(0)->isEnabled());
        QVERIFY(!dialog.findChild<QComboBox *>()->isEnabled());
        QCOMPARE(spins.at(0)->value(), 2100);
        QCOMPARE(spins.at(1)->value(), 988);
        QCOMPARE(dialog.config().fly.arm.onUs, 2500);
        QVERIFY(!dialog.config().fly.arm.enabled);
    }

    // Then a swapped pair with the question over the dialog, as the pilot sees it.
    void render()
    {
        QWidget parent;
        parent.resize(900, 800);
        parent.show();
        HelicopterElrsDialog dialog(&parent);
        HelicopterConfig cfg;
        cfg.fly.arm.enabled = true;
        dialog.setConfig(cfg);
        QVERIFY(saveDialogPicture(&parent, &dialog, "dlg-arming"));
        cfg.fly.arm.onUs = 1400;
        cfg.fly.arm.offUs = 1600;
        dialog.setConfig(cfg);
        QVERIFY(saveDialogPicture(&parent, &dialog, "dlg-arming-swapped"));
        QVERIFY(ostratest::saveModalPicture(&parent, [&dialog] { dialog.accept(); }, heliPicture("dlg-arming-question")));
        QVERIFY(dialog.isVisible());
    }

    void renderDarkTheme() { QVERIFY(renderDarkTwin({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestHelicopterElrsDialog)
#include "tst_helicopterelrsdialog.moc"
