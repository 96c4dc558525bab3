#include <QAbstractButton>
#include <QApplication>
#include <QBackingStore>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <QVBoxLayout>

#include "ostraui/compositing.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/passbuilder.h"
#include "ostraui/tickpace.h"
#include "support/testenvironment.h"
#include "animatedrun.h"

using ostra::applyDialogChrome;

namespace {

QWidget *header(QDialog &d)
{
    return d.findChild<QWidget *>(QStringLiteral("ostraDialogHeader"));
}

// Fills its window and keeps the tallest area a repaint of it covered while recording.
class PaintRecorder : public QWidget
{
public:
    using QWidget::QWidget;
    bool recording = false;
    int tallest = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        if (recording)
            tallest = std::max(tallest, event->rect().height());
    }
};

QColor sample(QWidget &window)
{
    return window.grab().toImage().pixelColor(20, 20);
}

QRect globalRect(const QWidget *widget)
{
    return QRect(widget->mapToGlobal(QPoint()), widget->size());
}

// What the screen shows at a point of the dialog: the X server's own pixels, not a render.
QColor onScreen(QDialog &dialog, const QPoint &at)
{
    const QPoint global = dialog.mapToGlobal(at);
    return dialog.screen()->grabWindow(0, global.x(), global.y(), 1, 1).toImage().pixelColor(0, 0);
}

// Counts the events of one type a widget receives while it lives.
class EventCounter : public QObject
{
public:
    EventCounter(QObject *watched, QEvent::Type type, int *count)
        : m_type(type)
        , m_count(count)
    {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type)
            ++*m_count;
        return false;
    }

private:
    QEvent::Type m_type;
    int *m_count;
};

// Takes and gives up the compositing manager's selection, as a compositor does when it starts
// and stops.
class FakeCompositor
{
public:
    FakeCompositor()
        : m_connection(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection())
    {
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const char name[] = "_NET_WM_CM_S0";
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, sizeof(name) - 1, name), nullptr);
        xcb_set_selection_owner(m_connection, m_window, atom->atom, XCB_CURRENT_TIME);
        free(atom);
        xcb_flush(m_connection);
    }
    ~FakeCompositor()
    {
        xcb_destroy_window(m_connection, m_window);
        xcb_flush(m_connection);
    }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_window;
};

} // namespace

