#include <QApplication>
#include <QHBoxLayout>
#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QStyleOptionComboBox>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "ostraui/card.h"
#include "ostraui/devicerow.h"
#include "ostraui/focusring.h"
#include "ostraui/pill.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "support/testenvironment.h"
#include "animatedrun.h"
#include "paintcounter.h"

using namespace ostra;

class TestSurfaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        installTheme(*qApp);
        verifyRunKind();
    }

    void shadow_data()
    {
        QTest::addColumn<int>("elevation");
        QTest::addColumn<bool>("dimmed");
        QTest::addColumn<bool>("shaded");
        QTest::newRow("flat") << 0 << false << false;
        QTest::newRow("raised") << 2 << false << true;
        QTest::newRow("dimmed") << 1 << true << false;
    }

    void shadow()
    {
        QFETCH(int, elevation);
        QFETCH(bool, dimmed);
        QFETCH(bool, shaded);
        QWidget container;
        container.resize(300, 240);
        auto *card = new Card(&container, elevation);
        card->setGeometry(50, 40, 200, 120);
        card->setDimmed(dimmed);
        container.show();
        QVERIFY(QTest::qWaitForWindowExposed(&container));
        // Below the card's bottom edge only a shadow can darken the backdrop.
        const QImage image = container.grab().toImage();
        QCOMPARE(image.pixelColor(150, 166) != image.pixelColor(150, 230), shaded);
        QCOMPARE(container.findChildren<ShadowLayer *>().size(), 1);
        container.resize(400, 300);
        QCOMPARE(shadowLayerFor(&container)->geometry(), QRect(0, 0, 400, 300));
    }

    // A label on a card changing its text asks the page for a layout; that repaints the label,
    // not the other cards through the shadow layer beneath them all.
    void shadowLayerSparesUnchangedCards()
    {
        QWidget page;
        page.resize(860, 300);
        auto *layout = new QHBoxLayout(&page);
        auto *first = new Card(nullptr, 1);
        auto *value = new QLabel(QStringLiteral("1500"));
        first->contentLayout()->addWidget(value);
        auto *second = new Card(nullptr, 2);
        auto *other = new PaintCounter;
        other->setMinimumSize(100, 100);
        second->contentLayout()->addWidget(other);
        layout->addWidget(first);
        layout->addSpacing(160);
        layout->addWidget(second);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QCoreApplication::processEvents();
        const int before = other->paints;
        for (const char *text : {"1523", "1611", "998"}) {
            value->setText(QString::fromLatin1(text));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QCoreApplication::sendPostedEvents(&page, QEvent::UpdateRequest);
        }
        QCOMPARE(other->paints, before);
        // Nor does a card's shadow lifting as it is hovered, far from the other.
        first->setClickable(true);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(first, &enter);
        QCoreApplication::sendPostedEvents(&page, QEvent::UpdateRequest);
        QCOMPARE(other->paints, before);
        // Nor a dialog made with the page as its parent.
        const auto dialog = std::make_unique<QDialog>(&page);
        QCoreApplication::sendPostedEvents(&page, QEvent::UpdateRequest);
        QCOMPARE(other->paints, before);
        // A card that really moves still repaints the shadows.
        first->hide();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::sendPostedEvents(&page, QEvent::UpdateRequest);
        QVERIFY(other->paints > before);
    }

    // A click on a page's background hands its scroll body the keys, and a dialog over the page
    // takes them away: the page shows no sign of either, and repaints nothing.
    void scrollBodyFocusRepaintsNothing()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *body = new QScrollArea;
        makeScrollBody(body);
        body->setWidgetResizable(true);
        auto *content = new PaintCounter;
        content->setMinimumSize(200, 200);
        body->setWidget(content);
        layout->addWidget(body);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();
        const int before = content->paints;
        // As the kit hands them over, whether or not the window system has made it active.
        for (const QEvent::Type type : {QEvent::FocusIn, QEvent::FocusOut}) {
            QFocusEvent focus(type, Qt::MouseFocusReason);
            QCoreApplication::sendEvent(body, &focus);
            QCoreApplication::sendPostedEvents(&window, QEvent::UpdateRequest);
        }
        QCOMPARE(content->paints, before);
    }

    void deviceRowLayout_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("wide");
        QTest::newRow("420 narrow") << 420 << false;
        QTest::newRow("639 narrow") << 639 << false;
        // Side by side the list would cut its placeholder or a 40-character device name.
        QTest::newRow("640 narrow") << 640 << false;
        QTest::newRow("660 narrow") << 660 << false;
        QTest::newRow("900 wide") << 900 << true;
        QTest::newRow("1200 wide") << 1200 << true;
    }

    void deviceRowLayout()
    {
        QFETCH(int, width);
        QFETCH(bool, wide);
        QWidget page;
        page.resize(1000, 300);
        const QString subtitle = QStringLiteral("Steering axis, force feedback and the paddle shifters");
        auto *row = new DeviceRow("WB", "Wheel base", subtitle, &page);
        const QString device = QStringLiteral("Fanatec ClubSport Wheel Base V2.5 (USB)");
        row->combo()->addItems({"Choose wheel base", device});
        row->setGeometry(0, 0, width, 120);
        page.show();
        QCoreApplication::processEvents();
        QCOMPARE(row->isWide(), wide);
        // Wide, the list sits left of the status and button; narrow, on a line of its own below.
        const QRect combo = row->combo()->geometry();
        const QRect pill = row->findChild<Pill *>()->geometry();
        const QRect button = row->findChild<QPushButton *>()->geometry();
        QCOMPARE(combo.top() > pill.bottom(), !wide);
        QVERIFY(combo.left() < pill.left() && pill.right() < button.left());
        QVERIFY(!combo.intersects(pill) && !combo.intersects(button));
        QVERIFY(button.right() < width);
        // The list shows its whole placeholder, and a device name of 40 characters whole.
        QStyleOptionComboBox option;
        option.initFrom(row->combo());
        const int field = row->combo()->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                                 QStyle::SC_ComboBoxEditField, row->combo()).width();
        for (const QString &text : {QStringLiteral("Choose wheel base"), device + QLatin1Char('X')})
            QVERIFY2(row->combo()->fontMetrics().horizontalAdvance(text) <= field, qPrintable(text));

        // A subtitle too long for its column ends in an ellipsis and the whole text is its tool tip.
        QLabel *sub = nullptr;
        for (QLabel *label : row->findChildren<QLabel *>()) {
            if (label->text() == subtitle)
                sub = label;
        }
        QVERIFY(sub);
        const bool cut = sub->fontMetrics().horizontalAdvance(subtitle) > sub->contentsRect().width();
        QVERIFY(cut || width > 640);
        QCOMPARE(sub->toolTip(), cut ? subtitle : QString());
        QVERIFY(sub->geometry().right() < combo.left() || !wide);
    }

    void deviceRowNothingChosen()
    {
        QWidget window;
        window.resize(760, 300);
        auto *row = new DeviceRow("PD", "Pedals", "Throttle and brake", &window);
        row->setGeometry(0, 0, 760, 90);
        row->combo()->addItems({"Choose a device", "Sprint pedals"});
        row->updateControls();
        window.show();
        // Nothing chosen: the button looks faded (drawn half see-through) yet answers a click with a hint.
        auto *button = row->findChild<QPushButton *>();
        const auto opaquest = [button] {
            QImage image(button->size(), QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            button->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
            int most = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x)
                    most = std::max(most, qAlpha(image.pixel(x, y)));
            }
            return most;
        };
        QVERIFY(opaquest() <= 128);
        // Its repaints leave what waits out of sight for its size alone, to be laid out when due.
        struct Sized : QWidget
        {
            using QWidget::QWidget;
            void resizeEvent(QResizeEvent *) override { ++resizes; }
            int resizes = 0;
        };
        auto *aside = new Sized(&window);
        aside->hide();
        aside->resize(40, 40);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        button->repaint();
        QCOMPARE(aside->resizes, 0);
        QSignalSpy connectSpy(row, &DeviceRow::connectRequested);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(connectSpy.count(), 0);
        QCOMPARE(window.findChild<Toast *>()->text(), QStringLiteral("Choose a device first"));

        row->combo()->setCurrentIndex(1);
        QCOMPARE(opaquest(), 255);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(connectSpy.count(), 1);
        // While busy the list is locked.
        row->setBusy(true);
        QVERIFY(!row->combo()->isEnabled());
    }

    void deviceRowStates_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("pillText");
        QTest::addColumn<QString>("buttonText");
        QTest::newRow("not connected") << 0 << "Not connected" << "Connect";
        QTest::newRow("connecting") << 1 << "Connecting" << "Connecting";
        QTest::newRow("connected") << 2 << "COM3" << "Disconnect";
    }

    void deviceRowStates()
    {
        QFETCH(int, state);
        QFETCH(QString, pillText);
        QFETCH(QString, buttonText);
        DeviceRow row("TX", "Transmitter", "USB");
        row.combo()->addItems({"Choose a port", "COM3"});
        row.combo()->setCurrentIndex(1);
        row.resize(700, 80);
        row.show();
        row.setStatus(state, state == 2 ? QStringLiteral("COM3") : QString());
        auto *pill = row.findChild<Pill *>();
        QCOMPARE(pill->text(), pillText);
        // Only the connecting pill pulses, where animations run.
        if (state == 1 && animationsEnabled())
            QTRY_VERIFY(pill->pulseOpacity() < 0.9);
        else
            QCOMPARE(pill->pulseOpacity(), 1.0);
        auto *button = row.findChild<QPushButton *>();
        QCOMPARE(button->text(), buttonText);
        QSignalSpy disconnectSpy(&row, &DeviceRow::disconnectRequested);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(disconnectSpy.count(), state == 2 ? 1 : 0);
    }

    void toast()
    {
        showToast(nullptr, "ignored");
        QWidget window;
        window.resize(600, 400);
        auto *a = new QLabel("a", &window);
        auto *b = new QLabel("b", new QWidget(&window));
        window.show();
        // One toast per window, whoever asks; the newest text wins.
        showToast(a, "Saved to controller");
        Toast *toast = window.findChild<Toast *>();
        // Animated, it fades in; otherwise it is there at once.
        QCOMPARE(toast->opacity() < 1.0, animationsEnabled());
        QTRY_COMPARE(toast->opacity(), 1.0);
        showToast(b, "Profile deleted");
        QCOMPARE(window.findChildren<Toast *>().size(), 1);
        QCOMPARE(toast->text(), QStringLiteral("Profile deleted"));
        QTRY_VERIFY_WITH_TIMEOUT(!toast->isVisible(), 5000);
        showToast(a, "Again");
        QVERIFY(toast->isVisible());
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestSurfaces)
#include "tst_surfaces.moc"
