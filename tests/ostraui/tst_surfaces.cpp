#include <QApplication>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>

#include "ostraui/card.h"
#include "ostraui/devicerow.h"
#include "ostraui/pill.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "kittest.h"
#include "support/testenvironment.h"

using namespace ostra;
using kittest::alphaSum;
using kittest::render;

class TestSurfaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cardClick_data();
    void cardClick();
    void shadowLayer_data();
    void shadowLayer();
    void shadowPainting();
    void deviceRowLayout_data();
    void deviceRowLayout();
    void deviceRowNothingChosen();
    void deviceRowStates_data();
    void deviceRowStates();
    void deviceRowPredicateAndBusy();
    void toast();
};

void TestSurfaces::initTestCase()
{
    installTheme(*qApp);
}

void TestSurfaces::cardClick_data()
{
    QTest::addColumn<bool>("clickable");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("release");
    QTest::addColumn<int>("clicks");
    QTest::newRow("inside") << true << Qt::LeftButton << QPoint(50, 40) << 1;
    QTest::newRow("released outside") << true << Qt::LeftButton << QPoint(150, 40) << 0;
    QTest::newRow("right button") << true << Qt::RightButton << QPoint(50, 40) << 0;
    QTest::newRow("not clickable") << false << Qt::LeftButton << QPoint(50, 40) << 0;
}

void TestSurfaces::cardClick()
{
    QFETCH(bool, clickable);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, release);
    QFETCH(int, clicks);
    Card card;
    card.resize(100, 80);
    card.setClickable(clickable);
    QCOMPARE(card.cursor().shape(), clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    const QImage image = render(card);
    QCOMPARE(image.pixelColor(50, 40), ThemeColors::surface);
    QCOMPARE(image.pixelColor(50, 0), ThemeColors::borderLight);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);

    card.show();
    QSignalSpy spy(&card, &Card::clicked);
    QTest::mousePress(&card, button, {}, QPoint(50, 40));
    QTest::mouseRelease(&card, button, {}, release);
    QCOMPARE(spy.count(), clicks);
}

void TestSurfaces::shadowLayer_data()
{
    QTest::addColumn<int>("elevation");
    QTest::addColumn<bool>("dimmed");
    QTest::addColumn<bool>("shaded");
    QTest::newRow("flat") << 0 << false << false;
    QTest::newRow("normal") << 1 << false << true;
    QTest::newRow("raised") << 2 << false << true;
    QTest::newRow("dimmed") << 1 << true << false;
}

void TestSurfaces::shadowLayer()
{
    QFETCH(int, elevation);
    QFETCH(bool, dimmed);
    QFETCH(bool, shaded);
    QWidget container;
    container.resize(300, 240);
    auto *card = new Card(&container, elevation);
    card->setGeometry(50, 40, 200, 120);
    card->setDimmed(dimmed);
    container.show();
    QVERIFY(QTest::qWaitForWindowExposed(&container));
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(card->graphicsEffect());
    QCOMPARE(effect ? effect->opacity() : 1.0, dimmed ? 0.6 : 1.0);

    // One layer beneath every card of the container, covering it.
    ShadowLayer *layer = shadowLayerFor(&container);
    QCOMPARE(container.findChildren<ShadowLayer *>().size(), 1);
    QCOMPARE(container.children().first(), layer);
    QVERIFY(layer->testAttribute(Qt::WA_TransparentForMouseEvents));
    // Below the card's bottom edge, where only the shadow can be.
    QCOMPARE(alphaSum(render(*layer), QRect(80, 162, 140, 12)) > 0, shaded);
    container.resize(400, 300);
    QCOMPARE(layer->geometry(), QRect(0, 0, 400, 300));

    card->setDimmed(false);
    QVERIFY(!card->graphicsEffect());
}

