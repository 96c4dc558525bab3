#include <QJsonArray>
#include <QObject>
#include <QTest>

#include "jsoncheck.h"
#include "profiles/buttonmapping.h"
#include "support/testenvironment.h"

class TestButtonMapping : public QObject
{
    Q_OBJECT

private slots:
    void mappingReading_data();
    void mappingReading();
    void extraButtonsKey();
    void setReading_data();
    void setReading();
    void allButtons_data();
    void allButtons();
    void damagedInputSettles();
};

static const char DefaultMapping[] = R"({"name": "", "buttonIndex": -1, "channel": 3, "mode": 0,
    "outputValue": 2047, "rateUnitsPerSec": 1024, "minValue": 0, "maxValue": 2047, "startValue": 0,
    "activatesPitLimiter": false})";

void TestButtonMapping::mappingReading_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty object gives the defaults") << QByteArray("{}") << QByteArray(DefaultMapping);
    QTest::newRow("wrong types give the defaults")
        << QByteArray(R"({"name": [], "buttonIndex": "4", "channel": 2.5, "mode": true,
            "outputValue": null, "rateUnitsPerSec": {}, "minValue": "0", "maxValue": false,
            "startValue": 1e12, "activatesPitLimiter": "yes"})")
        << QByteArray(DefaultMapping);
    QTest::newRow("values stored without range checks")
        << QByteArray(R"({"name": "Horn", "buttonIndex": 300, "channel": 40, "mode": 9,
            "outputValue": -7, "rateUnitsPerSec": 0, "minValue": 3000, "maxValue": -1,
            "startValue": 5000, "activatesPitLimiter": true, "extraButtons": [4, -2]})")
        << QByteArray(R"({"name": "Horn", "buttonIndex": 300, "channel": 40, "mode": 9,
            "outputValue": -7, "rateUnitsPerSec": 0, "minValue": 3000, "maxValue": -1,
            "startValue": 5000, "activatesPitLimiter": true, "extraButtons": [4, -2]})");
    QTest::newRow("bad extra button elements read as 0")
        << QByteArray(R"({"extraButtons": ["x", 2.5, 7, null]})")
        << QByteArray(R"({"extraButtons": [0, 0, 7, 0]})");
}

void TestButtonMapping::mappingReading()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    JSON_SUBSET(ButtonMapping::fromJson(jsoncheck::object(input)).toJson(), expected);
}

void TestButtonMapping::extraButtonsKey()
{
    ButtonMapping mapping;
    QVERIFY(!mapping.toJson().contains(QLatin1String("extraButtons")));
    QCOMPARE(mapping.toJson().size(), 10);
    QVERIFY(ButtonMapping::fromJson(mapping.toJson()).extraButtons.isEmpty());
    QVERIFY(ButtonMapping::fromJson(jsoncheck::object(R"({"extraButtons": 5})")).extraButtons.isEmpty());
}

void TestButtonMapping::setReading_data()
{
    QTest::addColumn<QByteArray>("array");
    QTest::addColumn<QList<int>>("channels");

    QTest::newRow("empty") << QByteArray("[]") << QList<int>();
    QTest::newRow("order kept") << QByteArray(R"([{"channel": 5}, {"channel": 4}, {"channel": 9}])")
                                << QList<int>{5, 4, 9};
    QTest::newRow("non-objects become default mappings")
        << QByteArray(R"([7, "x", {"channel": 6}, null])") << QList<int>{3, 3, 6, 3};
}

void TestButtonMapping::setReading()
{
    QFETCH(QByteArray, array);
    QFETCH(QList<int>, channels);

    ButtonMappingSet set;
    set.mappings.append(ButtonMapping());
    set.rampValues.insert(4, 100.0);
    set.fromJson(QJsonDocument::fromJson(array).array());
    QList<int> read;
    for (const ButtonMapping &mapping : set.mappings) {
        read.append(mapping.channel);
        if (mapping.channel == 3) {
            QCOMPARE(mapping.buttonIndex, -1);
            QCOMPARE(mapping.mode, 0);
            QCOMPARE(mapping.outputValue, 2047);
        }
    }
    QCOMPARE(read, channels);
    QCOMPARE(set.toJson().size(), channels.size());
    // Run-time state is never part of the JSON form.
    QCOMPARE(set.rampValues.value(4), 100.0);
}

void TestButtonMapping::allButtons_data()
{
    QTest::addColumn<int>("buttonIndex");
    QTest::addColumn<QList<int>>("extra");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("none") << -1 << QList<int>() << QList<int>();
    QTest::newRow("main only") << 4 << QList<int>() << QList<int>{4};
    QTest::newRow("button zero counts") << 0 << QList<int>{0} << QList<int>{0, 0};
    QTest::newRow("extra without main, negatives skipped")
        << -1 << QList<int>{3, -1, 150} << QList<int>{3, 150};
}

void TestButtonMapping::allButtons()
{
    QFETCH(int, buttonIndex);
    QFETCH(QList<int>, extra);
    QFETCH(QList<int>, expected);
    ButtonMapping mapping;
    mapping.buttonIndex = buttonIndex;
    mapping.extraButtons = extra;
    QCOMPARE(mapping.allButtons(), expected);
}

void TestButtonMapping::damagedInputSettles()
{
    ButtonMapping mapping;
    mapping.extraButtons = {1, 2};
    mapping.name = QStringLiteral("Lights");
    jsoncheck::checkSettles(mapping.toJson(), [](const QJsonObject &obj) {
        return ButtonMapping::fromJson(obj).toJson();
    }, 11);
}

OSTRA_TEST_MAIN_CORE(TestButtonMapping)
#include "tst_buttonmapping.moc"
