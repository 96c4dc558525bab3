#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEnterEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

#include "ostraui/ambientbackground.h"
#include "ostraui/brandlogo.h"
#include "ostraui/card.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/flowlayout.h"
#include "ostraui/mapview.h"
#include "ostraui/pageheader.h"
#include "ostraui/pagestack.h"
#include "ostraui/pill.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "ostraui/titlebar.h"
#include "ostraui/wraprow.h"
#include "support/testenvironment.h"
#include "tileserver.h"

using namespace ostra;

// Paints the shell widgets offscreen in the theme chosen by QOROSTRA_THEME and leaves the
// pictures under the build folder for a person to look at; without QOROSTRA_THEME it renders
// the light theme and runs itself once more for the dark one.
class TestRenderShell : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void render_data();
    void render();
    void logo();
    void darkTheme();

private:
    QString themeName() const { return isDarkTheme() ? QStringLiteral("dark") : QStringLiteral("light"); }
    ostratest::TileServer m_tiles;
};

namespace {

constexpr double kLat = 51.5074;
constexpr double kLon = -0.1278;

// A street-map-like tile: land, two roads and a block, varied by the tile's position.
QByteArray mapTile(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    const int x = parts.value(2).toInt();
    const int y = parts.value(3).section(QLatin1Char('.'), 0, 0).toInt();
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(QColor(242, 239, 233));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(205, 235, 196));
    p.drawRect(30 + (x % 3) * 20, 40 + (y % 4) * 15, 90, 70);
    p.setBrush(QColor(170, 211, 223));
    if ((x + y) % 3 == 0)
        p.drawEllipse(QPointF(190, 200), 40, 30);
    p.setPen(QPen(Qt::white, 10));
    p.drawLine(0, 128 + (x % 5) * 8, 256, 100 + (y % 5) * 10);
    p.drawLine(70 + (y % 4) * 20, 0, 120, 256);
    p.setPen(QPen(QColor(252, 214, 164), 6));
    p.drawLine(0, 30, 256, 60 + (x % 3) * 10);
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return ostratest::TileServer::ok(bytes);
}

Card *textCard(const QString &title, const QString &body, int elevation = 1)
{
    auto *card = new Card(nullptr, elevation);
    card->contentLayout()->addWidget(makeRoleLabel(title, "h2"));
    auto *text = makeRoleLabel(body, "muted");
    text->setWordWrap(true);
    card->contentLayout()->addWidget(text);
    return card;
}

MapView *drivingMap(const QString &tileBase)
{
    auto *map = new MapView;
    map->setTileServer(tileBase, QString::fromUtf8("\u00A9 OpenStreetMap contributors"));
    for (int i = 0; i < 40; ++i)
        map->setPosition(kLat + i * 0.00004, kLon + std::sin(i / 6.0) * 0.0004, 10 + i, true);
    return map;
}