void TestSurfaces::shadowPainting()
{
    QCOMPARE(shadowLayerFor(nullptr), nullptr);
    // A card without a parent casts no shadow and creates no layer.
    Card lonely;
    lonely.show();
    QVERIFY(!lonely.findChild<ShadowLayer *>());

    // A spread that swallows the shape paints nothing.
    QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintShadow(&painter, QRectF(40, 40, 20, 20), 8, 4, 12, -10, QColor(0, 0, 0, 200));
    QCOMPARE(alphaSum(image, image.rect()), 0);
    paintShadow(&painter, QRectF(30, 30, 40, 40), 8, 4, 12, 0, QColor(0, 0, 0, 200));
    painter.end();
    QVERIFY(qAlpha(image.pixel(50, 50)) > 150);
    QVERIFY(qAlpha(image.pixel(50, 80)) > 0);
    QCOMPARE(qAlpha(image.pixel(2, 2)), 0);
}

void TestSurfaces::deviceRowLayout_data()
{
    QTest::addColumn<QString>("monogram");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("wide");
    QTest::newRow("639 narrow") << "WB" << 639 << false;
    QTest::newRow("640 wide") << "WB" << 640 << true;
    QTest::newRow("no monogram narrow") << "" << 500 << false;
    QTest::newRow("no monogram wide") << "" << 800 << true;
}

void TestSurfaces::deviceRowLayout()
{
    QFETCH(QString, monogram);
    QFETCH(int, width);
    QFETCH(bool, wide);
    QWidget page;
    page.resize(900, 300);
    auto *row = new DeviceRow(monogram, "Wheel base", "Steering", &page);
    row->setGeometry(0, 0, width, 120);
    page.show();
    QCoreApplication::processEvents();
    QCOMPARE(row->isWide(), wide);
    // Wide, the list sits left of the status and button; narrow, on a line of its own below.
    const QRect combo = row->combo()->geometry();
    const QRect pill = row->findChild<Pill *>()->geometry();
    const QRect button = row->findChild<QPushButton *>()->geometry();
    QCOMPARE(combo.top() > pill.bottom(), !wide);
    QCOMPARE(combo.right() >= button.right(), !wide);
    QVERIFY(combo.left() < pill.left() && pill.right() < button.left());
    QEXPECT_FAIL("640 wide", "at the switch width the list's minimum overlaps the status pill", Continue);
    QVERIFY(!combo.intersects(pill) && !combo.intersects(button));
}

void TestSurfaces::deviceRowNothingChosen()
{
    QWidget window;
    window.resize(760, 300);
    auto *row = new DeviceRow("PD", "Pedals", "Throttle and brake", &window);
    row->setGeometry(0, 0, 760, 90);
    row->combo()->addItems({"Choose a device", "Sprint pedals"});
    row->updateControls();
    window.show();

    // Nothing chosen: the button looks faded yet answers a click with a hint.
    auto *button = row->findChild<QPushButton *>();
    QVERIFY(!button->property("primary").toBool());
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(button->graphicsEffect());
    QCOMPARE(effect->opacity(), 0.5);
    QCOMPARE(row->combo()->property("placeholder").toBool(), true);
    QSignalSpy connectSpy(row, &DeviceRow::connectRequested);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(connectSpy.count(), 0);
    QCOMPARE(window.findChild<Toast *>()->text(), QStringLiteral("Choose a device first"));

    row->combo()->setCurrentIndex(1);
    QVERIFY(button->property("primary").toBool());
    QVERIFY(!button->graphicsEffect());
    QCOMPARE(row->combo()->property("placeholder").toBool(), false);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(connectSpy.count(), 1);
}

void TestSurfaces::deviceRowStates_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("pillText");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("buttonText");
    QTest::newRow("not connected") << 0 << "" << "Not connected" << 0 << "Connect";
    QTest::newRow("connecting") << 1 << "" << "Connecting" << 2 << "Connecting";
    QTest::newRow("connected") << 2 << "" << "Connected" << 3 << "Disconnect";
    QTest::newRow("connected detail") << 2 << "COM3" << "COM3" << 3 << "Disconnect";
    QTest::newRow("other state") << 7 << "" << "Not connected" << 0 << "Connect";
}

