#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ostraui/components.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"

using namespace ostra;

// Paints every widget of the kit offscreen, in the theme chosen by QOROSTRA_THEME, and leaves
// the pictures under the build folder for a person to look at. Run without QOROSTRA_THEME it
// renders the light theme and runs itself once more for the dark one.
class TestRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void render_data();
    void render();
    void darkTheme();

private:
    QString themeName() const { return isDarkTheme() ? QStringLiteral("dark") : QStringLiteral("light"); }
};

namespace {

QWidget *section(const QString &title, QWidget *body)
{
    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(makeRoleLabel(title, "caption"));
    layout->addWidget(body);
    return box;
}

QWidget *row(std::initializer_list<QWidget *> widgets)
{
    auto *box = new QWidget;
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    for (QWidget *widget : widgets)
        layout->addWidget(widget, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    return box;
}

QWidget *page(int width)
{
    auto *page = new QWidget;
    page->setFixedWidth(width);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(18);
    return page;
}

QWidget *indicatorsPage()
{
    QWidget *p = page(720);
    auto *layout = static_cast<QVBoxLayout *>(p->layout());

    auto *pulsing = new Dot(nullptr, 12);
    pulsing->setPulsing(true);
    auto *ripple = new Dot(nullptr, 52);
    ripple->setRipple(true);
    ripple->setColor(ThemeColors::dangerAccent);
    auto *info = new Dot(nullptr, 10);
    info->setColor(ThemeColors::accent);
    layout->addWidget(section("Dot", row({new Dot(nullptr, 12), pulsing, info, ripple, new Dot(nullptr, 30)})));

    const char *texts[] = {"Idle", "Searching", "Low battery", "Connected", "Failsafe"};
    QList<QWidget *> pills;
    for (int level = 0; level <= 4; ++level) {
        auto *pill = new Pill;
        pill->setLevel(level);
        pill->setText(texts[level]);
        pills << pill;
    }
    auto *small = new Pill;
    small->setHeight(24);
    small->setLevel(LevelSuccess);
    small->setText("Connected");
    auto *plain = new Pill;
    plain->setDotVisible(false);
    plain->setText("No dot");
    layout->addWidget(section("Pill", row({pills[0], pills[1], pills[2], pills[3], pills[4]})));

    auto *kv = new Pill(nullptr, Pill::KeyValue);
    kv->setKeyValue("Link", "98 %");
    kv->setLevel(LevelSuccess);
    auto *kvEmpty = new Pill(nullptr, Pill::KeyValue);
    kvEmpty->setKeyValue("Waiting", QString());
    kvEmpty->setLevel(LevelWarning);
    auto *kvNoDot = new Pill(nullptr, Pill::KeyValue);
    kvNoDot->setDotVisible(false);
    kvNoDot->setKeyValue("RSSI", "-71 dBm");
    layout->addWidget(row({small, plain, kv, kvEmpty, kvNoDot}));

    auto *meters = new QWidget;
    auto *grid = new QVBoxLayout(meters);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(10);
    auto *uni = new Meter(nullptr, ThemeColors::accent);
    uni->setValue(0.62);
    auto *bi = new Meter(nullptr, ThemeColors::successAccent);
    bi->setBipolar(true);
    bi->setValue(-0.4);
    auto *line = new Meter(nullptr, ThemeColors::warningAccent);
    line->setCenterLine(true, ThemeColors::dangerAccent);
    line->setThickness(6);
    line->setValue(0.8);
    auto *off = new Meter(nullptr, ThemeColors::accent);
    off->setValue(0.45);
    off->setEnabled(false);
    for (Meter *meter : {uni, bi, line, off})
        grid->addWidget(meter);
    layout->addWidget(section("Meter", meters));

    QList<QWidget *> vmeters;
    const double values[] = {0.0, 0.3, 0.75, 1.0};
    for (double value : values) {
        auto *vm = new VMeter(nullptr, 14);
        vm->setFixedHeight(90);
        vm->setValue(value);
        vmeters << vm;
    }
    static_cast<VMeter *>(vmeters[2])->setMarker(0.5, ThemeColors::dangerAccent);
    auto *padded = new VMeter(nullptr, 18);
    padded->setFixedHeight(90);
    padded->setPadding(3);
    padded->setColor(ThemeColors::successAccent);
    padded->setValue(0.55);
    layout->addWidget(section("VMeter", row({vmeters[0], vmeters[1], vmeters[2], vmeters[3], padded})));

    auto *custom = new Monogram("TX", Monogram::Plain, 40);
    custom->setTextColor(ThemeColors::successText);
    layout->addWidget(section("Monogram", row({new Monogram("RC", Monogram::Danger, 36),
                                              new Monogram("WB", Monogram::Info, 44),
                                              new Monogram("PD", Monogram::Neutral, 52),
                                              new Monogram("SH", Monogram::Plain, 56), custom})));

    QList<QWidget *> cells;
    const int us[] = {-1, 1000, 1500, 1811, 2000, 2200};
    for (int i = 0; i < 6; ++i) {
        auto *cell = new ChannelCell(i + 1);
        cell->setFixedWidth(68);
        cell->setValue(us[i]);
        cells << cell;
    }
    layout->addWidget(section("ChannelCell", row({cells[0], cells[1], cells[2], cells[3], cells[4], cells[5]})));
    return p;
}

QWidget *controlsPage()
{
    QWidget *p = page(720);
    auto *layout = static_cast<QVBoxLayout *>(p->layout());

    auto *on = new Toggle;
    on->setChecked(true);
    auto *disabledOff = new Toggle;
    disabledOff->setEnabled(false);
    auto *disabledOn = new Toggle;
    disabledOn->setChecked(true);
    disabledOn->setEnabled(false);
    layout->addWidget(section("Toggle", row({new Toggle, on, disabledOff, disabledOn})));

    auto *seg = new Segmented({"Car", "Helicopter", "Motion"});
    seg->setCurrentIndex(1);
    auto *twoLine = new Segmented({"Linear\nfull range", "Expo\nsoft centre", "Custom\ncurve"});
    twoLine->setOptionEnabled(2, false);
    auto *disabled = new Segmented({"Off", "On"});
    disabled->setEnabled(false);
    // Segmented controls sit on cards: their track is the window colour.
    auto *surface = new QWidget;
    auto *surfaceLayout = new QVBoxLayout(surface);
    surfaceLayout->setContentsMargins(4, 4, 4, 4);
    auto *card = new Card(surface, 1);
    surfaceLayout->addWidget(card);
    card->contentLayout()->addWidget(seg);
    card->contentLayout()->addWidget(twoLine);
    card->contentLayout()->addWidget(disabled);
    layout->addWidget(section("Segmented", surface));

    auto *slider = new SliderRow("Strength", 0, 100, 65);
    slider->setFormatter([](int v) { return QStringLiteral("%1 %").arg(v); });
    layout->addWidget(section("SliderRow", slider));
    layout->addWidget(new SliderRow("Deadzone", 0, 50, 4));

    auto *busy = new BusyButton("Save");
    busy->setBusy(true, "Saving");
    auto *idle = new BusyButton("Apply");
    idle->setProperty("primary", true);
    layout->addWidget(section("BusyButton", row({busy, idle})));

    auto *locked = new TxButton;
    locked->setFixedWidth(260);
    auto *go = new TxButton;
    go->setFixedWidth(260);
    go->setState(TxGo);
    auto *stop = new TxButton;
    stop->setFixedWidth(260);
    stop->setState(TxStop);
    layout->addWidget(section("TxButton", row({locked, go})));
    layout->addWidget(stop);

    auto *list = new QWidget;
    auto *listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(2);
    auto *plain = new ListRow("Transmitter");
    plain->setTrailingText("v3.4.1");
    auto *sub = new ListRow("Receiver firmware");
    sub->setSubtitle("QOR Receiver V4, a very long subtitle that has to be elided at the right "
                     "edge of the row because it does not fit");
    sub->setTrailingText("COM4");
    auto *down = new ListRow("Pressed row");
    down->setDown(true);
    auto *off = new ListRow("Disabled row");
    off->setSubtitle("Not available");
    off->setEnabled(false);
    auto *noChevron = new ListRow("Without chevron");
    noChevron->setShowChevron(false);
    for (ListRow *r : {plain, sub, down, off, noChevron})
        listLayout->addWidget(r);
    layout->addWidget(section("ListRow", list));
    return p;
}

QWidget *surfacesPage()
{
    QWidget *p = page(760);
    auto *layout = static_cast<QVBoxLayout *>(p->layout());

    auto *cards = new QWidget;
    auto *cardRow = new QHBoxLayout(cards);
    cardRow->setContentsMargins(8, 8, 8, 30);
    cardRow->setSpacing(24);
    const char *titles[] = {"Flat", "Elevation 1", "Elevation 2", "Dimmed"};
    for (int i = 0; i < 4; ++i) {
        auto *card = new Card(cards, i == 3 ? 1 : i);
        card->setFixedSize(150, 110);
        card->contentLayout()->addWidget(makeRoleLabel(titles[i], "h3"));
        card->contentLayout()->addWidget(makeRoleLabel("Card body", "muted"));
        if (i == 2)
            card->setClickable(true);
        if (i == 3)
            card->setDimmed(true);
        cardRow->addWidget(card);
    }
    cardRow->addStretch(1);
    layout->addWidget(section("Card", cards));

    auto *wheel = new DeviceRow("WB", "Wheel base", "Steering and force feedback");
    wheel->combo()->addItems({"Choose a device", "Fanatec CSL DD"});
    wheel->setFixedWidth(700);
    auto *pedals = new DeviceRow("PD", "Pedals", "Throttle, brake and clutch");
    pedals->combo()->addItems({"Choose a device", "Heusinkveld Sprint"});
    pedals->combo()->setCurrentIndex(1);
    pedals->setFixedWidth(700);
    pedals->setStatus(DeviceConnecting);
    auto *tx = new DeviceRow("TX", "Transmitter", "QOR Transmitter on USB");
    tx->combo()->addItems({"Choose a port", "COM3"});
    tx->combo()->setCurrentIndex(1);
    tx->setFixedWidth(700);
    tx->setStatus(DeviceConnected, "COM3");
    auto *narrow = new DeviceRow(QString(), "Shifter", "H-pattern, seven gears");
    narrow->combo()->addItems({"Choose a device", "TH8A"});
    narrow->combo()->setCurrentIndex(1);
    narrow->setFixedWidth(460);
    layout->addWidget(section("DeviceRow", wheel));
    layout->addWidget(pedals);
    layout->addWidget(tx);
    layout->addWidget(narrow);
    return p;
}

QWidget *stylesPage()
{
    QWidget *p = page(720);
    auto *layout = static_cast<QVBoxLayout *>(p->layout());

    layout->addWidget(makeRoleLabel("Title", "title"));
    layout->addLayout(makeHeading("Heading h2", "A muted subtitle under the heading",
                                  makeButton("Action", true)));
    layout->addWidget(row({makeRoleLabel("h3", "h3"), makeRoleLabel("body", "body"),
                           makeRoleLabel("secondary", "secondary"), makeRoleLabel("caption", "caption"),
                           makeRoleLabel("mono 1500 us", "mono"), makeRoleLabel("chip", "chip"),
                           makeRoleLabel("value", "value")}));
    layout->addWidget(row({makeRoleLabel("warning", "warning"), makeRoleLabel("danger", "danger"),
                           makeRoleLabel("success", "success")}));
    layout->addWidget(makeHairline());

    auto *danger = makeButton("Delete");
    danger->setProperty("danger", true);
    auto *ghost = makeButton("Ghost");
    ghost->setProperty("ghost", true);
    auto *link = makeButton("Open link");
    link->setProperty("link", true);
    auto *disabled = makeButton("Disabled", true);
    disabled->setEnabled(false);
    auto *running = makeButton("Stop", true);
    running->setCheckable(true);
    running->setChecked(true);
    layout->addWidget(row({makeButton("Default"), makeButton("Primary", true), danger, ghost, link,
                           disabled, running}));

    auto *small = makeButton("Small");
    small->setProperty("small", true);
    auto *back = makeButton("\u2190 Back");
    back->setProperty("back", true);
    auto *reveal = makeIconButton(nullptr, true, QString());
    auto *big = makeButton("Big button", true);
    big->setProperty("big", true);
    layout->addWidget(row({small, back, reveal, big}));

    auto *edit = new QLineEdit;
    edit->setPlaceholderText("Placeholder");
    auto *inset = new QLineEdit("Inset field");
    inset->setProperty("inset", true);
    auto *combo = new QComboBox;
    combo->addItems({"Choose a device", "One"});
    combo->setProperty("placeholder", true);
    auto *spin = new QSpinBox;
    spin->setValue(42);
    layout->addWidget(row({edit, inset, combo, spin}));

    auto *check = new QCheckBox("Checked");
    check->setChecked(true);
    auto *radio = new QRadioButton("Radio");
    radio->setChecked(true);
    layout->addWidget(row({check, new QCheckBox("Unchecked"), radio, new QRadioButton("Other")}));

    auto *bars = new QWidget;
    auto *barLayout = new QVBoxLayout(bars);
    barLayout->setContentsMargins(0, 0, 0, 0);
    for (const char *tone : {"", "green", "red", "ink"}) {
        auto *bar = new QProgressBar;
        bar->setValue(60);
        if (*tone)
            bar->setProperty("tone", tone);
        barLayout->addWidget(bar);
    }
    auto *thin = new QProgressBar;
    thin->setValue(30);
    thin->setProperty("thin", true);
    barLayout->addWidget(thin);
    layout->addWidget(bars);

    auto *tileRow = new QWidget;
    auto *tiles = new QHBoxLayout(tileRow);
    tiles->setContentsMargins(0, 0, 0, 0);
    for (const char *prop : {"row", "tile"}) {
        auto *frame = new QFrame;
        frame->setProperty(prop, true);
        frame->setFixedSize(200, 60);
        auto *inner = new QVBoxLayout(frame);
        inner->addWidget(new QLabel(QString::fromLatin1(prop)));
        tiles->addWidget(frame);
    }
    auto *group = new QGroupBox("Group box");
    group->setFixedSize(220, 80);
    (new QVBoxLayout(group))->addWidget(new QLabel("Inside"));
    tiles->addWidget(group);
    layout->addWidget(tileRow);
    return p;
}

QWidget *toastPage()
{
    auto *window = new QWidget;
    window->resize(480, 180);
    auto *layout = new QVBoxLayout(window);
    auto *label = makeRoleLabel("A window with a toast", "h2");
    layout->addWidget(label);
    layout->addStretch(1);
    showToast(label, "Saved to controller");
    return window;
}

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    }
    return colours.size();
}

} // namespace

