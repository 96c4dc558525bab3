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
    void backLink();
    void titleAndActions();
};

void TestPageHeader::backLink()
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

void TestPageHeader::titleAndActions()
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

OSTRA_TEST_MAIN_WIDGETS(TestPageHeader)
#include "tst_pageheader.moc"
