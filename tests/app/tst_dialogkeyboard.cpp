#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <QTimer>

#include <algorithm>
#include <memory>

#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "ostraui/focusring.h"
#include "ostraui/pageheader.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/widgets/widgetlookup.h"

namespace {

// A scroll area that holds controls of its own: a page's or a dialog's body.
bool isBody(const QWidget *widget)
{
    const auto *area = qobject_cast<const QAbstractScrollArea *>(widget);
    const QList<QWidget *> inside = area ? area->viewport()->findChildren<QWidget *>() : QList<QWidget *>();
    return std::any_of(inside.cbegin(), inside.cend(), [](const QWidget *w) { return w->focusPolicy() & Qt::TabFocus; });
}

// What a control shows that a ring around it leaves alone: a scrolled text or list, a check box's
// box and label (but for the edge a ring takes where the box meets the end of its page), the
// current tab's label, the ink of a push button's text, a slider's handle and the pixel around it.
QRect shownArea(const QWidget *stop)
{
    if (qobject_cast<const QScrollArea *>(stop) || qobject_cast<const QAbstractItemView *>(stop))
        return static_cast<const QAbstractScrollArea *>(stop)->viewport()->geometry();
    if (qobject_cast<const QCheckBox *>(stop))
        return QRect(0, 2, std::min(stop->width(), stop->sizeHint().width()), stop->height() - 4);
    QRect label;
    if (const auto *bar = qobject_cast<const QTabBar *>(stop)) {
        label.setSize(bar->fontMetrics().size(0, bar->tabText(bar->currentIndex())));
        label.moveCenter(bar->tabRect(bar->currentIndex()).center());
    } else if (const auto *button = qobject_cast<const QPushButton *>(stop)) {
        label.setSize(button->fontMetrics().tightBoundingRect(button->text()).size());
        label.moveCenter(button->rect().center());
    } else if (const auto *slider = qobject_cast<const QSlider *>(stop)) {
        label = ostratest::sliderHandle(slider).adjusted(-1, -1, 1, 1);
    }
    return label;
}

} // namespace