void TestRender::initTestCase()
{
    installTheme(*qApp);
}

void TestRender::render_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("indicators") << "indicators";
    QTest::newRow("controls") << "controls";
    QTest::newRow("surfaces") << "surfaces";
    QTest::newRow("styles") << "styles";
    QTest::newRow("toast") << "toast";
}

void TestRender::render()
{
    QFETCH(QString, name);
    QWidget *widget = name == "indicators" ? indicatorsPage()
                      : name == "controls" ? controlsPage()
                      : name == "surfaces" ? surfacesPage()
                      : name == "styles"   ? stylesPage()
                                           : toastPage();
    QScopedPointer<QWidget> owner(widget);
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget));
    QCoreApplication::processEvents();

    const QImage image = widget->grab().toImage();
    const QString path = ostratest::artefactDir("ostraui") + QStringLiteral("/%1-%2.png").arg(name, themeName());
    QVERIFY(image.save(path));

    QCOMPARE(image.size(), widget->size());
    QVERIFY(image.width() >= 400 && image.height() >= 150);
    QVERIFY2(distinctColours(image) > 40, qPrintable(path));
    // The page background is the theme's window colour.
    QCOMPARE(image.pixelColor(2, 2), ThemeColors::windowBg);
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
    child.start(QCoreApplication::applicationFilePath(), {"render"});
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(QFile::exists(ostratest::artefactDir("ostraui") + "/controls-dark.png"));
}

OSTRA_TEST_MAIN_WIDGETS(TestRender)
#include "tst_render.moc"
