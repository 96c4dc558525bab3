#include <QGuiApplication>
#include <QImage>
#include <QtTest>

#include "ostraui/qrcode.h"
#include "support/testenvironment.h"

class TestQrCode : public QObject
{
    Q_OBJECT

private slots:
    void render_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("module");
        QTest::addColumn<int>("modules");
        // Level M: 24 bytes need version 2 (25 modules of 7 px), a single byte version 1 (21 of 8).
        QTest::newRow("web panel url") << "http://192.168.1.20:8090" << 7 << 25;
        QTest::newRow("api url") << "ws://192.168.1.20:12345" << 7 << 25;
        QTest::newRow("empty") << "" << 8 << 21;
        QTest::newRow("tiny request") << "x" << 8 << 21;
    }

    void render()
    {
        QFETCH(QString, text);
        QFETCH(int, module);
        QFETCH(int, modules);
        const QImage image = ostra::renderQrCode(text, 180).toImage();
        const int side = module * modules;
        QCOMPARE(image.size(), QSize(side, side));
        // Finder patterns in three corners, no quiet zone; the light ring inside the top-left one.
        for (const QPoint &corner : {QPoint(0, 0), QPoint(side - 1, 0), QPoint(0, side - 1)})
            QCOMPARE(image.pixelColor(corner), QColor(Qt::black));
        QCOMPARE(image.pixelColor(module + 1, module + 1), QColor(Qt::white));
        QCOMPARE(image.pixelColor(3 * module, 3 * module), QColor(Qt::black));
        // The separators beside the top finders, light, and the finder's own edge, dark.
        QCOMPARE(image.pixelColor(7 * module + 3, 3), QColor(Qt::white));
        QCOMPARE(image.pixelColor((modules - 8) * module + 3, 3), QColor(Qt::white));
        QCOMPARE(image.pixelColor(6 * module + 3, 3), QColor(Qt::black));
    }

    void tooLongText()
    {
        QVERIFY(ostra::renderQrCode(QString(4000, QLatin1Char('x')), 180).isNull());
    }
};

OSTRA_TEST_MAIN_GUI(TestQrCode)
#include "tst_qrcode.moc"
