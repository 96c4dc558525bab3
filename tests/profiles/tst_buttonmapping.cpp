#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/buttonmapping.h"
#include "support/testenvironment.h"

using jsoncheck::row;

class TestButtonMapping : public QObject
{
    Q_OBJECT

private slots:
    void mappingReading_data()
    {
        jsoncheck::columns();
        const char *defaults = R"({"name": "", "buttonIndex": -1, "channel": 3, "mode": 0, "outputValue": 2047,
            "rateUnitsPerSec": 1024, "minValue": 0, "maxValue": 2047, "startValue": 0, "activatesPitLimiter": false,
            "extraButtons": null})";
        row("empty object gives the defaults", "{}", defaults);
        row("wrong types give the defaults", R"({"name": [], "buttonIndex": "4", "channel": 2.5, "mode": true,
            "outputValue": null, "rateUnitsPerSec": {}, "minValue": "0", "maxValue": false, "startValue": 1e12,
            "activatesPitLimiter": "yes", "extraButtons": 5})", defaults);
        const char *values = R"({"name": "Horn", "buttonIndex": 300, "channel": 40, "mode": 9, "outputValue": -7,
            "rateUnitsPerSec": 0, "minValue": 3000, "maxValue": -1, "startValue": 5000, "activatesPitLimiter": true,
            "extraButtons": [4, -2]})";
        row("values stored without range checks", values, values);
        row("bad extra button elements read as 0", R"({"extraButtons": ["x", 2.5, 7, null]})",
            R"({"extraButtons": [0, 0, 7, 0]})");
    }

    void mappingReading()
    {
        jsoncheck::checkRow(jsoncheck::pass<ButtonMapping>);
    }

    void setReading_data()
    {
        QTest::addColumn<QByteArray>("array");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("empty") << QByteArray("[]") << QByteArray("[]");
        QTest::newRow("order kept, non-objects become default mappings")
            << QByteArray(R"([{"channel": 5}, 7, {"channel": 4}, null])")
            << QByteArray(R"([{"channel": 5}, {"channel": 3, "buttonIndex": -1, "outputValue": 2047}, {"channel": 4},
                {"channel": 3}])");
    }

    void setReading()
    {
        QFETCH(QByteArray, array);
        QFETCH(QByteArray, expected);
        ButtonMappingSet set;
        set.mappings.append(ButtonMapping());
        set.rampValues.insert(4, 100.0);
        set.fromJson(QJsonDocument::fromJson(array).array());
        const QString where = jsoncheck::mismatch(set.toJson(), QJsonDocument::fromJson(expected).array());
        QVERIFY2(where.isEmpty(), qPrintable(where));
        // Run-time state is never part of the JSON form.
        QCOMPARE(set.rampValues.value(4), 100.0);
    }

    // The main button first, then the extra ones; negative indexes are no button.
    void allButtons()
    {
        const QList<std::tuple<int, QList<int>, QList<int>>> cases{
            {-1, {}, {}}, {0, {0}, {0, 0}}, {-1, {3, -1, 150}, {3, 150}}};
        for (const auto &[buttonIndex, extra, expected] : cases) {
            ButtonMapping mapping;
            mapping.buttonIndex = buttonIndex;
            mapping.extraButtons = extra;
            QCOMPARE(mapping.allButtons(), expected);
        }
    }
};

OSTRA_TEST_MAIN_CORE(TestButtonMapping)
#include "tst_buttonmapping.moc"
