#include <QApplication>
#include <QListWidget>
#include <QPushButton>

#include "app/profilemanagerdialog.h"
#include "ostraui/theme.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"

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
        QCOMPARE(store.manager.activeProfileName(), QStringLiteral("Buggy"));
        QCOMPARE(ui.rows(), (QStringList{"\u2022 Buggy", "Car"}));
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

    // Cancelled: nothing. A blank or over-long name: a warning with the reason, and nothing.
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
        if (cancel) {
            answer.cancel();
        } else {
            answer.type(typed);
            answer.press(QStringLiteral("OK"));
        }
        ui.button(button)->click();
        QCOMPARE(answer.pending(), 0);
        QCOMPARE(answer.records().size(), cancel ? 1 : 2);
        if (!cancel) {
            QCOMPARE(answer.records().at(1).kind, QStringLiteral("message"));
            QCOMPARE(answer.records().at(1).title, answer.records().at(0).title);
            QCOMPARE(answer.records().at(1).text, warning);
        }
        QCOMPARE(store.names(), (QStringList{"Car", "Truck"}));
        QCOMPARE(store.manager.activeProfileName(), QStringLiteral("Car"));
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