// Return in the program's own dialogs, pressed where the dialog puts the focus as it opens or
// after Tab moved it: what the user reads on the button it pressed.
class TestDialogKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        m_window = std::make_unique<MainWindow>();
        m_window->show();
    }

    void returnPressesTheDefault_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("tabTo");
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<bool>("hasDefault");
        QTest::newRow("axis") << "axis" << "" << "Apply" << true;
        QTest::newRow("axis, a check box focused") << "axis" << "QCheckBox" << "Apply" << true;
        QTest::newRow("drive") << "drive" << "" << "Apply" << true;
        QTest::newRow("buttons") << "buttons" << "" << "Apply" << true;
        QTest::newRow("led") << "led" << "" << "Save Settings" << true;
        QTest::newRow("dashboard settings") << "dash-settings" << "" << "Save" << true;
        QTest::newRow("helicopter fly settings") << "heli-fly" << "" << "OK" << true;
        QTest::newRow("message box") << "msgbox" << "" << "OK" << true;
        // Buttons of the content answer only to their own focus.
        QTest::newRow("motion output") << "motion-output" << "" << "" << false;
        QTest::newRow("disclaimer") << "disclaimer" << "" << "" << false;
        QTest::newRow("disclaimer, I Agree focused") << "disclaimer" << "primary" << "I Agree" << false;
        QTest::newRow("pedal check") << "pedal-verify" << "" << "" << false;
    }

    void returnPressesTheDefault()
    {
        QFETCH(QString, key);
        QFETCH(QString, tabTo);
        QFETCH(bool, hasDefault);
        corvane::SettingsFile().remove(QStringLiteral("disclaimer/accepted"));
        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(key));
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));

        QStringList pressed;
        QList<QPushButton *> defaults;
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            connect(button, &QPushButton::clicked, this, [&pressed, button] { pressed << button->text(); });
            if (button->isDefault())
                defaults << button;
        }
        const auto focused = [&] { return QApplication::focusWidget() ? QApplication::focusWidget() : dialog.get(); };
        // Tab on to the dialog's primary button, or to the first control of a kind.
        const auto reached = [&] {
            return tabTo == QLatin1String("primary") ? focused()->property("primary").toBool()
                                                     : focused()->inherits(qPrintable(tabTo));
        };
        for (int i = 0; !tabTo.isEmpty() && i < 60 && !reached(); ++i)
            QTest::keyClick(focused(), Qt::Key_Tab);
        QVERIFY(tabTo.isEmpty() || reached());
        if (hasDefault) {
            QCOMPARE(defaults.size(), 1);
            QVERIFY(defaults.first()->property("primary").toBool());
        } else if (key != QLatin1String("motion-output")) {
            QCOMPARE(defaults.size(), 0);
        }
        QTest::keyClick(focused(), Qt::Key_Return);
        QTEST(pressed.join(QLatin1Char(';')), "pressed");
        QTRY_COMPARE(dialog->isVisible(), pressed.isEmpty());
        QCOMPARE(corvane::SettingsFile().value(QStringLiteral("disclaimer/accepted")).toBool(),
                 pressed == QStringList{QStringLiteral("I Agree")});
    }

    // Every control Tab reaches, on every page and in every dialog, looks other than when the
    // focus is elsewhere, and is in view.
    void everyTabStopShowsFocus_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("page");
        for (const int page : {MainWindow::StartPage, MainWindow::VehiclePage, MainWindow::CarPage,
                               MainWindow::HelicopterPage, MainWindow::MotionPlatformPage, MainWindow::MotionPage,
                               MainWindow::RaceControlPage, MainWindow::InfoPage})
            QTest::addRow("page %d", page) << QString() << page;
        for (const QString &key : MainWindow::snapshotDialogKeys())
            QTest::newRow(qPrintable(key)) << key << -1;
    }

    void everyTabStopShowsFocus()
    {
        QFETCH(QString, key);
        QFETCH(int, page);
        // A caret that blinks could be caught in either phase.
        QApplication::setCursorFlashTime(0);
        std::unique_ptr<QDialog> dialog(key.isEmpty() ? nullptr : m_window->buildSnapshotDialog(key));
        QWidget *window = m_window.get();
        if (dialog) {
            window = dialog.get();
            dialog->show();
        } else {
            m_window->showPage(page);
        }
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::qWait(400);
        window->setFocus(Qt::OtherFocusReason);

        QStringList unmarked;
        QStringList covered;
        QWidget *first = nullptr;
        for (int i = 0; i < 150; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *stop = QApplication::focusWidget();
            QVERIFY(stop && stop->window() == window);
            if (stop == first)
                break;
            if (!first)
                first = stop;
            const QString name = QString::fromLatin1(stop->metaObject()->className()) + QLatin1Char(' ')
                                 + stop->objectName() + QLatin1Char(' ') + stop->property("text").toString();
            QVERIFY2(!stop->visibleRegion().isEmpty(), qPrintable(name + QStringLiteral(" is out of view")));
            QVERIFY2(!isBody(stop), qPrintable(name + QStringLiteral(" is a body")));
            const QRect around = QRect(stop->mapTo(window, QPoint(0, 0)), stop->size()).adjusted(-4, -4, 4, 4);
            const QImage focused = window->grab(around).toImage();
            window->setFocus(Qt::OtherFocusReason);
            const QImage elsewhere = window->grab(around).toImage();
            if (focused == elsewhere)
                unmarked << name;
            // A ring laid around the control leaves what it shows as it was.
            if (const QRect shown = shownArea(stop).translated(4, 4);
                !shown.isEmpty() && focused.copy(shown) != elsewhere.copy(shown))
                covered << name;
            stop->setFocus(Qt::TabFocusReason);
        }
        QVERIFY(first);
        QVERIFY2(unmarked.isEmpty(), qPrintable(unmarked.join(QStringLiteral("; "))));
        QVERIFY2(covered.isEmpty(), qPrintable(covered.join(QStringLiteral("; "))));
    }

    void pageDownScrollsTheBody_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("page");
        QTest::newRow("car page") << QString() << int(MainWindow::CarPage);
        QTest::newRow("motion page") << QString() << int(MainWindow::MotionPage);
        QTest::newRow("drive") << "drive" << -1;
        QTest::newRow("transmission") << "transmission" << -1;
        QTest::newRow("heli fly settings, from the footer") << "heli-fly" << -1;
        QTest::newRow("drive, from the footer") << "drive" << -1;
        QTest::newRow("transmission, from the footer") << "transmission" << -1;
    }

    // The body that scrolls takes no Tab, yet Page Down scrolls it after a click on it, and a
    // dialog's content from its footer.
    void pageDownScrollsTheBody()
    {
        QFETCH(QString, key);
        QFETCH(int, page);
        std::unique_ptr<QDialog> dialog(key.isEmpty() ? nullptr : m_window->buildSnapshotDialog(key));
        QWidget *window = dialog ? static_cast<QWidget *>(dialog.get()) : m_window.get();
        dialog ? dialog->show() : m_window->showPage(page);
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        const QList<QAbstractScrollArea *> areas = window->findChildren<QAbstractScrollArea *>();
        const auto range = [](QAbstractScrollArea *a) { return a->isVisible() ? a->verticalScrollBar()->maximum() : -1; };
        QAbstractScrollArea *body = *std::max_element(areas.cbegin(), areas.cend(), [&](auto *a, auto *b) { return range(a) < range(b); });
        QVERIFY(isBody(body) && range(body) > 0);
        if (QByteArray(QTest::currentDataTag()).endsWith("footer"))
            window->findChild<QWidget *>("ostraDialogFooter")->findChild<QPushButton *>()->setFocus(Qt::TabFocusReason);
        else
            QTest::mouseClick(body->viewport(), Qt::LeftButton, {}, QPoint(1, 1));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
        QVERIFY(body->verticalScrollBar()->value() > 0);
    }

    // In Manage Profiles Tab goes from the list to the footer's buttons and on to the header's.
    void manageProfilesTabOrder()
    {
        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(QStringLiteral("profiles")));
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        QStringList order;
        for (QWidget *stop = QApplication::focusWidget(); order.size() < 7; stop = QApplication::focusWidget()) {
            const QString text = stop->property("text").toString();
            order << (text.isEmpty() ? QString::fromLatin1(stop->metaObject()->className()) : text);
            QTest::keyClick(stop, Qt::Key_Tab);
        }
        QCOMPARE(order.join(QStringLiteral("; ")), QStringLiteral("QListWidget; + New; Rename; Duplicate; Close; QPushButton; QListWidget"));
    }

    // Tab reaches the header's clickable pills after its back button, left to right, and Space or
    // Return opens what a click opens: the profile menu, which the keyboard then works, and the
    // mobile connect dialog.
    void headerPillsByKeyboard_data()
    {
        QTest::addColumn<QString>("pill");
        QTest::addColumn<int>("key");
        for (const char *pill : {"profilePill", "webPill"}) {
            for (const int key : {int(Qt::Key_Space), int(Qt::Key_Return)})
                QTest::addRow("%s, %s", pill, key == Qt::Key_Space ? "Space" : "Return") << pill << key;
        }
    }

    void headerPillsByKeyboard()
    {
        QFETCH(QString, pill);
        QFETCH(int, key);
        corvane::ProfileManager *store = m_window->controller()->profileManager();
        const QString other = store->createProfile(QStringLiteral("Keyboard"));
        QVERIFY(!other.isEmpty());
        m_window->showPage(MainWindow::CarPage);
        QApplication::setActiveWindow(m_window.get());
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        auto *back = m_window->findChild<ostra::PageHeader *>()->findChild<QPushButton *>();
        back->setFocus(Qt::TabFocusReason);
        QStringList order;
        for (int i = 0; i < 2; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, QStringList({"profilePill", "webPill"}));
        auto *target = m_window->findChild<ostra::Pill *>(pill);
        target->setFocus(Qt::TabFocusReason);
        QVERIFY(ostra::showsFocusRing(target));

        ostratest::ModalAnswerer answerer;
        QString chosen;
        if (pill == QLatin1String("profilePill")) {
            // Down through the menu to the new profile, then Return.
            QTimer::singleShot(0, this, [&] {
                auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
                for (int i = 0; menu && i < 10 && (!menu->activeAction() || menu->activeAction()->text() != "Keyboard"); ++i)
                    QTest::keyClick(menu, Qt::Key_Down);
                if (menu && menu->activeAction())
                    chosen = menu->activeAction()->text();
                if (menu)
                    QTest::keyClick(menu, Qt::Key_Return);
            });
        } else {
            answerer.cancel();
        }
        QTest::keyClick(target, Qt::Key(key));
        if (pill == QLatin1String("profilePill")) {
            QCOMPARE(chosen, QStringLiteral("Keyboard"));
            QCOMPARE(store->activeProfileId(), other);
        } else {
            QCOMPARE(answerer.records().size(), 1);
            QCOMPARE(answerer.records().at(0).title, QStringLiteral("Connect from Mobile Device"));
        }
        store->deleteProfile(other);
    }

    void cleanupTestCase() { m_window.reset(); }

private:
    std::unique_ptr<MainWindow> m_window;
};

OSTRA_TEST_MAIN_WIDGETS(TestDialogKeyboard)
#include "tst_dialogkeyboard.moc"
