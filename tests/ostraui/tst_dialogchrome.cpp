#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ostraui/dialogchrome.h"
#include "ostraui/theme.h"
#include "support/testenvironment.h"

using ostra::applyDialogChrome;

namespace {

QWidget *header(QDialog &d)
{
    return d.findChild<QWidget *>(QStringLiteral("ostraDialogHeader"));
}

QLabel *headerLabel(QDialog &d, int index)
{
    return header(d)->findChildren<QLabel *>().value(index);
}

// A plain window in a known colour to dim.
class ParentWindow : public QWidget
{
public:
    ParentWindow()
    {
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, QColor(200, 220, 240));
        setPalette(pal);
        resize(500, 400);
        show();
    }
    QColor sample() { return grab().toImage().pixelColor(20, 20); }
};

} // namespace

class TestDialogChrome : public QObject
{
    Q_OBJECT

private slots:
    void sizesAreCompensated_data();
    void sizesAreCompensated();
    void secondCallChangesNothing();
    void contentMovesUnderHeader();
    void headerFollowsTitleAndSubtitle();
    void closeButtonRunsOwnReject();
    void ownStyleSheetKeepsCardVisible();
    void dimsParentOnlyWhenItShould_data();
    void dimsParentOnlyWhenItShould();
    void dimmingFollowsParentAndEndsWithDialog();
    void shownAtOnceWithoutAnimations();
};

void TestDialogChrome::sizesAreCompensated_data()
{
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");
    QTest::addColumn<QSize>("resizeTo");
    QTest::addColumn<QSize>("expectedMinimum");
    QTest::addColumn<QSize>("expectedMaximum");
    QTest::addColumn<QSize>("expectedSize");
    // The shadow margins add 56 x 124; unbounded stays unbounded.
    const QSize none;
    const QSize unbounded(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    QTest::newRow("fixed 400x300") << QSize(400, 300) << QSize(400, 300) << none << QSize(456, 424)
                                   << QSize(456, 424) << QSize(456, 424);
    QTest::newRow("minimum width only") << QSize(200, 0) << none << none << QSize(256, 124) << unbounded
                                        << none;
    QTest::newRow("maximum height only")
        << none << QSize(QWIDGETSIZE_MAX, 600) << none << QSize(0, 0) << QSize(QWIDGETSIZE_MAX, 724) << none;
    QTest::newRow("resized") << none << none << QSize(300, 200) << QSize(0, 0) << unbounded
                             << QSize(356, 324);
}

void TestDialogChrome::sizesAreCompensated()
{
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);
    QFETCH(QSize, resizeTo);
    QFETCH(QSize, expectedMinimum);
    QFETCH(QSize, expectedMaximum);
    QFETCH(QSize, expectedSize);
    QDialog dialog;
    if (minimum.isValid())
        dialog.setMinimumSize(minimum);
    if (maximum.isValid())
        dialog.setMaximumSize(maximum);
    if (resizeTo.isValid())
        dialog.resize(resizeTo);
    applyDialogChrome(&dialog);
    QCOMPARE(dialog.minimumSize(), expectedMinimum);
    QCOMPARE(dialog.maximumSize(), expectedMaximum);
    if (expectedSize.isValid())
        QCOMPARE(dialog.size(), expectedSize);
}

void TestDialogChrome::secondCallChangesNothing()
{
    applyDialogChrome(nullptr, QStringLiteral("subtitle"));
    QDialog dialog;
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLineEdit);
    dialog.setFixedSize(400, 300);
    applyDialogChrome(&dialog, QStringLiteral("Once"));
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(dialog.testAttribute(Qt::WA_TranslucentBackground));
    const int children = int(dialog.findChildren<QObject *>().size());
    QLayout *outer = dialog.layout();

    applyDialogChrome(&dialog, QStringLiteral("Twice"));
    QCOMPARE(int(dialog.findChildren<QObject *>().size()), children);
    QCOMPARE(dialog.layout(), outer);
    QCOMPARE(dialog.size(), QSize(456, 424));
    QCOMPARE(dialog.minimumSize(), QSize(456, 424));
    QVERIFY(dialog.styleSheet().isEmpty());
    QCOMPARE(headerLabel(dialog, 1)->text(), QStringLiteral("Once"));
}

void TestDialogChrome::contentMovesUnderHeader()
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
    QCOMPARE(edit->parentWidget(), dialog.layout()->itemAt(1)->widget());
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

void TestDialogChrome::headerFollowsTitleAndSubtitle()
{
    QDialog plain;
    plain.setWindowTitle(QStringLiteral("Pedal check"));
    applyDialogChrome(&plain);
    QCOMPARE(headerLabel(plain, 0)->text(), QStringLiteral("Pedal check"));
    QVERIFY(headerLabel(plain, 1)->isHidden());
    plain.setWindowTitle(QStringLiteral("Pedal check (2)"));
    QCOMPARE(headerLabel(plain, 0)->text(), QStringLiteral("Pedal check (2)"));

    QDialog explained;
    applyDialogChrome(&explained, QStringLiteral("Map each control to an input"));
    QCOMPARE(headerLabel(explained, 1)->text(), QStringLiteral("Map each control to an input"));
    QVERIFY(!headerLabel(explained, 1)->isHidden());
}

