#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWindow>

#include "ostraui/ambientbackground.h"
#include "ostraui/card.h"
#include "ostraui/dot.h"
#include "ostraui/framelessresizer.h"
#include "ostraui/navbutton.h"
#include "ostraui/pageheader.h"
#include "ostraui/pagestack.h"
#include "ostraui/sidebar.h"
#include "ostraui/smoothstretch.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"
#include "ostraui/titlebar.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"
#include "animatedrun.h"
#include "directbackdrop.h"
#include "paintcounter.h"

using namespace ostra;

namespace {

struct Shell
{
    Sidebar sidebar{QStringLiteral("v1.2.3")};

    Shell()
    {
        sidebar.resize(236, 720);
        sidebar.show();
        QCoreApplication::processEvents();
    }
    NavButton *entry(const QString &text) const
    {
        for (NavButton *button : sidebar.findChildren<NavButton *>()) {
            if (button->text() == text)
                return button;
        }
        return nullptr;
    }
    NavButton *page(int i) { return entry(QStringList{"Dashboard", "Motion System", "Corvane", "Race control"}[i]); }
    // The highlight is the only thing painting ink behind an entry's left edge.
    bool highlighted(int i)
    {
        return sidebar.grab().toImage().pixelColor(page(i)->mapTo(&sidebar, QPoint(6, 6))) == ThemeColors::ink;
    }
};

// Four pages in a shown stack.
struct Pages
{
    PageStack stack;
    QList<QWidget *> pages;

    Pages()
    {
        for (int i = 0; i < 4; ++i) {
            pages.append(new QLabel(QStringLiteral("page %1").arg(i)));
            stack.addWidget(pages.last());
        }
        stack.resize(640, 480);
        stack.show();
    }
    // A page at rest: in its place, fully drawn without a leftover effect.
    bool atRest(int i) const { return !pages[i]->graphicsEffect() && pages[i]->pos() == QPoint(0, 0); }
};

} // namespace

