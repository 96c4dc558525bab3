#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTextBrowser>

#include <algorithm>
#include <functional>

#include "ostraui/ambientbackground.h"
#include "ostraui/brandlogo.h"
#include "ostraui/components.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/mapview.h"
#include "ostraui/navbutton.h"
#include "ostraui/pageheader.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "ostraui/titlebar.h"
#include "support/testenvironment.h"
#include "support/tileserver.h"
#include "support/widgets/widgetlookup.h"

using namespace ostra;
using Factory = std::function<QWidget *()>;
Q_DECLARE_METATYPE(Factory)

namespace {

QString picture(const QString &name)
{
    return ostratest::artefactDir("ostraui") + QStringLiteral("/%1-%2.png").arg(name, isDarkTheme() ? "dark" : "light");
}

QWidget *box(QBoxLayout::Direction direction, std::initializer_list<QWidget *> widgets)
{
    auto *host = new QWidget;
    auto *layout = new QBoxLayout(direction, host);
    layout->setSpacing(12);
    for (QWidget *widget : widgets)
        layout->addWidget(widget, 0, direction == QBoxLayout::LeftToRight ? Qt::AlignVCenter : Qt::Alignment());
    return host;
}
QWidget *row(std::initializer_list<QWidget *> widgets) { return box(QBoxLayout::LeftToRight, widgets); }
QWidget *column(std::initializer_list<QWidget *> widgets) { return box(QBoxLayout::TopToBottom, widgets); }

template <typename W, typename F> W *make(W *widget, F setUp)
{
    setUp(widget);
    return widget;
}

Pill *pill(int level, const QString &text)
{
    return make(new Pill, [&](Pill *p) { p->setLevel(level); p->setText(text); });
}

QPushButton *styled(const char *property, const char *text)
{
    return make(makeButton(text), [property](QPushButton *b) { b->setProperty(property, true); });
}

QLabel *logo(int width, bool markOnly)
{
    return make(new QLabel, [=](QLabel *l) { l->setPixmap(brandLogoPixmap(width, markOnly)); });
}

DeviceRow *deviceRow(const QString &monogram, int status, int width)
{
    auto *row = new DeviceRow(monogram, "Transmitter", "QOR Transmitter on USB");
    row->combo()->addItems({"Choose a port", "COM3"});
    row->combo()->setCurrentIndex(status ? 1 : 0);
    row->setStatus(status, status == DeviceConnected ? "COM3" : QString());
    row->setFixedWidth(width);
    return row;
}

Card *card(int elevation, QWidget *body)
{
    auto *card = new Card(nullptr, elevation);
    card->contentLayout()->addWidget(makeRoleLabel("Receiver", "h2"));
    card->contentLayout()->addWidget(body, 1);
    return card;
}

} // namespace

