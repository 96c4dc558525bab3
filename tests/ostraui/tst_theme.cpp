#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>

#include "ostraui/theme.h"
#include "support/testenvironment.h"

using namespace ostra;

class TestTheme : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void selectedTheme_data();
    void selectedTheme();
    void lightInstall();
    void levels_data();
    void levels();
    void reducedMotion();
    void styleStateRestyles();
    void styledMinimumHeights_data();
    void styledMinimumHeights();
    void iconButton_data();
    void iconButton();
};

void TestTheme::initTestCase()
{
    qunsetenv("QOROSTRA_THEME");
    installTheme(*qApp);
}

void TestTheme::selectedTheme_data()
{
    QTest::addColumn<QByteArray>("env");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<bool>("dark");
    QTest::newRow("nothing") << QByteArray() << QString() << false;
    QTest::newRow("saved dark") << QByteArray() << "dark" << true;
    QTest::newRow("saved capital") << QByteArray() << "Dark" << false;
    QTest::newRow("env light wins") << QByteArray("light") << "dark" << false;
    QTest::newRow("env dark wins") << QByteArray("dark") << "light" << true;
    QTest::newRow("env capital") << QByteArray("Dark") << "dark" << false;
}

void TestTheme::selectedTheme()
{
    QFETCH(QByteArray, env);
    QFETCH(QString, saved);
    QFETCH(bool, dark);
    QSettings settings;
    if (saved.isNull())
        settings.remove("ui/theme");
    else
        settings.setValue("ui/theme", saved);
    if (env.isEmpty())
        qunsetenv("QOROSTRA_THEME");
    else
        qputenv("QOROSTRA_THEME", env);
    QCOMPARE(ostra::selectedTheme(), dark);
    qunsetenv("QOROSTRA_THEME");

    // What saveTheme writes, selectedTheme reads back; the running theme stays as installed.
    saveTheme(!dark);
    QCOMPARE(ostra::selectedTheme(), !dark);
    QVERIFY(!isDarkTheme());
    settings.remove("ui/theme");
}

void TestTheme::lightInstall()
{
    const QPalette palette = qApp->palette();
    QCOMPARE(palette.color(QPalette::Active, QPalette::Window), QColor(0xF3, 0xF5, 0xF8));
    QCOMPARE(palette.color(QPalette::Inactive, QPalette::Base), QColor(Qt::white));
    QCOMPARE(palette.color(QPalette::Disabled, QPalette::Text), ThemeColors::textDisabled);
    QCOMPARE(palette.color(QPalette::Active, QPalette::ToolTipText), ThemeColors::inverseText);
    QCOMPARE(qApp->font().family(), QStringLiteral("Geist"));
    QCOMPARE(qApp->font().pointSizeF(), 10.5);
    // Sizes are given in pixels at 96 dpi.
    QCOMPARE(uiFont(14, 600).pointSizeF(), 10.5);
    QVERIFY(QFontDatabase::families().contains("Geist Mono"));
    QVERIFY(QFontInfo(monoFont(13, 400)).fixedPitch());

    // In the light theme sheets pass unchanged.
    QFile qss(":/theme/ostra.qss");
    QVERIFY(qss.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(qss.readAll()));
    const QString sheet = "QWidget { background: #f3f5f8; color: #FFF; }";
    QCOMPARE(remapColors(sheet), sheet);
}

void TestTheme::levels_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QColor>("tint");
    QTest::addColumn<QColor>("accent");
    QTest::addColumn<QColor>("text");
    QTest::newRow("neutral") << 0 << QColor("#EEF1F5") << QColor("#A7B0BC") << QColor("#5B6675");
    QTest::newRow("info") << 1 << QColor("#E3F2FC") << QColor("#4CC2FF") << QColor("#0B7FD0");
    QTest::newRow("warning") << 2 << QColor("#FDF1DC") << QColor("#D98A00") << QColor("#B06F00");
    QTest::newRow("success") << 3 << QColor("#E3F6EC") << QColor("#12A66A") << QColor("#0D8A57");
    QTest::newRow("danger") << 4 << QColor("#FDE8E8") << QColor("#E5262B") << QColor("#C81F24");
    QTest::newRow("unknown is neutral") << 7 << QColor("#EEF1F5") << QColor("#A7B0BC") << QColor("#5B6675");
}

