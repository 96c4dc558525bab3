#include <QApplication>
#include <QLabel>
#include <QSignalSpy>

#include "ostraui/dot.h"
#include "ostraui/navbutton.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"

using ostra::NavButton;
using ostra::Sidebar;

namespace {

const QStringList kPages{QStringLiteral("Dashboard"), QStringLiteral("Motion System"), QStringLiteral("Corvane"),
                         QStringLiteral("Race control")};

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
        const QList<NavButton *> all = sidebar.findChildren<NavButton *>();
        for (NavButton *b : all) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    NavButton *page(int i) const { return entry(kPages[i]); }
    NavButton *info() const { return entry(QStringLiteral("Info")); }
    QAbstractButton *hamburger() const
    {
        const QList<QAbstractButton *> all = sidebar.findChildren<QAbstractButton *>();
        for (QAbstractButton *b : all) {
            if (b->toolTip() == QStringLiteral("Collapse / expand the sidebar"))
                return b;
        }
        return nullptr;
    }
    QLabel *label(const QString &text) const
    {
        const QList<QLabel *> all = sidebar.findChildren<QLabel *>();
        for (QLabel *l : all) {
            if (l->text() == text)
                return l;
        }
        return nullptr;
    }
    // The highlight is the only thing painting ink behind an entry's left edge.
    bool highlighted(int i)
    {
        NavButton *b = page(i);
        const QPoint probe = b->mapTo(&sidebar, QPoint(6, 6));
        return sidebar.grab().toImage().pixelColor(probe) == ostra::ThemeColors::ink;
    }
    QList<bool> activeStates() const
    {
        QList<bool> out;
        for (int i = 0; i < 4; ++i)
            out.append(page(i)->isActive());
        out.append(info()->isActive());
        return out;
    }
};

} // namespace

class TestSidebar : public QObject
{
    Q_OBJECT

private slots:
    void startsExpandedOnFirstEntry();
    void currentIndex_data();
    void currentIndex();
    void clicksOnlyEmit();
    void collapseAndExpand_data();
    void collapseAndExpand();
    void indicators_data();
    void indicators();
    void navButtonGeometry();
};

void TestSidebar::startsExpandedOnFirstEntry()
{
    Shell s;
    QCOMPARE(s.sidebar.objectName(), QStringLiteral("sidebar"));
    QCOMPARE(s.sidebar.width(), 236);
    QCOMPARE(s.sidebar.currentIndex(), 0);
    QVERIFY(!s.sidebar.isCollapsed());
    QCOMPARE(s.activeStates(), (QList<bool>{true, false, false, false, false}));
    QVERIFY(s.highlighted(0));
    QVERIFY(!s.highlighted(1));
    QVERIFY(s.label(QStringLiteral("v1.2.3"))->isVisible());
    QVERIFY(s.label(QStringLiteral("OSTRA"))->isVisible());
    // The theme is light: the switch offers the dark theme.
    NavButton *toggle = s.entry(QStringLiteral("Dark mode"));
    QVERIFY(toggle);
    QCOMPARE(toggle->toolTip(), QStringLiteral("Switch to the dark theme"));
    QCOMPARE(toggle->iconKind(), int(NavButton::Moon));
    QCOMPARE(s.info()->iconKind(), int(NavButton::InfoIcon));
}

void TestSidebar::currentIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("animated");
    QTest::addColumn<QList<bool>>("active");

    QTest::newRow("third entry") << 2 << false << QList<bool>{false, false, true, false, false};
    QTest::newRow("last entry animated") << 3 << true << QList<bool>{false, false, false, true, false};
    QTest::newRow("info") << -1 << false << QList<bool>{false, false, false, false, true};
    QTest::newRow("past the entries") << 4 << true << QList<bool>{false, false, false, false, false};
}

void TestSidebar::currentIndex()
{
    QFETCH(int, index);
    QFETCH(bool, animated);
    QFETCH(QList<bool>, active);

    Shell s;
    s.sidebar.setCurrentIndex(index, animated);
    QCOMPARE(s.sidebar.currentIndex(), index);
    QCOMPARE(s.activeStates(), active);
    for (int i = 0; i < 4; ++i)
        QTRY_COMPARE(s.highlighted(i), i == index);

    // Back to an entry after Info: the highlight shows again, at that entry.
    s.sidebar.setCurrentIndex(1, true);
    QTRY_VERIFY(s.highlighted(1));
    QVERIFY(!s.highlighted(0));
}

