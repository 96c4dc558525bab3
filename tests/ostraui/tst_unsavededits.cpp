#include <QApplication>
#include <QDialog>
#include <QJsonValue>
#include <QTest>
#include <QTimer>

#include "ostraui/theme.h"
#include "ostraui/unsavededits.h"
#include "support/testenvironment.h"

using ostra::UnsavedEdits;

namespace {

// A setup dialog whose OK can be refused, as one is while its values cannot be taken.
class RefusingDialog : public QDialog
{
public:
    bool refuse = false;
    void accept() override
    {
        if (!refuse)
            QDialog::accept();
    }
};

} // namespace

class TestUnsavedEdits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    // Saving the edits of a running setup dialog accepts it; a dialog that refuses its OK keeps
    // running, and the save says it failed, so the window closing over it stays.
    void savingARunningDialog_data()
    {
        QTest::addColumn<bool>("refuse");
        QTest::newRow("accepts") << false;
        QTest::newRow("refuses its OK") << true;
    }

    void savingARunningDialog()
    {
        QFETCH(bool, refuse);
        RefusingDialog dialog;
        dialog.refuse = refuse;
        int edits = 0;
        bool pending = false;
        bool saved = false;
        bool stillRunning = false;
        QTimer::singleShot(0, [&] {
            edits = 1;
            const QList<UnsavedEdits *> found = UnsavedEdits::pendingUnder({&dialog});
            pending = found.size() == 1;
            if (pending)
                saved = found.first()->save();
            stillRunning = dialog.isVisible();
            if (stillRunning)
                dialog.reject();
        });
        const int result = ostra::execSetupDialog(dialog, [&edits] { return QJsonValue(edits); });
        QVERIFY(pending);
        QCOMPARE(saved, !refuse);
        QCOMPARE(stillRunning, refuse);
        QCOMPARE(result, refuse ? int(QDialog::Rejected) : int(QDialog::Accepted));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestUnsavedEdits)
#include "tst_unsavededits.moc"
