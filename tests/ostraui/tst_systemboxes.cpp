#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "ostraui/theme.h"
#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"
#include "animatedrun.h"

namespace {

// Counts the size changes and layout passes of a box and of the widgets of its card.
class SizeEvents : public QObject
{
public:
    explicit SizeEvents(const QList<QWidget *> &watched)
    {
        for (QWidget *widget : watched)
            widget->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)
            ++count;
        return false;
    }
};

// A number of event-loop turns, each running what was posted during the previous one.
void turns(int n)
{
    for (int i = 0; i < n; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// Lets a shown box take its size; true once it has gone a whole round of turns unchanged.
bool settles(QDialog *box, int *changes)
{
    const QList<QWidget *> watched{box, box->findChild<QWidget *>(QStringLiteral("ostraDialogContent")),
                                   box->findChild<QWidget *>(QStringLiteral("ostraDialogScroll"))};
    for (int round = 0; round < 20; ++round) {
        SizeEvents events(watched);
        turns(10);
        if (events.count == 0)
            return true;
        *changes += events.count;
    }
    return false;
}

// True when a label shows all of its text at its present size.
bool showsWholeText(const QLabel *label)
{
    if (!label || label->text().isEmpty())
        return true;
    if (!label->wordWrap() && label->width() < label->sizeHint().width())
        return false;
    const int needed = label->hasHeightForWidth() ? label->heightForWidth(label->width()) : label->sizeHint().height();
    return label->height() >= needed;
}

const QString kLong = QStringLiteral(
    "View real-time input values from your connected devices: steering, throttle, brake, clutch and gear.");
const QString kFiveLines = QStringLiteral(
    "View real-time input values from your connected devices: the wheel from -1000 (left) to +1000 (right), "
    "the throttle, brake and clutch pedals from 0 to 1000, and the current gear.");
const QString kRich = QStringLiteral(
    "<b>Input Monitor</b><br><br>View real-time input values from your connected devices:<br><br>"
    "<b>Steering:</b> Shows wheel position from -1000 (left) to +1000 (right).<br><br>"
    "<b>Gear:</b> Shows current gear (N=Neutral, R=Reverse, 1-7=Gear).");

} // namespace

class TestSystemBoxes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        verifyRunKind();
    }

    // Qt's boxes dressed in the card settle at one size that shows all of their text, and then
    // cost nothing: no more size changes or layout passes, also after a change while shown.
    void boxSettles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("informative");
        QTest::addColumn<bool>("icon");
        QTest::addColumn<QString>("whileShown");
        QTest::newRow("short text") << "message" << "Could not open the port." << QString() << false << QString();
        QTest::newRow("long text") << "message" << kLong << QString() << false << QString();
        QTest::newRow("rich text") << "message" << kRich << QString() << true << QString();
        QTest::newRow("informative text") << "message" << "Delete the profile?" << kLong << false << QString();
        QTest::newRow("icon") << "message" << kLong << QString() << true << QString();
        QTest::newRow("icon, five lines") << "message" << kFiveLines << QString() << true << QString();
        QTest::newRow("own style sheet") << "message" << kLong << QString() << true << "sheet";
        QTest::newRow("text grows while shown") << "message" << "Connecting." << QString() << true << "text";
        QTest::newRow("input dialog") << "input" << "Profile name:" << QString() << false << QString();
        // A box that waits for something to end, with nothing to answer.
        QTest::newRow("no button") << "waiting" << QString::fromUtf8("Saving before the OSTRA ends\u2026") << kLong
                                   << true << QString();
    }

    void boxSettles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QString, informative);
        QFETCH(bool, icon);
        QFETCH(QString, whileShown);

        QWidget parent;
        parent.resize(900, 640);
        parent.show();
        QScopedPointer<QDialog> box;
        if (kind == QLatin1String("input")) {
            auto *input = new QInputDialog(&parent);
            input->setWindowTitle(QStringLiteral("New Profile"));
            input->setLabelText(text);
            input->setTextValue(QStringLiteral("New Profile"));
            box.reset(input);
        } else {
            auto *message = new QMessageBox(icon ? QMessageBox::Warning : QMessageBox::NoIcon,
                                            QStringLiteral("About Input Monitor"), text, QMessageBox::Ok, &parent);
            message->setInformativeText(informative);
            if (kind == QLatin1String("waiting"))
                message->setStandardButtons(QMessageBox::NoButton);
            box.reset(message);
        }
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.data()));
        QVERIFY(box->property("ostraDialog").toBool());
        int changes = 0;
        QVERIFY2(settles(box.data(), &changes), qPrintable(QStringLiteral("%1 size changes").arg(changes)));
        if (whileShown == QLatin1String("sheet"))
            box->setStyleSheet(QStringLiteral("QLabel { color: #2060C0; }"));
        if (whileShown == QLatin1String("text"))
            static_cast<QMessageBox *>(box.data())->setText(kLong);
        QVERIFY(settles(box.data(), &changes));

        // The card keeps its header, and its close button where the box has an answer.
        auto *header = box->findChild<QWidget *>(QStringLiteral("ostraDialogHeader"));
        QVERIFY(header && header->isVisible());
        QCOMPARE(box->layout()->indexOf(header), 0);
        QVERIFY(box->rect().contains(header->geometry()));
        auto *close = header->findChild<QPushButton *>();
        QVERIFY(close);
        QCOMPARE(close->isVisible(), kind != QLatin1String("waiting"));

        // Every text is shown whole, without scrolling, and the box fits the screen.
        auto *scroll = box->findChild<QScrollArea *>(QStringLiteral("ostraDialogScroll"));
        QVERIFY(scroll);
        QVERIFY(!scroll->verticalScrollBar()->isVisible());
        for (const QLabel *label : scroll->widget()->findChildren<QLabel *>()) {
            if (label->isVisible())
                QVERIFY2(showsWholeText(label), qPrintable(label->text()));
        }
        QVERIFY(box->screen()->availableGeometry().size().expandedTo(box->size()) == box->screen()->availableGeometry().size());

        const QString name = QStringLiteral("systembox-") + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
        QVERIFY(ostratest::composeDialog(&parent, box.data()).save(ostratest::themedPicture(QStringLiteral("ostraui"), name)));
    }

    // The card's close button answers a question as its Escape button would, never as no answer.
    void closeButtonAnswersAsEscape_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes or no") << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::No);
        QTest::newRow("save, discard or cancel")
            << int(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel) << int(QMessageBox::Cancel);
        QTest::newRow("ok alone") << int(QMessageBox::Ok) << int(QMessageBox::Ok);
        QTest::newRow("none: no close shown") << int(QMessageBox::NoButton) << -1;
    }

    void closeButtonAnswersAsEscape()
    {
        QFETCH(int, buttons);
        QFETCH(int, answer);
        QWidget parent;
        parent.resize(900, 640);
        parent.show();
        QMessageBox box(QMessageBox::Question, QStringLiteral("Unsaved changes"), QStringLiteral("Save?"),
                        QMessageBox::StandardButtons(buttons), &parent);
        box.setStandardButtons(QMessageBox::StandardButtons(buttons));
        bool closeShown = false;
        QTimer::singleShot(0, &box, [&box, &closeShown] {
            auto *close = box.findChild<QWidget *>(QStringLiteral("ostraDialogHeader"))->findChild<QPushButton *>();
            closeShown = close->isVisible();
            closeShown ? QTest::mouseClick(close, Qt::LeftButton) : box.done(-1);
        });
        QCOMPARE(box.exec(), answer);
        QCOMPARE(closeShown, answer >= 0);
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin(QStringLiteral("ostraui"), {QStringLiteral("boxSettles")})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestSystemBoxes)
#include "tst_systemboxes.moc"
