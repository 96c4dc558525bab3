#include <QApplication>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

#include "ostraui/card.h"
#include "ostraui/devicerow.h"
#include "ostraui/pill.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "support/testenvironment.h"

using namespace ostra;

namespace {

QImage transparentImage(const QSize &size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

int alphaSum(const QImage &image, const QRect &area)
{
    int sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            sum += qAlpha(image.pixel(x, y));
    return sum;
}

// Where a widget sits in the row's grid: row, column and column span.
QList<int> gridCell(DeviceRow &row, QWidget *widget)
{
    auto *grid = qobject_cast<QGridLayout *>(row.layout());
    int r = -1, c = -1, rs = 0, cs = 0;
    grid->getItemPosition(grid->indexOf(widget), &r, &c, &rs, &cs);
    return {r, c, cs};
}

} // namespace

class TestSurfaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cardLayout();
    void cardClick_data();
    void cardClick();
    void cardDimmed();
    void shadowLayer_data();
    void shadowLayer();
    void shadowLayerLookup();
    void paintShadowEmpty();
    void shadowCache();
    void gaussian();
    void deviceRowLayout_data();
    void deviceRowLayout();
    void deviceRowNothingChosen();
    void deviceRowStates_data();
    void deviceRowStates();
    void deviceRowPredicateAndBusy();
    void toastShared();
    void toastHides();
};

void TestSurfaces::initTestCase()
{
    installTheme(*qApp);
}

void TestSurfaces::cardLayout()
{
    Card card(nullptr, 1);
    QCOMPARE(card.elevation(), 1);
    QVERIFY(card.testAttribute(Qt::WA_Hover));
    QVBoxLayout *layout = card.contentLayout();
    QCOMPARE(layout, card.contentLayout());
    QCOMPARE(layout->contentsMargins(), QMargins(22, 22, 22, 22));
    QCOMPARE(layout->spacing(), 16);

    card.resize(100, 80);
    QImage image = transparentImage(card.size());
    card.render(&image, QPoint(), QRegion(), {});
    QCOMPARE(image.pixelColor(50, 40), ThemeColors::surface);
    QCOMPARE(image.pixelColor(50, 0), ThemeColors::borderLight);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
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
    card.show();
    QSignalSpy spy(&card, &Card::clicked);
    QTest::mousePress(&card, button, {}, QPoint(50, 40));
    QTest::mouseRelease(&card, button, {}, release);
    QCOMPARE(spy.count(), clicks);
}

void TestSurfaces::cardDimmed()
{
    Card card;
    card.setDimmed(true);
    QVERIFY(card.isDimmed());
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(card.graphicsEffect());
    QVERIFY(effect);
    QCOMPARE(effect->opacity(), 0.6);
    card.setDimmed(false);
    QVERIFY(!card.graphicsEffect());
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

    ShadowLayer *layer = container.findChild<ShadowLayer *>();
    QVERIFY(layer);
    QCOMPARE(layer->geometry(), container.rect());
    QCOMPARE(container.children().first(), layer);
    QImage image = transparentImage(layer->size());
    layer->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    // Below the card's bottom edge, where only the shadow can be.
    const int below = alphaSum(image, QRect(80, 162, 140, 12));
    QCOMPARE(below > 0, shaded);

    container.resize(400, 300);
    QCOMPARE(layer->geometry(), QRect(0, 0, 400, 300));
}

