#include <QAbstractButton>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWindow>

#include "ostraui/ambientbackground.h"
#include "ostraui/framelessresizer.h"
#include "ostraui/pageheader.h"
#include "ostraui/pagestack.h"
#include "ostraui/theme.h"
#include "ostraui/titlebar.h"
#include "support/testenvironment.h"

using namespace ostra;

namespace {

// An 800 px window with the title bar across its top.
struct Frame
{
    QWidget window;
    TitleBar *bar;

    Frame()
    {
        window.setWindowTitle(QStringLiteral("Qorvant OSTRA"));
        window.resize(800, 500);
        bar = new TitleBar(&window, &window);
        bar->setGeometry(0, 0, 800, 38);
        window.show();
        QCoreApplication::processEvents();
    }
    QAbstractButton *button(int i) const { return bar->findChildren<QAbstractButton *>().value(i); }
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

// The frameless main window: title bar, edge resizing, backdrop, page header and page stack.
class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void titleBarButtons();
    void titleBarHitsButton_data();
    void titleBarHitsButton();
    void titleBarMaximizeFollowsWindow();
    void titleBarFollowsWindowTitle();
    void resizerEdges_data();
    void resizerEdges();
    void resizerCursorShowsEdge_data();
    void resizerCursorShowsEdge();
    void resizerLetsPressesInsideThrough();
    void backdropBlobsFollowTheEdges_data();
    void backdropBlobsFollowTheEdges();
    void backdropAnimatesOnlyWhenShownAndAllowed();
    void headerBackLink();
    void headerTitleAndActions();
    void pageSwitchEndsAtRest_data();
    void pageSwitchEndsAtRest();
    void pageSameOrInvalidIndexDoesNothing_data();
    void pageSameOrInvalidIndexDoesNothing();
    void pageQuickSecondSwitchSettlesTheFirst();
    void pageDeletedMidTransition();
};

void TestWindow::titleBarButtons()
{
    Frame f;
    QSignalSpy minimize(f.bar, &TitleBar::minimizeRequested);
    QSignalSpy maximize(f.bar, &TitleBar::maximizeRequested);
    QSignalSpy close(f.bar, &TitleBar::closeRequested);
    const QList<QSignalSpy *> spies{&minimize, &maximize, &close};
    const QStringList tips{QStringLiteral("Minimize"), QStringLiteral("Maximize"), QStringLiteral("Close")};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(f.button(i)->toolTip(), tips[i]);
        QCOMPARE(f.button(i)->geometry(), QRect(800 - 46 * (3 - i), 0, 46, 38));
        QCOMPARE(f.button(i)->focusPolicy(), Qt::NoFocus);
        QTest::mouseClick(f.button(i), Qt::LeftButton);
        for (int j = 0; j < 3; ++j)
            QCOMPARE(spies[j]->size(), j <= i ? 1 : 0);
    }
    // A left double click on the bar maximises; a right one does not.
    QTest::mouseDClick(f.bar, Qt::LeftButton, {}, QPoint(300, 19));
    QTest::mouseDClick(f.bar, Qt::RightButton, {}, QPoint(300, 19));
    QCOMPARE(maximize.size(), 2);
}

void TestWindow::titleBarHitsButton_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("hideClose");
    QTest::addColumn<bool>("hits");
    QTest::newRow("title area") << QPoint(100, 19) << false << false;
    QTest::newRow("just left of minimise") << QPoint(800 - 139, 19) << false << false;
    QTest::newRow("minimise") << QPoint(800 - 138, 19) << false << true;
    QTest::newRow("close corner") << QPoint(799, 37) << false << true;
    QTest::newRow("below the bar") << QPoint(799, 38) << false << false;
    QTest::newRow("hidden close") << QPoint(780, 19) << true << false;
}

void TestWindow::titleBarHitsButton()
{
    QFETCH(QPoint, point);
    QFETCH(bool, hideClose);
    QFETCH(bool, hits);
    Frame f;
    f.button(2)->setHidden(hideClose);
    QCOMPARE(f.bar->hitsButton(point), hits);
}

void TestWindow::titleBarMaximizeFollowsWindow()
{
    Frame f;
    f.bar->updateMaximizeButton();
    const QImage square = f.button(1)->grab().toImage();
    for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowNoState}) {
        f.window.setWindowState(state);
        f.bar->updateMaximizeButton();
        const bool maximized = state == Qt::WindowMaximized;
        QCOMPARE(f.button(1)->toolTip(), maximized ? QStringLiteral("Restore") : QStringLiteral("Maximize"));
        QCOMPARE(f.button(1)->grab().toImage() == square, !maximized);
    }
}