// The main window's shell: backdrop, sidebar, title bar, header and a page of cards.
QWidget *shellWindow(const QString &tileBase)
{
    auto *window = new AmbientBackground;
    window->setWindowTitle(QStringLiteral("Qorvant OSTRA"));
    window->setFixedSize(1280, 800);
    auto *outer = new QHBoxLayout(window);
    outer->setContentsMargins(12, 12, 0, 12);
    outer->setSpacing(0);
    auto *sidebar = new Sidebar(QStringLiteral("v0.1.0"));
    sidebar->setCurrentIndex(0, false);
    sidebar->setItemIndicator(1, true);
    sidebar->setItemIndicator(2, true);
    outer->addWidget(sidebar);

    auto *column = new QVBoxLayout;
    column->setContentsMargins(20, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new TitleBar(window));
    auto *header = new PageHeader;
    header->setTitle(QStringLiteral("Dashboard"));
    header->setBackText(QStringLiteral("Vehicles"));
    header->actionsRow()->addWidget(makeButton(QStringLiteral("Add profile"), false));
    header->actionsRow()->addWidget(makeButton(QStringLiteral("Start"), true));
    column->addWidget(header);

    auto *stack = new PageStack;
    auto *page = new QWidget;
    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(8, 0, 20, 8);
    pageLayout->setSpacing(16);
    auto *chips = new QWidget;
    auto *flow = new FlowLayout(chips, 8, 8);
    for (const char *chip : {"Transmitter", "Receiver", "Wheel base", "Pedals", "Shifter"}) {
        auto *pill = new Pill(nullptr, 0);
        pill->setText(QString::fromLatin1(chip));
        pill->setLevel(chip[0] == 'T' ? 3 : chip[0] == 'R' ? 2 : 0);
        flow->addWidget(pill);
    }
    pageLayout->addWidget(chips);
    auto *cards = new QWidget;
    auto *grid = new ResponsiveGrid(260, 16, cards);
    grid->addWidget(textCard(QStringLiteral("Transmitter"), QStringLiteral("QOR Transmitter on ttyACM0")));
    grid->addWidget(textCard(QStringLiteral("Receiver"), QStringLiteral("Link quality 100 %")));
    grid->addWidget(textCard(QStringLiteral("Controllers"), QStringLiteral("Wheel, pedals and shifter ready")));
    pageLayout->addWidget(cards);
    auto *split = new QWidget;
    auto *row = new WrapRow(16, split);
    row->addWidget(textCard(QStringLiteral("Session"), QStringLiteral("Steering, throttle and brake follow the wheel."), 2), 2, 300);
    auto *mapCard = new Card;
    mapCard->contentLayout()->addWidget(makeRoleLabel(QStringLiteral("GPS"), "h2"));
    MapView *map = drivingMap(tileBase);
    map->setMinimumHeight(230);
    mapCard->contentLayout()->addWidget(map);
    row->addWidget(mapCard, 3, 400);
    pageLayout->addWidget(split);
    pageLayout->addStretch(1);
    stack->addWidget(page);
    stack->addWidget(new QLabel(QStringLiteral("second page")));
    stack->setCurrentIndexAnimated(1);
    stack->setCurrentIndexAnimated(0);
    column->addWidget(stack, 1);
    outer->addLayout(column, 1);
    return window;
}

QWidget *collapsedSidebar()
{
    auto *host = new AmbientBackground;
    host->setFixedSize(340, 720);
    auto *layout = new QHBoxLayout(host);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(24);
    auto *collapsed = new Sidebar(QStringLiteral("v0.1.0"));
    collapsed->setCollapsed(true, false);
    collapsed->setCurrentIndex(2, false);
    collapsed->setItemIndicator(1, true);
    auto *info = new Sidebar(QStringLiteral("v0.1.0"));
    info->setCollapsed(true, false);
    info->setCurrentIndex(-1, false);
    layout->addWidget(collapsed);
    layout->addWidget(info);
    layout->addStretch(1);
    return host;
}

QWidget *titleBars()
{
    auto *host = new QWidget;
    host->setWindowTitle(QStringLiteral("Qorvant OSTRA — RC car"));
    host->setAutoFillBackground(true);
    host->setFixedSize(720, 38 * 3 + 16);
    auto *layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (int i = 0; i < 3; ++i) {
        auto *bar = new TitleBar(host);
        layout->addWidget(bar);
        const QList<QAbstractButton *> buttons = bar->findChildren<QAbstractButton *>();
        if (i > 0) {
            // Hover the close button on the second bar, maximise on the third.
            QAbstractButton *hovered = buttons.value(i == 1 ? 2 : 1);
            QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
            QApplication::sendEvent(hovered, &enter);
        }
    }
    return host;
}

QWidget *mapViews(const QString &tileBase)
{
    auto *host = new QWidget;
    host->setAutoFillBackground(true);
    host->setFixedSize(1000, 380);
    auto *layout = new QHBoxLayout(host);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);
    auto *waiting = new MapView;
    auto *driving = drivingMap(tileBase);
    auto *parked = new MapView;
    parked->setTileServer(tileBase, QString::fromUtf8("\u00A9 OpenStreetMap contributors"));
    parked->setPosition(kLat, kLon, 0, false);
    layout->addWidget(waiting);
    layout->addWidget(driving);
    layout->addWidget(parked);
    return host;
}

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}

void settle()
{
    // Tiles arrive over the local socket; give them a moment, then paint.
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(25);
    }
}

} // namespace

void TestRenderShell::initTestCase()
{
    installTheme(*qApp);
    m_tiles.handler = mapTile;
}

