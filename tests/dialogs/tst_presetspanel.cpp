#include <QApplication>
#include <QComboBox>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "bridge/corvanecontroller.h"
#include "dialogrender.h"
#include "dialogs/presetspanel.h"
#include "ostraui/toast.h"
#include "profiles/profilemanager.h"
#include "support/transmitrig.h"
#include "support/widgets/modalanswerer.h"

using corvane::PresetsPanel;

namespace {

const QString Controls = QStringLiteral("controls");

QPushButton *button(QWidget &panel, const QString &text)
{
    for (QPushButton *b : panel.findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QStringList items(QComboBox *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

// A controls preset whose device entries carry custom mappings saved for these products.
QJsonObject presetFor(const QString &wheelProduct, const QString &pedalsProduct)
{
    QJsonObject data;
    data.insert("axes", QJsonArray());
    const auto device = [](const QString &product) {
        return QJsonObject{{"productName", product}, {"custom", true}, {"axisMapping", AxisMapping().toJson()}};
    };
    if (!wheelProduct.isEmpty())
        data.insert("wheelBase", device(wheelProduct));
    if (!pedalsProduct.isEmpty())
        data.insert("pedals", device(pedalsProduct));
    return data;
}

} // namespace

class TestPresetsPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void blankNameIsNotSaved()
    {
        ostratest::TransmitRig rig;
        PresetsPanel panel(rig.controller.get(), Controls, "Controls presets", "About");
        panel.findChild<QLineEdit *>()->setText("   ");
        QVERIFY(!button(panel, "Save")->isEnabled());
        QTest::keyClick(panel.findChild<QLineEdit *>(), Qt::Key_Return);
        QVERIFY(rig.controller->profileManager()->userPresets(Controls).isEmpty());
        panel.findChild<QLineEdit *>()->setText("Street");
        QVERIFY(button(panel, "Save")->isEnabled());
    }

    void savingUnderAnExistingNameOverwritesIt()
    {
        ostratest::TransmitRig rig;
        corvane::ProfileManager *store = rig.controller->profileManager();
        const QString streetId = store->saveUserPreset(Controls, "Street", rig.controller->saveControlsPreset(Controls));
        store->saveUserPreset(Controls, "Track", rig.controller->saveControlsPreset(Controls));
        QWidget window;
        auto *panel = new PresetsPanel(rig.controller.get(), Controls, "Controls presets", "About", &window);
        auto *list = panel->findChild<QComboBox *>();
        list->setCurrentIndex(1);
        QCOMPARE(list->currentText(), QString("Track"));

        auto *name = panel->findChild<QLineEdit *>();
        name->setText("street ");
        QVERIFY(button(*panel, "Overwrite"));
        QTest::keyClick(name, Qt::Key_Return);

        const QList<UserPreset> saved = store->userPresets(Controls);
        QCOMPARE(saved.size(), 2);
        QCOMPARE(saved.at(0).id, streetId);
        QCOMPARE(saved.at(0).name, QString("street"));
        QCOMPARE(items(list), (QStringList{"street", "Track"}));
        QCOMPARE(list->currentData().toString(), streetId);
        QVERIFY(name->text().isEmpty());
        QVERIFY(button(*panel, "Save") && !button(*panel, "Save")->isEnabled());
        QTRY_VERIFY(window.findChild<ostra::Toast *>()); // once the file is on disk
        QCOMPARE(window.findChild<ostra::Toast *>()->text(), QString("Saved \u201Cstreet\u201D"));
    }

    void deletingTheLastPresetBringsThePlaceholderBack()
    {
        ostratest::TransmitRig rig;
        rig.controller->profileManager()->saveUserPreset(Controls, "Only", QJsonObject());
        PresetsPanel panel(rig.controller.get(), Controls, "Controls presets", "About");
        ostratest::ModalAnswerer answer;
        answer.press("No");
        button(panel, "Delete")->click();
        QCOMPARE(rig.controller->profileManager()->userPresets(Controls).size(), 1);
        answer.press("Yes");
        button(panel, "Delete")->click();
        QCOMPARE(answer.records().at(1).title, QString("Delete preset"));
        QCOMPARE(answer.records().at(1).text, QString("Delete \u201COnly\u201D?"));
        auto *list = panel.findChild<QComboBox *>();
        QCOMPARE(items(list), QStringList{"Nothing saved yet"});
        QVERIFY(!list->isEnabled() && !button(panel, "Load")->isEnabled() && !button(panel, "Delete")->isEnabled());
    }

    void onlyItsOwnKindRefreshesThePanel()
    {
        ostratest::TransmitRig rig;
        corvane::ProfileManager *store = rig.controller->profileManager();
        PresetsPanel panel(rig.controller.get(), Controls, "Controls presets", "About");
        auto *list = panel.findChild<QComboBox *>();
        // A controls preset arrives unannounced; a change of the other kind must not list it.
        store->blockSignals(true);
        store->saveUserPreset(Controls, "Quiet", QJsonObject());
        store->blockSignals(false);
        store->saveUserPreset("ffb", "Strong", QJsonObject());
        QCOMPARE(items(list), QStringList{"Nothing saved yet"});
        store->saveUserPreset(Controls, "Loud", QJsonObject());
        QCOMPARE(items(list), (QStringList{"Loud", "Quiet"}));
    }

    void loadingReportsRefusedDeviceMappings_data()
    {
        QTest::addColumn<QString>("wheelProduct");
        QTest::addColumn<QString>("pedalsProduct");
        QTest::addColumn<QString>("message");
        QTest::newRow("wheel base") << "Fanatec CSL DD" << "" << "wheel base";
        QTest::newRow("both") << "Fanatec CSL DD" << "Heusinkveld Sprint" << "wheel base and pedals";
    }

    void loadingReportsRefusedDeviceMappings()
    {
        QFETCH(QString, wheelProduct);
        QFETCH(QString, pedalsProduct);
        QFETCH(QString, message);
        ostratest::TransmitRig rig;
        QVERIFY(rig.controller->connectWheelBase(ostratest::TransmitRig::WheelPos));
        QVERIFY(rig.controller->connectPedals(ostratest::TransmitRig::PedalsPos));
        rig.controller->profileManager()->saveUserPreset(Controls, "Borrowed", presetFor(wheelProduct, pedalsProduct));
        PresetsPanel panel(rig.controller.get(), Controls, "Controls presets", "About");
        QSignalSpy loaded(&panel, &PresetsPanel::presetLoaded);
        ostratest::ModalAnswerer answer;
        answer.press("OK");
        button(panel, "Load")->click();
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).title, QString("Preset loaded"));
        QCOMPARE(answer.records().at(0).text,
                 QString("Axis mapping for the %1 was not loaded: it was saved for a different device.").arg(message));
    }

