#include <QApplication>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>

#include <functional>

#include "bridge/corvanecontroller.h"
#include "dialogs/buttonconfigdialog.h"
#include "dialogs/escconfigdialog.h"
#include "dialogs/presetspanel.h"
#include "dialogs/transmissionview.h"
#include "ostraui/theme.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"
#include "support/transmitrig.h"
#include "support/widgets/modalanswerer.h"

namespace {

QPushButton *buttonNamed(QWidget &parent, const QString &text)
{
    for (QPushButton *b : parent.findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

} // namespace

// A question whose Yes throws something away answers No to Return, as the keyboard alone gives it.
class TestDestructiveQuestions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void returnKeeps_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("title");
        QTest::newRow("ESC preset") << "esc" << "Delete Preset" << "Delete Preset";
        QTest::newRow("controls preset") << "presets" << "Delete" << "Delete preset";
        QTest::newRow("button mappings") << "buttons" << "Clear All" << "Clear All";
        QTest::newRow("telemetry sensors") << "sensors" << "Delete all" << "Delete all sensors";
    }

    void returnKeeps()
    {
        QFETCH(QString, place);
        QFETCH(QString, button);
        ostratest::TransmitRig rig;
        corvane::CorvaneController *c = rig.controller.get();
        corvane::ProfileManager *store = c->profileManager();
        std::unique_ptr<QWidget> widget;
        std::function<int()> left;
        if (place == QLatin1String("esc")) {
            AxisSettings settings;
            settings.escMode = 2;
            settings.escPresetId = store->createEscPreset(QStringLiteral("Crawler"), 1000, 1700, 300);
            auto *dialog = new corvane::EscConfigDialog(c, nullptr);
            dialog->setAxisSettings(settings);
            widget.reset(dialog);
            left = [store] { return int(store->escPresets().size()); };
        } else if (place == QLatin1String("presets")) {
            store->saveUserPreset(QStringLiteral("controls"), QStringLiteral("Street"), QJsonObject());
            widget = std::make_unique<corvane::PresetsPanel>(c, QStringLiteral("controls"), QStringLiteral("Presets"),
                                                             QString());
            left = [store] { return int(store->userPresets(QStringLiteral("controls")).size()); };
        } else if (place == QLatin1String("buttons")) {
            auto *dialog = new corvane::ButtonConfigDialog(c, nullptr);
            ButtonMappingSet set;
            set.mappings.append(ButtonMapping());
            dialog->setMappings(set);
            widget.reset(dialog);
            left = [dialog] { return int(dialog->mappings().mappings.size()); };
        } else {
            Profile *profile = store->mutableActiveProfile();
            profile->telemetrySensors = {{QStringLiteral("RQly"), QStringLiteral("Link quality"), QString()}};
            c->loadTelemetrySensors();
            widget = std::make_unique<corvane::TransmissionView>(c);
            left = [c] { return int(c->telemetrySensors().size()); };
        }
        ostratest::ModalAnswerer answer;
        answer.returnKey();
        QPushButton *asks = buttonNamed(*widget, button);
        QVERIFY(asks);
        asks->click();
        QTEST(answer.records().value(0).title, "title");
        QCOMPARE(left(), 1);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestDestructiveQuestions)
#include "tst_destructivequestions.moc"