class TestDialogChrome : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { verifyRunKind(); }

    void secondCallChangesNothing()
    {
        applyDialogChrome(nullptr, QStringLiteral("subtitle"));
        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Pedal check"));
        (new QVBoxLayout(&dialog))->addWidget(new QLineEdit);
        dialog.setFixedSize(400, 300);
        applyDialogChrome(&dialog, QStringLiteral("Once"));
        const int children = int(dialog.findChildren<QObject *>().size());
        QLayout *outer = dialog.layout();

        applyDialogChrome(&dialog, QStringLiteral("Twice"));
        QCOMPARE(int(dialog.findChildren<QObject *>().size()), children);
        QCOMPARE(dialog.layout(), outer);
        // The shadow margins are added once.
        QCOMPARE(dialog.size(), QSize(456, 424));
        QCOMPARE(header(dialog)->findChildren<QLabel *>().value(1)->text(), QStringLiteral("Once"));
        // The header follows the window title.
        dialog.setWindowTitle(QStringLiteral("Pedal check (2)"));
        QCOMPARE(header(dialog)->findChildren<QLabel *>().value(0)->text(), QStringLiteral("Pedal check (2)"));
    }

    void contentMovesUnderHeader()
    {
        QDialog dialog;
        auto *edit = new QLineEdit;
        auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        auto *inner = new QWidget;
        (new QVBoxLayout(inner))->addWidget(box);
        auto *layout = new QVBoxLayout(&dialog);
        layout->addWidget(edit);
        layout->addWidget(inner);
        applyDialogChrome(&dialog);
        QCOMPARE(dialog.layout()->itemAt(0)->widget(), header(dialog));
        // Accepting buttons, however deep, take the primary look.
        QVERIFY(box->button(QDialogButtonBox::Ok)->property("primary").toBool());
        QVERIFY(!box->button(QDialogButtonBox::Cancel)->property("primary").toBool());

        // Clicks and keys in the content still reach its widgets.
        dialog.resize(500, 300);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClicks(edit, QStringLiteral("abc"));
        QCOMPARE(edit->text(), QStringLiteral("abc"));
    }

    void dressingRestylesContentOnce_data()
    {
        QTest::addColumn<bool>("polished");
        QTest::addColumn<bool>("inCard");
        QTest::addColumn<int>("restyles");
        QTest::newRow("built") << false << false << 1;
        // A layout asked for its size while the dialog was built polishes what it holds.
        QTest::newRow("polished while built") << true << false << 1;
        // Built in the card's content from the start, nothing moves.
        QTest::newRow("built in its card") << true << true << 0;
    }

    // Each move of a widget under a style sheet restyles it and all it holds, the costly part of
    // opening a large dialog: the dressing moves the content once, and the flags only change.
    void dressingRestylesContentOnce()
    {
        QFETCH(bool, polished);
        QFETCH(bool, inCard);
        QFETCH(int, restyles);
        QWidget window;
        window.setStyleSheet(QStringLiteral("QLabel { color: #123456; }"));
        QDialog dialog(&window);
        auto *layout = new QVBoxLayout(inCard ? ostra::dialogContent(&dialog) : &dialog);
        auto *label = new QLabel(QStringLiteral("Throttle"));
        layout->addWidget(label);
        layout->addWidget(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel));
        if (polished)
            dialog.ensurePolished();
        const Qt::WindowFlags flags = dialog.windowFlags();
        int restyled = 0;
        EventCounter counter(label, QEvent::StyleChange, &restyled);
        applyDialogChrome(&dialog);
        QCOMPARE(restyled, restyles);
        QCOMPARE(label->parentWidget()->objectName(), QStringLiteral("ostraDialogContent"));
        QCOMPARE(dialog.windowFlags(), ostra::chromeFlags(flags));
        QVERIFY(dialog.isWindow());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowHandle()->flags(), ostra::chromeFlags(flags));
    }

    // Parts waiting are built one per pass, in order; a part wanted now is built at once and
    // never again; finish() builds the rest.
    void passBuilderOnePartPerPass_data()
    {
        QTest::addColumn<QList<int>>("ensured");
        QTest::addColumn<bool>("finish");
        QTest::addColumn<QString>("expected");
        QTest::newRow("passes only") << QList<int>{} << false << "0123";
        QTest::newRow("one wanted first") << QList<int>{2} << false << "2013";
        QTest::newRow("wanted twice, then the rest") << QList<int>{1, 1} << true << "1023";
        QTest::newRow("not a part") << QList<int>{7} << false << "0123";
    }

    void passBuilderOnePartPerPass()
    {
        QFETCH(QList<int>, ensured);
        QFETCH(bool, finish);
        QFETCH(QString, expected);
        QString order;
        QObject owner;
        auto *builder = new ostra::PassBuilder(&owner);
        for (int part = 0; part < 4; ++part)
            builder->add([&order, part] { order += QString::number(part); });
        builder->start();
        for (int part : ensured)
            QCOMPARE(builder->ensure(part), part < 4);
        if (finish)
            builder->finish();
        const int before = order.size();
        for (int pass = 1; before + pass <= 4; ++pass) {
            QCoreApplication::sendPostedEvents(ostra::TickPace::instance());
            QCOMPARE(order.size(), before + pass);
        }
        QVERIFY(builder->isFinished());
        QCOMPARE(order, expected);
    }

    // A picture taken of a window not shown yet is not its first paint: the parts wait for it to show.
    void passBuilderStartsOnceShown()
    {
        QWidget window;
        window.resize(200, 100);
        bool built = false;
        auto *builder = new ostra::PassBuilder(&window);
        builder->add([&built] { built = true; });
        builder->startAfterFirstPaint(&window);
        window.grab(QRect(0, 0, 1, 1));
        QCoreApplication::sendPostedEvents(ostra::TickPace::instance());
        QVERIFY(!built);
        window.show();
        QTRY_VERIFY(built);
    }

    // Steps: 't' a tick and the pass after it, 'p' a pass, 'w' a wait longer than ticks take to
    // come. After each step, the jobs that have run.
    void tickPaceOneJobPerSlack_data()
    {
        QTest::addColumn<bool>("ticking");
        QTest::addColumn<bool>("secondGone");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("ran");
        QTest::newRow("no ticks: one per pass") << false << false << "ppp" << "a ab abc";
        QTest::newRow("ticks: one per tick, none between") << true << false << "ptpt" << " a a ab";
        QTest::newRow("a job whose owner is gone") << true << true << "tt" << "a ac";
        QTest::newRow("ticks stop") << true << false << "tw" << "a abc";
    }

    void tickPaceOneJobPerSlack()
    {
        QFETCH(bool, ticking);
        QFETCH(bool, secondGone);
        QFETCH(QString, steps);
        QFETCH(QString, ran);
        ostra::TickPace *pace = ostra::TickPace::instance();
        QTest::qWait(40); // the ticks of an earlier row are over
        if (ticking) {
            pace->ticked();
            QCoreApplication::sendPostedEvents(pace);
        }
        QString order;
        QObject owner;
        auto *second = new QObject;
        for (const QChar name : {u'a', u'b', u'c'})
            pace->afterTick(name == u'b' ? second : &owner, [&order, name] { order += name; });
        if (secondGone)
            delete second;
        QStringList after;
        for (const QChar step : steps) {
            if (step == u't')
                pace->ticked();
            if (step == u'w')
                QTest::qWait(60);
            else
                QCoreApplication::sendPostedEvents(pace);
            after.append(order);
        }
        if (!secondGone)
            delete second;
        QCOMPARE(after.join(u' '), ran);
    }

    // What a paced job built is polished in a slack of its own, not in the job's pass.
    void tickPacePolishesAJobsWidgetsLater()
    {
        ostra::TickPace *pace = ostra::TickPace::instance();
        qApp->installEventFilter(pace);
        QWidget page;
        QLabel *built = nullptr;
        pace->ticked();
        pace->afterTick(&page, [&] { built = new QLabel(QStringLiteral("Link quality"), &page); });
        QCoreApplication::sendPostedEvents();
        QVERIFY(built);
        QCoreApplication::sendPostedEvents(); // the pass the label asked to be polished in
        const bool polishedWithJob = built->testAttribute(Qt::WA_WState_Polished);
        pace->ticked();
        QCoreApplication::sendPostedEvents();
        qApp->removeEventFilter(pace);
        QVERIFY(!polishedWithJob);
        QVERIFY(built->testAttribute(Qt::WA_WState_Polished));
    }

    // While ticks come, one window paints per slack: a repaint asked for after another paint
    // waits for the next tick, or, should ticks stop, paints all the same.
    void tickPaceOnePaintPerSlack()
    {
        ostra::TickPace *pace = ostra::TickPace::instance();
        QTest::qWait(40); // the ticks of an earlier test are over
        QWidget first;
        QWidget second;
        for (QWidget *window : {&first, &second}) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
        }
        int paints = 0;
        EventCounter firstPaints(&first, QEvent::Paint, &paints);
        EventCounter secondPaints(&second, QEvent::Paint, &paints);
        qApp->installEventFilter(pace);
        QList<int> after;
        for (const bool tick : {true, true, false}) {
            if (tick)
                pace->ticked();
            if (after.size() != 1) {
                first.update();
                second.update();
            }
            // A repaint asked for again in the slack is delivered in the pass after.
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            after.append(paints);
        }
        QTRY_COMPARE(paints, 4);
        qApp->removeEventFilter(pace);
        QCOMPARE(after, (QList<int>{1, 2, 2}));
    }

    // While ticks come, a press reaches its widget after the next tick, not between two.
    void tickPaceHoldsPressesForTheTick()
    {
        ostra::TickPace *pace = ostra::TickPace::instance();
        qApp->installEventFilter(pace);
        int ticks = 0;
        int ticksAtPress = -1;
        QPushButton button(QStringLiteral("Open"));
        connect(&button, &QPushButton::pressed, this, [&] { ticksAtPress = ticks; });
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        pace->ticked();
        ++ticks;
        QCoreApplication::sendPostedEvents(pace);
        QTest::qSleep(3); // that tick's slack is mostly gone
        QTimer::singleShot(2, this, [&] {
            ++ticks;
            pace->ticked();
        });
        QTest::mousePress(&button, Qt::LeftButton);
        QTest::mouseRelease(&button, Qt::LeftButton);
        QCOMPARE(ticksAtPress, 2);

        // A press as a slack begins goes at once and takes that slack: a job waits for a later
        // one (the next, or the one after when the pressed button's repaint is held for its turn).
        bool ran = false;
        pace->afterTick(&button, [&ran] { ran = true; });
        pace->ticked();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(pace);
        const bool ranWithPress = ran;
        for (int slack = 0; slack < 2 && !ran; ++slack) {
            pace->ticked();
            QCoreApplication::sendPostedEvents(pace);
        }
        qApp->removeEventFilter(pace);
        QVERIFY(!ranWithPress);
        QVERIFY(ran);
    }

    void contentInset_data()
    {
        QTest::addColumn<bool>("ownMargins");
        QTest::newRow("style's margins") << false;
        QTest::newRow("dialog's own margins") << true;
    }

    // The form lines up with the header's title and keeps clear of the card's edges, unless the
    // dialog chose its margins itself.
    void contentInset()
    {
        QFETCH(bool, ownMargins);
        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Drive settings"));
        auto *layout = new QVBoxLayout(&dialog);
        if (ownMargins)
            layout->setContentsMargins(2, 3, 4, 5);
        auto *edit = new QLineEdit;
        layout->addWidget(edit);
        layout->addStretch(1);
        auto *box = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
        layout->addWidget(box);
        applyDialogChrome(&dialog);
        dialog.resize(500, 300);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(layout->contentsMargins(), ownMargins ? QMargins(2, 3, 4, 5) : QMargins(24, 10, 24, 20));
        if (ownMargins)
            return;
        // Without a compositing manager (the X test display) the card fills the window.
        const QRect card = ostra::Compositing::instance()->active() ? dialog.rect().adjusted(28, 18, -28, -44)
                                                                    : dialog.rect();
        const QRect field(edit->mapTo(&dialog, QPoint()), edit->size());
        const QRect buttons(box->mapTo(&dialog, QPoint()), box->size());
        auto *title = header(dialog)->findChild<QLabel *>();
        QCOMPARE(field.left(), title->mapTo(&dialog, QPoint()).x());
        QCOMPARE(card.right() - buttons.right(), 24);
        QCOMPARE(card.bottom() - buttons.bottom(), 20);
    }

    // A card taller than its window scrolls between the header and the footer, which stays in view
    // and clear of the content; the content keeps its natural height instead of being squeezed.
    void shortWindowScrollsContent()
    {
        QWidget window;
        window.resize(700, 500);
        window.show();
        QDialog dialog(&window);
        auto *layout = new QVBoxLayout(&dialog);
        QList<QLineEdit *> fields;
        for (int i = 0; i < 24; ++i)
            layout->addWidget(fields.emplace_back(new QLineEdit));
        auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        layout->addWidget(box);
        applyDialogChrome(&dialog);
        dialog.resize(460, 380);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_COMPARE(dialog.windowOpacity(), 1.0);

        auto *scroll = dialog.findChild<QScrollArea *>(QStringLiteral("ostraDialogScroll"));
        QVERIFY(scroll);
        QVERIFY(scroll->verticalScrollBar()->isVisible());
        QVERIFY(scroll->verticalScrollBar()->maximum() > 0);
        QVERIFY(dialog.rect().contains(QRect(box->mapTo(&dialog, QPoint()), box->size())));
        const QRect viewport = globalRect(scroll->viewport());
        for (QAbstractButton *button : box->buttons())
            QVERIFY(!globalRect(button).intersects(viewport));
        for (QLineEdit *field : fields)
            QCOMPARE(field->height(), field->sizeHint().height());

        // With room, nothing scrolls and the dialog takes its natural height.
        dialog.resize(460, 1400);
        QTRY_VERIFY(!scroll->verticalScrollBar()->isVisible());
    }

    // Without a compositing manager the translucent shadow margin would show black on screen:
    // the card then fills the window; a compositor starting or stopping switches it at once.
    void noCompositorNothingBlack()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X display without a compositing manager");
        ostra::Compositing *compositing = ostra::Compositing::instance();
        QVERIFY(!compositing->active());
        QWidget window;
        window.setStyleSheet(QStringLiteral("background: white;"));
        window.setGeometry(100, 100, 800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QDialog dialog(&window);
        (new QVBoxLayout(&dialog))->addWidget(new QLabel(QStringLiteral("Pedal check")));
        applyDialogChrome(&dialog);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_COMPARE(dialog.windowOpacity(), 1.0);
        // The X server would blend a window with an alpha channel itself, at each showing.
        QVERIFY(!dialog.windowHandle()->format().hasAlpha());
        const auto noneBlack = [](QDialog &shown) {
            for (const QPoint &at : {QPoint(3, 3), QPoint(shown.width() / 2, shown.height() - 4),
                                     QPoint(shown.width() - 4, shown.height() / 2)}) {
                if (onScreen(shown, at).lightness() < 128)
                    return false;
            }
            return true;
        };
        QTRY_VERIFY(noneBlack(dialog));

        QDialog blended(&window);
        (new QVBoxLayout(&blended))->addWidget(new QLabel(QStringLiteral("Pedal check")));
        {
            FakeCompositor compositor;
            QTRY_VERIFY_WITH_TIMEOUT(compositing->active(), 5000);
            QCOMPARE(dialog.layout()->contentsMargins(), QMargins());
            applyDialogChrome(&blended);
            blended.show();
            QVERIFY(QTest::qWaitForWindowExposed(&blended));
            QVERIFY(blended.windowHandle()->format().hasAlpha());
            QCOMPARE(blended.layout()->contentsMargins(), QMargins(28, 18, 28, 44));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!compositing->active(), 5000);
        QCOMPARE(blended.layout()->contentsMargins(), QMargins());
        QTRY_VERIFY(noneBlack(blended));
        QTRY_VERIFY(noneBlack(dialog));
    }

    // Where the compositor places windows (Wayland), the fade leaves the dialog where it was put.
    void fadeLeavesPlacementToWayland()
    {
        if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            QSKIP("runs on a Wayland compositor (tests/support/westonrun.sh)");
        QWidget window;
        window.resize(600, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QDialog dialog(&window);
        (new QVBoxLayout(&dialog))->addWidget(new QLabel(QStringLiteral("Pedal check")));
        applyDialogChrome(&dialog);
        dialog.show();
        const QPoint placed = dialog.pos();
        QVERIFY(dialog.windowOpacity() < 1.0);
        while (dialog.windowOpacity() < 1.0) {
            QCOMPARE(dialog.pos(), placed);
            QTest::qWait(10);
        }
        QCOMPARE(dialog.pos(), placed);
    }

    void closeButtonRunsOwnReject()
    {
        struct CountingDialog : QDialog
        {
            void reject() override
            {
                ++rejects;
                QDialog::reject();
            }
            int rejects = 0;
        } dialog;
        applyDialogChrome(&dialog);
        dialog.show();
        QTest::mouseClick(header(dialog)->findChild<QPushButton *>(), Qt::LeftButton);
        QCOMPARE(dialog.rejects, 1);
        QVERIFY(!dialog.isVisible());
    }

    void dimsParentOnlyWhenItShould_data()
    {
        QTest::addColumn<bool>("dressedParent");
        QTest::addColumn<bool>("dims");
        QTest::newRow("plain window") << false << true;
        QTest::newRow("dressed dialog") << true << false;
    }

    void dimsParentOnlyWhenItShould()
    {
        QFETCH(bool, dressedParent);
        QFETCH(bool, dims);
        QWidget window;
        window.resize(500, 400);
        auto *beneath = new PaintRecorder(&window);
        beneath->setGeometry(window.rect());
        window.show();
        const QColor undimmed = sample(window);
        QDialog outer(&window);
        applyDialogChrome(&outer);
        QDialog dialog(dressedParent ? static_cast<QWidget *>(&outer) : &window);
        applyDialogChrome(&dialog);
        const int childrenBefore = int(window.findChildren<QWidget *>().size());

        dialog.show();
        // Animated, the dialog fades in as the dimming grows; otherwise both are there at once.
        QCOMPARE(dialog.windowOpacity() < 1.0, ostra::animationsEnabled());
        QTRY_COMPARE(dialog.windowOpacity(), 1.0);
        QCoreApplication::processEvents();
        QTRY_COMPARE(sample(window) != undimmed, dims);
        // Hiding removes the dimming; showing again dims afresh with one overlay only, kept
        // meanwhile. No pass repaints more than a band of the window beneath.
        dialog.hide();
        beneath->recording = true;
        const auto unrecorded = [&] {
            beneath->recording = false;
            const QColor color = sample(window);
            beneath->recording = true;
            return color;
        };
        QTRY_COMPARE(unrecorded(), undimmed);
        QVERIFY(beneath->tallest > 0 || !dims);
        QVERIFY(!dims || beneath->tallest <= window.height() / 4);
        QCOMPARE(int(window.findChildren<QWidget *>().size()), childrenBefore + (dims ? 1 : 0));
        dialog.show();
        QCoreApplication::processEvents();
        QTRY_COMPARE(sample(window) != undimmed, dims);
        QCOMPARE(int(window.findChildren<QWidget *>().size()), childrenBefore + (dims ? 1 : 0));
        // A dialog made after the dimming lies above it among the window's children, but is a
        // window of its own: it too has the window beneath repainted a band at a time.
        if (!dims)
            return;
        dialog.hide();
        QTRY_COMPARE(unrecorded(), undimmed);
        QDialog later(&window);
        applyDialogChrome(&later);
        beneath->tallest = 0;
        later.show();
        QTRY_VERIFY(unrecorded() != undimmed);
        QVERIFY(beneath->tallest <= window.height() / 4);
    }

    // Readied while ticks come, a dialog has its native window, and its store at its size, before
    // it shows; the widgets of the window it belongs to get no native windows of their own.
    void readiedDialogLeavesItsParentsWidgetsPlain()
    {
        ostra::TickPace *pace = ostra::TickPace::instance();
        QWidget window;
        auto *beneath = new QWidget(&window);
        window.show();
        QDialog dialog(&window);
        applyDialogChrome(&dialog);
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, pace, &ostra::TickPace::ticked);
        ticks.start(7);
        pace->ticked();
        QTest::qSleep(2);
        QVERIFY(ostra::prepareShowing(&dialog));
        ticks.stop();
        QVERIFY(dialog.internalWinId());
        QVERIFY(dialog.backingStore());
        QCOMPARE(dialog.backingStore()->size(), dialog.size());
        QVERIFY(!dialog.isVisible());
        QVERIFY(!beneath->internalWinId());
        QTest::qWait(40); // the ticks are over for the next test
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestDialogChrome)
#include "tst_dialogchrome.moc"
