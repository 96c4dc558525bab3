#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
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

    // Button mappings on the arm channel are named while it is on: the arm value wins there.
    void mappingsUnderTheArmChannel_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("note"); // empty: none shown
        QTest::newRow("arm channel off") << false << 4 << "";
        QTest::newRow("over one mapping") << true << 4
            << QString::fromUtf8("The button mapping \u201CLights\u201D on CH5 does nothing while the arm channel is "
                                 "on: the arm value is sent there instead.");
        QTest::newRow("over two, one named in markup") << true << 5
            << QString::fromUtf8("The button mappings \u201C<b>Horn</b> %1\u201D, \u201CGear\u201D on CH6 do nothing "
                                 "while the arm channel is on: the arm value is sent there instead.");
    }

    void mappingsUnderTheArmChannel()
    {
        QFETCH(bool, enabled);
        QFETCH(int, channel);
        QFETCH(QString, note);
        QList<ButtonMapping> mappings(4);
        const QStringList names{"Lights", "<b>Horn</b> %1", "Gear", "Unbound"};
        const QList<int> channels{4, 5, 5, 6};
        for (int i = 0; i < 4; ++i) {
            mappings[i].name = names.at(i);
            mappings[i].channel = channels.at(i);
            mappings[i].buttonIndex = i < 3 ? i : -1;
        }
        HelicopterElrsDialog dialog;
        dialog.setConfig(HelicopterConfig());
        dialog.setButtonMappings(mappings);
        auto *label = dialog.findChild<QLabel *>("mappingNote");
        QVERIFY(label->isHidden());
        auto *combo = dialog.findChild<QComboBox *>();
        dialog.findChild<QCheckBox *>()->setChecked(enabled);
        combo->setCurrentIndex(combo->findData(channel));
        QCOMPARE(label->isHidden(), note.isEmpty());
        if (!note.isEmpty()) {
            QCOMPARE(label->text(), note);
            QCOMPARE(label->textFormat(), Qt::PlainText);
        }
        if (QTest::currentDataTag() == QByteArray("over two, one named in markup")) {
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            // As a screen taller than the test's gives it: all of it, unscrolled.
            dialog.resize(dialog.sizeHint());
            QTest::qWait(50);
            QVERIFY(dialog.grab().save(heliPicture("dlg-arming-over-mappings")));
        }
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

    void renderDarkTheme() { QVERIFY(renderDarkTwin({"render", "mappingsUnderTheArmChannel"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestHelicopterElrsDialog)
#include "tst_helicopterelrsdialog.moc"
