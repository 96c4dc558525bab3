#include "motion/pages/motionwebdialog.h"

#include "ostraui/theme.h"

#include "support/darktwin.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>

using corvane::MotionWebDialog;

namespace {

QString picture(const QString &name)
{
    return ostratest::artefactDir("motion") + QStringLiteral("/%1-%2.png").arg(name, ostra::isDarkTheme() ? "dark" : "light");
}

QPushButton *button(QWidget &dialog, const QString &text)
{
    for (QPushButton *b : dialog.findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

} // namespace

class TestMotionWebDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void qrImage_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("side");
        // 24 bytes, level M: version 2, 25 modules of 7 px.
        QTest::newRow("lan url") << "http://192.168.1.20:8090" << 175;
        // Version 1, 21 modules of 8 px.
        QTest::newRow("empty") << "" << 168;
        QTest::newRow("tiny request") << "x" << 168;
    }

    void qrImage()
    {
        QFETCH(QString, text);
        QFETCH(int, side);
        const QImage image = corvane::renderQrImage(text, 180).toImage();
        QCOMPARE(image.size(), QSize(side, side));
        // Finder pattern: dark top-left module, light ring inside it, no quiet zone.
        const int module = side == 175 ? 7 : 8;
        QCOMPARE(image.pixelColor(0, 0), QColor(Qt::black));
        QCOMPARE(image.pixelColor(module + 1, module + 1), QColor(Qt::white));
        QCOMPARE(image.pixelColor(3 * module, 3 * module), QColor(Qt::black));
        QCOMPARE(image.pixelColor(side - 1, 0), QColor(Qt::black));
    }

    void tooLongText()
    {
        const QString text(8000, QLatin1Char('x'));
        QVERIFY(corvane::renderQrImage(text, 180).isNull());
        MotionWebDialog dialog(text, nullptr);
        auto *qr = dialog.findChild<QLabel *>("qrLabel");
        QCOMPARE(qr->text(), QString("QR Code unavailable"));
        QVERIFY(qr->pixmap().isNull());
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

    void darkTheme()
    {
        if (ostra::isDarkTheme())
            QSKIP("this run is the dark one");
        QVERIFY(ostratest::runDarkTwin("motion", { "render" }));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestMotionWebDialog)
#include "tst_motionwebdialog.moc"