void TestSidebar::clicksOnlyEmit()
{
    Shell s;
    QSignalSpy navigate(&s.sidebar, &Sidebar::navigate);
    QSignalSpy info(&s.sidebar, &Sidebar::infoRequested);
    QSignalSpy theme(&s.sidebar, &Sidebar::themeToggleRequested);
    for (int i = 3; i >= 0; --i)
        QTest::mouseClick(s.page(i), Qt::LeftButton);
    QTest::mouseClick(s.info(), Qt::LeftButton);
    QTest::mouseClick(s.entry(QStringLiteral("Dark mode")), Qt::LeftButton);
    QCOMPARE(navigate.size(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(navigate.at(i).at(0).toInt(), 3 - i);
    QCOMPARE(info.size(), 1);
    QCOMPARE(theme.size(), 1);
    QCOMPARE(s.sidebar.currentIndex(), 0);
    QVERIFY(s.page(0)->isActive());
}

void TestSidebar::collapseAndExpand_data()
{
    QTest::addColumn<bool>("byHamburger");
    QTest::newRow("calls") << false;
    QTest::newRow("hamburger") << true;
}

void TestSidebar::collapseAndExpand()
{
    QFETCH(bool, byHamburger);

    Shell s;
    s.sidebar.setCurrentIndex(2, false);
    const auto toggle = [&](bool collapsed) {
        if (byHamburger)
            QTest::mouseClick(s.hamburger(), Qt::LeftButton);
        else
            s.sidebar.setCollapsed(collapsed, false);
    };

    toggle(true);
    QVERIFY(s.sidebar.isCollapsed());
    QTRY_COMPARE(s.sidebar.width(), 76);
    QVERIFY(!s.label(QStringLiteral("OSTRA"))->isVisible());
    QVERIFY(!s.label(QStringLiteral("v1.2.3"))->isVisible());
    for (int i = 0; i < 4; ++i)
        QVERIFY(s.page(i)->isCollapsed());
    QVERIFY(s.info()->isCollapsed());
    QTRY_VERIFY(s.highlighted(2));

    // Collapsing again changes nothing.
    s.sidebar.setCollapsed(true, false);
    QVERIFY(s.sidebar.isCollapsed());
    QCOMPARE(s.sidebar.width(), 76);

    toggle(false);
    QVERIFY(!s.sidebar.isCollapsed());
    QTRY_COMPARE(s.sidebar.width(), 236);
    QTRY_VERIFY(s.label(QStringLiteral("OSTRA"))->isVisible());
    QVERIFY(s.label(QStringLiteral("v1.2.3"))->isVisible());
    for (int i = 0; i < 4; ++i)
        QVERIFY(!s.page(i)->isCollapsed());
    QTRY_VERIFY(s.highlighted(2));
}

void TestSidebar::indicators_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("whileCollapsed");
    QTest::addColumn<QList<bool>>("dots");

    QTest::newRow("entry 1") << 1 << false << QList<bool>{false, true, false, false};
    QTest::newRow("entry 2 while collapsed") << 2 << true << QList<bool>{false, false, true, false};
    QTest::newRow("index 4 ignored") << 4 << false << QList<bool>{false, false, false, false};
    QTest::newRow("index -1 ignored") << -1 << false << QList<bool>{false, false, false, false};
}

void TestSidebar::indicators()
{
    QFETCH(int, index);
    QFETCH(bool, whileCollapsed);
    QFETCH(QList<bool>, dots);

    Shell s;
    const auto shown = [&] {
        QList<bool> out;
        for (int i = 0; i < 4; ++i)
            out.append(s.page(i)->dot()->isVisible());
        return out;
    };
    if (whileCollapsed)
        s.sidebar.setCollapsed(true, false);
    s.sidebar.setItemIndicator(index, true);
    if (whileCollapsed) {
        QCOMPARE(shown(), (QList<bool>{false, false, false, false}));
        s.sidebar.setCollapsed(false, false);
    }
    QCOMPARE(shown(), dots);
    if (dots.contains(true)) {
        QVERIFY(s.page(index)->dot()->isPulsing());
        // Collapsing hides the dot; switching it off keeps it off after expanding.
        s.sidebar.setCollapsed(true, false);
        QVERIFY(!s.page(index)->dot()->isVisible());
        s.sidebar.setItemIndicator(index, false);
        s.sidebar.setCollapsed(false, false);
        QVERIFY(!s.page(index)->dot()->isVisible());
        QVERIFY(!s.page(index)->dot()->isPulsing());
    }
}

void TestSidebar::navButtonGeometry()
{
    NavButton button(QStringLiteral("Dashboard"));
    QCOMPARE(button.sizeHint(), QSize(200, 40));
    QCOMPARE(button.toolTip(), QStringLiteral("Dashboard"));
    QCOMPARE(button.height(), 40);
    button.resize(216, 40);
    button.show();
    QCOMPARE(button.dot()->geometry(), QRect(198, 17, 6, 6));
    QVERIFY(button.dot()->isHidden());
}

OSTRA_TEST_MAIN_WIDGETS(TestSidebar)
#include "tst_sidebar.moc"
