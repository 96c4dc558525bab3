#include <QApplication>
#include <QLabel>
#include <QSettings>

#include "ostraui/theme.h"
#include "support/testenvironment.h"

using namespace ostra;

// The dark theme, installed through the environment as a user would choose it.
class TestThemeDark : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tokens_data();
    void tokens();
    void remap_data();
    void remap();
    void applicationSheetIsDark();
    void widgetSheetsFollow();
    void keepColorsContainer();
    void sameSheetTwice();
};

void TestThemeDark::initTestCase()
{
    QSettings().setValue("ui/theme", "light");
    qputenv("QOROSTRA_THEME", "dark");
    QVERIFY(!isDarkTheme());
    installTheme(*qApp);
    QVERIFY(isDarkTheme());
}

void TestThemeDark::tokens_data()
{
    QTest::addColumn<QColor>("token");
    QTest::addColumn<QColor>("dark");
    using namespace ThemeColors;
    const QPalette palette = qApp->palette();
    QTest::newRow("windowBg") << windowBg << QColor("#0B1016");
    QTest::newRow("ink") << ink << QColor("#E8EDF3");
    QTest::newRow("surface") << surface << QColor("#141B23");
    QTest::newRow("accent keeps") << accent << QColor("#4CC2FF");
    QTest::newRow("shadow") << shadow << QColor("#000000");
    QTest::newRow("inverseText") << inverseText << QColor("#0F1720");
    QTest::newRow("toggleOn") << toggleOn << QColor("#4CC2FF");
    QTest::newRow("success tint") << levelColor(LevelSuccess) << QColor("#0E2E22");
    QTest::newRow("danger text") << levelTextColor(LevelDanger) << QColor("#FF8487");
    QTest::newRow("neutral accent") << levelAccentColor(7) << QColor("#4E5866");
    QTest::newRow("palette window") << palette.color(QPalette::Active, QPalette::Window) << QColor("#0B1016");
    QTest::newRow("palette disabled text")
        << palette.color(QPalette::Disabled, QPalette::ButtonText) << QColor("#4E5866");
}

void TestThemeDark::tokens()
{
    QFETCH(QColor, token);
    QFETCH(QColor, dark);
    QCOMPARE(token, dark);
    QCOMPARE(token.alpha(), 255);
}

void TestThemeDark::remap_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("expected");
    QTest::newRow("lower case") << "QWidget { background: #f3f5f8; }" << "QWidget { background: #0B1016; }";
    QTest::newRow("short white") << "color:#fff" << "color:#141B23";
    QTest::newRow("accent stays") << "color: #4CC2FF;" << "color: #4CC2FF;";
    QTest::newRow("unknown short stays as written") << "color: #abc;" << "color: #abc;";
    QTest::newRow("eight digits") << "color: #F3F5F8AA;" << "color: #F3F5F8AA;";
    QTest::newRow("several")
        << "a { color: #0F1720; border: 1px solid #E6EAF0; } b { color: #0A67A8 }"
        << "a { color: #E8EDF3; border: 1px solid #26303B; } b { color: #0A67A8 }";
    QTest::newRow("repeated dark value") << "#CDD5E1 #D9DEE6 #D4D4D4" << "#3A4553 #3A4553 #3A4553";
    QTest::newRow("colorHex output") << QString("color: %1;").arg(colorHex(QColor("#8A94A3")))
                                     << "color: #76818F;";
}

void TestThemeDark::remap()
{
    QFETCH(QString, sheet);
    QFETCH(QString, expected);
    QCOMPARE(remapColors(sheet), expected);
    // Dark output is a fixed point: rewriting twice changes nothing more.
    QCOMPARE(remapColors(remapColors(sheet)), expected);
}

void TestThemeDark::applicationSheetIsDark()
{
    const QString sheet = qApp->styleSheet();
    QVERIFY(!sheet.isEmpty());
    for (const ColorPair &pair : themeTokens())
        QVERIFY2(!sheet.contains(pair.first, Qt::CaseInsensitive), qPrintable(pair.first));
    QVERIFY(sheet.contains("rgb(18, 166, 106)"));
    QVERIFY(sheet.contains("#4CC2FF"));
}

void TestThemeDark::widgetSheetsFollow()
{
    QLabel label;
    label.setStyleSheet("QLabel { color: #5B6675; background: #fff; }");
    QCOMPARE(label.styleSheet(), QStringLiteral("QLabel { color: #A3AEBC; background: #141B23; }"));
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));
    QCOMPARE(label.grab().toImage().pixelColor(1, 1), QColor("#141B23"));
}

void TestThemeDark::keepColorsContainer()
{
    QWidget container;
    container.setProperty("ostraKeepColors", true);
    QWidget middle(&container);
    QLabel inner(&middle);
    inner.setStyleSheet("color: #0F1720;");
    QCOMPARE(inner.styleSheet(), QStringLiteral("color: #0F1720;"));

    QLabel outside;
    outside.setStyleSheet("color: #0F1720;");
    QCOMPARE(outside.styleSheet(), QStringLiteral("color: #E8EDF3;"));
}

void TestThemeDark::sameSheetTwice()
{
    QLabel label;
    label.setStyleSheet("color: #C81F24;");
    label.setStyleSheet("color: #C81F24;");
    label.ensurePolished();
    QCOMPARE(label.styleSheet(), QStringLiteral("color: #FF8487;"));

    QLabel shown;
    shown.show();
    for (int i = 0; i < 2; ++i) {
        shown.setStyleSheet("color: #C81F24;");
        QCOMPARE(shown.styleSheet(), QStringLiteral("color: #FF8487;"));
    }
    label.setStyleSheet(QString());
    QVERIFY(label.styleSheet().isEmpty());
}

OSTRA_TEST_MAIN_WIDGETS(TestThemeDark)
#include "tst_themedark.moc"