// The frameless main window: title bar, edge resizing, sidebar, backdrop, page header and page stack.
class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { verifyRunKind(); }

    void titleBarButtons()
    {
        QWidget window;
        window.resize(800, 500);
        auto *bar = new TitleBar(&window, &window);
        bar->setGeometry(0, 0, 800, 38);
        window.show();
        const QList<QAbstractButton *> buttons = bar->findChildren<QAbstractButton *>();
        QSignalSpy minimize(bar, &TitleBar::minimizeRequested);
        QSignalSpy maximize(bar, &TitleBar::maximizeRequested);
        QSignalSpy close(bar, &TitleBar::closeRequested);
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(buttons.value(i), Qt::LeftButton);
        // A left double click on the bar maximises; a right one does not.
        QTest::mouseDClick(bar, Qt::LeftButton, {}, QPoint(300, 19));
        QTest::mouseDClick(bar, Qt::RightButton, {}, QPoint(300, 19));
        QCOMPARE((QList<int>{int(minimize.size()), int(maximize.size()), int(close.size())}), (QList<int>{1, 2, 1}));
    }

    void resizerEdgesCursorAndPressesInside()
    {
        QWidget window;
        window.setWindowFlag(Qt::FramelessWindowHint);
        auto *button = new QPushButton(QStringLiteral("Fill"));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(button);
        window.resize(600, 400);
        auto *resizer = new FramelessResizer(&window);
        // A 6 px border; a maximised window has no edges to drag.
        QCOMPARE(resizer->edgesAt(QPoint(5, 200)), Qt::Edges(Qt::LeftEdge));
        QCOMPARE(resizer->edgesAt(QPoint(6, 200)), Qt::Edges());
        QCOMPARE(resizer->edgesAt(QPoint(597, 396)), Qt::Edges(Qt::RightEdge | Qt::BottomEdge));
        window.setWindowState(Qt::WindowMaximized);
        QCOMPARE(resizer->edgesAt(QPoint(5, 200)), Qt::Edges());
        window.setWindowState(Qt::WindowNoState);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseMove(window.windowHandle(), QPoint(598, 398));
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::SizeFDiagCursor);
        // Back inside, the pointer is the widgets' own again, and presses reach them.
        QTest::mouseMove(window.windowHandle(), QPoint(300, 200));
        QVERIFY(!QGuiApplication::overrideCursor());
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(300, 200));
        QCOMPARE(clicked.size(), 1);
    }

    void sidebarCurrentIndex()
    {
        Shell s;
        for (int index : {3, -1}) {
            s.sidebar.setCurrentIndex(index, true);
            // Animated, the highlight is still on its way.
            if (index >= 0)
                QCOMPARE(s.highlighted(index), !animationsEnabled());
            QCOMPARE(s.entry("Info")->isActive(), index < 0);
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(s.page(i)->isActive(), i == index);
                QTRY_COMPARE(s.highlighted(i), i == index);
            }
        }
        // Back to an entry after Info: the highlight shows again, at that entry.
        s.sidebar.setCurrentIndex(1, true);
        QTRY_VERIFY(s.highlighted(1));
    }

    void sidebarClicksOnlyEmit()
    {
        Shell s;
        QSignalSpy navigate(&s.sidebar, &Sidebar::navigate);
        QSignalSpy info(&s.sidebar, &Sidebar::infoRequested);
        QSignalSpy theme(&s.sidebar, &Sidebar::themeToggleRequested);
        for (const char *text : {"Race control", "Info", "Dark mode"})
            QTest::mouseClick(s.entry(text), Qt::LeftButton);
        QCOMPARE(navigate.at(0).at(0).toInt(), 3);
        QCOMPARE((QList<int>{int(navigate.size()), int(info.size()), int(theme.size())}), (QList<int>{1, 1, 1}));
        // The owner decides: the current entry stays until it is set.
        QCOMPARE(s.sidebar.currentIndex(), 0);
    }

    void sidebarCollapseAndIndicators()
    {
        Shell s;
        s.sidebar.setCurrentIndex(2, false);
        s.sidebar.setItemIndicator(1, true);
        s.sidebar.setItemIndicator(4, true);
        QAbstractButton *hamburger = nullptr;
        for (QAbstractButton *b : s.sidebar.findChildren<QAbstractButton *>()) {
            if (b->toolTip() == QStringLiteral("Collapse / expand the sidebar"))
                hamburger = b;
        }
        // Collapsed, the entries narrow and hide their dots; the highlight stays on the current one.
        for (bool collapsed : {true, false}) {
            QTest::mouseClick(hamburger, Qt::LeftButton);
            QCOMPARE(s.sidebar.width() == (collapsed ? 76 : 236), !animationsEnabled());
            QTRY_COMPARE(s.sidebar.width(), collapsed ? 76 : 236);
            QCOMPARE(s.page(0)->isCollapsed(), collapsed);
            QCOMPARE(s.page(1)->dot()->isVisible(), !collapsed);
            QTRY_VERIFY(s.highlighted(2));
        }
    }

    void backdropAnimatesOnlyWhenShownAndAllowed()
    {
        AmbientBackground bg;
        bg.show();
        QCOMPARE(bg.isAnimating(), animationsEnabled());
        Motion::instance()->setReducedMotion(true);
        QVERIFY(!bg.isAnimating());
        Motion::instance()->setReducedMotion(false);
        bg.hide();
        QVERIFY(!bg.isAnimating());
    }

    void backdropHoldsItsDrift()
    {
        AmbientBackground bg;
        bg.resize(400, 300);
        bg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bg));
        QTest::qWait(120);
        bg.setDriftHeld(true);
        QVERIFY(bg.isDriftHeld() && !bg.isAnimating());
        // Held, the picture stands where it was.
        const QImage held = bg.grab().toImage();
        QTest::qWait(120);
        QCOMPARE(bg.grab().toImage(), held);
        // Let go, it drifts on where animations run; hidden it stops, and stays held while hidden.
        bg.setDriftHeld(false);
        QCOMPARE(bg.isAnimating(), animationsEnabled());
        bg.setDriftHeld(true);
        bg.hide();
        bg.show();
        QVERIFY(!bg.isAnimating());
    }

    // A drift step repaints what shows the backdrop and leaves the insides of cards alone,
    // unless a card is see-through. Where animations are off the backdrop stands still and a
    // step repaints nothing.
    void backdropStepSparesCardInsides()
    {
        qint64 now = 0;
        AmbientBackground bg;
        bg.setClock([&now] { return now; });
        bg.resize(600, 400);
        auto *opaque = new Card(&bg, 1);
        opaque->setGeometry(20, 20, 260, 200);
        auto *dimmed = new Card(&bg, 1);
        dimmed->setGeometry(320, 20, 260, 200);
        dimmed->setDimmed(true);
        auto *inside = new PaintCounter(opaque);
        inside->setGeometry(40, 40, 100, 100);
        auto *insideDimmed = new PaintCounter(dimmed);
        insideDimmed->setGeometry(40, 40, 100, 100);
        auto *outside = new PaintCounter(&bg);
        outside->setGeometry(20, 300, 100, 60);
        bg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bg));
        QCoreApplication::processEvents();
        const int before[] = {inside->paints, insideDimmed->paints, outside->paints};
        // Two seconds in, the light drifts at speed.
        now = 2000;
        QMetaObject::invokeMethod(&bg, "onTick");
        QCoreApplication::sendPostedEvents(&bg, QEvent::UpdateRequest);
        const int step = animationsEnabled() ? 1 : 0;
        QCOMPARE(inside->paints, before[0]);
        QCOMPARE(insideDimmed->paints, before[1] + step);
        QCOMPARE(outside->paints, before[2] + step);
    }

    // A drift step repaints only where the picture moves: the light and the dashed curves, not a
    // corner far from both, and nothing while the clock stands still or the window is minimised.
    void backdropStepRepaintsWhatMoves_data()
    {
        QTest::addColumn<QRect>("place");
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<bool>("minimised");
        QTest::addColumn<bool>("repainted");
        // On a 1200 x 800 window two seconds into the drift.
        const QRect corner(10, 60, 60, 60);
        const QRect curve(34, 570, 24, 36);
        const QRect light(930, 160, 40, 40);
        QTest::newRow("corner far from light and curves") << corner << 50 << false << false;
        QTest::newRow("on a dashed curve") << curve << 50 << false << true;
        QTest::newRow("in the drifting light") << light << 50 << false << true;
        QTest::newRow("clock standing still") << light << 0 << false << false;
        QTest::newRow("minimised window") << light << 50 << true << false;
    }

    void backdropStepRepaintsWhatMoves()
    {
        QFETCH(QRect, place);
        QFETCH(int, stepMs);
        QFETCH(bool, minimised);
        QFETCH(bool, repainted);
        qint64 now = 0;
        AmbientBackground bg;
        bg.setClock([&now] { return now; });
        bg.resize(1200, 800);
        auto *counter = new PaintCounter(&bg);
        counter->setGeometry(place);
        bg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bg));
        now = 2000;
        QMetaObject::invokeMethod(&bg, "onTick");
        QCoreApplication::processEvents();
        if (minimised)
            bg.setWindowState(Qt::WindowMinimized);
        const int before = counter->paints;
        now += stepMs;
        QMetaObject::invokeMethod(&bg, "onTick");
        QCoreApplication::sendPostedEvents(&bg, QEvent::UpdateRequest);
        QCOMPARE(counter->paints, before + (repainted && animationsEnabled() ? 1 : 0));
    }

    // The backdrop's own stretch gives what QPainter's smooth one does, over any part of the
    // picture. Fine noise shows a pixel taken from the wrong place; the two round their sums in
    // another order, which on noise comes to a few levels.
    void smoothStretchMatchesQPainter_data()
    {
        QTest::addColumn<QSize>("small");
        QTest::addColumn<QSize>("large");
        QTest::addColumn<QRect>("area");
        QTest::newRow("an eighth, whole") << QSize(320, 180) << QSize(2560, 1440) << QRect(0, 0, 2560, 1440);
        QTest::newRow("uneven, bottom right corner") << QSize(171, 96) << QSize(1366, 768) << QRect(1000, 700, 366, 68);
        QTest::newRow("uneven, top left corner") << QSize(128, 88) << QSize(1023, 701) << QRect(0, 0, 70, 90);
        QTest::newRow("one pixel") << QSize(1, 1) << QSize(9, 5) << QRect(0, 0, 9, 5);
    }

    void smoothStretchMatchesQPainter()
    {
        QFETCH(QSize, small);
        QFETCH(QSize, large);
        QFETCH(QRect, area);
        QImage from(small, QImage::Format_RGB32);
        QRandomGenerator noise(7);
        for (int y = 0; y < small.height(); ++y) {
            for (int x = 0; x < small.width(); ++x)
                from.setPixel(x, y, 0xff000000u | noise.generate());
        }
        QImage painted(area.size(), QImage::Format_RGB32);
        {
            QPainter p(&painted);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.translate(-area.topLeft());
            p.drawImage(QRect(QPoint(0, 0), large), from);
        }
        QImage stretched(area.size(), QImage::Format_RGB32);
        SmoothStretch stretch;
        stretch.place(small, large);
        stretch.stretch(from, area, stretched, QPoint(0, 0));
        const PictureDistance distance = pictureDistance(stretched, painted);
        QVERIFY2(distance.mean < 1.0 && distance.largest <= 4,
                 qPrintable(QStringLiteral("mean %1, largest %2").arg(distance.mean).arg(distance.largest)));
    }

    // What the window shows after drifting step by step is what the backdrop painted the plain
    // way looks like (a person sees no difference), and what a full repaint at that time shows.
    void backdropMatchesDirectPainting_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("seconds");
        // At 1024 x 700 both curves' pens are thinner than a pixel, at 1280 x 800 the finer one's,
        // at 1440 x 900 neither.
        for (const QSize &size : {QSize(1024, 700), QSize(1280, 800), QSize(1440, 900)}) {
            for (double seconds : {0.0, 2.5, 7.35, 12.8, 37.95})
                QTest::addRow("%dx%d, %g s", size.width(), size.height(), seconds) << size << seconds;
        }
    }

    void backdropMatchesDirectPainting()
    {
        QFETCH(QSize, size);
        QFETCH(double, seconds);
        // The dark twin paints with the dark theme's colours.
        if (selectedTheme() && !isDarkTheme())
            installTheme(*qApp);
        qint64 now = 0;
        AmbientBackground bg;
        bg.setWindowFlag(Qt::FramelessWindowHint);
        bg.setClock([&now] { return now; });
        bg.resize(size);
        bg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bg));
        // One long step, then a second of 50 ms ones.
        const qint64 end = qint64(seconds * 1000);
        for (now = std::max<qint64>(end - 1000, 0);; now += 50) {
            QMetaObject::invokeMethod(&bg, "onTick");
            QCoreApplication::sendPostedEvents(&bg, QEvent::UpdateRequest);
            if (now >= end)
                break;
        }
        const auto onScreen = [&bg] {
            QCoreApplication::processEvents();
            return bg.screen()->grabWindow(bg.winId()).toImage();
        };
        const QImage shown = onScreen();
        // Where animations are off, the backdrop stands in its start pose.
        const double shownSeconds = animationsEnabled() ? seconds : 0.0;
        const QImage direct = directBackdrop(bg.size(), shownSeconds);
        const QString name = QStringLiteral("backdrop-%1x%2-%3s").arg(size.width()).arg(size.height()).arg(shownSeconds);
        shown.save(ostratest::artefactDir("ostraui") + QStringLiteral("/%1-%2.png").arg(name, isDarkTheme() ? "dark" : "light"));
        direct.save(ostratest::artefactDir("ostraui") + QStringLiteral("/%1-direct-%2.png").arg(name, isDarkTheme() ? "dark" : "light"));
        const PictureDistance fromDirect = pictureDistance(shown, direct);
        QVERIFY2(fromDirect.mean < 1.0 && fromDirect.largest <= 6,
                 qPrintable(QStringLiteral("mean %1, largest %2").arg(fromDirect.mean).arg(fromDirect.largest)));
        // A new size paints everything afresh; back at the old one it shows the same.
        bg.resize(size + QSize(8, 0));
        QCoreApplication::processEvents();
        bg.resize(size);
        // Dash ends may round a step or two apart where a repaint clips the curve.
        QTRY_VERIFY2(pictureDistance(shown, onScreen()).largest <= 4, "a full repaint differs");
    }

    void backdropMatchesDirectPaintingInTheDark()
    {
        if (isDarkTheme())
            QSKIP("this run is the dark one");
        QVERIFY(ostratest::runDarkTwin(QStringLiteral("ostraui"), {QStringLiteral("backdropMatchesDirectPainting")}));
    }

    void headerBackLink()
    {
        PageHeader header;
        header.show();
        auto *back = header.findChild<QPushButton *>();
        QSignalSpy clicked(&header, &PageHeader::backClicked);
        header.setBackText(QStringLiteral("Vehicles"));
        QCOMPARE(back->text(), QStringLiteral("\u2190  Vehicles"));
        QTest::mouseClick(back, Qt::LeftButton);
        QCOMPARE(clicked.size(), 1);
        // No text, no link.
        header.setBackText(QString());
        QVERIFY(!back->isVisible());
    }

    void pageSwitchEndsAtRest()
    {
        Pages f;
        QSignalSpy changed(&f.stack, &QStackedWidget::currentChanged);
        for (int index : {3, 0}) {
            f.stack.setCurrentIndexAnimated(index);
            QCOMPARE(changed.last().at(0).toInt(), index);
            // Animated, the page fades in below its place; otherwise it is there at once.
            QCOMPARE(!f.atRest(index), animationsEnabled());
            QTRY_VERIFY(f.atRest(index));
        }
        QCOMPARE(changed.size(), 2);
        for (int i = 0; i < f.pages.size(); ++i) {
            QVERIFY(f.atRest(i));
            QCOMPARE(f.pages[i]->isVisible(), i == 0);
        }
        // While the channel stream runs, the page is there at once, and all of it reaches the
        // window, band after band, over what the old page left there.
        QVERIFY(QTest::qWaitForWindowExposed(&f.stack));
        const auto onScreen = [&f] {
            QCoreApplication::processEvents();
            return f.stack.screen()->grabWindow(f.stack.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        };
        TickPace::instance()->ticked();
        f.stack.setCurrentIndexAnimated(2);
        QVERIFY(f.atRest(2));
        QTRY_COMPARE(onScreen(), f.stack.grab().toImage().convertToFormat(QImage::Format_RGB32));
        QTRY_VERIFY(!TickPace::instance()->ticksComing()); // the tick is over for the next test
    }

    void pageSameOrInvalidIndexDoesNothing()
    {
        Pages f;
        f.stack.setCurrentIndexAnimated(1);
        const bool transitioning = f.pages[1]->graphicsEffect() != nullptr;
        QCOMPARE(transitioning, animationsEnabled());
        QSignalSpy changed(&f.stack, &QStackedWidget::currentChanged);
        f.stack.setCurrentIndexAnimated(1);
        f.stack.setCurrentIndexAnimated(4);
        QCOMPARE(f.stack.currentIndex(), 1);
        QCOMPARE(changed.size(), 0);
        // Not even a running transition is cut short.
        QCOMPARE(f.pages[1]->graphicsEffect() != nullptr, transitioning);
        QTRY_VERIFY(f.atRest(1));
    }

    void pageQuickSecondSwitchSettlesTheFirst()
    {
        Pages f;
        f.stack.setCurrentIndexAnimated(1);
        QCOMPARE(!f.atRest(1), animationsEnabled());
        f.stack.setCurrentIndexAnimated(2);
        QVERIFY(f.atRest(1));
        QVERIFY(!f.pages[1]->isVisible());
        QCOMPARE(!f.atRest(2), animationsEnabled());
        QTRY_VERIFY(f.atRest(2));
    }

    void pageDeletedMidTransition()
    {
        Pages f;
        f.stack.setCurrentIndexAnimated(2);
        QCOMPARE(!f.atRest(2), animationsEnabled());
        delete f.pages.takeAt(2);
        f.stack.finishTransition();
        f.stack.setCurrentIndexAnimated(0);
        QTRY_VERIFY(f.atRest(0));
        QCOMPARE(f.stack.count(), 3);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestWindow)
#include "tst_window.moc"
