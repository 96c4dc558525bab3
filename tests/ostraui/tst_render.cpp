#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QVBoxLayout>

#include "ostraui/ambientbackground.h"
#include "ostraui/brandlogo.h"
#include "ostraui/components.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/mapview.h"
#include "ostraui/pageheader.h"
#include "ostraui/pagestack.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "ostraui/titlebar.h"
#include "ostraui/wraprow.h"
#include "support/testenvironment.h"
#include "tileserver.h"

using namespace ostra;

// Paints the kit's widgets offscreen in the theme chosen by QOROSTRA_THEME and leaves the
// pictures under the build folder for a person to look at. Run without QOROSTRA_THEME it
// renders the light theme and runs itself once more for the dark one.
class TestRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void render_data();
    void render();
    void logo();
    void darkTheme();

private:
    ostratest::TileServer m_tiles;
};

namespace {

using Widgets = std::initializer_list<QWidget *>;

QWidget *box(QBoxLayout::Direction direction, Widgets widgets, QWidget *host = nullptr)
{
    if (!host)
        host = new QWidget;
    auto *layout = new QBoxLayout(direction, host);
    layout->setSpacing(12);
    for (QWidget *widget : widgets)
        layout->addWidget(widget);
    return host;
}
QWidget *row(Widgets widgets)
{
    QWidget *host = box(QBoxLayout::LeftToRight, widgets);
    host->layout()->setAlignment(Qt::AlignLeft);
    return host;
}
QWidget *column(Widgets widgets) { return box(QBoxLayout::TopToBottom, widgets); }

template <typename W, typename F> W *make(W *widget, F setUp)
{
    setUp(widget);
    return widget;
}

QWidget *indicators()
{
    QWidget *pills = row({});
    for (int level = 0; level <= 4; ++level)
        pills->layout()->addWidget(make(new Pill, [level](Pill *p) { p->setLevel(level); p->setText("Connected"); }));
    QWidget *cells = row({});
    for (int us : {-1, 1000, 1500, 2200})
        cells->layout()->addWidget(make(new ChannelCell(1), [us](ChannelCell *c) { c->setValue(us); }));
    return column({
        row({new Dot(nullptr, 12), make(new Dot(nullptr, 52), [](Dot *d) { d->setRipple(true); }),
             new Monogram("WB", Monogram::Info, 44), new Monogram("PD", Monogram::Danger, 52)}),
        pills,
        row({make(new Pill(nullptr, Pill::KeyValue), [](Pill *p) { p->setKeyValue("Link", "98 %"); }),
             make(new Pill(nullptr, Pill::KeyValue), [](Pill *p) { p->setDotVisible(false); p->setKeyValue("RSSI", QString()); })}),
        make(new Meter(nullptr, ThemeColors::accent), [](Meter *m) { m->setValue(0.62); }),
        make(new Meter(nullptr, ThemeColors::successAccent), [](Meter *m) { m->setBipolar(true); m->setValue(-0.4); }),
        row({make(new VMeter(nullptr, 14), [](VMeter *v) { v->setFixedHeight(90); v->setValue(0.75); v->setMarker(0.5, ThemeColors::dangerAccent); })}),
        cells});
}

QWidget *controls()
{
    auto *card = new Card(nullptr, 1);
    card->contentLayout()->addWidget(make(new Segmented({"Car", "Helicopter"}), [](Segmented *s) { s->setCurrentIndex(1); }));
    card->contentLayout()->addWidget(make(new Segmented({"Linear\nfull range", "Expo\nsoft"}), [](Segmented *s) { s->setOptionEnabled(1, false); }));
    return column({
        row({new Toggle, make(new Toggle, [](Toggle *t) { t->setChecked(true); }), make(new Toggle, [](Toggle *t) { t->setEnabled(false); })}),
        card, new SliderRow("Strength", 0, 100, 65),
        row({make(new BusyButton("Save"), [](BusyButton *b) { b->setBusy(true, "Saving"); }),
             make(new TxButton, [](TxButton *t) { t->setState(TxGo); }), make(new TxButton, [](TxButton *t) { t->setState(TxStop); })}),
        make(new ListRow("Receiver firmware"), [](ListRow *r) { r->setSubtitle("QOR Receiver V4"); r->setTrailingText("COM4"); }),
        make(new ListRow("Disabled row"), [](ListRow *r) { r->setEnabled(false); r->setShowChevron(false); })});
}

QWidget *surfaces()
{
    QWidget *cards = row({});
    for (int i = 0; i < 3; ++i) {
        auto *card = new Card(cards, i);
        card->setFixedSize(150, 90);
        card->contentLayout()->addWidget(makeRoleLabel("Card body", "muted"));
        card->setDimmed(i == 2);
        cards->layout()->addWidget(card);
    }
    auto *connected = new DeviceRow("TX", "Transmitter", "QOR Transmitter on USB");
    connected->combo()->addItems({"Choose a port", "COM3"});
    connected->combo()->setCurrentIndex(1);
    connected->setStatus(DeviceConnected, "COM3");
    auto *idle = new DeviceRow(QString(), "Shifter", "H-pattern, seven gears");
    idle->combo()->addItem("Choose a device");
    idle->setFixedWidth(460);
    return column({cards, connected, idle});
}

QWidget *styles()
{
    QWidget *buttons = row({makeButton("Default"), makeButton("Primary", true)});
    for (const char *kind : {"danger", "ghost", "link", "small", "back"})
        buttons->layout()->addWidget(make(makeButton(kind), [kind](QPushButton *b) { b->setProperty(kind, true); }));
    buttons->layout()->addWidget(makeIconButton(nullptr, true, QString()));
    QWidget *labels = row({});
    for (const char *role : {"title", "h3", "secondary", "caption", "mono", "chip", "warning", "danger", "success"})
        labels->layout()->addWidget(makeRoleLabel(role, role));
    QWidget *bars = column({});
    for (const char *tone : {"", "green", "red", "ink"})
        bars->layout()->addWidget(make(new QProgressBar, [tone](QProgressBar *b) { b->setValue(60); b->setProperty("tone", tone); }));
    auto *group = new QGroupBox("Group box");
    box(QBoxLayout::TopToBottom, {new QLabel("Inside")}, group);
    auto *page = column({labels, buttons});
    static_cast<QBoxLayout *>(page->layout())->addLayout(makeHeading("Heading h2", "A muted subtitle", makeButton("Action", true)));
    page->layout()->addWidget(row({make(new QLineEdit, [](QLineEdit *e) { e->setPlaceholderText("Placeholder"); }),
                                   make(new QComboBox, [](QComboBox *c) { c->addItem("Choose"); c->setProperty("placeholder", true); }),
                                   make(new QCheckBox("Checked"), [](QCheckBox *c) { c->setChecked(true); }),
                                   make(new QRadioButton("Radio"), [](QRadioButton *r) { r->setChecked(true); })}));
    page->layout()->addWidget(bars);
    page->layout()->addWidget(group);
    return page;
}

MapView *drivingMap(const QString &tileBase)
{
    auto *map = new MapView;
    map->setTileServer(tileBase, QString::fromUtf8("\u00A9 OpenStreetMap contributors"));
    for (int i = 0; i < 40; ++i)
        map->setPosition(51.5074 + i * 0.00004, -0.1278 + std::sin(i / 6.0) * 0.0004, 10 + i, true);
    map->setMinimumHeight(230);
    return map;
}

Card *textCard(const QString &title, QWidget *body)
{
    auto *card = new Card;
    card->contentLayout()->addWidget(makeRoleLabel(title, "h2"));
    card->contentLayout()->addWidget(body);
    return card;
}

// The main window's shell: backdrop, sidebar, title bar, header, and a page of cards and a map.
QWidget *shell(const QString &tileBase)
{
    auto *window = new AmbientBackground;
    window->setFixedSize(1280, 800);
    auto *sidebar = new Sidebar("v0.1.0");
    sidebar->setItemIndicator(1, true);
    auto *collapsed = new Sidebar("v0.1.0");
    collapsed->setCollapsed(true, false);
    collapsed->setCurrentIndex(-1, false);
    auto *header = new PageHeader;
    header->setTitle("Dashboard");
    header->setBackText("Vehicles");
    header->actionsRow()->addWidget(makeButton("Start", true));
    auto *page = new QWidget;
    auto *grid = new ResponsiveGrid(260, 16, page);
    for (const char *title : {"Transmitter", "Receiver", "Controllers"})
        grid->addWidget(textCard(title, makeRoleLabel("Wheel, pedals and shifter ready", "muted")));
    auto *split = new QWidget;
    auto *wrap = new WrapRow(16, split);
    wrap->addWidget(textCard("Session", makeRoleLabel("Steering follows the wheel.", "muted")), 2, 300);
    wrap->addWidget(textCard("GPS", drivingMap(tileBase)), 3, 400);
    auto *stack = new PageStack;
    stack->addWidget(column({page, split}));
    QWidget *content = column({new TitleBar(window), header, stack});
    box(QBoxLayout::LeftToRight, {sidebar, collapsed, content}, window);
    return window;
}

// A dressed dialog composed onto its dimmed parent window.
QImage dialogOverWindow()
{
    AmbientBackground parent;
    parent.setFixedSize(760, 560);
    parent.show();
    QDialog dialog(&parent);
    dialog.setWindowTitle("Drive settings");
    auto *form = new QFormLayout(&dialog);
    form->addRow("Profile name", new QLineEdit("Buggy 1:10"));
    form->addRow(new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel));
    dialog.resize(420, 180);
    applyDialogChrome(&dialog, "Map each control to an input, then calibrate its range");
    dialog.show();
    QCoreApplication::processEvents();
    QImage image = parent.grab().toImage();
    const QImage card = dialog.grab().toImage();
    QPainter(&image).drawImage(QPoint((760 - card.width()) / 2, (560 - card.height()) / 2), card);
    return image;
}

} // namespace

