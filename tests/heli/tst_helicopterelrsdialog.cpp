#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTest>

#include "heli/helicopterelrsdialog.h"
#include "helirender.h"
#include "support/testenvironment.h"

using corvane::HelicopterElrsDialog;

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
    }

    void renderDarkTheme() { QVERIFY(renderDarkTwin({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestHelicopterElrsDialog)
#include "tst_helicopterelrsdialog.moc"