void TestRenderShell::render_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("window") << "window";
    QTest::newRow("sidebar-collapsed") << "sidebar-collapsed";
    QTest::newRow("titlebar") << "titlebar";
    QTest::newRow("map") << "map";
    QTest::newRow("dialog") << "dialog";
}

void TestRenderShell::render()
{
    QFETCH(QString, name);
    const QString tileBase = m_tiles.baseUrl();
    QImage image;
    if (name == QLatin1String("dialog")) {
        // A dressed dialog over a dimmed window; the dialog is composed onto the dimmed window.
        QScopedPointer<QWidget> parent(new AmbientBackground);
        parent->setFixedSize(760, 560);
        parent->show();
        QDialog dialog(parent.data());
        dialog.setWindowTitle(QStringLiteral("Drive settings"));
        auto *form = new QFormLayout(&dialog);
        form->setContentsMargins(24, 8, 24, 20);
        form->addRow(QStringLiteral("Profile name"), new QLineEdit(QStringLiteral("Buggy 1:10")));
        form->addRow(QStringLiteral("Steering range"), new QLineEdit(QStringLiteral("540°")));
        form->addRow(new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel));
        dialog.resize(420, 180);
        applyDialogChrome(&dialog, QStringLiteral("Map each control to an input, then calibrate its range"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        settle();
        image = parent->grab().toImage();
        QPainter p(&image);
        const QImage card = dialog.grab().toImage();
        p.drawImage(QPoint((image.width() - card.width()) / 2, (image.height() - card.height()) / 2), card);
        p.end();
        QCOMPARE(dialog.size(), QSize(476, 304));
        dialog.hide();
    } else {
        QWidget *widget = name == QLatin1String("window")              ? shellWindow(tileBase)
                          : name == QLatin1String("sidebar-collapsed") ? collapsedSidebar()
                          : name == QLatin1String("titlebar")          ? titleBars()
                                                                       : mapViews(tileBase);
        QScopedPointer<QWidget> owner(widget);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget));
        widget->grab();
        settle();
        image = widget->grab().toImage();
        QCOMPARE(image.size(), widget->size());
    }
    const QString path =
        ostratest::artefactDir("ostraui") + QStringLiteral("/shell-%1-%2.png").arg(name, themeName());
    QVERIFY(image.save(path));
    QVERIFY2(distinctColours(image) > 40, qPrintable(path));
}

void TestRenderShell::logo()
{
    const QPixmap full = brandLogoPixmap(150, false);
    const QPixmap mark = brandLogoPixmap(36, true);
    QVERIFY(!full.isNull());
    QVERIFY(full.save(ostratest::artefactDir("ostraui") + QStringLiteral("/shell-logo-%1.png").arg(themeName())));
    QCOMPARE(full.deviceIndependentSize().width(), 150.0);
    QCOMPARE(mark.deviceIndependentSize().width(), 36.0);
    // The mark alone is about square; the word mark takes the theme's ink.
    QVERIFY(std::abs(mark.width() - mark.height()) <= 2);
    const QImage image = full.toImage();
    bool inkFound = false;
    for (int x = 0; x < image.width() && !inkFound; ++x) {
        const QColor c = image.pixelColor(x, image.height() / 2);
        const QColor ink = ThemeColors::ink;
        inkFound = c.alpha() == 255 && std::abs(c.red() - ink.red()) <= 3 && std::abs(c.green() - ink.green()) <= 3
                   && std::abs(c.blue() - ink.blue()) <= 3;
    }
    QVERIFY(inkFound);
    const QColor centre = mark.toImage().pixelColor(3, mark.height() / 2);
    QVERIFY(centre.red() > 200 && centre.green() < 80);
}

void TestRenderShell::darkTheme()
{
    if (isDarkTheme())
        QSKIP("this run is the dark one");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QOROSTRA_THEME"), QStringLiteral("dark"));
    env.insert(QStringLiteral("OSTRA_ARTEFACT_DIR"), QFileInfo(ostratest::artefactDir("ostraui")).absolutePath());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("render"), QStringLiteral("logo")});
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(QFile::exists(ostratest::artefactDir("ostraui") + QStringLiteral("/shell-window-dark.png")));
}

OSTRA_TEST_MAIN_WIDGETS(TestRenderShell)
#include "tst_render_shell.moc"