void TestRender::initTestCase()
{
    installTheme(*qApp);
    m_tiles.handler = [](const QString &path) {
        return ostratest::TileServer::ok(ostratest::TileServer::png(QColor::fromHsv(int(qHash(path) % 360), 40, 235)));
    };
}

void TestRender::render_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"indicators", "controls", "surfaces", "styles", "shell", "dialog"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestRender::render()
{
    QFETCH(QString, name);
    QImage image;
    if (name == "dialog") {
        image = dialogOverWindow();
    } else {
        QScopedPointer<QWidget> widget(name == "indicators" ? indicators()
                                       : name == "controls" ? controls()
                                       : name == "surfaces" ? surfaces()
                                       : name == "styles"   ? styles()
                                                            : shell(m_tiles.baseUrl()));
        if (widget->minimumWidth() == 0)
            widget->setFixedWidth(720);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.data()));
        if (name == "surfaces")
            showToast(widget.data(), "Saved to controller");
        // Tiles arrive over the local socket; give them a moment, then paint.
        for (int i = 0; i < 10; ++i)
            QTest::qWait(20);
        image = widget->grab().toImage();
        QCOMPARE(image.size(), widget->size());
        // The backdrop is the theme's window colour.
        QCOMPARE(image.pixelColor(2, 2), ThemeColors::windowBg);
    }
    const QString path = ostratest::artefactDir("ostraui")
                         + QStringLiteral("/%1-%2.png").arg(name, isDarkTheme() ? "dark" : "light");
    QVERIFY(image.save(path));
    QVERIFY(image.width() >= 400 && image.height() >= 150);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    QVERIFY2(colours.size() > 40, qPrintable(path));
}

