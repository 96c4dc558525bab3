#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTabWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <memory>

#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "ostraui/theme.h"
#include "ostraui/titlebar.h"
#include "platform/storage/settingsfile.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/widgets/themedrender.h"
#include "support/writesdone.h"

// The program's windows on a real X desktop: ctest runs this under Xvfb with openbox and with
// no window manager, on screens from 1024 x 700 up. Where dialogs open, whether the window and
// every dialog fit the screen, and whether footer buttons stay clear of the content.
namespace {

QRect globalRect(const QWidget *widget)
{
    return QRect(widget->mapToGlobal(QPoint()), widget->size());
}

QRect available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

QString screenName()
{
    const QSize size = QGuiApplication::primaryScreen()->size();
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QString text(const QRect &rect)
{
    return QStringLiteral("%1x%2 at %3,%4").arg(rect.width()).arg(rect.height()).arg(rect.x()).arg(rect.y());
}

// Chromed dialogs are frameless: their geometry is what shows. (Qt's frame geometry of a window
// openbox leaves undecorated can carry stale frame margins.)
bool centredOver(const QWidget *dialog, const QWidget *window)
{
    const QPoint offset = dialog->geometry().center() - window->frameGeometry().center();
    return qAbs(offset.x()) <= 2 && qAbs(offset.y()) <= 2;
}

// Widgets that one layout places side by side must not cover each other: they do only when the
// layout was squeezed below its minimum.
QString overlapIn(QWidget *root)
{
    for (QWidget *parent : root->findChildren<QWidget *>()) {
        QLayout *layout = parent->layout();
        if (!parent->isVisible() || !layout || qobject_cast<QStackedLayout *>(layout))
            continue;
        QList<QWidget *> placed;
        for (QWidget *child : parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            if (child->isVisible() && !child->isWindow() && layout->indexOf(child) >= 0)
                placed << child;
        }
        for (int i = 0; i < placed.size(); ++i) {
            for (int j = i + 1; j < placed.size(); ++j) {
                if (placed[i]->geometry().intersects(placed[j]->geometry()))
                    return QStringLiteral("%1 covers %2 in %3")
                        .arg(placed[i]->metaObject()->className(), placed[j]->metaObject()->className(),
                             parent->objectName());
            }
        }
    }
    return QString();
}

// A label narrower or shorter than its text needs, or a dialog card standing taller than what
// it holds by more than its bottom margin.
QString cutOrEmptyIn(QWidget *root)
{
    for (QLabel *label : root->findChildren<QLabel *>()) {
        if (label->isVisible() && (label->wordWrap() ? label->heightForWidth(label->width()) > label->height()
                                                     : label->sizeHint().width() > label->width()))
            return QStringLiteral("cut: ") + label->text();
    }
    for (QWidget *card : root->findChildren<QWidget *>()) {
        if (!card->isVisible() || !card->property("dlgCard").toBool() || !card->layout())
            continue;
        int bottom = 0;
        for (QWidget *part : card->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            bottom = part->isVisible() ? std::max(bottom, part->geometry().bottom() + 1) : bottom;
        if (card->height() - bottom - card->layout()->contentsMargins().bottom() > 24)
            return QStringLiteral("empty: %1 px under %2").arg(card->height() - bottom).arg(card->findChild<QLabel *>()->text());
    }
    return QString();
}

// The window that holds the X server's keyboard focus.
xcb_window_t inputFocus()
{
    xcb_connection_t *connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_get_input_focus_reply_t *reply = xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
    const xcb_window_t focus = reply ? reply->focus : xcb_window_t(XCB_NONE);
    free(reply);
    return focus;
}

// Moves the keyboard to the pointer root at the server's present time: later than any time the
// program has seen, as a window manager's move can be.
void dropKeyboardNow()
{
    xcb_connection_t *connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, XCB_INPUT_FOCUS_POINTER_ROOT, XCB_CURRENT_TIME);
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("runs on an X display (tests/support/xvfbrun.sh)");
        ostra::installTheme(*qApp);
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // 1440 x 900 where the screen has room, never larger than its available area, centred on it.
    void mainWindowFits()
    {
        const QRect area = available();
        QTRY_VERIFY2(area.contains(m_window->frameGeometry()), qPrintable(screenName()));
        QCOMPARE(m_window->size(), QSize(1440, 900).boundedTo(area.size()));
        QVERIFY(qAbs(m_window->frameGeometry().center().x() - area.center().x()) <= 1);
        QVERIFY(qAbs(m_window->frameGeometry().center().y() - area.center().y()) <= 1);
    }

    // A real double click (through the X server, as a user's) on the title bar maximises, and
    // another restores; pressing the bar must not hand the pointer to the window manager before
    // the pointer moves.
    void titleBarDoubleClickMaximises()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs xdotool");
        auto *bar = m_window->findChild<ostra::TitleBar *>();
        const auto doubleClick = [&] {
            const QPoint at = bar->mapToGlobal(QPoint(bar->width() / 3, bar->height() / 2));
            QProcess::execute(QStringLiteral("xdotool"),
                              {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                               QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                               QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
        };
        doubleClick();
        QTRY_VERIFY(m_window->isMaximized());
        QTest::qWait(300);
        doubleClick();
        QTRY_VERIFY(!m_window->isMaximized());
        QTRY_VERIFY(available().contains(m_window->frameGeometry()));
    }

    void dialogsOpenCentred_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("animated");
        for (const char *key : {"disclaimer", "profiles", "axis"}) {
            QTest::addRow("%s animated", key) << QString::fromLatin1(key) << true;
            QTest::addRow("%s still", key) << QString::fromLatin1(key) << false;
        }
    }

    // Over a main window moved to (300, 120), a dialog opens centred over it, whether it fades in
    // or not, and stays there.
    void dialogsOpenCentred()
    {
        QFETCH(QString, key);
        QFETCH(bool, animated);
        if (!available().contains(QRect(QPoint(300, 120), QSize(1440, 900))))
            QSKIP("the screen is too small to move the window");
        ostra::Motion::instance()->setReducedMotion(!animated);
        m_window->showNormal();
        QTRY_COMPARE(m_window->size(), QSize(1440, 900));
        m_window->move(300, 120);
        QTRY_COMPARE(m_window->frameGeometry().topLeft(), QPoint(300, 120));

        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(key));
        QVERIFY(dialog);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QTRY_COMPARE(dialog->windowOpacity(), 1.0);
        QTRY_VERIFY2(centredOver(dialog.get(), m_window.get()), qPrintable(text(dialog->geometry())));
        QTest::qWait(300);
        QVERIFY(centredOver(dialog.get(), m_window.get()));
        dialog->close();
        ostra::Motion::instance()->setReducedMotion(false);
    }

    void closingADialogGivesTheKeyboardBack_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("closingKey");
        QTest::addColumn<bool>("unheardMove"); // the keyboard moved last at a time the program has not seen
        QTest::newRow("disclaimer, Escape") << "disclaimer" << int(Qt::Key_Escape) << false;
        QTest::newRow("axis, Escape") << "axis" << int(Qt::Key_Escape) << false;
        QTest::newRow("drive, Return") << "drive" << int(Qt::Key_Return) << false;
        QTest::newRow("drive, Return, after an unheard move") << "drive" << int(Qt::Key_Return) << true;
    }

