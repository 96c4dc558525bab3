#include <QApplication>
#include <QPainter>
#include <QSettings>

#include "app/disclaimerdialog.h"
#include "app/mainwindow.h"
#include "app/profilemanagerdialog.h"
#include "bridge/corvanecontroller.h"
#include "ostraui/pagestack.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "profiles/profilemanager.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"

namespace {

QString picture(const QString &name)
{
    return ostratest::artefactDir("app")
           + QStringLiteral("/%1-%2.png").arg(name, ostra::isDarkTheme() ? "dark" : "light");
}

// A picture of the window that is not just its backdrop.
void save(const QImage &image, const QString &name)
{
    QImage blank(image.size(), image.format());
    blank.fill(ostra::ThemeColors::windowBg);
    QVERIFY(image != blank);
    QVERIFY(image.save(picture(name)));
}

// A dialog over its dimmed window, as the user sees it.
QImage composed(QWidget &window, QDialog &dialog)
{
    dialog.show();
    QCoreApplication::processEvents();
    QImage image = window.grab().toImage();
    const QImage card = dialog.grab().toImage();
    QPainter(&image).drawImage(QPoint((image.width() - card.width()) / 2, (image.height() - card.height()) / 2), card);
    return image;
}

} // namespace

// Paints every page of the main window, its collapsed sidebar and its two dialogs in the theme
// chosen by QOROSTRA_THEME, and leaves the pictures under the build folder to be looked at. Run
// without QOROSTRA_THEME it renders the light theme and runs itself once more for the dark one.
class TestAppRender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        QSettings().setValue(QStringLiteral("ui/reduceMotion"), true);
    }

    void pages()
    {
        MainWindow window;
        window.controller()->profileManager()->createProfile(QStringLiteral("Touring car"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        static const char *const names[] = {"start", "car", "info", "vehicles", "helicopter", "platforms", "motion",
                                            "racecontrol"};
        auto *stack = window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"));
        for (int page = 0; page < 8; ++page) {
            window.showPage(page);
            stack->finishTransition();
            QCoreApplication::processEvents();
            save(window.grab().toImage(), QStringLiteral("page-%1-%2").arg(page, 2, 10, QLatin1Char('0')).arg(names[page]));
        }
        window.showPage(0);
        stack->finishTransition();
        window.findChild<ostra::Sidebar *>()->setCollapsed(true, false);
        QCoreApplication::processEvents();
        save(window.grab().toImage(), QStringLiteral("sidebar-collapsed"));
        window.findChild<ostra::Sidebar *>()->setCollapsed(false, false);

        corvane::DisclaimerDialog disclaimer(&window);
        save(composed(window, disclaimer), QStringLiteral("dialog-disclaimer"));
        disclaimer.reject();
        corvane::ProfileManagerDialog profiles(window.controller()->profileManager(), &window);
        save(composed(window, profiles), QStringLiteral("dialog-profiles"));
        profiles.reject();
    }

    void darkTheme()
    {
        if (ostra::isDarkTheme())
            QSKIP("this run is the dark one");
        QVERIFY(ostratest::runDarkTwin(QStringLiteral("app"), {QStringLiteral("pages")}));
        QVERIFY(QFile::exists(ostratest::artefactDir("app") + "/page-02-info-dark.png"));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestAppRender)
#include "tst_apprender.moc"
