#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QImage>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStackedWidget>
#include <QTabBar>

#include <memory>

#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "ostraui/theme.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"

namespace {

// A scroll area that holds controls of its own: a page's or a dialog's body.
bool isBody(const QWidget *widget)
{
    const auto *area = qobject_cast<const QAbstractScrollArea *>(widget);
    if (!area)
        return false;
    const QList<QWidget *> inside = area->viewport()->findChildren<QWidget *>();
    return std::any_of(inside.cbegin(), inside.cend(), [](const QWidget *w) { return w->focusPolicy() & Qt::TabFocus; });
}

// The controls Tab reaches in turn from where the focus is, once round the window.
QList<QWidget *> tabStops(QWidget *window)
{
    QList<QWidget *> stops;
    for (int i = 0; i < 150; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Tab);
        QWidget *stop = QApplication::focusWidget();
        if (!stop || stops.contains(stop))
            break;
        stops << stop;
    }
    return stops;
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
        QTest::newRow("disclaimer, I Agree focused") << "disclaimer" << "primary" << "" << false;
        QTest::newRow("pedal check") << "pedal-verify" << "" << "" << false;
    }

    void returnPressesTheDefault()
    {
        QFETCH(QString, key);
        QFETCH(QString, tabTo);
        QFETCH(bool, hasDefault);
        QSettings().remove(QStringLiteral("disclaimer/accepted"));
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
        QCOMPARE(dialog->isVisible(), pressed.isEmpty());
        QVERIFY(!QSettings().value(QStringLiteral("disclaimer/accepted")).toBool());
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
            const QRect around = QRect(stop->mapTo(window, QPoint(0, 0)), stop->size()).adjusted(-4, -4, 4, 4);
            const QImage focused = window->grab(around).toImage();
            window->setFocus(Qt::OtherFocusReason);
            const QImage elsewhere = window->grab(around).toImage();
            if (focused == elsewhere)
                unmarked << name;
            stop->setFocus(Qt::TabFocusReason);
        }
        QVERIFY(first);
        QVERIFY2(unmarked.isEmpty(), qPrintable(unmarked.join(QStringLiteral("; "))));
    }

    // A ring that would cover what its control shows goes round it instead, on all four sides,
    // and leaves its text as it was.
    void ringKeepsClearOfTheText_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("kind");
        QTest::newRow("disclaimer text") << "disclaimer" << "QAbstractScrollArea";
        QTest::newRow("axis Invert") << "axis" << "QCheckBox";
        QTest::newRow("drive tabs") << "drive" << "QTabBar";
        QTest::newRow("transmission tabs") << "transmission" << "QTabBar";
        QTest::newRow("profile list") << "profiles" << "QAbstractScrollArea";
    }

    void ringKeepsClearOfTheText()
    {
        QFETCH(QString, key);
        QFETCH(QString, kind);
        QApplication::setCursorFlashTime(0);
        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(key));
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        dialog->setFocus(Qt::OtherFocusReason);
        const QList<QWidget *> stops = tabStops(dialog.get());
        const auto found = std::find_if(stops.cbegin(), stops.cend(), [&](QWidget *w) { return w->inherits(qPrintable(kind)); });
        QVERIFY(found != stops.cend());
        QWidget *control = *found;
        control->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();

        // What the control shows: the scrolled text, the box and its label, the current tab's label.
        QRect shown(QPoint(0, 0), control->size());
        if (auto *area = qobject_cast<QAbstractScrollArea *>(control))
            shown = area->viewport()->geometry();
        else if (qobject_cast<QCheckBox *>(control))
            shown.setWidth(control->sizeHint().width());
        else if (auto *bar = qobject_cast<QTabBar *>(control)) {
            const QString text = bar->tabText(bar->currentIndex());
            shown = QRect(0, 0, bar->fontMetrics().horizontalAdvance(text), bar->fontMetrics().height());
            shown.moveCenter(bar->tabRect(bar->currentIndex()).center());
        }
        shown.moveTopLeft(control->mapTo(dialog.get(), shown.topLeft()));
        const QImage focused = dialog->grab().toImage();
        dialog->setFocus(Qt::OtherFocusReason);
        QCoreApplication::processEvents();
        const QImage elsewhere = dialog->grab().toImage();
        QRect ring;
        const QRect around = shown.adjusted(-24, -24, 24, 24) & focused.rect();
        for (int y = around.top(); y <= around.bottom(); ++y) {
            for (int x = around.left(); x <= around.right(); ++x) {
                if (focused.pixel(x, y) == elsewhere.pixel(x, y))
                    continue;
                QVERIFY2(!shown.contains(x, y), qPrintable(QStringLiteral("ring at %1,%2 over the text").arg(x).arg(y)));
                ring |= QRect(x, y, 1, 1);
            }
        }
        QVERIFY2(ring.adjusted(1, 1, -1, -1).contains(shown),
                 qPrintable(QStringLiteral("ring %1,%2 %3x%4 around %5,%6 %7x%8")
                                .arg(ring.x()).arg(ring.y()).arg(ring.width()).arg(ring.height())
                                .arg(shown.x()).arg(shown.y()).arg(shown.width()).arg(shown.height())));
    }

    void bodiesTakeNoTabYetScroll_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("page");
        QTest::newRow("car page") << QString() << int(MainWindow::CarPage);
        QTest::newRow("helicopter page") << QString() << int(MainWindow::HelicopterPage);
        QTest::newRow("motion page") << QString() << int(MainWindow::MotionPage);
        for (const char *key : {"drive", "transmission", "axis", "led", "buttons", "heli-config"})
            QTest::newRow(key) << QString::fromLatin1(key) << -1;
    }

    // Page and dialog bodies: Tab moves among their controls and never onto the body, whose ring
    // would frame the whole page; Page Down from a button in it, or after a click on its
    // background, still scrolls it.
    void bodiesTakeNoTabYetScroll()
    {
        QFETCH(QString, key);
        QFETCH(int, page);
        const QSize size = m_window->size();
        m_window->resize(1024, 600);
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
        const QList<QWidget *> stops = tabStops(window);
        QVERIFY(!stops.isEmpty());
        for (QWidget *stop : stops)
            QVERIFY2(!isBody(stop), qPrintable(QStringLiteral("Tab stops on the body %1").arg(stop->objectName())));

        QAbstractScrollArea *body = nullptr;
        for (auto *area : window->findChildren<QAbstractScrollArea *>()) {
            if (area->isVisible() && isBody(area)
                && (!body || area->verticalScrollBar()->maximum() > body->verticalScrollBar()->maximum()))
                body = area;
        }
        QVERIFY(body && body->verticalScrollBar()->maximum() > 0);
        QScrollBar *bar = body->verticalScrollBar();
        const auto button = std::find_if(stops.cbegin(), stops.cend(), [&](QWidget *w) {
            return qobject_cast<QPushButton *>(w) && body->viewport()->isAncestorOf(w);
        });
        QVERIFY(button != stops.cend());
        bar->setValue(0);
        (*button)->setFocus(Qt::TabFocusReason);
        bar->setValue(0);
        QTest::keyClick(*button, Qt::Key_PageDown);
        QVERIFY(bar->value() > 0);

        bar->setValue(0);
        QTest::mouseClick(body->viewport(), Qt::LeftButton, {}, QPoint(1, 1));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
        QVERIFY(bar->value() > 0);
        m_window->resize(size);
    }

    // Return on a card opens its page with the focus on the page's first control, not on the page.
    void returnOnACardFocusesTheNextPage()
    {
        m_window->showPage(MainWindow::StartPage);
        QApplication::setActiveWindow(m_window.get());
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTest::qWait(400);
        m_window->setFocus(Qt::OtherFocusReason);
        const QList<QWidget *> stops = tabStops(m_window.get());
        const auto card = std::find_if(stops.cbegin(), stops.cend(),
                                       [](QWidget *w) { return w->objectName() == QLatin1String("productCard_corvane"); });
        QVERIFY(card != stops.cend());
        (*card)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(*card, Qt::Key_Return);
        QTest::qWait(400);
        auto *pages = m_window->findChild<QStackedWidget *>(QStringLiteral("contentStack"));
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus && pages->currentWidget()->isAncestorOf(focus));
        QVERIFY2(!qobject_cast<QAbstractScrollArea *>(focus), qPrintable(focus->objectName()));
    }

    // In Manage Profiles Tab goes from the list to the footer's buttons and on to the header's.
    void manageProfilesTabOrder()
    {
        corvane::ProfileManager *store = m_window->controller()->profileManager();
        const QString added = store->createProfile(QStringLiteral("Touring car"));
        std::unique_ptr<QDialog> dialog(m_window->buildSnapshotDialog(QStringLiteral("profiles")));
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        QStringList order;
        QWidget *opened = QApplication::focusWidget();
        QVERIFY(opened);
        for (QWidget *stop : QList<QWidget *>{opened} + tabStops(dialog.get())) {
            const QString text = stop->property("text").toString();
            order << (text.isEmpty() ? QString::fromLatin1(stop->metaObject()->className()) : text);
        }
        // Round to the list again, past the header's close button.
        QCOMPARE(order.join(QStringLiteral("; ")),
                 QStringLiteral("QListWidget; + New; Rename; Duplicate; Delete; Close; QPushButton; QListWidget"));
        dialog.reset();
        store->deleteProfile(added);
    }

    void cleanupTestCase() { m_window.reset(); }

private:
    std::unique_ptr<MainWindow> m_window;
};

OSTRA_TEST_MAIN_WIDGETS(TestDialogKeyboard)
#include "tst_dialogkeyboard.moc"
