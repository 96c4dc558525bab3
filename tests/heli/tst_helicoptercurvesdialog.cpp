#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QSpinBox>
#include <QTest>

#include "heli/curvepreviewwidget.h"
#include "heli/helicoptercurvesdialog.h"
#include "helirender.h"
#include "support/testenvironment.h"

using corvane::HelicopterCurvesDialog;

namespace {

QGroupBox *curveGroup(QWidget &dialog, int index)
{
    return dialog.findChildren<QGroupBox *>().at(index);
}

} // namespace

class TestHelicopterCurvesDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void loadsRoundedPoints()
    {
        HelicopterConfig cfg;
        cfg.fly.pitchCurve.enabled = true;
        cfg.fly.pitchCurve.points = {0.0f, 0.255f, 0.5f, 1.4f, 1.0f};
        HelicopterCurvesDialog dialog;
        dialog.setConfig(cfg);
        const QList<QSpinBox *> spins = curveGroup(dialog, 0)->findChildren<QSpinBox *>();
        QCOMPARE(spins.at(1)->value(), 26);
        QCOMPARE(spins.at(3)->value(), 100);
        QVERIFY(spins.at(1)->isEnabled());
        // Loading writes nothing back.
        QCOMPARE(dialog.config().fly.pitchCurve.points[3], 1.4f);
        QVERIFY(!curveGroup(dialog, 1)->findChildren<QSpinBox *>().at(0)->isEnabled());
    }

    void spinStoresThePoint()
    {
        HelicopterCurvesDialog dialog;
        dialog.setConfig(HelicopterConfig());
        curveGroup(dialog, 1)->findChildren<QSpinBox *>().at(2)->setValue(37);
        QCOMPARE(dialog.config().fly.throttleCurve.points[2], 0.37f);
        QCOMPARE(curveGroup(dialog, 1)->findChild<corvane::CurvePreviewWidget *>()->points()[2], 0.37f);
        QCOMPARE(dialog.config().fly.pitchCurve.points[2], 0.5f);
    }

    void motorChannel_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stored");
        for (int i = 0; i < 11; ++i)
            QTest::addRow("CH%d", i + 6) << i << QString("CH%1").arg(i + 6) << i + 5;
    }

    void motorChannel()
    {
        QFETCH(int, item);
        QFETCH(QString, text);
        QFETCH(int, stored);
        HelicopterConfig cfg;
        cfg.fly.throttleCurve.enabled = true;
        cfg.fly.motorChannel = item == 0 ? 15 : 5;
        HelicopterCurvesDialog dialog;
        dialog.setConfig(cfg);
        auto *combo = dialog.findChild<QComboBox *>();
        combo->setCurrentIndex(item);
        QCOMPARE(combo->currentText(), text);
        QCOMPARE(dialog.config().fly.motorChannel, stored);
    }

    void channelOutsideTheListStaysUntilPicked()
    {
        HelicopterConfig cfg;
        cfg.fly.motorChannel = 2;
        HelicopterCurvesDialog dialog;
        dialog.setConfig(cfg);
        auto *combo = dialog.findChild<QComboBox *>();
        QCOMPARE(combo->currentText(), QString("CH6"));
        QCOMPARE(dialog.config().fly.motorChannel, 2);
        emit combo->activated(0);
        QCOMPARE(dialog.config().fly.motorChannel, 5);
    }

    // Under the dialog chrome, even when made as small as it goes, no spin box overlaps the next.
    void neverSqueezed()
    {
        QWidget parent;
        parent.resize(900, 700);
        parent.show();
        HelicopterCurvesDialog dialog(&parent);
        dialog.setConfig(HelicopterConfig());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.resize(100, 100);
        QTRY_COMPARE(dialog.size(), dialog.minimumSize());
        QVERIFY(dialog.width() >= 460);
        for (int group : {0, 1}) {
            const QList<QSpinBox *> spins = curveGroup(dialog, group)->findChildren<QSpinBox *>();
            for (int i = 0; i + 1 < spins.size(); ++i)
                QVERIFY(spins.at(i)->geometry().bottom() < spins.at(i + 1)->geometry().top());
        }
    }

    void render()
    {
        QWidget parent;
        parent.resize(900, 1000);
        parent.show();
        HelicopterCurvesDialog dialog(&parent);
        HelicopterConfig cfg;
        cfg.fly.pitchCurve.enabled = true;
        cfg.fly.pitchCurve.points = {0.1f, 0.3f, 0.5f, 0.72f, 0.9f};
        cfg.fly.throttleCurve.points = {0.0f, 0.45f, 0.65f, 0.8f, 1.2f};
        dialog.setConfig(cfg);
        QVERIFY(saveDialogPicture(&parent, &dialog, "dlg-curves"));
    }

    void renderDarkTheme() { QVERIFY(renderDarkTwin({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestHelicopterCurvesDialog)
#include "tst_helicoptercurvesdialog.moc"
