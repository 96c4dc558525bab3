#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ostraui/dialogchrome.h"
#include "support/testenvironment.h"
#include "animatedrun.h"

using ostra::applyDialogChrome;

namespace {

QWidget *header(QDialog &d)
{
    return d.findChild<QWidget *>(QStringLiteral("ostraDialogHeader"));
}

QColor sample(QWidget &window)
{
    return window.grab().toImage().pixelColor(20, 20);
}

} // namespace

class TestDialogChrome : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { verifyRunKind(); }

    void secondCallChangesNothing()
    {
        applyDialogChrome(nullptr, QStringLiteral("subtitle"));
        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Pedal check"));
        (new QVBoxLayout(&dialog))->addWidget(new QLineEdit);
        dialog.setFixedSize(400, 300);
        applyDialogChrome(&dialog, QStringLiteral("Once"));
        const int children = int(dialog.findChildren<QObject *>().size());
        QLayout *outer = dialog.layout();

        applyDialogChrome(&dialog, QStringLiteral("Twice"));
        QCOMPARE(int(dialog.findChildren<QObject *>().size()), children);
        QCOMPARE(dialog.layout(), outer);
        // The shadow margins are added once.
        QCOMPARE(dialog.size(), QSize(456, 424));
        QCOMPARE(header(dialog)->findChildren<QLabel *>().value(1)->text(), QStringLiteral("Once"));
        // The header follows the window title.
        dialog.setWindowTitle(QStringLiteral("Pedal check (2)"));
        QCOMPARE(header(dialog)->findChildren<QLabel *>().value(0)->text(), QStringLiteral("Pedal check (2)"));
    }

    void contentMovesUnderHeader()
    {
        QDialog dialog;
        auto *edit = new QLineEdit;
        auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        auto *inner = new QWidget;
        (new QVBoxLayout(inner))->addWidget(box);
        auto *layout = new QVBoxLayout(&dialog);
        layout->addWidget(edit);
        layout->addWidget(inner);
        applyDialogChrome(&dialog);
        QCOMPARE(dialog.layout()->itemAt(0)->widget(), header(dialog));
        // Accepting buttons, however deep, take the primary look.
        QVERIFY(box->button(QDialogButtonBox::Ok)->property("primary").toBool());
        QVERIFY(!box->button(QDialogButtonBox::Cancel)->property("primary").toBool());

        // Clicks and keys in the content still reach its widgets.
        dialog.resize(500, 300);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClicks(edit, QStringLiteral("abc"));
        QCOMPARE(edit->text(), QStringLiteral("abc"));
    }

    void contentInset_data()
    {
        QTest::addColumn<bool>("ownMargins");
        QTest::newRow("style's margins") << false;
        QTest::newRow("dialog's own margins") << true;
    }

    // The form lines up with the header's title and keeps clear of the card's edges, unless the
    // dialog chose its margins itself.
    void contentInset()
    {
        QFETCH(bool, ownMargins);
        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Drive settings"));
        auto *layout = new QVBoxLayout(&dialog);
        if (ownMargins)
            layout->setContentsMargins(2, 3, 4, 5);
        auto *edit = new QLineEdit;
        layout->addWidget(edit);
        layout->addStretch(1);
        auto *box = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
        layout->addWidget(box);
        applyDialogChrome(&dialog);
        dialog.resize(500, 300);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(layout->contentsMargins(), ownMargins ? QMargins(2, 3, 4, 5) : QMargins(24, 10, 24, 20));
        if (ownMargins)
            return;
        const QRect card = dialog.rect().adjusted(28, 18, -28, -44);
        const QRect field(edit->mapTo(&dialog, QPoint()), edit->size());
        const QRect buttons(box->mapTo(&dialog, QPoint()), box->size());
        auto *title = header(dialog)->findChild<QLabel *>();
        QCOMPARE(field.left(), title->mapTo(&dialog, QPoint()).x());
        QCOMPARE(card.right() - buttons.right(), 24);
        QCOMPARE(card.bottom() - buttons.bottom(), 20);
    }

    void closeButtonRunsOwnReject()
    {
        struct CountingDialog : QDialog
        {
            void reject() override
            {
                ++rejects;
                QDialog::reject();
            }
            int rejects = 0;
        } dialog;
        applyDialogChrome(&dialog);
        dialog.show();
        QTest::mouseClick(header(dialog)->findChild<QPushButton *>(), Qt::LeftButton);
        QCOMPARE(dialog.rejects, 1);
        QVERIFY(!dialog.isVisible());
    }

    void dimsParentOnlyWhenItShould_data()
    {
        QTest::addColumn<bool>("dressedParent");
        QTest::addColumn<bool>("dims");
        QTest::newRow("plain window") << false << true;
        QTest::newRow("dressed dialog") << true << false;
    }

    void dimsParentOnlyWhenItShould()
    {
        QFETCH(bool, dressedParent);
        QFETCH(bool, dims);
        QWidget window;
        window.resize(500, 400);
        window.show();
        const QColor undimmed = sample(window);
        QDialog outer(&window);
        applyDialogChrome(&outer);
        QDialog dialog(dressedParent ? static_cast<QWidget *>(&outer) : &window);
        applyDialogChrome(&dialog);
        const int childrenBefore = int(window.findChildren<QWidget *>().size());

        dialog.show();
        // Animated, the dialog fades in as the dimming grows; otherwise both are there at once.
        QCOMPARE(dialog.windowOpacity() < 1.0, ostra::animationsEnabled());
        QTRY_COMPARE(dialog.windowOpacity(), 1.0);
        QCoreApplication::processEvents();
        QTRY_COMPARE(sample(window) != undimmed, dims);
        // Hiding removes the dimming; showing again dims afresh with one overlay only.
        dialog.hide();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(sample(window), undimmed);
        QCOMPARE(int(window.findChildren<QWidget *>().size()), childrenBefore);
        dialog.show();
        QCoreApplication::processEvents();
        QTRY_COMPARE(sample(window) != undimmed, dims);
        QCOMPARE(int(window.findChildren<QWidget *>().size()), childrenBefore + (dims ? 1 : 0));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestDialogChrome)
#include "tst_dialogchrome.moc"
