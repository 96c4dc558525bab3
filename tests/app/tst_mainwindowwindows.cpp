#include <QApplication>
#include <QPointer>
#include <QTest>

#include "app/mainwindow.h"
#include "dialogs/dashboardwidget.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"

class TestMainWindowWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void dashboardOpensFullScreenAndDeletesItselfOnEscape()
    {
        MainWindow window;
        window.onOpenDashboard();
        window.onOpenDashboard();
        QList<QPointer<corvane::DashboardWidget>> open;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *dash = qobject_cast<corvane::DashboardWidget *>(top))
                open << dash;
        }
        QCOMPARE(open.size(), 2); // not modal: every opening is a window of its own
        for (const auto &dash : open) {
            QVERIFY(dash->isFullScreen());
            QVERIFY(!dash->parentWidget());
            QVERIFY(QTest::qWaitForWindowExposed(dash.data()));
            QTest::keyClick(dash.data(), Qt::Key_Escape);
        }
        QTRY_VERIFY(std::all_of(open.cbegin(), open.cend(), [](const auto &d) { return d.isNull(); }));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestMainWindowWindows)
#include "tst_mainwindowwindows.moc"
