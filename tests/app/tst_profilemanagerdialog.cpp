#include <QApplication>
#include <QHelpEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>

#include "app/profilemanagerdialog.h"
#include "ostraui/theme.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/widgets/textrecorder.h"
#include "support/widgets/themedrender.h"
#include "support/writesdone.h"

using corvane::ProfileManager;
using corvane::ProfileManagerDialog;

namespace {

// A store holding exactly the named profiles, the first one active.
struct Store
{
    ProfileManager manager;

    // The profiles of earlier cases stay on disk: all but the active one go, which is renamed.
    explicit Store(const QStringList &names)
    {
        for (const Profile &profile : manager.profiles()) {
            if (profile.id != manager.activeProfileId())
                manager.deleteProfile(profile.id);
        }
        manager.renameProfile(manager.activeProfileId(), names.first());
        for (const QString &name : names.mid(1))
            manager.createProfile(name);
    }
    QString idOf(const QString &name) const
    {
        for (const Profile &profile : manager.profiles()) {
            if (profile.name == name)
                return profile.id;
        }
        return QString();
    }
    QStringList names() const
    {
        QStringList out;
        for (const Profile &profile : manager.profiles())
            out << profile.name;
        out.sort(Qt::CaseInsensitive);
        return out;
    }
};

struct Dialog
{
    ProfileManagerDialog dialog;
    QListWidget *list;

    explicit Dialog(ProfileManager *manager) : dialog(manager), list(dialog.findChild<QListWidget *>()) {}

    QPushButton *button(const QString &text) const
    {
        for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
            if (button->text() == text)
                return button;
        }
        return nullptr;
    }
    // The rows as shown, without the date behind the name.
    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text().section(QStringLiteral("    "), 0, 0);
        return out;
    }
    QList<bool> enabled() const
    {
        return {button("Rename")->isEnabled(), button("Duplicate")->isEnabled(), button("Delete")->isEnabled()};
    }
    void select(const QString &row) { list->setCurrentRow(int(rows().indexOf(row))); }
};

// Presses the default button of the next message box the call opens; gives that button's text.
QString pressDefaultInNextBox(const std::function<void()> &call)
{
    QString pressed;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        QPushButton *button = box->defaultButton();
        pressed = button ? button->text().remove('&') : QStringLiteral("none");
        if (button)
            button->click();
        else
            box->reject();
    });
    poll.start(5);
    call();
    return pressed;
}

} // namespace

class TestProfileManagerDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void orderBulletAndDate()
    {
        Store store({"b", "A", "c"});
        QCOMPARE(store.manager.activeProfileName(), QStringLiteral("b"));
        Dialog ui(&store.manager);
        QCOMPARE(ui.dialog.windowTitle(), QStringLiteral("Manage Profiles"));
        QCOMPARE(ui.rows(), (QStringList{"A", "\u2022 b", "c"}));
        QVERIFY(ui.list->item(0)->text().endsWith(QDateTime::currentDateTime().toString("    MM/dd")));
        // No row was current: the active profile's row is.
        QCOMPARE(ui.list->currentItem()->data(Qt::UserRole).toString(), store.idOf("b"));
        QCOMPARE(ui.enabled(), (QList<bool>{true, true, true}));
        // A double click moves the bullet; the current row stays.
        ui.select("c");
        emit ui.list->itemDoubleClicked(ui.list->item(2));
        QCOMPARE(store.manager.activeProfileId(), store.idOf("c"));
        QCOMPARE(ui.rows(), (QStringList{"A", "b", "\u2022 c"}));
        QCOMPARE(ui.list->currentRow(), 2);
    }

    void lastProfileCannotBeDeleted()
    {
        Store store({"Only"});
        Dialog ui(&store.manager);
        QCOMPARE(ui.enabled(), (QList<bool>{true, true, false}));
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("OK"));
        QVERIFY(QMetaObject::invokeMethod(&ui.dialog, "onDeleteProfile"));
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).title, QStringLiteral("Cannot Delete"));
        QCOMPARE(answer.records().at(0).text, QStringLiteral("Cannot delete the last profile."));
        QCOMPARE(store.names(), QStringList{"Only"});
    }

    void createActivates()
    {
        Store store({"Car"});
        Dialog ui(&store.manager);
        ostratest::ModalAnswerer answer;
        answer.type(QStringLiteral("Buggy"));
        ui.button("+ New")->click();
        const ostratest::ModalRecord asked = answer.records().value(0);
        QCOMPARE((QStringList{asked.title, asked.text, asked.preset}),
                 (QStringList{"New Profile", "Profile name:", "New Profile"}));
        // Once its file is written.
        QVERIFY(ostratest::writesDone());
        QCOMPARE(store.manager.activeProfileName(), QStringLiteral("Buggy"));
        QCOMPARE(ui.rows(), (QStringList{"\u2022 Buggy", "Car"}));
        // The new profile's row is the current one, even with another picked before: Rename acts on it.
        ui.select("Car");
        answer.type(QStringLiteral("Truggy"));
        ui.button("+ New")->click();
        QVERIFY(ostratest::writesDone());
        answer.type(QStringLiteral("Short course"));
        ui.button("Rename")->click();
        QCOMPARE(answer.records().value(2).preset, QStringLiteral("Truggy"));
        QCOMPARE(ui.rows(), (QStringList{"Buggy", "Car", "\u2022 Short course"}));
    }

    void duplicateOffersCopyName()
    {
        Store store({"Car", "Truck"});
        Dialog ui(&store.manager);
        ui.select("Truck");
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("OK"));
        ui.button("Duplicate")->click();
        QCOMPARE(answer.records().value(0).title, QStringLiteral("Duplicate Profile"));
        QCOMPARE(answer.records().value(0).preset, QStringLiteral("Truck (Copy)"));
        QCOMPARE(store.names(), (QStringList{"Car", "Truck", "Truck (Copy)"}));
        // The copy is not made active; the current row stays on Truck.
        QCOMPARE(store.manager.activeProfileName(), QStringLiteral("Car"));
        QCOMPARE(ui.rows(), (QStringList{"\u2022 Car", "Truck", "Truck (Copy)"}));
        QCOMPARE(ui.list->currentRow(), 1);
    }

    void rename()
    {
        Store store({"Car", "Truck"});
        Dialog ui(&store.manager);
        ui.select("Truck");
        ostratest::ModalAnswerer answer;
        answer.type(QStringLiteral("Crawler"));
        ui.button("Rename")->click();
        QCOMPARE(answer.records().value(0).preset, QStringLiteral("Truck"));
        QCOMPARE(answer.records().value(0).text, QStringLiteral("New name:"));
        QCOMPARE(store.names(), (QStringList{"Car", "Crawler"}));
    }

    // Cancelled: nothing. A blank or over-long name: a warning with the reason, then the box asks
    // again with the typed text kept; cancelled there, nothing changes.
    void cancelledOrRefusedChangesNothing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("warning");
        const QString empty = QStringLiteral("Profile name cannot be empty");
        const QString tooLong = QStringLiteral("Profile name is too long: at most 64 characters");
        for (const char *button : {"+ New", "Rename", "Duplicate"}) {
            QTest::addRow("%s cancelled", button) << button << true << QString() << QString();
            QTest::addRow("%s empty", button) << button << false << QString() << empty;
            QTest::addRow("%s blank", button) << button << false << QStringLiteral("   ") << empty;
            QTest::addRow("%s 5000", button) << button << false << QString(5000, 'n') << tooLong;
            QTest::addRow("%s 65", button) << button << false << QString(65, 'n') << tooLong;
        }
    }

    void cancelledOrRefusedChangesNothing()
    {
        QFETCH(QString, button);
        QFETCH(bool, cancel);
        QFETCH(QString, typed);
        QFETCH(QString, warning);
        Store store({"Car", "Truck"});
        Dialog ui(&store.manager);
        ui.select("Truck");
        ostratest::ModalAnswerer answer;
        if (!cancel) {
            answer.type(typed);
            answer.press(QStringLiteral("OK"));
        }
        answer.cancel();
        ui.button(button)->click();
        QCOMPARE(answer.pending(), 0);
        QCOMPARE(answer.records().size(), cancel ? 1 : 3);
        if (!cancel) {
            QCOMPARE(answer.records().at(1).kind, QStringLiteral("message"));
            QCOMPARE(answer.records().at(1).title, answer.records().at(0).title);
            QCOMPARE(answer.records().at(1).text, warning);
            QCOMPARE(answer.records().at(2).kind, QStringLiteral("input"));
            QCOMPARE(answer.records().at(2).title, answer.records().at(0).title);
            QCOMPARE(answer.records().at(2).preset, typed);
        }
        QCOMPARE(store.names(), (QStringList{"Car", "Truck"}));
        QCOMPARE(store.manager.activeProfileName(), QStringLiteral("Car"));
    }

    // A refused name comes back in the box as typed; mended there, it is taken.
    void refusedNameMended_data()
    {
        QTest::addColumn<QString>("button");
        for (const char *button : {"+ New", "Rename", "Duplicate"})
            QTest::newRow(button) << button;
    }

    void refusedNameMended()
    {
        QFETCH(QString, button);
        Store store({"Car", "Truck"});
        Dialog ui(&store.manager);
        ui.select("Truck");
        const QString typed = QStringLiteral("Crawler ") + QString(60, 'x');
        ostratest::ModalAnswerer answer;
        answer.type(typed);
        answer.press(QStringLiteral("OK"));
        answer.type(QStringLiteral("Crawler"));
        ui.button(button)->click();
        QCOMPARE(answer.records().size(), 3);
        QCOMPARE(answer.records().at(2).preset, typed);
        QVERIFY(store.names().contains(QStringLiteral("Crawler")));
    }

    // 64 characters is the longest name; blanks around a name are dropped.
    void longestAndPaddedNames_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        const QString longest(64, 'n');
        for (const char *button : {"+ New", "Rename", "Duplicate"}) {
            QTest::addRow("%s 64", button) << button << longest << longest;
            QTest::addRow("%s padded", button) << button << QStringLiteral("  Crawler \t") << QStringLiteral("Crawler");
        }
    }

    void longestAndPaddedNames()
    {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        Store store({"Car", "Truck"});
        Dialog ui(&store.manager);
        ui.select("Truck");
        ostratest::ModalAnswerer answer;
        answer.type(typed);
        ui.button(button)->click();
        QCOMPARE(answer.records().size(), 1);
        QVERIFY(store.names().contains(stored));
    }

    // Rows are padded like the kit's list rows and keep clear of the list's rounded frame.
    void rowsArePadded()
    {
        Store store({"Car", "Truck"});
        Dialog ui(&store.manager);
        ui.dialog.resize(520, 360);
        ui.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ui.dialog));
        const QRect first = ui.list->visualItemRect(ui.list->item(0));
        const int textHeight = ui.list->fontMetrics().height();
        QVERIFY2(first.height() >= textHeight + 16, qPrintable(QString::number(first.height())));
        const QPoint inFrame = ui.list->viewport()->mapTo(ui.list, first.topLeft());
        QVERIFY(inFrame.x() >= 6 && inFrame.y() >= 6);
        // Every button shows its whole label.
        for (QPushButton *button : ui.dialog.findChildren<QPushButton *>()) {
            if (button->isVisible() && !button->text().isEmpty())
                QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
        }
    }

    // With one profile "Delete" is disabled, and its danger style must not make it look usable:
    // it is drawn like any other disabled button.
    void disabledDeleteLooksDisabled()
    {
        Store store({"Only"});
        Dialog ui(&store.manager);
        ui.dialog.resize(520, 360);
        ui.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ui.dialog));
        QPushButton *remove = ui.button("Delete");
        QPushButton *rename = ui.button("Rename");
        QVERIFY(!remove->isEnabled());
        rename->setEnabled(false);
        const QImage deleteImage = remove->grab().toImage();
        const QImage renameImage = rename->grab().toImage();
        const QPoint inside(6, deleteImage.height() / 2);
        QCOMPARE(deleteImage.pixelColor(inside).name(), renameImage.pixelColor(inside).name());
        // No red anywhere in the disabled button's label.
        for (int y = 0; y < deleteImage.height(); ++y) {
            for (int x = 0; x < deleteImage.width(); ++x) {
                const QColor c = deleteImage.pixelColor(x, y);
                QVERIFY2(!(c.red() > c.green() + 60 && c.red() > c.blue() + 60), qPrintable(c.name()));
            }
        }
    }

    // The current row is drawn selected, also after "+ New" moved the bullet and the current row
    // to the new profile.
    void selectedRowIsDrawn()
    {
        Store store({"Default"});
        Dialog ui(&store.manager);
        ostratest::ModalAnswerer answer;
        answer.type(QStringLiteral("Buggy"));
        ui.button("+ New")->click();
        QVERIFY(ostratest::writesDone());
        QCOMPARE(ui.rows(), (QStringList{"\u2022 Buggy", "Default"}));
        QCOMPARE(ui.list->currentRow(), 0);
        ui.dialog.resize(520, 360);
        ui.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ui.dialog));
        const QImage painted = ui.list->viewport()->grab().toImage();
        // Right of the text, inside the row's rounded selection.
        const auto colourIn = [&](int row) {
            const QRect rect = ui.list->visualItemRect(ui.list->item(row));
            return painted.pixelColor(rect.right() - 16, rect.center().y()).name();
        };
        QCOMPARE(colourIn(0), ostra::ThemeColors::infoSoft.name());
        QVERIFY(colourIn(1) != ostra::ThemeColors::infoSoft.name());
        QVERIFY(ui.dialog.grab().save(ostratest::themedPicture("app", "profile-manager-selected")));
        if (!ostra::isDarkTheme())
            QVERIFY(ostratest::runDarkTwin(QStringLiteral("app"), {QStringLiteral("selectedRowIsDrawn")}));
    }

    // The Delete question's default answer keeps the profile.
    void deleteDefaultsToNo()
    {
        Store store({"Car", "Truck"});
        Dialog ui(&store.manager);
        ui.select("Truck");
        QCOMPARE(pressDefaultInNextBox([&] { ui.button("Delete")->click(); }), QStringLiteral("No"));
        QCOMPARE(store.names(), (QStringList{"Car", "Truck"}));

        // Return on the question, wherever the keyboard is, keeps the profile too.
        QTimer::singleShot(0, [] {
            QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()));
            QWidget *box = QApplication::activeModalWidget();
            QTRY_VERIFY(box->isVisible());
            // The answer drawn as primary is the one Return presses.
            QStringList primary;
            for (const QPushButton *button : box->findChildren<QPushButton *>()) {
                if (button->property("primary").toBool())
                    primary << button->text().remove('&');
            }
            QCOMPARE(primary, QStringList{"No"});
            box->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), box);
            QWidget *focused = QApplication::focusWidget();
            QTest::keyClick(focused && focused->window() == box ? focused : box, Qt::Key_Return);
        });
        ui.button("Delete")->click();
        QCOMPARE(store.names(), (QStringList{"Car", "Truck"}));
    }

    // A name too long for the list is cut before the date, which stays in view; the list never
    // scrolls sideways, and the row's tool tip names the whole profile.
    void longNamesAreCut()
    {
        const QString longName = QStringLiteral("Traxxas Slash 4x4 Ultimate Brushless Short Course Truck Race");
        Store store({"Car", longName});
        Dialog ui(&store.manager);
        ui.dialog.resize(ui.dialog.minimumSize());
        ui.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ui.dialog));
        QVERIFY(!ui.list->horizontalScrollBar()->isVisible());
        QWidget *viewport = ui.list->viewport();
        const QRect longRow = ui.list->visualItemRect(ui.list->item(1));
        QVERIFY(longRow.right() < viewport->width());

        const QStringList painted = ostratest::TextRecorder::paintedBy(viewport);
        const QString date = QDateTime::currentDateTime().toString("    MM/dd");
        QCOMPARE(painted.value(0), QStringLiteral("\u2022 Car") + date);
        const QString shown = painted.value(1);
        QVERIFY2(shown.endsWith(QStringLiteral("\u2026") + date), qPrintable(shown));
        QVERIFY(longName.startsWith(shown.left(shown.indexOf(QStringLiteral("\u2026")))));
        QVERIFY(ui.list->fontMetrics().horizontalAdvance(shown) < longRow.width());

        QHelpEvent help(QEvent::ToolTip, longRow.center(), viewport->mapToGlobal(longRow.center()));
        QCoreApplication::sendEvent(viewport, &help);
        QTRY_COMPARE(QToolTip::text(), longName);
        QVERIFY(ui.dialog.grab().save(ostratest::themedPicture("app", "profile-manager-long-name")));
    }

    void deleteAsksFirst_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("yes") << "Yes" << QStringList{"Car"};
        QTest::newRow("no") << "No" << QStringList{"Car", "Truck"};
    }

    void deleteAsksFirst()
    {
        QFETCH(QString, answer);
        Store store({"Car", "Truck"});
        Dialog ui(&store.manager);
        ui.select("Truck");
        ostratest::ModalAnswerer answerer;
        answerer.press(answer);
        ui.button("Delete")->click();
        QCOMPARE(answerer.records().value(0).title, QStringLiteral("Delete Profile"));
        QCOMPARE(answerer.records().value(0).text,
                 QStringLiteral("Are you sure you want to delete the profile \"Truck\"?"));
        QTEST(store.names(), "left");
        if (answer == QLatin1String("Yes")) {
            // The current row's profile is gone: no row is current, so nothing can be renamed.
            QVERIFY(!ui.list->currentItem());
            QCOMPARE(ui.enabled(), (QList<bool>{false, false, false}));
        }
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestProfileManagerDialog)
#include "tst_profilemanagerdialog.moc"