    void aPresetWithoutCustomMappingsToasts()
    {
        ostratest::TransmitRig rig;
        AxisSettings settings = rig.controller->axisSettings();
        settings.throttle.curve = 2;
        QVERIFY(rig.controller->setAxisSettings(settings));
        rig.controller->profileManager()->saveUserPreset(Controls, "Soft", rig.controller->saveControlsPreset(Controls));
        QVERIFY(rig.controller->setAxisSettings(ostratest::TransmitRig::plainSettings()));

        QWidget window;
        auto *panel = new PresetsPanel(rig.controller.get(), Controls, "Controls presets", "About", &window);
        QSignalSpy loaded(panel, &PresetsPanel::presetLoaded);
        ostratest::ModalAnswerer answer;
        button(*panel, "Load")->click();
        QCOMPARE(loaded.size(), 1);
        QVERIFY(answer.records().isEmpty());
        QCOMPARE(rig.controller->axisSettings().throttle.curve, 2);
        QCOMPARE(window.findChild<ostra::Toast *>()->text(), QString("Loaded \u201CSoft\u201D"));
    }

    void renderWithPresets()
    {
        ostratest::TransmitRig rig;
        for (const char *name : {"Street", "Track day", "Rain"})
            rig.controller->profileManager()->saveUserPreset(Controls, name, QJsonObject());
        QWidget window;
        window.setObjectName("dialogCard");
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(24, 24, 24, 24);
        auto *panel = new PresetsPanel(rig.controller.get(), Controls, "Controls presets",
                                       "Save the applied wheel and pedal setup (mapping, calibration, curves, steering "
                                       "angle) under a name and load it in any profile.",
                                       &window);
        layout->addWidget(panel);
        panel->findChild<QLineEdit *>()->setText("track day");
        window.resize(560, window.sizeHint().height());
        QVERIFY(saveWidgetPicture(&window, "presetspanel"));
        QVERIFY(renderDarkTwin({"renderWithPresets"}));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestPresetsPanel)
#include "tst_presetspanel.moc"
