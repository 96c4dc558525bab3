#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "app/disclaimerdialog.h"
#include "ostraui/theme.h"
#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"

using corvane::DisclaimerDialog;

namespace {

const QString Accepted = QStringLiteral("disclaimer/accepted");

} // namespace

class TestDisclaimerDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }
    void init() { corvane::SettingsFile().remove(Accepted); }

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

    // "I Agree" has stored the answer by the time the dialog closes.
    void agreeStoresBeforeClosing()
    {
        DisclaimerDialog dialog;
        bool storedWhenClosed = false;
        connect(&dialog, &QDialog::finished, this, [&] { storedWhenClosed = corvane::SettingsFile().value(Accepted).toBool(); });
        dialog.show();
        dialog.findChild<QPushButton *>(QStringLiteral("acceptBtn"))->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
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
