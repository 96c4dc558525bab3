#include <QApplication>
#include <QLabel>
#include <QSignalSpy>

#include "ostraui/pagestack.h"
#include "support/testenvironment.h"

using ostra::PageStack;

namespace {

struct Fixture
{
    PageStack stack;
    QList<QWidget *> pages;

    Fixture()
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

class TestPageStack : public QObject
{
    Q_OBJECT

private slots:
    void switchEndsAtRest_data();
    void switchEndsAtRest();
    void sameOrInvalidIndexDoesNothing_data();
    void sameOrInvalidIndexDoesNothing();
    void quickSecondSwitchSettlesTheFirst();
    void pageDeletedMidTransition();
};

void TestPageStack::switchEndsAtRest_data()
{
    QTest::addColumn<QList<int>>("sequence");
    QTest::newRow("one switch") << QList<int>{2};
    QTest::newRow("there and back") << QList<int>{3, 0};
    QTest::newRow("every page") << QList<int>{1, 2, 3, 0};
}

void TestPageStack::switchEndsAtRest()
{
    QFETCH(QList<int>, sequence);
    Fixture f;
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

void TestPageStack::sameOrInvalidIndexDoesNothing_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("current") << 1;
    QTest::newRow("negative") << -1;
    QTest::newRow("past the end") << 4;
}

void TestPageStack::sameOrInvalidIndexDoesNothing()
{
    QFETCH(int, index);
    Fixture f;
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

void TestPageStack::quickSecondSwitchSettlesTheFirst()
{
    Fixture f;
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

void TestPageStack::pageDeletedMidTransition()
{
    Fixture f;
    f.stack.setCurrentIndexAnimated(2);
    delete f.pages.takeAt(2);
    f.stack.finishTransition();
    f.stack.setCurrentIndexAnimated(0);
    QTRY_VERIFY(f.atRest(0));
    QCOMPARE(f.stack.count(), 3);
}

OSTRA_TEST_MAIN_WIDGETS(TestPageStack)
#include "tst_pagestack.moc"
