#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolTip>

#include <memory>

#include "app/disclaimerdialog.h"
#include "app/mainwindow.h"
#include "app/profilemanagerdialog.h"
#include "bridge/corvanecontroller.h"
#include "motion/pages/ffbmotionpreviewdialog.h"
#include "ostraui/pageheader.h"
#include "ostraui/pagestack.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"

namespace {

// The style changes each widget receives from installation on.
struct StyleChangeCount : QObject
{
    StyleChangeCount() { qApp->installEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::StyleChange && watched->isWidgetType())
            ++seen[watched];
        return false;
    }
    QHash<QObject *, int> seen;
};

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

// The window shown on a page, its switch done.
bool showOn(MainWindow &window, int page)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    window.showPage(page);
    window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
    QCoreApplication::processEvents();
    return true;
}

// Where a label's text begins, in the window's coordinates.
int textLeft(const QLabel *label)
{
    return label->mapTo(label->window(), label->contentsRect().topLeft()).x();
}

// The first column of a rectangle of the picture that shows anything but the card's colour.
int firstPainted(const QImage &image, const QRect &rect)
{
    for (int x = rect.left(); x <= rect.right(); ++x) {
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            if (image.pixelColor(x, y) != ostra::ThemeColors::surface)
                return x;
        }
    }
    return -1;
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
        corvane::SettingsFile().setValue(QStringLiteral("ui/reduceMotion"), true);
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

    void subtitlesLineUp_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << 0 << "Choose a product to get started";
        QTest::newRow("vehicles title") << 3 << "What are you driving?";
        QTest::newRow("vehicles subtitle") << 3 << "Pick a vehicle type. You can switch at any time.";
        QTest::newRow("platforms subtitle") << 5 << "One controller drives every platform \u2014 pick yours to see its tests.";
        QTest::newRow("race control") << 7 << "Watch and control every car at once: stop all, speed caps, safety link.";
    }

    // A page's subtitle begins where the page title above it begins.
    void subtitlesLineUp()
    {
        QFETCH(int, page);
        QFETCH(QString, text);
        MainWindow window;
        QVERIFY(showOn(window, page));
        const QLabel *title = window.findChild<ostra::PageHeader *>()->findChild<QLabel *>();
        const QLabel *subtitle = nullptr;
        for (const QLabel *label : window.findChildren<QLabel *>())
            subtitle = label->isVisible() && label->text() == text ? label : subtitle;
        QVERIFY(subtitle);
        QCOMPARE(textLeft(subtitle), textLeft(title));
    }

    void dialogTitlesLineUp_data()
    {
        QTest::addColumn<QString>("key");
        for (const QString &key : MainWindow::snapshotDialogKeys())
            QTest::newRow(qPrintable(key)) << key;
    }

    // A dialog's content begins under the first letter of its title, within the pixel by which
    // glyphs of different sizes stand off their boxes.
    void dialogTitlesLineUp()
    {
        QFETCH(QString, key);
        MainWindow window;
        std::unique_ptr<QDialog> dialog(window.buildSnapshotDialog(key));
        dialog->show();
        QCoreApplication::processEvents();
        const QImage image = dialog->grab().toImage();
        const auto inDialog = [&](const QWidget *widget) {
            return QRect(widget->mapTo(dialog.get(), QPoint()), widget->size());
        };
        const QRect title = inDialog(dialog->findChild<QWidget *>(QStringLiteral("ostraDialogHeader"))->findChild<QLabel *>());
        // Clear of the card's border and its rounded bottom corners.
        const QRect content =
            inDialog(dialog->findChild<QAbstractScrollArea *>(QStringLiteral("ostraDialogScroll"))->viewport())
                .adjusted(3, 0, 0, -22);
        const int offset = firstPainted(image, title) - firstPainted(image, content);
        QVERIFY2(qAbs(offset) <= 1, qPrintable(QString::number(offset)));
    }

    void dialogsRestyleWidgetsOnce_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<double>("perWidget");
        // These make every widget where it stays: no move restyles any of them again. The
        // helicopter's are built in their card: styled as made and once more as it takes them.
        const QStringList inPlace = {"axis", "drive", "buttons", "led", "ffb"};
        const QStringList inCard = {"heli-config", "heli-fly", "heli-curves", "heli-arming"};
        for (const QString &key : MainWindow::snapshotDialogKeys())
            QTest::newRow(qPrintable(key)) << key << (inPlace.contains(key) ? 1.75 : inCard.contains(key) ? 2.0 : 4.0);
    }

    // Under the theme's style sheet every move of a widget restyles it and all it holds, and a
    // dialog built on the thread that sends the channel frames holds them back meanwhile. A
    // widget is styled as it is made and once more as the dialog takes its card; a move into a
    // card or a row may add one or two, never a tab or a scroll page moved in whole once filled.
    void dialogsRestyleWidgetsOnce()
    {
        QFETCH(QString, key);
        QFETCH(double, perWidget);
        MainWindow window;
        StyleChangeCount count;
        std::unique_ptr<QDialog> dialog(window.buildSnapshotDialog(key));
        qApp->removeEventFilter(&count);
        int restyles = 0;
        for (int n : std::as_const(count.seen))
            restyles += n;
        const int widgets = int(dialog->findChildren<QWidget *>().size()) + 1;
        QVERIFY2(restyles <= perWidget * widgets, qPrintable(QStringLiteral("%1 for %2 widgets").arg(restyles).arg(widgets)));
    }

    void dialogTextsLineUp_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("setup guide, kicker") << "onboarding" << "Setup guide";
        QTest::newRow("setup guide, page heading") << "onboarding" << "Before we start";
        QTest::newRow("preview, intro") << "preview"
                                        << "What the car's telemetry does to the steering wheel and a 3DOF motion system, "
                                           "live. Start transmission with the car on; no wheel or rig needed.";
    }

    // A dialog's own texts begin where its title begins.
    void dialogTextsLineUp()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        MainWindow window;
        std::unique_ptr<QDialog> dialog(key == QLatin1String("preview")
                                            ? new corvane::FfbMotionPreviewDialog(window.controller(), &window)
                                            : window.buildSnapshotDialog(key));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        const QLabel *title = dialog->findChild<QWidget *>(QStringLiteral("ostraDialogHeader"))->findChild<QLabel *>();
        const QLabel *label = nullptr;
        for (const QLabel *candidate : dialog->findChildren<QLabel *>())
            label = candidate->isVisible() && candidate->text() == text ? candidate : label;
        QVERIFY(label);
        QCOMPARE(textLeft(label), textLeft(title));
    }

    void refreshButtonsLookAlike_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("dialog");
        QTest::newRow("car page") << 1 << "";
        QTest::newRow("helicopter page") << 4 << "";
        QTest::newRow("motion page") << 6 << "";
        QTest::newRow("radio calibration") << 0 << "radio-cal";
        QTest::newRow("receiver firmware") << 0 << "fw-receiver";
        QTest::newRow("receiver V4 firmware") << 0 << "fw-receiver-v4";
    }

    // Every Refresh beside a device or port list is the kit's plain button: its fill and border.
    void refreshButtonsLookAlike()
    {
        QFETCH(int, page);
        QFETCH(QString, dialog);
        MainWindow window;
        QVERIFY(showOn(window, page));
        std::unique_ptr<QDialog> shown(dialog.isEmpty() ? nullptr : window.buildSnapshotDialog(dialog));
        QWidget *holder = shown ? static_cast<QWidget *>(shown.get()) : &window;
        if (shown)
            shown->show();
        QCoreApplication::processEvents();
        QPushButton *refresh = nullptr;
        for (QPushButton *button : holder->findChildren<QPushButton *>())
            refresh = button->isVisible() && button->text() == QLatin1String("Refresh") ? button : refresh;
        QVERIFY(refresh);
        const QImage image = refresh->grab().toImage();
        const int mid = image.height() / 2;
        QCOMPARE(image.pixelColor(4, mid), ostra::ThemeColors::surface);
        QCOMPARE(image.pixelColor(0, mid), ostra::ThemeColors::border);
    }

    void toolTipsKeepTheirLook_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("main window") << QString();
        for (const QString &key : MainWindow::snapshotDialogKeys())
            QTest::newRow(qPrintable(key)) << key;
    }

    // Every tool tip is the theme's bubble, in its colours and font and with room for its text,
    // whatever the sheet of the widget it belongs to says.
    void toolTipsKeepTheirLook()
    {
        QFETCH(QString, key);
        const auto tip = [] {
            const QWidgetList all = QApplication::topLevelWidgets();
            return *std::find_if(all.cbegin(), all.cend(), [](QWidget *w) { return w->windowType() == Qt::ToolTip && w->isVisible(); });
        };
        // The look of a tool tip of a widget without a sheet of its own.
        QWidget plain;
        QToolTip::showText(QPoint(100, 100), QStringLiteral("Close"), &plain);
        const QFont font = tip()->font();
        const QColor text = tip()->palette().color(tip()->foregroundRole());
        QToolTip::hideText();
        MainWindow window;
        std::unique_ptr<QDialog> dialog(key.isEmpty() ? nullptr : window.buildSnapshotDialog(key));
        QStringList wrong;
        for (QWidget *widget : (dialog ? static_cast<QWidget *>(dialog.get()) : &window)->findChildren<QWidget *>()) {
            if (widget->toolTip().isEmpty())
                continue;
            QToolTip::showText(QPoint(100, 100), widget->toolTip(), widget);
            const QImage image = tip()->grab().toImage();
            if (image.pixelColor(4, image.height() / 2) != ostra::ThemeColors::inverseSurface || tip()->font() != font
                || tip()->palette().color(tip()->foregroundRole()) != text
                || tip()->width() < tip()->sizeHint().width())
                wrong << widget->toolTip();
            QToolTip::hideText();
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    void darkTheme()
    {
        if (ostra::isDarkTheme())
            QSKIP("this run is the dark one");
        QVERIFY(ostratest::runDarkTwin(QStringLiteral("app"), {QStringLiteral("pages"), QStringLiteral("toolTipsKeepTheirLook")}));
        QVERIFY(QFile::exists(ostratest::artefactDir("app") + "/page-02-info-dark.png"));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestAppRender)
#include "tst_apprender.moc"