void TestSurfaces::deviceRowStates()
{
    QFETCH(int, state);
    QFETCH(QString, detail);
    QFETCH(QString, pillText);
    QFETCH(int, level);
    QFETCH(QString, buttonText);
    DeviceRow row("TX", "Transmitter", "USB");
    row.combo()->addItems({"Choose a port", "COM3"});
    row.combo()->setCurrentIndex(1);
    row.resize(700, 80);
    row.show();
    row.setStatus(state, detail);

    auto *pill = row.findChild<Pill *>();
    QCOMPARE(pill->text(), pillText);
    QCOMPARE(pill->level(), level);
    QCOMPARE(pill->isPulsing(), state == 1);
    auto *button = row.findChild<QPushButton *>();
    QCOMPARE(button->text(), buttonText);
    QCOMPARE(row.property("connected").toBool(), state == 2);
    QCOMPARE(button->property("primary").toBool(), state != 1 && state != 2);

    QSignalSpy connectSpy(&row, &DeviceRow::connectRequested);
    QSignalSpy disconnectSpy(&row, &DeviceRow::disconnectRequested);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(connectSpy.count(), state == 2 ? 0 : 1);
    QCOMPARE(disconnectSpy.count(), state == 2 ? 1 : 0);

    // Back to not connected: the pulse stops.
    row.setStatus(0);
    QVERIFY(!pill->isPulsing());
    QCOMPARE(pill->pulseOpacity(), 1.0);
    QCOMPARE(row.property("connected").toBool(), false);
}

void TestSurfaces::deviceRowPredicateAndBusy()
{
    DeviceRow row(QString(), "Shifter", "Gears");
    row.combo()->addItems({"Choose a device", "TH8A"});
    auto *button = row.findChild<QPushButton *>();
    bool chosen = true;
    row.setConnectPredicate([&chosen] { return chosen; });
    QVERIFY(button->property("primary").toBool());
    chosen = false;
    row.combo()->setCurrentIndex(1);
    QVERIFY(!button->property("primary").toBool());
    row.setConnectPredicate({});
    QVERIFY(button->property("primary").toBool());

    // While busy any entry counts as chosen, and the list shows no placeholder look.
    row.combo()->setCurrentIndex(0);
    row.setBusy(true);
    QVERIFY(!row.combo()->isEnabled());
    QVERIFY(button->property("primary").toBool());
    QCOMPARE(row.combo()->property("placeholder").toBool(), false);
    row.setBusy(false);
    QVERIFY(row.combo()->isEnabled());
    QCOMPARE(row.combo()->property("placeholder").toBool(), true);
}

void TestSurfaces::toast()
{
    showToast(nullptr, "ignored");
    QWidget window;
    window.resize(600, 400);
    auto *a = new QLabel("a", &window);
    auto *b = new QLabel("b", new QWidget(&window));
    window.show();

    // One toast per window, whoever asks; the newest text wins.
    showToast(a, "Saved to controller");
    showToast(b, "Profile deleted");
    QCOMPARE(window.findChildren<Toast *>().size(), 1);
    Toast *toast = window.findChild<Toast *>();
    QCOMPARE(toast->text(), QStringLiteral("Profile deleted"));
    QVERIFY(toast->testAttribute(Qt::WA_TransparentForMouseEvents));
    // Without animations the toast stands at its final place at once.
    QCOMPARE(toast->opacity(), 1.0);
    const int width = QFontMetrics(uiFont(13.5, 500)).horizontalAdvance("Profile deleted") + 56;
    QCOMPARE(toast->geometry(), QRect((600 - width) / 2, 400 - 64 - 28, width, 64));
    QCOMPARE(render(*toast).pixelColor(20, 26), ThemeColors::inverseSurface);

    QTRY_VERIFY_WITH_TIMEOUT(!toast->isVisible(), 5000);
    showToast(a, "Again");
    QCOMPARE(window.findChildren<Toast *>().size(), 1);
    QVERIFY(toast->isVisible());
}

OSTRA_TEST_MAIN_WIDGETS(TestSurfaces)
#include "tst_surfaces.moc"