void TestWindow::titleBarFollowsWindowTitle()
{
    // A new window title repaints the bar, showing the new text.
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    Frame f;
    const QImage before = f.bar->grab(QRect(30, 0, 300, 38)).toImage();
    QCoreApplication::processEvents();
    f.bar->installEventFilter(&counter);
    f.window.setWindowTitle(QStringLiteral("Qorvant OSTRA \u2014 helicopter"));
    QTRY_VERIFY(counter.paints > 0);
    QVERIFY(f.bar->grab(QRect(30, 0, 300, 38)).toImage() != before);
}

void TestWindow::resizerEdges_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<int>("edges");
    // A 600 x 400 window with a 6 px border.
    const int left = Qt::LeftEdge, right = Qt::RightEdge, top = Qt::TopEdge, bottom = Qt::BottomEdge;
    QTest::newRow("inside") << QPoint(300, 200) << 0;
    QTest::newRow("left inner border") << QPoint(5, 200) << left;
    QTest::newRow("just past the border") << QPoint(6, 200) << 0;
    QTest::newRow("right") << QPoint(599, 200) << right;
    QTest::newRow("right inner border") << QPoint(594, 200) << right;
    QTest::newRow("top") << QPoint(300, 0) << top;
    QTest::newRow("bottom-right corner") << QPoint(597, 396) << (right | bottom);
    QTest::newRow("top-left corner") << QPoint(2, 3) << (left | top);
    QTest::newRow("outside") << QPoint(600, 200) << 0;
    QTest::newRow("negative") << QPoint(-1, 5) << 0;
}

void TestWindow::resizerEdges()
{
    QFETCH(QPoint, pos);
    QFETCH(int, edges);
    QWidget window;
    window.resize(600, 400);
    FramelessResizer resizer(&window);
    QCOMPARE(int(resizer.edgesAt(pos)), edges);
    // A maximised window has no edges to drag.
    window.setWindowState(Qt::WindowMaximized);
    QCOMPARE(int(resizer.edgesAt(pos)), 0);
    window.setWindowState(Qt::WindowNoState);
    QCOMPARE(int(resizer.edgesAt(pos)), edges);
}

void TestWindow::resizerCursorShowsEdge_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<int>("shape");
    QTest::newRow("left") << QPoint(1, 200) << int(Qt::SizeHorCursor);
    QTest::newRow("bottom") << QPoint(300, 398) << int(Qt::SizeVerCursor);
    QTest::newRow("bottom-right") << QPoint(598, 398) << int(Qt::SizeFDiagCursor);
    QTest::newRow("top-right") << QPoint(598, 1) << int(Qt::SizeBDiagCursor);
    QTest::newRow("inside") << QPoint(300, 200) << -1;
}

void TestWindow::resizerCursorShowsEdge()
{
    QFETCH(QPoint, pos);
    QFETCH(int, shape);
    QWidget window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.resize(600, 400);
    new FramelessResizer(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseMove(window.windowHandle(), pos);
    QCOMPARE(QGuiApplication::overrideCursor() ? int(QGuiApplication::overrideCursor()->shape()) : -1, shape);
    // Back inside, the pointer is the widgets' own again.
    QTest::mouseMove(window.windowHandle(), QPoint(300, 200));
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestWindow::resizerLetsPressesInsideThrough()
{
    QWidget window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *button = new QPushButton(QStringLiteral("Fill"));
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(button);
    window.resize(600, 400);
    new FramelessResizer(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(300, 200));
    QCOMPARE(clicked.size(), 1);
}

void TestWindow::backdropBlobsFollowTheEdges_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1600x1000") << QSize(1600, 1000);
    QTest::newRow("1024x700") << QSize(1024, 700);
}

void TestWindow::backdropBlobsFollowTheEdges()
{
    QFETCH(QSize, size);
    // Blob centres: the first follows the right edge, the second the bottom edge, the third both in proportion.
    const auto centres = [](QSize s) {
        return QList<QPoint>{QPoint(s.width() - 170, 130), QPoint(440, s.height() - 40),
                             QPoint(int(0.78 * s.width()) - 190, int(0.92 * s.height()) - 190)};
    };
    AmbientBackground reference;
    reference.resize(1280, 800);
    const QImage base = reference.grab().toImage();
    AmbientBackground bg;
    bg.resize(size);
    const QImage image = bg.grab().toImage();
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(image.pixelColor(centres(size)[i]), base.pixelColor(centres(QSize(1280, 800))[i]));
        QVERIFY(image.pixelColor(centres(size)[i]) != ThemeColors::windowBg);
    }
    // Far from the light the plain background shows.
    QCOMPARE(image.pixelColor(4, 4), ThemeColors::windowBg);
}

void TestWindow::backdropAnimatesOnlyWhenShownAndAllowed()
{
    AmbientBackground bg;
    bg.resize(320, 200);
    QVERIFY(!bg.isAnimating());
    bg.show();
    QCOMPARE(bg.isAnimating(), animationsEnabled());
    Motion::instance()->setReducedMotion(true);
    QVERIFY(!bg.isAnimating());
    Motion::instance()->setReducedMotion(false);
    QCOMPARE(bg.isAnimating(), animationsEnabled());
    bg.hide();
    QVERIFY(!bg.isAnimating());

    // Without animations the picture stands still.
    if (!animationsEnabled()) {
        const QImage first = bg.grab().toImage();
        QTest::qWait(60);
        QCOMPARE(bg.grab().toImage(), first);
    }
}

