#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWindow>

#include "ostraui/ambientbackground.h"
#include "ostraui/dot.h"
#include "ostraui/framelessresizer.h"
#include "ostraui/navbutton.h"
#include "ostraui/pageheader.h"
#include "ostraui/pagestack.h"
#include "ostraui/sidebar.h"
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
        window.resize(800, 500);
        bar = new TitleBar(&window, &window);
        bar->setGeometry(0, 0, 800, 38);
        window.show();
        QCoreApplication::processEvents();
    }
    QAbstractButton *button(int i) const { return bar->findChildren<QAbstractButton *>().value(i); }
};

const QStringList kPages{"Dashboard", "Motion System", "Corvane", "Race control"};

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
    NavButton *page(int i) const { return entry(kPages[i]); }
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
    void titleBarButtons();
    void titleBarHitsButton_data();
    void titleBarHitsButton();
    void resizerEdges_data();
    void resizerEdges();
    void resizerCursorAndPressesInside();
    void sidebarCurrentIndex_data();
    void sidebarCurrentIndex();
    void sidebarClicksOnlyEmit();
    void sidebarCollapseAndIndicators();
    void backdropAnimatesOnlyWhenShownAndAllowed();
    void headerBackLink();
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
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(f.button(i), Qt::LeftButton);
        for (int j = 0; j < 3; ++j)
            QCOMPARE(spies[j]->size(), j <= i ? 1 : 0);
    }
    // A left double click on the bar maximises; a right one does not.
    QTest::mouseDClick(f.bar, Qt::LeftButton, {}, QPoint(300, 19));
    QTest::mouseDClick(f.bar, Qt::RightButton, {}, QPoint(300, 19));
    QCOMPARE(maximize.size(), 2);
    // The middle button offers to restore a maximised window.
    f.window.setWindowState(Qt::WindowMaximized);
    f.bar->updateMaximizeButton();
    QCOMPARE(f.button(1)->toolTip(), QStringLiteral("Restore"));
}

void TestWindow::titleBarHitsButton_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("hideClose");
    QTest::addColumn<bool>("hits");
    QTest::newRow("just left of minimise") << QPoint(800 - 139, 19) << false << false;
    QTest::newRow("minimise") << QPoint(800 - 138, 19) << false << true;
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

void TestWindow::resizerEdges_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<int>("edges");
    // A 600 x 400 window with a 6 px border.
    QTest::newRow("left inner border") << QPoint(5, 200) << int(Qt::LeftEdge);
    QTest::newRow("just past the border") << QPoint(6, 200) << 0;
    QTest::newRow("bottom-right corner") << QPoint(597, 396) << int(Qt::RightEdge | Qt::BottomEdge);
    QTest::newRow("outside") << QPoint(600, 200) << 0;
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
}

void TestWindow::resizerCursorAndPressesInside()
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
    QTest::mouseMove(window.windowHandle(), QPoint(598, 398));
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::SizeFDiagCursor);
    // Back inside, the pointer is the widgets' own again, and presses reach them.
    QTest::mouseMove(window.windowHandle(), QPoint(300, 200));
    QVERIFY(!QGuiApplication::overrideCursor());
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(300, 200));
    QCOMPARE(clicked.size(), 1);
}

void TestWindow::sidebarCurrentIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("last entry") << 3;
    QTest::newRow("info") << -1;
}

void TestWindow::sidebarCurrentIndex()
{
    QFETCH(int, index);
    Shell s;
    s.sidebar.setCurrentIndex(index, true);
    QCOMPARE(s.entry("Info")->isActive(), index < 0);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(s.page(i)->isActive(), i == index);
        QTRY_COMPARE(s.highlighted(i), i == index);
    }
    // Back to an entry after Info: the highlight shows again, at that entry.
    s.sidebar.setCurrentIndex(1, true);
    QTRY_VERIFY(s.highlighted(1));
}

void TestWindow::sidebarClicksOnlyEmit()
{
    Shell s;
    QSignalSpy navigate(&s.sidebar, &Sidebar::navigate);
    QSignalSpy info(&s.sidebar, &Sidebar::infoRequested);
    QSignalSpy theme(&s.sidebar, &Sidebar::themeToggleRequested);
    QTest::mouseClick(s.page(3), Qt::LeftButton);
    QTest::mouseClick(s.entry("Info"), Qt::LeftButton);
    QTest::mouseClick(s.entry("Dark mode"), Qt::LeftButton);
    QCOMPARE(navigate.size(), 1);
    QCOMPARE(navigate.at(0).at(0).toInt(), 3);
    QCOMPARE(info.size(), 1);
    QCOMPARE(theme.size(), 1);
    // The owner decides: the current entry stays until it is set.
    QCOMPARE(s.sidebar.currentIndex(), 0);
}

void TestWindow::sidebarCollapseAndIndicators()
{
    Shell s;
    s.sidebar.setCurrentIndex(2, false);
    s.sidebar.setItemIndicator(1, true);
    s.sidebar.setItemIndicator(4, true);
    QVERIFY(s.page(1)->dot()->isVisible());
    QAbstractButton *hamburger = nullptr;
    for (QAbstractButton *b : s.sidebar.findChildren<QAbstractButton *>()) {
        if (b->toolTip() == QStringLiteral("Collapse / expand the sidebar"))
            hamburger = b;
    }
    // Collapsed, the entries narrow and hide their dots; the highlight stays on the current one.
    for (bool collapsed : {true, false}) {
        QTest::mouseClick(hamburger, Qt::LeftButton);
        QCOMPARE(s.sidebar.isCollapsed(), collapsed);
        QTRY_COMPARE(s.sidebar.width(), collapsed ? 76 : 236);
        QCOMPARE(s.page(0)->isCollapsed(), collapsed);
        QCOMPARE(s.page(1)->dot()->isVisible(), !collapsed);
        QTRY_VERIFY(s.highlighted(2));
    }
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
    bg.hide();
    QVERIFY(!bg.isAnimating());
}

void TestWindow::headerBackLink()
{
    PageHeader header;
    header.show();
    auto *back = header.findChild<QPushButton *>();
    QSignalSpy clicked(&header, &PageHeader::backClicked);
    QVERIFY(!back->isVisible());
    header.setBackText(QStringLiteral("Vehicles"));
    QCOMPARE(back->text(), QStringLiteral("\u2190  Vehicles"));
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(clicked.size(), 1);
    header.setBackText(QString());
    QVERIFY(!back->isVisible());
}

void TestWindow::pageSwitchEndsAtRest_data()
{
    QTest::addColumn<QList<int>>("sequence");
    QTest::newRow("one switch") << QList<int>{2};
    QTest::newRow("there and back") << QList<int>{3, 0};
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
