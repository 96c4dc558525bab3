#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSettings>

#include "app/disclaimerdialog.h"
#include "ostraui/theme.h"
#include "platform/storage/settingsfile.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/writesdone.h"

using corvane::DisclaimerDialog;

namespace {

const QString Accepted = QStringLiteral("disclaimer/accepted");

// What the next start reads.
bool acceptedOnDisk()
{
    return QSettings(corvane::SettingsFile().fileName(), QSettings::IniFormat).value(Accepted).toBool();
}

} // namespace

class TestDisclaimerDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }
    void init()
    {
        corvane::SettingsFile().remove(Accepted);
        QVERIFY(ostratest::writesDone());
    }

    void content()
    {
        DisclaimerDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("QOR Corvane \u2014 Terms of Use"));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("titleLabel"))->text(), QStringLiteral("QOR Corvane"));
        QStringList sections;
        for (QLabel *label : dialog.findChildren<QLabel *>(QStringLiteral("sectionLabel")))
            sections << label->text();
        QCOMPARE(sections, (QStringList{"Hardware Interaction", "Safety", "Permissions", "Limitation of Liability"}));
        QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("warningLabel"))->text().startsWith("IMPORTANT: "));
        QCOMPARE(dialog.findChildren<QLabel *>(QStringLiteral("bodyLabel")).size(), 5);
        QVERIFY(dialog.findChild<QPushButton *>(QStringLiteral("acceptBtn"))->property("primary").toBool());
    }

    void alreadyAcceptedShowsNothing()
    {
        corvane::SettingsFile().setValue(Accepted, true);
        ostratest::ModalAnswerer answer;
        answer.cancel();
        QVERIFY(DisclaimerDialog::isAccepted());
        QVERIFY(DisclaimerDialog::ensureAccepted(nullptr));
        QCOMPARE(answer.records().size(), 0);
    }

    // "I Agree" has the answer on disk by the time the dialog closes.
    void agreeStoresBeforeClosing()
    {
        DisclaimerDialog dialog;
        bool storedWhenClosed = false;
        connect(&dialog, &QDialog::finished, this, [&] { storedWhenClosed = acceptedOnDisk(); });
        dialog.show();
        dialog.findChild<QPushButton *>(QStringLiteral("acceptBtn"))->click();
        QTRY_COMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(storedWhenClosed);
    }

    void firstAgreement()
    {
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("I Agree"));
        QVERIFY(!DisclaimerDialog::isAccepted());
        QVERIFY(DisclaimerDialog::ensureAccepted(nullptr));
        QVERIFY(DisclaimerDialog::isAccepted());
        // Asked once only.
        QVERIFY(DisclaimerDialog::ensureAccepted(nullptr));
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).title, QStringLiteral("QOR Corvane \u2014 Terms of Use"));
    }

    // On a full disk the dialog says so in front of itself, closed by the keyboard; the agreement
    // holds for this run, and the next start asks again until a settings write lands.
    void agreementNotSaved()
    {
        // Held for the run, as the main window holds the settings.
        const corvane::SettingsFile settings;
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("I Agree"));
        answer.returnKey();
        {
            const ostratest::Starved full(QStringLiteral("no room"));
            QVERIFY(DisclaimerDialog::ensureAccepted(nullptr));
        }
        QCOMPARE(answer.records().size(), 2);
        QCOMPARE(answer.records().at(1).title, QStringLiteral("Agreement not saved"));
        QCOMPARE(answer.records().at(1).over, QStringLiteral("QOR Corvane \u2014 Terms of Use"));
        QVERIFY(DisclaimerDialog::isAccepted());
        QVERIFY(!acceptedOnDisk());
        corvane::SettingsFile().remove(QStringLiteral("ui/theme"));
        QVERIFY(ostratest::writesDone());
        QVERIFY(acceptedOnDisk());
    }

    void refusalsWriteNothing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Decline") << "Decline";
        QTest::newRow("chrome close") << "Close";
        QTest::newRow("closed unanswered") << "";
    }

    void refusalsWriteNothing()
    {
        QFETCH(QString, button);
        ostratest::ModalAnswerer answer;
        if (button.isEmpty())
            answer.cancel();
        else
            answer.press(button);
        QVERIFY(!DisclaimerDialog::ensureAccepted(nullptr));
        QCOMPARE(answer.records().size(), 1);
        QVERIFY(!corvane::SettingsFile().contains(Accepted));
        QVERIFY(!DisclaimerDialog::isAccepted());
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestDisclaimerDialog)
#include "tst_disclaimerdialog.moc"
