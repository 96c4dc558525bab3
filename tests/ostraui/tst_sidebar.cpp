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

const QStringList kPages{"Dashboard", "Motion System", "Corvane", "Race control"};

template <typename T> T *byText(const QWidget &parent, const QString &text)
{
    const QList<T *> all = parent.findChildren<T *>();
    for (T *child : all) {
        if (child->text() == text)
            return child;
    }
    return nullptr;
}

struct Shell
{
    Sidebar sidebar{QStringLiteral("v1.2.3")};

    Shell()
    {
        sidebar.resize(236, 720);
        sidebar.show();
        QCoreApplication::processEvents();
    }
    NavButton *entry(const QString &text) const { return byText<NavButton>(sidebar, text); }
    NavButton *page(int i) const { return entry(kPages[i]); }
    bool labelShown(const QString &text) const { return byText<QLabel>(sidebar, text)->isVisible(); }
    // The highlight is the only thing painting ink behind an entry's left edge.
    bool highlighted(int i)
    {
        const QPoint probe = page(i)->mapTo(&sidebar, QPoint(6, 6));
        return sidebar.grab().toImage().pixelColor(probe) == ostra::ThemeColors::ink;
    }
    QList<bool> states(const std::function<bool(NavButton *)> &state) const
    {
        QList<bool> out;
        for (int i = 0; i < 4; ++i)
            out.append(state(page(i)));
        return out;
    }
};

} // namespace

class TestSidebar : public QObject
{
    Q_OBJECT

private slots:
    void currentIndex_data();
    void currentIndex();
    void clicksOnlyEmit();
    void collapseAndExpand_data();
    void collapseAndExpand();
    void indicators_data();
    void indicators();
};

void TestSidebar::currentIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("animated");
    QTest::newRow("at first") << 0 << false;
    QTest::newRow("third entry") << 2 << false;
    QTest::newRow("last entry animated") << 3 << true;
    QTest::newRow("info") << -1 << false;
    QTest::newRow("past the entries") << 4 << true;
}

void TestSidebar::currentIndex()
{
    QFETCH(int, index);
    QFETCH(bool, animated);
    Shell s;
    QCOMPARE(s.sidebar.width(), 236);
    s.sidebar.setCurrentIndex(index, animated);
    QCOMPARE(s.sidebar.currentIndex(), index);
    QCOMPARE(s.entry("Info")->isActive(), index < 0);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(s.page(i)->isActive(), i == index);
        QTRY_COMPARE(s.highlighted(i), i == index);
    }
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
    QTest::mouseClick(s.entry("Info"), Qt::LeftButton);
    // The theme is light: the switch offers the dark theme.
    QCOMPARE(s.entry("Dark mode")->toolTip(), QStringLiteral("Switch to the dark theme"));
    QTest::mouseClick(s.entry("Dark mode"), Qt::LeftButton);
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
        if (!byHamburger)
            return s.sidebar.setCollapsed(collapsed, false);
        for (QAbstractButton *b : s.sidebar.findChildren<QAbstractButton *>()) {
            if (b->toolTip() == QStringLiteral("Collapse / expand the sidebar"))
                QTest::mouseClick(b, Qt::LeftButton);
        }
    };
    for (bool collapsed : {true, false}) {
        toggle(collapsed);
        QCOMPARE(s.sidebar.isCollapsed(), collapsed);
        QTRY_COMPARE(s.sidebar.width(), collapsed ? 76 : 236);
        QTRY_COMPARE(s.labelShown("OSTRA"), !collapsed);
        QCOMPARE(s.labelShown("v1.2.3"), !collapsed);
        QCOMPARE(s.states(&NavButton::isCollapsed), QList<bool>(4, collapsed));
        QCOMPARE(s.entry("Info")->isCollapsed(), collapsed);
        QTRY_VERIFY(s.highlighted(2));
        // The same state again changes nothing.
        s.sidebar.setCollapsed(collapsed, false);
        QCOMPARE(s.sidebar.width(), collapsed ? 76 : 236);
    }
}

void TestSidebar::indicators_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("whileCollapsed");
    QTest::newRow("entry 1") << 1 << false;
    QTest::newRow("entry 2 while collapsed") << 2 << true;
    QTest::newRow("index 4 ignored") << 4 << false;
    QTest::newRow("index -1 ignored") << -1 << false;
}

void TestSidebar::indicators()
{
    QFETCH(int, index);
    QFETCH(bool, whileCollapsed);
    Shell s;
    const auto shown = [&s] { return s.states([](NavButton *b) { return b->dot()->isVisible(); }); };
    if (whileCollapsed)
        s.sidebar.setCollapsed(true, false);
    s.sidebar.setItemIndicator(index, true);
    if (whileCollapsed) {
        QCOMPARE(shown(), QList<bool>(4, false));
        s.sidebar.setCollapsed(false, false);
    }
    QList<bool> dots(4, false);
    if (index >= 0 && index < 4)
        dots[index] = true;
    QCOMPARE(shown(), dots);
    if (!dots.contains(true))
        return;
    QVERIFY(s.page(index)->dot()->isPulsing());
    // Collapsing hides the dot; switching it off keeps it off after expanding.
    s.sidebar.setCollapsed(true, false);
    QVERIFY(!s.page(index)->dot()->isVisible());
    s.sidebar.setItemIndicator(index, false);
    s.sidebar.setCollapsed(false, false);
    QVERIFY(!s.page(index)->dot()->isVisible());
    QVERIFY(!s.page(index)->dot()->isPulsing());
}

OSTRA_TEST_MAIN_WIDGETS(TestSidebar)
#include "tst_sidebar.moc"
