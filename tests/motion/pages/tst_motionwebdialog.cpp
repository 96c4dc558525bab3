#include "motion/pages/motionwebdialog.h"

#include "ostraui/theme.h"

#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"
#include "support/widgets/widgetlookup.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>

using corvane::MotionWebDialog;

namespace {

QString picture(const QString &name) { return ostratest::themedPicture("motion", name); }

QPushButton *button(QWidget &dialog, const QString &text) { return ostratest::withText<QPushButton>(&dialog, text); }

} // namespace

class TestMotionWebDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void tooLongText()
    {
        MotionWebDialog dialog(QString(8000, QLatin1Char('x')), nullptr);
        auto *qr = dialog.findChild<QLabel *>("qrLabel");
        QCOMPARE(qr->text(), QString("QR Code unavailable"));
        QVERIFY(qr->pixmap().isNull());
    }

    // An address on this PC alone (no network but loopback) is not offered to a phone.
    void phoneAddress_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("offered");
        QTest::newRow("home network") << "http://192.168.1.20:8090" << true;
        QTest::newRow("no network") << "http://127.0.0.1:8090" << false;
        QTest::newRow("panel not listening") << "" << true;
    }

    void phoneAddress()
    {
        QFETCH(QString, url);
        QFETCH(bool, offered);
        MotionWebDialog dialog(url, nullptr);
        QCOMPARE(!dialog.findChild<QLabel *>("qrLabel")->isHidden(), offered);
        QCOMPARE(dialog.findChild<QLabel *>("urlLabel")->text(), offered ? url : QString("No network found"));
        QCOMPARE(button(dialog, "Copy URL") != nullptr, offered);
        QCOMPARE(dialog.findChild<QLabel *>("noNetworkNote") != nullptr, !offered);
        // No step points at a code or an address that is not shown; the steps count on from 1.
        const QString steps = dialog.findChild<QLabel *>("steps")->text();
        QCOMPARE(steps.contains("QR code"), offered);
        QCOMPARE(steps.contains("URL"), offered);
        QCOMPARE(steps.section("\n\n", -1), QString("%1. DOF tests, actuator bars and settings work live from the phone").arg(offered ? 3 : 2));
        if (offered)
            return;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.resize(dialog.sizeHint());
        QVERIFY(dialog.grab().toImage().save(picture("motion-web-dialog-no-network")));
    }

    void copyAndClose()
    {
        const QString url("http://192.168.1.20:8090");
        MotionWebDialog dialog(url, nullptr);
        QCOMPARE(dialog.windowTitle(), QString("Motion System Web Panel"));
        QCOMPARE(dialog.findChild<QLabel *>("urlLabel")->text(), url);
        QVERIFY(!dialog.findChild<QLabel *>("qrLabel")->pixmap().isNull());
        QGuiApplication::clipboard()->setText("before");
        button(dialog, "Copy URL")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), url);
        dialog.show();
        button(dialog, "Close")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
    }

    // The steps are paragraphs the label wraps itself: no line break or indent inside a step.
    void stepsWrapThemselves()
    {
        MotionWebDialog dialog("http://192.168.1.20:8090", nullptr);
        QLabel *steps = nullptr;
        for (QLabel *label : dialog.findChildren<QLabel *>()) {
            if (label->text().startsWith(QLatin1String("1. ")))
                steps = label;
        }
        QVERIFY(steps && steps->wordWrap());
        const QStringList paragraphs = steps->text().split(QStringLiteral("\n\n"));
        QCOMPARE(paragraphs.size(), 3);
        for (const QString &step : paragraphs)
            QVERIFY2(!step.contains(QLatin1Char('\n')) && !step.contains(QLatin1String("  ")), qPrintable(step));
    }

    void render()
    {
        MotionWebDialog dialog("http://192.168.1.20:8090", nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.resize(dialog.sizeHint());
        QVERIFY(dialog.width() >= 400);
        QVERIFY(dialog.grab().toImage().save(picture("motion-web-dialog")));
        MotionWebDialog empty(QString(), nullptr);
        empty.show();
        QVERIFY(QTest::qWaitForWindowExposed(&empty));
        // It does not shrink below what the code and the texts need.
        empty.resize(100, 100);
        QCOMPARE(empty.height(), empty.minimumSizeHint().height());
        auto *qr = empty.findChild<QLabel *>("qrLabel");
        QVERIFY(qr->height() >= qr->pixmap().height() + 24);
        QVERIFY(empty.grab().toImage().save(picture("motion-web-dialog-empty")));
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("motion", {"render", "phoneAddress"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestMotionWebDialog)
#include "tst_motionwebdialog.moc"