void TestRender::logo()
{
    const QPixmap full = brandLogoPixmap(150, false);
    const QPixmap mark = brandLogoPixmap(36, true);
    QVERIFY(full.save(ostratest::artefactDir("ostraui")
                      + QStringLiteral("/logo-%1.png").arg(isDarkTheme() ? "dark" : "light")));
    QCOMPARE(full.deviceIndependentSize().width(), 150.0);
    QCOMPARE(mark.deviceIndependentSize().width(), 36.0);
    QVERIFY(std::abs(mark.width() - mark.height()) <= 2);
    // The word mark takes the theme's ink; the red mark keeps its colour.
    const QImage image = full.toImage();
    bool inkFound = false;
    for (int x = 0; x < image.width() && !inkFound; ++x) {
        const QColor c = image.pixelColor(x, image.height() / 2);
        const QColor ink = ThemeColors::ink;
        inkFound = c.alpha() == 255 && std::abs(c.red() - ink.red()) <= 3
                   && std::abs(c.green() - ink.green()) <= 3 && std::abs(c.blue() - ink.blue()) <= 3;
    }
    QVERIFY(inkFound);
    const QColor centre = mark.toImage().pixelColor(3, mark.height() / 2);
    QVERIFY(centre.red() > 200 && centre.green() < 80);
}

void TestRender::darkTheme()
{
    if (isDarkTheme())
        QSKIP("this run is the dark one");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QOROSTRA_THEME", "dark");
    env.insert("OSTRA_ARTEFACT_DIR", QFileInfo(ostratest::artefactDir("ostraui")).absolutePath());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"render", "logo"});
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(QFile::exists(ostratest::artefactDir("ostraui") + "/shell-dark.png"));
}

OSTRA_TEST_MAIN_WIDGETS(TestRender)
#include "tst_render.moc"
