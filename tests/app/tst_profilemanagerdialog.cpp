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

    void cancelledOrEmptyChangesNothing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("empty");
        for (const char *button : {"+ New", "Rename", "Duplicate"}) {
            QTest::addRow("%s cancelled", button) << button << false;
            QTest::addRow("%s empty", button) << button << true;
        }
    }

    void cancelledOrEmptyChangesNothing()
    {
        QFETCH(QString, button);
        QFETCH(bool, empty);
        Store store({"Car", "Truck"});
        Dialog ui(&store.manager);
        ui.select("Truck");
        ostratest::ModalAnswerer answer;
        if (empty)
            answer.type(QString());
        else
            answer.cancel();
        ui.button(button)->click();
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(store.names(), (QStringList{"Car", "Truck"}));
        QCOMPARE(store.manager.activeProfileName(), QStringLiteral("Car"));
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