void TestWindow::headerBackLink()
{
    PageHeader header;
    header.show();
    auto *back = header.findChild<QPushButton *>();
    QSignalSpy clicked(&header, &PageHeader::backClicked);
    // None at first; set, replaced, and removed again.
    QVERIFY(!back->isVisible());
    for (const QString &text : {QStringLiteral("Vehicles"), QStringLiteral("Start"), QString()}) {
        header.setBackText(text);
        QCOMPARE(back->isVisible(), !text.isEmpty());
        if (text.isEmpty())
            break;
        QCOMPARE(back->text(), QStringLiteral("\u2190  ") + text);
        QTest::mouseClick(back, Qt::LeftButton);
    }
    QCOMPARE(clicked.size(), 2);
}

void TestWindow::headerTitleAndActions()
{
    PageHeader header;
    header.setTitle(QStringLiteral("Race control"));
    auto *title = header.findChild<QLabel *>();
    QCOMPARE(title->text(), QStringLiteral("Race control"));
    auto *action = new QPushButton(QStringLiteral("Add station"));
    action->setFixedSize(120, 34);
    header.actionsRow()->addWidget(action);
    header.resize(900, header.sizeHint().height());
    header.show();
    QCoreApplication::processEvents();
    // At the right end, inside the header's margins, bottom-aligned with the title.
    QCOMPARE(action->geometry().right(), 900 - 8 - 1);
    QCOMPARE(action->geometry().bottom(), header.height() - 22 - 1);
    QCOMPARE(title->geometry().left(), 8);
}

void TestWindow::pageSwitchEndsAtRest_data()
{
    QTest::addColumn<QList<int>>("sequence");
    QTest::newRow("one switch") << QList<int>{2};
    QTest::newRow("there and back") << QList<int>{3, 0};
    QTest::newRow("every page") << QList<int>{1, 2, 3, 0};
}

void TestWindow::pageSwitchEndsAtRest()
{
    QFETCH(QList<int>, sequence);
    Pages f;
    QSignalSpy changed(&f.stack, &QStackedWidget::currentChanged);
    for (int index : sequence) {
        f.stack.setCurrentIndexAnimated(index);
        QCOMPARE(f.stack.currentIndex(), index);
        QCOMPARE(changed.last().at(0).toInt(), index);
        QTRY_VERIFY(f.atRest(index));
    }
    QCOMPARE(changed.size(), sequence.size());
    for (int i = 0; i < f.pages.size(); ++i) {
        QVERIFY(f.atRest(i));
        QCOMPARE(f.pages[i]->isVisible(), i == sequence.last());
    }
}

void TestWindow::pageSameOrInvalidIndexDoesNothing_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("current") << 1;
    QTest::newRow("negative") << -1;
    QTest::newRow("past the end") << 4;
}

void TestWindow::pageSameOrInvalidIndexDoesNothing()
{
    QFETCH(int, index);
    Pages f;
    f.stack.setCurrentIndexAnimated(1);
    const bool transitioning = f.pages[1]->graphicsEffect() != nullptr;
    QSignalSpy changed(&f.stack, &QStackedWidget::currentChanged);
    f.stack.setCurrentIndexAnimated(index);
    QCOMPARE(f.stack.currentIndex(), 1);
    QCOMPARE(changed.size(), 0);
    // Not even a running transition is cut short.
    QCOMPARE(f.pages[1]->graphicsEffect() != nullptr, transitioning);
    QTRY_VERIFY(f.atRest(1));
}

void TestWindow::pageQuickSecondSwitchSettlesTheFirst()
{
    Pages f;
    f.stack.setCurrentIndexAnimated(1);
    f.stack.setCurrentIndexAnimated(2);
    QVERIFY(f.atRest(1));
    QVERIFY(!f.pages[1]->isVisible());
    QCOMPARE(f.stack.currentIndex(), 2);
    QTRY_VERIFY(f.atRest(2));

    f.stack.setCurrentIndexAnimated(3);
    f.stack.finishTransition();
    QVERIFY(f.atRest(3));
    QCOMPARE(f.pages[3]->geometry(), f.stack.rect());
}

void TestWindow::pageDeletedMidTransition()
{
    Pages f;
    f.stack.setCurrentIndexAnimated(2);
    delete f.pages.takeAt(2);
    f.stack.finishTransition();
    f.stack.setCurrentIndexAnimated(0);
    QTRY_VERIFY(f.atRest(0));
    QCOMPARE(f.stack.count(), 3);
}

OSTRA_TEST_MAIN_WIDGETS(TestWindow)
#include "tst_window.moc"