// Paints the kit's widgets offscreen in the theme chosen by QOROSTRA_THEME and leaves the
// pictures under the build folder for a person to look at. Run without QOROSTRA_THEME it
// renders the light theme and runs itself once more for the dark one.
class TestRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        installTheme(*qApp);
        m_tiles.handler = [](const QString &path) {
            return ostratest::TileServer::ok(ostratest::TileServer::png(QColor::fromHsv(int(qHash(path) % 360), 40, 235)));
        };
    }

    void render_data()
    {
        QTest::addColumn<Factory>("make");
        const QString tiles = m_tiles.baseUrl();
        QTest::newRow("controls") << Factory([] {
            return column({row({new Toggle, make(new Toggle, [](Toggle *t) { t->setChecked(true); }),
                                make(new Toggle, [](Toggle *t) { t->setEnabled(false); })}),
                           new SliderRow("Strength", 0, 100, 65),
                           make(new Segmented({"Car", "Helicopter"}), [](Segmented *s) { s->setCurrentIndex(1); }),
                           make(new Segmented({"Linear\nfull range", "Expo\nsoft"}), [](Segmented *s) { s->setOptionEnabled(1, false); }),
                           make(new ListRow("Receiver firmware"), [](ListRow *r) { r->setSubtitle("QOR Receiver V4"); r->setTrailingText("COM4"); })});
        });
        QTest::newRow("action buttons") << Factory([] {
            return column({row({make(new BusyButton("Save"), [](BusyButton *b) { b->setBusy(true, "Saving"); }),
                                new TxButton, make(new TxButton, [](TxButton *t) { t->setState(TxGo); }),
                                make(new TxButton, [](TxButton *t) { t->setState(TxStop); })}),
                           row({makeButton("Default"), makeButton("Primary", true), styled("danger", "Delete"),
                                styled("ghost", "Ghost"), styled("link", "Link"), styled("small", "Small"),
                                styled("back", "\u2190 Back"), makeIconButton(nullptr, true, QString())})});
        });
        QTest::newRow("indicators") << Factory([] {
            return column({row({pill(LevelNeutral, "Idle"), pill(LevelInfo, "Searching"), pill(LevelWarning, "Low battery"),
                                pill(LevelSuccess, "Connected"), pill(LevelDanger, "Failsafe"),
                                make(new Pill(nullptr, Pill::KeyValue), [](Pill *p) { p->setKeyValue("Link", "98 %"); })}),
                           row({new Dot(nullptr, 12), make(new Dot(nullptr, 52), [](Dot *d) { d->setRipple(true); }),
                                new Monogram("WB", Monogram::Info, 44), new Monogram("PD", Monogram::Danger, 52),
                                make(new VMeter(nullptr, 14), [](VMeter *v) { v->setFixedHeight(90); v->setValue(0.75); v->setMarker(0.5, ThemeColors::dangerAccent); }),
                                make(new ChannelCell(1), [](ChannelCell *c) { c->setValue(1500); }),
                                make(new ChannelCell(2), [](ChannelCell *c) { c->setValue(-1); })}),
                           make(new Meter(nullptr, ThemeColors::accent), [](Meter *m) { m->setValue(0.62); }),
                           make(new Meter(nullptr, ThemeColors::successAccent), [](Meter *m) { m->setBipolar(true); m->setValue(-0.4); })});
        });
        QTest::newRow("surfaces") << Factory([] {
            return column({row({card(0, makeRoleLabel("Flat", "muted")), card(2, makeRoleLabel("Raised", "muted")),
                                make(card(1, makeRoleLabel("Dimmed", "muted")), [](Card *c) { c->setDimmed(true); }),
                                logo(150, false), logo(36, true)}),
                           deviceRow("TX", DeviceConnected, 700), deviceRow("PD", DeviceConnecting, 700), deviceRow(QString(), 0, 460)});
        });
        QTest::newRow("device row widths") << Factory([] {
            QWidget *rows = column({});
            for (int width : {640, 660, 900}) {
                auto *r = new DeviceRow("WB", "Wheel base", "Steering axis, force feedback and the paddle shifters");
                r->combo()->addItems({"Choose a device", "MOZA R9 Direct Drive Wheel Base (USB)"});
                r->combo()->setCurrentIndex(width == 900 ? 1 : 0);
                r->setFixedWidth(width);
                rows->layout()->addWidget(r);
            }
            return rows;
        });
        QTest::newRow("inputs and labels") << Factory([] {
            QWidget *labels = row({});
            for (const char *role : {"title", "h2", "h3", "secondary", "caption", "mono", "chip", "warning", "danger", "success"})
                labels->layout()->addWidget(makeRoleLabel(role, role));
            return column({row({make(new QLineEdit, [](QLineEdit *e) { e->setPlaceholderText("Placeholder"); }),
                                make(new QComboBox, [](QComboBox *c) { c->addItem("Choose"); c->setProperty("placeholder", true); }),
                                make(new QCheckBox("Checked"), [](QCheckBox *c) { c->setChecked(true); }),
                                make(new QRadioButton("Radio"), [](QRadioButton *r) { r->setChecked(true); })}),
                           make(new QProgressBar, [](QProgressBar *b) { b->setValue(60); b->setProperty("tone", "green"); }),
                           make(new QGroupBox("Group box"), [](QGroupBox *g) { g->setMinimumHeight(60); }), labels});
        });
        QTest::newRow("shell") << Factory([tiles] {
            auto *map = new MapView;
            map->setTileServer(tiles, QString::fromUtf8("\u00A9 OpenStreetMap contributors"));
            for (int i = 0; i < 40; ++i)
                map->setPosition(51.5074 + i * 0.00004, -0.1278 + std::sin(i / 6.0) * 0.0004, 10 + i, true);
            auto *header = new PageHeader;
            header->setTitle("Dashboard");
            header->setBackText("Vehicles");
            header->actionsRow()->addWidget(makeButton("Start", true));
            auto *window = new AmbientBackground;
            window->setFixedSize(1280, 800);
            auto *layout = new QHBoxLayout(window);
            layout->addWidget(make(new Sidebar("v0.1.0"), [](Sidebar *s) { s->setItemIndicator(1, true); }));
            layout->addWidget(make(new Sidebar("v0.1.0"), [](Sidebar *s) { s->setCollapsed(true, false); }));
            QWidget *content = column({new TitleBar(window), header, card(1, map)});
            static_cast<QBoxLayout *>(content->layout())->setStretch(2, 1);
            layout->addWidget(content, 1);
            return window;
        });
    }

    void render()
    {
        QFETCH(Factory, make);
        QScopedPointer<QWidget> widget(make());
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.data()));
        // Tiles arrive over the local socket; give them a moment, then paint.
        QTest::qWait(150);
        const QImage image = widget->grab().toImage();
        QCOMPARE(image.size(), widget->size());
        // The backdrop is the theme's window colour, and something is drawn on it.
        QCOMPARE(image.pixelColor(2, 2), ThemeColors::windowBg);
        QImage blank(image.size(), image.format());
        blank.fill(ThemeColors::windowBg);
        QVERIFY(image != blank);
        QVERIFY(image.save(picture(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'))));
    }

    // Places a broken theme or layout would change: the card's fill, the title's ink, the pill's
    // tint and its place between the list and the button.
    void regions()
    {
        QWidget page;
        page.setFixedSize(960, 260);
        auto *layout = new QVBoxLayout(&page);
        auto *title = makeRoleLabel("Receiver", "h2");
        auto *body = card(1, new QWidget);
        static_cast<QVBoxLayout *>(body->layout())->insertWidget(0, title);
        body->setFixedHeight(110);
        layout->addWidget(body);
        // Wide enough to hold the list, the pill and the button side by side.
        DeviceRow *device = deviceRow("TX", DeviceConnected, 900);
        layout->addWidget(device);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const QImage image = page.grab().toImage();
        const auto at = [&page](QWidget *w, QPoint p) { return w->mapTo(&page, p); };

        QCOMPARE(image.pixelColor(at(body, QPoint(body->width() - 30, body->height() - 20))), ThemeColors::surface);
        int inked = 0;
        const QRect text(at(title, QPoint()), title->size());
        for (int y = text.top(); y <= text.bottom(); ++y) {
            for (int x = text.left(); x <= text.right(); ++x)
                inked += image.pixelColor(x, y) == ThemeColors::ink ? 1 : 0;
        }
        QVERIFY2(inked > 20, qPrintable(QString::number(inked)));

        auto *pill = device->findChild<Pill *>();
        const QRect combo(at(device->combo(), QPoint()), device->combo()->size());
        const QRect pillRect(at(pill, QPoint()), pill->size());
        const QRect button(at(device->findChild<QPushButton *>(), QPoint()), QSize(1, 1));
        QVERIFY(combo.right() < pillRect.left() && pillRect.right() < button.left());
        QCOMPARE(image.pixelColor(pillRect.left() + 4, pillRect.center().y()), levelColor(LevelSuccess));
    }

    void dialog()
    {
        // A dressed dialog composed onto its dimmed parent window.
        AmbientBackground parent;
        parent.setFixedSize(760, 560);
        parent.show();
        QDialog dialog(&parent);
        dialog.setWindowTitle("Drive settings");
        auto *form = new QFormLayout(&dialog);
        form->addRow("Profile name", new QLineEdit("Buggy 1:10"));
        form->addRow(new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel));
        applyDialogChrome(&dialog, "Map each control to an input, then calibrate its range");
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QImage image = parent.grab().toImage();
        const QImage card = dialog.grab().toImage();
        QPainter(&image).drawImage(QPoint((760 - card.width()) / 2, (560 - card.height()) / 2), card);
        QVERIFY(image.pixelColor(2, 2) != ThemeColors::windowBg);
        QVERIFY(image.save(picture("dialog")));
    }

    // Focus that Tab gives shows the theme's ring on the control's own shape: a sidebar entry and a
    // push button differ from their unfocused look, with the ring's colour at their left edge.
    void focusRing()
    {
        QWidget window;
        window.setStyleSheet(QStringLiteral("QWidget#host { background: #F3F5F8; }"));
        window.setObjectName(QStringLiteral("host"));
        auto *layout = new QHBoxLayout(&window);
        auto *sidebar = new Sidebar(QStringLiteral("v1.3.5"));
        layout->addWidget(sidebar);
        auto *save = new QPushButton(QStringLiteral("Save"));
        layout->addWidget(save, 0, Qt::AlignTop);
        window.resize(480, 640);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *entry = sidebar->findChildren<NavButton *>().value(1);
        QVERIFY(entry);
        const QImage entryBefore = entry->grab().toImage();
        const QImage saveBefore = save->grab().toImage();

        const auto tabTo = [&](QWidget *target) {
            for (int i = 0; i < 20 && !target->hasFocus(); ++i)
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Tab);
            return target->hasFocus();
        };
        QVERIFY(tabTo(entry));
        const QImage entryFocused = entry->grab().toImage();
        QVERIFY(entryFocused != entryBefore);
        QCOMPARE(entryFocused.pixelColor(1, entry->height() / 2), ThemeColors::infoText);
        QVERIFY(tabTo(save));
        const QImage saveFocused = save->grab().toImage();
        QVERIFY(saveFocused != saveBefore);
        QCOMPARE(saveFocused.pixelColor(1, save->height() / 2), ThemeColors::infoText);
        // The entry that lost focus is back to its own look.
        QCOMPARE(entry->grab().toImage(), entryBefore);
        QVERIFY(window.grab().save(picture("focus")));

        // Focus that a click gives shows no ring, after Tab was used or not; Tab brings it back.
        const auto ringAt = [](QWidget *widget) {
            return widget->grab().toImage().pixelColor(1, widget->height() / 2) == ThemeColors::infoText;
        };
        auto *clicked = sidebar->findChildren<NavButton *>().value(2);
        QTest::mouseClick(clicked, Qt::LeftButton, {}, QPoint(clicked->width() / 2, clicked->height() / 2));
        QVERIFY(clicked->hasFocus());
        QVERIFY(!ringAt(clicked));
        QTest::mouseClick(save, Qt::LeftButton);
        QVERIFY(save->hasFocus());
        QVERIFY(!ringAt(save));
        QVERIFY(tabTo(entry));
        QVERIFY(ringAt(entry));
    }

    // Controls that draw no focus state of their own, and check boxes and radio buttons, reached
    // by Tab, show the same ring around them, clear of their left edge; clicked, they show none.
    void ringOverControls_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::newRow("slider") << Factory([] { return new QSlider(Qt::Horizontal); });
        QTest::newRow("slider row at 0 %") << Factory([] { return new SliderRow(QStringLiteral("Intensity"), 0, 100, 0); });
        QTest::newRow("slider row at 100 %") << Factory([] { return new SliderRow(QStringLiteral("Intensity"), 0, 100, 100); });
        QTest::newRow("check box") << Factory([] { return new QCheckBox(QStringLiteral("Invert")); });
        QTest::newRow("radio button") << Factory([] { return new QRadioButton(QStringLiteral("Mode 2")); });
        // With no room left of it, the ring's side is drawn at its edge rather than cut away.
        QTest::newRow("check box at the window's edge") << Factory([] { return new QCheckBox(QStringLiteral("Invert")); });
        QTest::newRow("scroll area") << Factory([] {
            auto *area = new QScrollArea;
            area->setWidget(new QLabel(QStringLiteral("Terms of use")));
            return area;
        });
        QTest::newRow("list") << Factory([] {
            auto *list = new QListWidget;
            list->addItems({QStringLiteral("Default"), QStringLiteral("Rally")});
            return list;
        });
        QTest::newRow("log") << Factory([] {
            auto *log = new QPlainTextEdit(QStringLiteral("13:18:03  Couldn't check the latest release"));
            log->setReadOnly(true);
            log->setProperty("log", true);
            return log;
        });
        QTest::newRow("text view") << Factory([] { return new QTextBrowser; });
    }

    void ringOverControls()
    {
        QFETCH(Factory, make);
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        if (QByteArray(QTest::currentDataTag()).endsWith("edge"))
            layout->setContentsMargins(0, 0, 0, 0);
        auto *before = new QPushButton(QStringLiteral("Before"));
        layout->addWidget(before);
        QWidget *made = make();
        layout->addWidget(made);
        // A row's own control takes the focus.
        auto *row = qobject_cast<SliderRow *>(made);
        QWidget *control = row ? row->slider() : made;
        if (!row)
            control->setMinimumHeight(28);
        window.resize(360, 240);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const auto ringAt = [&] {
            QCoreApplication::processEvents();
            const QPoint at = control->mapTo(&window, QPoint(0, control->height() / 2));
            const QPoint edge(std::max(at.x() - 3, 0), at.y());
            return window.grab().toImage().pixelColor(edge) == ThemeColors::infoText;
        };
        before->setFocus(Qt::OtherFocusReason);
        QVERIFY(!ringAt());
        QTest::keyClick(before, Qt::Key_Tab);
        QVERIFY(control->hasFocus());
        QVERIFY(ringAt());
        QVERIFY(window.grab().save(picture(QStringLiteral("focus-") + QTest::currentDataTag()).replace(' ', '-').replace('%', "pc")));
        // The ring keeps clear of a slider's handle wherever it stands, by the room it leaves
        // above and below it: no ring colour on the handle or within 3 px of it.
        if (auto *slider = qobject_cast<QSlider *>(control)) {
            const QRect handle = ostratest::sliderHandle(slider);
            const QImage image = window.grab().toImage();
            const QRect around = QRect(slider->mapTo(&window, handle.topLeft()), handle.size()).adjusted(-3, -3, 3, 3);
            for (int y = around.top(); y <= around.bottom(); ++y) {
                for (int x = around.left(); x <= around.right(); ++x)
                    QVERIFY2(image.pixelColor(x, y) != ThemeColors::infoText, qPrintable(QStringLiteral("ring at %1,%2").arg(x).arg(y)));
            }
        }
        QTest::keyClick(control, Qt::Key_Tab, Qt::ShiftModifier);
        QVERIFY(before->hasFocus());
        QVERIFY(!ringAt());
        QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(control->width() / 2, control->height() / 2));
        QVERIFY(control->hasFocus());
        QVERIFY(!ringAt());
    }

    // Tab into a dressed dialog's scrolled content from its header or footer brings the control it
    // reaches into view, as Tab within the content does.
    void tabBringsControlIntoView_data()
    {
        QTest::addColumn<bool>("forward");
        QTest::newRow("Tab from the close button") << true;
        QTest::newRow("Shift+Tab from the footer") << false;
    }

    void tabBringsControlIntoView()
    {
        QFETCH(bool, forward);
        QWidget parent;
        parent.resize(760, 560);
        parent.show();
        QDialog dialog(&parent);
        dialog.setWindowTitle(QStringLiteral("Fly Settings"));
        auto *layout = new QVBoxLayout(&dialog);
        QList<QLineEdit *> fields;
        for (int i = 0; i < 12; ++i) {
            fields << new QLineEdit(QStringLiteral("Rate %1").arg(i + 1));
            layout->addWidget(fields.last());
        }
        layout->addWidget(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel));
        applyDialogChrome(&dialog);
        dialog.resize(420, 360);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto *scroll = dialog.findChild<QScrollArea *>(QStringLiteral("ostraDialogScroll"));
        QVERIFY(scroll && scroll->verticalScrollBar()->maximum() > 0);
        // The content scrolled away from the control Tab is about to reach.
        QScrollBar *bar = scroll->verticalScrollBar();
        bar->setValue(forward ? bar->maximum() : 0);
        QLineEdit *target = forward ? fields.first() : fields.last();
        QWidget *start = forward ? dialog.findChild<QWidget *>(QStringLiteral("ostraDialogHeader"))->findChild<QPushButton *>()
                                 : qobject_cast<QWidget *>(dialog.findChild<QDialogButtonBox *>()->buttons().first());
        start->setFocus(Qt::OtherFocusReason);
        for (int i = 0; i < 4 && !target->hasFocus(); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, forward ? Qt::NoModifier : Qt::ShiftModifier);
        QVERIFY(target->hasFocus());
        const QRect shown = scroll->viewport()->rect();
        const QRect at(target->mapTo(scroll->viewport(), QPoint(0, 0)), target->size());
        QVERIFY2(shown.contains(at), qPrintable(QStringLiteral("field at y %1, view 0..%2").arg(at.y()).arg(shown.height())));
    }

    // A combo's pop-up list has an edge of its own on all four sides, square, where it lies over a
    // card of the same colour.
    void comboPopupHasAnEdge()
    {
        QComboBox combo;
        combo.addItems({QStringLiteral("Traxxas/Tamiya/Arma Standard (172-992-1811)"), QStringLiteral("Custom...")});
        combo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&combo));
        combo.showPopup();
        const QImage list = combo.view()->window()->grab().toImage();
        const QPoint middle = list.rect().center();
        for (const QPoint edge : {QPoint(0, middle.y()), QPoint(list.width() - 1, middle.y()), QPoint(middle.x(), 0),
                                  QPoint(middle.x(), list.height() - 1), QPoint(0, 0)})
            QCOMPARE(list.pixelColor(edge), ThemeColors::borderStrong);
        QCOMPARE(list.pixelColor(1, middle.y()), ThemeColors::surface);
        QVERIFY(list.save(picture(QStringLiteral("combo-popup"))));
    }

    // Qt's message and input boxes wear the dialog chrome, the kit's icons, buttons without
    // icons, and take room for a sentence.
    void systemBoxes()
    {
        QWidget parent;
        parent.resize(760, 560);
        parent.show();
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Corvane Error"),
                        QStringLiteral("Could not open the port."), QMessageBox::Ok, &parent);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(box.property("ostraDialog").toBool());
        QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(box.width() >= 380);
        QAbstractButton *ok = box.button(QMessageBox::Ok);
        QVERIFY(ok->icon().isNull());
        QVERIFY(ok->property("primary").toBool());
        const QImage icon = box.iconPixmap().toImage();
        QCOMPARE(icon.pixelColor(icon.width() / 2, 3), levelColor(LevelWarning));
        QVERIFY(box.grab().save(picture("messagebox")));

        QInputDialog input(&parent);
        input.setWindowTitle(QStringLiteral("New Profile"));
        input.setLabelText(QStringLiteral("Profile name:"));
        input.setTextValue(QStringLiteral("New Profile"));
        input.show();
        QVERIFY(QTest::qWaitForWindowExposed(&input));
        QVERIFY(input.property("ostraDialog").toBool());
        QVERIFY(input.width() >= 380);
        QVERIFY(input.grab().save(picture("inputbox")));
    }

    void darkTheme()
    {
        if (isDarkTheme())
            QSKIP("this run is the dark one");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QOROSTRA_THEME", "dark");
        env.insert("OSTRA_ARTEFACT_DIR", QFileInfo(ostratest::artefactDir("ostraui")).absolutePath());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"render", "regions", "dialog", "focusRing", "ringOverControls",
                                                                  "comboPopupHasAnEdge", "systemBoxes"});
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY(QFile::exists(ostratest::artefactDir("ostraui") + "/shell-dark.png"));
    }

private:
    ostratest::TileServer m_tiles;
};

OSTRA_TEST_MAIN_WIDGETS(TestRender)
#include "tst_render.moc"