void TestDialogChrome::closeButtonRunsOwnReject()
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
    auto *close = header(dialog)->findChild<QPushButton *>();
    QCOMPARE(close->toolTip(), QStringLiteral("Close"));
    QTest::mouseClick(close, Qt::LeftButton);
    QCOMPARE(dialog.rejects, 1);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
}

void TestDialogChrome::ownStyleSheetKeepsCardVisible()
{
    // A dialog's own background rule would hide the card's transparent margins.
    QDialog styled;
    styled.setStyleSheet(QStringLiteral("QDialog { background: #FFFFFF; }"));
    applyDialogChrome(&styled);
    QCOMPARE(styled.styleSheet(),
             QStringLiteral("QDialog { background: #FFFFFF; }\nQDialog { background: transparent; }\n"
                            "#ostraDialogHeader, #ostraDialogContent { background: transparent; }"));
}

void TestDialogChrome::dimsParentOnlyWhenItShould_data()
{
    QTest::addColumn<int>("parentKind"); // 0 plain window, 1 none, 2 dressed dialog
    QTest::addColumn<bool>("dims");
    QTest::newRow("plain window") << 0 << true;
    QTest::newRow("no parent") << 1 << false;
    QTest::newRow("dressed dialog") << 2 << false;
}

void TestDialogChrome::dimsParentOnlyWhenItShould()
{
    QFETCH(int, parentKind);
    QFETCH(bool, dims);
    ParentWindow window;
    const QColor undimmed = window.sample();
    QDialog outer(&window);
    applyDialogChrome(&outer);
    QWidget *parent = parentKind == 0 ? static_cast<QWidget *>(&window) : parentKind == 2 ? &outer : nullptr;
    QDialog dialog(parent);
    applyDialogChrome(&dialog);
    const int childrenBefore = int(window.findChildren<QWidget *>().size());
    const int outerChildrenBefore = int(outer.findChildren<QWidget *>().size());

    dialog.show();
    QCoreApplication::processEvents();
    QTRY_COMPARE(window.sample() != undimmed, dims);
    QCOMPARE(int(outer.findChildren<QWidget *>().size()), outerChildrenBefore);
    if (dims) {
        QTRY_COMPARE(dialog.windowOpacity(), 1.0);
        // Full dimming at once in the light theme: 28 % of the shadow colour.
        const QColor shadow = ostra::ThemeColors::shadow;
        QVERIFY(std::abs(window.sample().red() - qRound(undimmed.red() * 0.72 + shadow.red() * 0.28)) <= 1);
        QVERIFY(std::abs(window.sample().blue() - qRound(undimmed.blue() * 0.72 + shadow.blue() * 0.28)) <= 1);
    }

    // Hiding removes the dimming; showing again dims afresh with one overlay only.
    dialog.hide();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(window.sample(), undimmed);
    QCOMPARE(int(window.findChildren<QWidget *>().size()), childrenBefore);
    dialog.show();
    QCoreApplication::processEvents();
    QTRY_COMPARE(window.sample() != undimmed, dims);
    QCOMPARE(int(window.findChildren<QWidget *>().size()), childrenBefore + (dims ? 1 : 0));
    dialog.hide();
}

void TestDialogChrome::dimmingFollowsParentAndEndsWithDialog()
{
    ParentWindow window;
    const QColor undimmed = window.sample();
    auto *dialog = new QDialog(&window);
    applyDialogChrome(dialog);
    dialog->show();
    QTRY_VERIFY(window.sample() != undimmed);
    window.resize(800, 600);
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    QCOMPARE(image.pixelColor(790, 590), image.pixelColor(20, 20));

    delete dialog;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(window.sample(), undimmed);
}

void TestDialogChrome::shownAtOnceWithoutAnimations()
{
    if (ostra::animationsEnabled())
        QSKIP("needs a platform without animations");
    ParentWindow window;
    QDialog dialog(&window);
    dialog.resize(300, 200);
    applyDialogChrome(&dialog);
    dialog.move(120, 80);
    dialog.show();
    QCoreApplication::processEvents();
    QCOMPARE(dialog.windowOpacity(), 1.0);
    QCOMPARE(dialog.pos(), QPoint(120, 80));
    // The card sits inside the shadow margins: only a faint shadow outside, surface inside.
    const QImage image = dialog.grab().toImage();
    QVERIFY(image.pixelColor(5, 100).alpha() < 40);
    QCOMPARE(image.pixelColor(200, 250), ostra::ThemeColors::surface);
}

OSTRA_TEST_MAIN_WIDGETS(TestDialogChrome)
#include "tst_dialogchrome.moc"
