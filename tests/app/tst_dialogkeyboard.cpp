#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QPushButton>
#include <QSettings>

#include <memory>

#include "app/mainwindow.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"

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

    void cleanupTestCase() { m_window.reset(); }

private:
    std::unique_ptr<MainWindow> m_window;
};

OSTRA_TEST_MAIN_WIDGETS(TestDialogKeyboard)
#include "tst_dialogkeyboard.moc"
