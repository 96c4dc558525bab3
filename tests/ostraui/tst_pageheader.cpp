#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include "ostraui/pageheader.h"
#include "support/testenvironment.h"

using ostra::PageHeader;

class TestPageHeader : public QObject
{
    Q_OBJECT

private slots:
    void backLink_data();
    void backLink();
    void titleAndActions();
};

void TestPageHeader::backLink_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("shown");

    QTest::newRow("none at first") << QStringList{} << QString();
    QTest::newRow("page name") << QStringList{QStringLiteral("Vehicles")} << QStringLiteral("\u2190  Vehicles");
    QTest::newRow("removed again") << QStringList{QStringLiteral("Vehicles"), QString()} << QString();
    QTest::newRow("replaced") << QStringList{QStringLiteral("Vehicles"), QStringLiteral("Start")}
                              << QStringLiteral("\u2190  Start");
}

void TestPageHeader::backLink()
{
    QFETCH(QStringList, texts);
    QFETCH(QString, shown);

    PageHeader header;
    header.show();
    for (const QString &text : texts)
        header.setBackText(text);
    auto *back = header.findChild<QPushButton *>();
    QVERIFY(back);
    QVERIFY(back->property("back").toBool());
    QCOMPARE(back->text(), shown);
    QCOMPARE(back->isVisible(), !shown.isEmpty());

    QSignalSpy clicked(&header, &PageHeader::backClicked);
    if (back->isVisible()) {
        QTest::mouseClick(back, Qt::LeftButton);
        QCOMPARE(clicked.size(), 1);
    }
}

void TestPageHeader::titleAndActions()
{
    PageHeader header;
    header.setTitle(QStringLiteral("Race control"));
    auto *title = header.findChild<QLabel *>();
    QCOMPARE(title->text(), QStringLiteral("Race control"));
    QVERIFY(std::abs(title->font().letterSpacing() + 0.7) < 0.02);

    auto *action = new QPushButton(QStringLiteral("Add station"));
    action->setFixedSize(120, 34);
    header.actionsRow()->addWidget(action);
    header.resize(900, header.sizeHint().height());
    header.show();
    QCoreApplication::processEvents();
    // At the right end, inside the header's margins, bottom-aligned with the title.
    QCOMPARE(action->geometry().right(), 900 - 8 - 1);
    QCOMPARE(action->geometry().bottom(), header.height() - 22 - 1);
    QVERIFY(title->geometry().left() == 8);
}

OSTRA_TEST_MAIN_WIDGETS(TestPageHeader)
#include "tst_pageheader.moc"