void TestTheme::levels()
{
    QFETCH(int, level);
    QFETCH(QColor, tint);
    QFETCH(QColor, accent);
    QFETCH(QColor, text);
    QCOMPARE(levelColor(level), tint);
    QCOMPARE(levelAccentColor(level), accent);
    QCOMPARE(levelTextColor(level), text);
}

void TestTheme::reducedMotion()
{
    Motion *motion = Motion::instance();
    QVERIFY(!motion->reduced());
    // Headless there is nothing to animate.
    QVERIFY(!animationsEnabled());
    QCOMPARE(animDuration(380), 0);

    QSignalSpy spy(motion, &Motion::reducedChanged);
    motion->setReducedMotion(false);
    QCOMPARE(spy.count(), 0);
    QVERIFY(!QSettings().contains("ui/reduceMotion"));
    motion->setReducedMotion(true);
    motion->setReducedMotion(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QCOMPARE(QSettings().value("ui/reduceMotion").toBool(), true);
    motion->setReducedMotion(false);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(QSettings().value("ui/reduceMotion").toBool(), false);
}

void TestTheme::styleStateRestyles()
{
    QPushButton button("Go");
    button.resize(120, 34);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    const QPoint fill(6, 17);
    QCOMPARE(button.grab().toImage().pixelColor(fill), ThemeColors::surface);
    setStyleState(&button, "primary", true);
    QCOMPARE(button.grab().toImage().pixelColor(fill), ThemeColors::ink);
    setStyleState(&button, "primary", false);
    QCOMPARE(button.grab().toImage().pixelColor(fill), ThemeColors::surface);
    setStyleState(nullptr, "primary", true);
}

void TestTheme::styledMinimumHeights_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("height");
    // Expected heights include the rule's 1 px border on each side where it has one.
    QTest::newRow("button") << "button" << QByteArray() << QVariant() << 34 + 2;
    QTest::newRow("small button") << "button" << QByteArray("small") << QVariant(true) << 28 + 2;
    QTest::newRow("big button") << "button" << QByteArray("big") << QVariant(true) << 50 + 2;
    QTest::newRow("round icon button") << "button" << QByteArray("iconRound") << QVariant(true) << 32;
    QTest::newRow("line edit") << "edit" << QByteArray() << QVariant() << 36 + 2;
    QTest::newRow("combo box") << "combo" << QByteArray() << QVariant() << 36 + 2;
    QTest::newRow("chip label") << "label" << QByteArray("role") << QVariant("chip") << 28;
}

void TestTheme::styledMinimumHeights()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    QFETCH(int, height);
    QWidget host;
    QWidget *widget = kind == "button"  ? static_cast<QWidget *>(new QPushButton("Go", &host))
                      : kind == "edit"  ? static_cast<QWidget *>(new QLineEdit(&host))
                      : kind == "combo" ? static_cast<QWidget *>(new QComboBox(&host))
                                        : new QLabel("chip", &host);
    if (!property.isEmpty())
        widget->setProperty(property.constData(), value);
    widget->ensurePolished();
    QCOMPARE(widget->minimumHeight(), height);
}

static QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(14, 14), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
}

void TestTheme::iconButton_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("shown");
    QTest::newRow("remembered hidden") << "ui/section/advanced" << false << false;
    QTest::newRow("remembered shown") << "ui/section/basic" << true << true;
    QTest::newRow("no key: default") << QString() << false << true;
}

void TestTheme::iconButton()
{
    QFETCH(QString, key);
    QFETCH(bool, stored);
    QFETCH(bool, shown);
    if (!key.isEmpty())
        QSettings().setValue(key, stored);
    const QStringList keysBefore = QSettings().allKeys();
    QWidget window;
    auto *section = new QWidget(&window);
    QPushButton *button = makeIconButton(section, true, key, &window);
    window.show();
    QVERIFY(iconImage(makeRevealIcon(false)) != iconImage(makeRevealIcon(true)));

    for (bool state : {shown, !shown}) {
        QCOMPARE(section->isVisible(), state);
        QCOMPARE(button->isChecked(), state);
        QCOMPARE(button->toolTip(), state ? QStringLiteral("Hide") : QStringLiteral("Show"));
        QCOMPARE(iconImage(button->icon()), iconImage(makeRevealIcon(state)));
        if (!key.isEmpty())
            QCOMPARE(QSettings().value(key).toBool(), state);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(QSettings().allKeys(), keysBefore);
}

OSTRA_TEST_MAIN_WIDGETS(TestTheme)
#include "tst_theme.moc"