void TestSurfaces::shadowLayerLookup()
{
    QCOMPARE(shadowLayerFor(nullptr), nullptr);
    QWidget container;
    ShadowLayer *layer = shadowLayerFor(&container);
    QVERIFY(layer);
    QCOMPARE(shadowLayerFor(&container), layer);
    QCOMPARE(layer->objectName(), QStringLiteral("ostraShadowLayer"));
    QVERIFY(layer->testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(layer->focusPolicy(), Qt::NoFocus);

    // A card without a parent casts no shadow and creates no layer.
    Card lonely;
    lonely.show();
    QVERIFY(!lonely.findChild<ShadowLayer *>());
}

void TestSurfaces::paintShadowEmpty()
{
    QImage image = transparentImage(QSize(100, 100));
    {
        QPainter painter(&image);
        paintShadow(&painter, QRectF(40, 40, 20, 20), 8, 4, 12, -10, QColor(0, 0, 0, 200));
        paintShadow(&painter, QRectF(40, 40, 20, 20), 8, 4, 12, -12, QColor(0, 0, 0, 200));
    }
    QCOMPARE(alphaSum(image, image.rect()), 0);

    {
        QPainter painter(&image);
        paintShadow(&painter, QRectF(30, 30, 40, 40), 8, 4, 12, 0, QColor(0, 0, 0, 200));
    }
    QVERIFY(qAlpha(image.pixel(50, 50)) > 150);
    QVERIFY(qAlpha(image.pixel(50, 80)) > 0);
    QCOMPARE(qAlpha(image.pixel(2, 2)), 0);
}

void TestSurfaces::shadowCache()
{
    const quint32 colour = QColor(15, 23, 32, 40).rgba();
    const ShadowEntry &first = cachedShadow(18, 22, colour);
    const ShadowEntry &other = cachedShadow(18, 23, colour);
    const ShadowEntry &again = cachedShadow(18, 22, colour);
    QCOMPARE(&first, &again);
    QVERIFY(&first != &other);

    const int m = 22 + 1;
    const int s = (m + 18) * 2;
    QCOMPARE(first.margin, m);
    QCOMPARE(first.corner, 18 + 2 * m);
    QCOMPARE(first.image.size(), QSize(s + 1 + 2 * m, s + 1 + 2 * m));
    QCOMPARE(first.image.format(), QImage::Format_ARGB32_Premultiplied);
    const QColor centre = first.image.pixelColor(first.image.width() / 2, first.image.height() / 2);
    QCOMPARE(centre.alpha(), 40);
    QCOMPARE(qAlpha(first.image.pixel(0, 0)), 0);
}

void TestSurfaces::gaussian()
{
    QImage dot = transparentImage(QSize(9, 9));
    dot.setPixel(4, 4, qRgba(255, 255, 255, 255));
    QImage unchanged = dot;
    gaussianShadow(unchanged, 0.1);
    QCOMPARE(unchanged, dot);

    QImage narrow = dot;
    gaussianShadow(narrow, 0.2);
    QCOMPARE(qAlpha(narrow.pixel(4, 4)), 255);
    QCOMPARE(qAlpha(narrow.pixel(5, 4)), 0);
    // The colour goes; only the alpha is kept.
    QCOMPARE(qRed(narrow.pixel(4, 4)), 0);

    QImage wide = dot;
    gaussianShadow(wide, 1.0);
    QVERIFY(qAlpha(wide.pixel(4, 4)) < 255);
    QCOMPARE(qAlpha(wide.pixel(3, 4)), qAlpha(wide.pixel(5, 4)));
    QCOMPARE(qAlpha(wide.pixel(4, 3)), qAlpha(wide.pixel(4, 5)));
    QVERIFY(qAlpha(wide.pixel(5, 5)) > 0);
    QVERIFY(qAbs(alphaSum(wide, wide.rect()) - 255) < 20);
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
    auto *rowWidget = new DeviceRow(monogram, "Wheel base", "Steering", &page);
    DeviceRow &row = *rowWidget;
    QCOMPARE(row.property("row").toBool(), true);
    row.setGeometry(0, 0, width, 120);
    page.show();
    QCOMPARE(row.isWide(), wide);
    const int m = monogram.isEmpty() ? 0 : 1;
    auto *pill = row.findChild<Pill *>();
    auto *button = row.findChild<QPushButton *>();
    QCOMPARE(pill->pillHeight(), 26);
    QCOMPARE(button->minimumWidth(), 104);
    if (wide) {
        QCOMPARE(gridCell(row, row.combo()), (QList<int>{0, m + 1, 1}));
        QCOMPARE(gridCell(row, pill), (QList<int>{0, m + 2, 1}));
        QCOMPARE(gridCell(row, button), (QList<int>{0, m + 3, 1}));
    } else {
        QCOMPARE(gridCell(row, row.combo()), (QList<int>{1, 0, 3 + m}));
        QCOMPARE(gridCell(row, pill), (QList<int>{0, m + 1, 1}));
        QCOMPARE(gridCell(row, button), (QList<int>{0, m + 2, 1}));
    }
    QVERIFY(row.combo()->geometry().intersects(button->geometry()) == false);
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

    auto *button = row->findChild<QPushButton *>();
    QCOMPARE(button->text(), QStringLiteral("Connect"));
    QVERIFY(!button->property("primary").toBool());
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(button->graphicsEffect());
    QVERIFY(effect);
    QCOMPARE(effect->opacity(), 0.5);
    QVERIFY(button->isEnabled());
    QCOMPARE(row->combo()->property("placeholder").toBool(), true);

    QSignalSpy connectSpy(row, &DeviceRow::connectRequested);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(connectSpy.count(), 0);
    auto *toast = window.findChild<Toast *>("ostraToast");
    QVERIFY(toast);
    QCOMPARE(toast->text(), QStringLiteral("Choose a device first"));

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
    QTest::addColumn<bool>("pulsing");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("clickSignal");
    QTest::newRow("not connected") << 0 << "" << "Not connected" << 0 << false << "Connect" << false << "connect";
    QTest::newRow("connecting") << 1 << "" << "Connecting" << 2 << true << "Connecting" << false << "connect";
    QTest::newRow("connected") << 2 << "" << "Connected" << 3 << false << "Disconnect" << true << "disconnect";
    QTest::newRow("connected detail") << 2 << "COM3" << "COM3" << 3 << false << "Disconnect" << true << "disconnect";
    QTest::newRow("other state") << 7 << "" << "Not connected" << 0 << false << "Connect" << false << "connect";
}

void TestSurfaces::deviceRowStates()
{
    QFETCH(int, state);
    QFETCH(QString, detail);
    QFETCH(QString, pillText);
    QFETCH(int, level);
    QFETCH(bool, pulsing);
    QFETCH(QString, buttonText);
    QFETCH(bool, connected);
    QFETCH(QString, clickSignal);
    DeviceRow row("TX", "Transmitter", "USB");
    row.combo()->addItems({"Choose a port", "COM3"});
    row.combo()->setCurrentIndex(1);
    row.resize(700, 80);
    row.show();
    row.setStatus(state, detail);

    auto *pill = row.findChild<Pill *>();
    QCOMPARE(pill->text(), pillText);
    QCOMPARE(pill->level(), level);
    QCOMPARE(pill->isPulsing(), pulsing);
    auto *button = row.findChild<QPushButton *>();
    QCOMPARE(button->text(), buttonText);
    QCOMPARE(row.property("connected").toBool(), connected);
    QCOMPARE(button->property("primary").toBool(), state != 1 && state != 2);
    QVERIFY(!button->graphicsEffect());

    QSignalSpy connectSpy(&row, &DeviceRow::connectRequested);
    QSignalSpy disconnectSpy(&row, &DeviceRow::disconnectRequested);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(connectSpy.count(), clickSignal == "connect" ? 1 : 0);
    QCOMPARE(disconnectSpy.count(), clickSignal == "disconnect" ? 1 : 0);

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
    QVERIFY(button->graphicsEffect());

    row.setConnectPredicate({});
    QVERIFY(button->property("primary").toBool());
    row.combo()->setCurrentIndex(0);
    row.setBusy(true);
    QVERIFY(row.isBusy());
    QVERIFY(!row.combo()->isEnabled());
    // While busy any entry counts as chosen, and the list shows no placeholder look.
    QVERIFY(button->property("primary").toBool());
    QCOMPARE(row.combo()->property("placeholder").toBool(), false);
    row.setBusy(false);
    QVERIFY(row.combo()->isEnabled());
    QCOMPARE(row.combo()->property("placeholder").toBool(), true);
}

void TestSurfaces::toastShared()
{
    showToast(nullptr, "ignored");
    QWidget window;
    window.resize(600, 400);
    auto *a = new QLabel("a", &window);
    auto *inner = new QWidget(&window);
    auto *b = new QLabel("b", inner);
    window.show();

    showToast(a, "Saved to controller");
    showToast(b, "Profile deleted");
    const QList<Toast *> toasts = window.findChildren<Toast *>();
    QCOMPARE(toasts.size(), 1);
    Toast *toast = toasts.first();
    QCOMPARE(toast->parentWidget(), &window);
    QCOMPARE(toast->text(), QStringLiteral("Profile deleted"));
    QVERIFY(toast->isVisible());
    QVERIFY(toast->testAttribute(Qt::WA_TransparentForMouseEvents));
    // Without animations the toast stands at its final place at once.
    QCOMPARE(toast->opacity(), 1.0);
    const int width = QFontMetrics(uiFont(13.5, 500)).horizontalAdvance("Profile deleted") + 56;
    QCOMPARE(toast->geometry(), QRect((600 - width) / 2, 400 - 64 - 28, width, 64));

    QImage image(toast->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    toast->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    QCOMPARE(image.pixelColor(20, 26), ThemeColors::inverseSurface);
}

void TestSurfaces::toastHides()
{
    QWidget window;
    window.resize(400, 300);
    window.show();
    showToast(&window, "Saved");
    Toast *toast = window.findChild<Toast *>();
    QVERIFY(toast->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!toast->isVisible(), 5000);
    showToast(&window, "Again");
    QCOMPARE(window.findChildren<Toast *>().size(), 1);
    QVERIFY(toast->isVisible());
}

OSTRA_TEST_MAIN_WIDGETS(TestSurfaces)
#include "tst_surfaces.moc"