    // The keyboard goes back to the main window when a dialog closes, with a window manager or
    // without one, where the X server would give it to the root window; also when the first
    // request for it carries a time older than the keyboard's last move, which the server ignores.
    void closingADialogGivesTheKeyboardBack()
    {
        QFETCH(QString, key);
        QFETCH(int, closingKey);
        QFETCH(bool, unheardMove);
        m_window->activateWindow();
        QTRY_COMPARE(inputFocus(), xcb_window_t(m_window->winId()));
        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(key));
        dialog->show();
        dialog->activateWindow();
        QTRY_COMPARE(inputFocus(), xcb_window_t(dialog->winId()));
        QTRY_COMPARE(QApplication::activeWindow(), dialog.get());
        QWidget *focused = QApplication::focusWidget();
        if (unheardMove)
            dropKeyboardNow();
        QTest::keyClick(focused, Qt::Key(closingKey));
        QTRY_VERIFY(!dialog->isVisible());
        QTRY_COMPARE(inputFocus(), xcb_window_t(m_window->winId()));
        QTRY_COMPARE(QApplication::activeWindow(), m_window.get());
    }

    // Errors over Manage Profiles, by the keyboard alone: "+ New" on a full disk gives one box
    // naming the profile that could not be saved; two errors at once come one box after the
    // other. Each takes the keys and Return closes it; then the keys are back in Manage
    // Profiles, which Escape closes.
    void errorsOverADialog_data()
    {
        QTest::addColumn<QStringList>("reported"); // by the controller at once; none: "+ New"
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<bool>("dialogGoes"); // deleted, as exec() leaves it, under the first box
        QTest::newRow("new profile on a full disk") << QStringList() << QStringList{"Failed to save profile: Buggy"} << false;
        QTest::newRow("two errors at once") << QStringList{"First", "Second", "First"} << QStringList{"First", "Second"} << false;
        QTest::newRow("the dialog goes under them") << QStringList{"First", "Second"} << QStringList{"First", "Second"} << true;
    }

    void errorsOverADialog()
    {
        QFETCH(QStringList, reported);
        QFETCH(QStringList, boxes);
        QFETCH(bool, dialogGoes);
        const auto errorBoxes = [this] {
            QList<QMessageBox *> shown;
            for (QMessageBox *box : m_window->findChildren<QMessageBox *>(QStringLiteral("corvaneErrorBox"))) {
                if (box->isVisible())
                    shown << box;
            }
            return shown;
        };
        // Through the X server, as a user's, where xdotool is there.
        const auto press = [](Qt::Key key, const QString &name, QWidget *window) {
            if (QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), name}) != 0)
                QTest::keyClick(window, key);
        };
        ostra::Motion::instance()->setReducedMotion(true);
        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(QStringLiteral("profiles")));
        // As exec() shows it.
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->show();
        QTRY_COMPARE(inputFocus(), xcb_window_t(dialog->winId()));
        QTRY_COMPARE(QApplication::activeWindow(), dialog.get());
        if (reported.isEmpty()) {
            const ostratest::Starved full(QStringLiteral("no room"));
            ostratest::ModalAnswerer answer;
            answer.type(QStringLiteral("Buggy"));
            // Return presses the primary "+ New".
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QCOMPARE(answer.pending(), 0);
            QVERIFY(ostratest::writesTried());
        }
        for (const QString &message : reported)
            emit m_window->controller()->errorOccurred(message);
        if (dialogGoes) {
            QTRY_COMPARE(errorBoxes().size(), 1);
            dialog.reset();
        }
        for (const QString &text : boxes) {
            QTRY_COMPARE(errorBoxes().size(), 1);
            QTest::qWait(300);
            QCOMPARE(errorBoxes().size(), 1);
            // Deleted once closed.
            const QPointer<QMessageBox> box = errorBoxes().constFirst();
            QCOMPARE(box->text(), text);
            QTRY_COMPARE(inputFocus(), xcb_window_t(box->winId()));
            press(Qt::Key_Return, QStringLiteral("Return"), box);
            QTRY_VERIFY(!box || !box->isVisible());
        }
        QTRY_VERIFY(errorBoxes().isEmpty());
        if (dialog) {
            QTRY_COMPARE(inputFocus(), xcb_window_t(dialog->winId()));
            press(Qt::Key_Escape, QStringLiteral("Escape"), dialog.get());
            QTRY_VERIFY(!dialog->isVisible());
        }
        ostra::Motion::instance()->setReducedMotion(false);
    }

    void dialogsFit_data()
    {
        QTest::addColumn<QString>("key");
        for (const QString &key : MainWindow::snapshotDialogKeys())
            QTest::newRow(qPrintable(key)) << key;
    }

    // Every dialog fits the screen's available area; its footer buttons lie on the card, below
    // the scrolling content and clear of it; nothing inside is squeezed over its neighbour.
    void dialogsFit()
    {
        QFETCH(QString, key);
        ostra::Motion::instance()->setReducedMotion(true);
        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(key));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QTest::qWait(50);
        QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
        QTRY_VERIFY2(available().contains(dialog->geometry()),
                     qPrintable(QStringLiteral("%1 in %2").arg(text(dialog->geometry()), text(available()))));

        auto *scroll = dialog->findChild<QScrollArea *>(QStringLiteral("ostraDialogScroll"));
        QVERIFY(scroll);
        const QRect content = globalRect(scroll->viewport());
        const QRect card = globalRect(dialog.get());
        if (auto *footer = dialog->findChild<QWidget *>(QStringLiteral("ostraDialogFooter"))) {
            for (QAbstractButton *button : footer->findChildren<QAbstractButton *>()) {
                if (!button->isVisible())
                    continue;
                QVERIFY2(card.contains(globalRect(button)), qPrintable(button->text()));
                QVERIFY2(!globalRect(button).intersects(content), qPrintable(button->text()));
            }
        }
        const QString overlap = overlapIn(dialog.get());
        QVERIFY2(overlap.isEmpty(), qPrintable(overlap));

        dialog->grab().save(ostratest::themedPicture(QStringLiteral("app"),
                                                     QStringLiteral("desktop-%1-%2").arg(screenName(), key)));
        dialog->close();
        ostra::Motion::instance()->setReducedMotion(false);
    }

    void shortTabsScrollNoFurther_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("tab");
        QTest::newRow("drive, Throttle / Brake") << "drive" << 0;
        QTest::newRow("drive, Steering") << "drive" << 1;
        QTest::newRow("telemetry, RF settings") << "transmission" << 1;
    }

    // A dialog whose tabs differ in height scrolls, on a short tab, no further than that tab's
    // content: a laptop screen shows no empty stretch below it.
    void shortTabsScrollNoFurther()
    {
        QFETCH(QString, key);
        QFETCH(int, tab);
        ostra::Motion::instance()->setReducedMotion(true);
        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(key));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        auto *tabs = dialog->findChild<QTabWidget *>();
        QVERIFY(tabs);
        tabs->setCurrentIndex(tab);
        QTest::qWait(50);
        bool scrolls = false;
        for (QScrollArea *area : dialog->findChildren<QScrollArea *>()) {
            if (area->isVisible() && area->verticalScrollBar()->maximum() > 0) {
                scrolls = true;
                area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
            }
        }
        QCoreApplication::processEvents();
        int contentBottom = 0;
        for (QWidget *part : tabs->currentWidget()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            if (part->isVisible())
                contentBottom = std::max(contentBottom, globalRect(part).bottom());
        }
        const int viewBottom = globalRect(dialog->findChild<QScrollArea *>(QStringLiteral("ostraDialogScroll"))->viewport()).bottom();
        // Below the content: the margins of the tab, the dialog and the card.
        QVERIFY2(!scrolls || contentBottom >= viewBottom - 64,
                 qPrintable(QStringLiteral("content ends at %1, the view at %2").arg(contentBottom).arg(viewBottom)));
        dialog->close();
        ostra::Motion::instance()->setReducedMotion(false);
    }

    void nothingCutOrEmpty_data()
    {
        QTest::addColumn<int>("tab");
        QTest::newRow("telemetry, Telemetry") << 0;
        QTest::newRow("telemetry, RF settings") << 1;
        QTest::newRow("telemetry, Receiver") << 2;
    }

    // On this screen no text of a tab is cut short, and no card stands taller than what it holds.
    void nothingCutOrEmpty()
    {
        QFETCH(int, tab);
        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(QStringLiteral("transmission")));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        dialog->findChild<QTabWidget *>()->setCurrentIndex(tab);
        // The tab's layout settles over several event-loop passes, later on a busy machine.
        QString flaw;
        QTRY_VERIFY2_WITH_TIMEOUT((flaw = cutOrEmptyIn(dialog.get())).isEmpty(), qPrintable(flaw), 10000);
        dialog->grab().save(ostratest::themedPicture(QStringLiteral("app"),
                                                     QStringLiteral("desktop-%1-telemetry-tab%2").arg(screenName()).arg(tab)));
    }

    void dialogsFitDark()
    {
        QVERIFY(ostratest::renderDarkTwin(QStringLiteral("app"), {QStringLiteral("dialogsFit")}));
    }

    void cleanupTestCase() { m_window.reset(); }

private:
    std::unique_ptr<MainWindow> m_window;
};

OSTRA_TEST_MAIN_WIDGETS(TestDesktop)
#include "tst_desktop.moc"
