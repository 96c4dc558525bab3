#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>

#include "ostraui/theme.h"
#include "support/testenvironment.h"

using namespace ostra;

class TestTheme : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void resources_data();
    void resources();
    void selectedTheme_data();
    void selectedTheme();
    void lightInstall();
    void remapIsIdentityInLight_data();
    void remapIsIdentityInLight();
    void tokenPairs();
    void levels_data();
    void levels();
    void saveTheme();
    void reducedMotion();
    void fonts();
    void styleStateRestyles();
    void styledMinimumHeights_data();
    void styledMinimumHeights();
    void heading();
    void factories();
    void iconButtonRemembers();
    void iconButtonWithoutKey();
};

void TestTheme::initTestCase()
{
    qunsetenv("QOROSTRA_THEME");
    installTheme(*qApp);
}

void TestTheme::resources_data()
{
    QTest::addColumn<QString>("path");
    for (const char *path : {":/theme/ostra.qss", ":/theme/check.png", ":/theme/radio-dot.png",
                             ":/theme/chevron-down.png", ":/theme/chevron-down-disabled.png",
                             ":/theme/chevron-up.png", ":/images/qorvant-logo.png",
                             ":/fonts/Geist-Regular.ttf", ":/fonts/Geist-Medium.ttf",
                             ":/fonts/Geist-SemiBold.ttf", ":/fonts/GeistMono-Regular.ttf",
                             ":/fonts/GeistMono-Medium.ttf"})
        QTest::newRow(path) << QString::fromLatin1(path);
}

void TestTheme::resources()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    QVERIFY(file.size() > 100);
    if (path.endsWith(QLatin1String(".png")))
        QVERIFY(!QImage(path).isNull());
}

void TestTheme::selectedTheme_data()
{
    QTest::addColumn<QByteArray>("env");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<bool>("dark");
    QTest::newRow("nothing") << QByteArray() << QString() << false;
    QTest::newRow("saved dark") << QByteArray() << "dark" << true;
    QTest::newRow("saved light") << QByteArray() << "light" << false;
    QTest::newRow("saved capital") << QByteArray() << "Dark" << false;
    QTest::newRow("env light wins") << QByteArray("light") << "dark" << false;
    QTest::newRow("env dark wins") << QByteArray("dark") << "light" << true;
    QTest::newRow("env capital") << QByteArray("Dark") << "dark" << false;
    QTest::newRow("env other") << QByteArray("midnight") << QString() << false;
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
    settings.sync();
    if (env.isEmpty())
        qunsetenv("QOROSTRA_THEME");
    else
        qputenv("QOROSTRA_THEME", env);

    QCOMPARE(ostra::selectedTheme(), dark);

    qunsetenv("QOROSTRA_THEME");
    settings.remove("ui/theme");
}

void TestTheme::lightInstall()
{
    QVERIFY(!isDarkTheme());
    QCOMPARE(ThemeColors::windowBg, QColor(0xF3, 0xF5, 0xF8));
    QCOMPARE(ThemeColors::toggleOn, QColor(0x0F, 0x17, 0x20));
    QCOMPARE(ThemeColors::thumb, QColor(Qt::white));

    const QPalette palette = qApp->palette();
    QCOMPARE(palette.color(QPalette::Active, QPalette::Window), ThemeColors::windowBg);
    QCOMPARE(palette.color(QPalette::Inactive, QPalette::Base), ThemeColors::surface);
    QCOMPARE(palette.color(QPalette::Active, QPalette::Highlight), ThemeColors::infoSoft);
    QCOMPARE(palette.color(QPalette::Disabled, QPalette::Text), ThemeColors::textDisabled);
    QCOMPARE(palette.color(QPalette::Disabled, QPalette::Base), ThemeColors::surface);
    QCOMPARE(palette.color(QPalette::Active, QPalette::ToolTipText), ThemeColors::inverseText);

    QCOMPARE(qApp->font().family(), QStringLiteral("Geist"));
    QCOMPARE(qApp->font().pointSizeF(), 10.5);

    QFile qss(":/theme/ostra.qss");
    QVERIFY(qss.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(qss.readAll()));
}

void TestTheme::remapIsIdentityInLight_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::newRow("lower case light") << "QWidget { background: #f3f5f8; }";
    QTest::newRow("short") << "color: #FFF;";
    QTest::newRow("empty") << "";
}

void TestTheme::remapIsIdentityInLight()
{
    QFETCH(QString, sheet);
    QCOMPARE(remapColors(sheet), sheet);
}

void TestTheme::tokenPairs()
{
    const QList<ColorPair> &pairs = themeTokens();
    QCOMPARE(pairs.size(), 33);
    QCOMPARE(pairs.first(), ColorPair("#F3F5F8", "#0B1016"));
    QCOMPARE(pairs.last(), ColorPair("#D4D4D4", "#3A4553"));
    QSet<QString> keys;
    for (const ColorPair &pair : pairs) {
        QVERIFY(QRegularExpression("^#[0-9A-F]{6}$").match(pair.first).hasMatch());
        QVERIFY(QRegularExpression("^#[0-9A-F]{6}$").match(pair.second).hasMatch());
        keys.insert(pair.first);
    }
    QCOMPARE(keys.size(), 33);
    QVERIFY(!keys.contains("#4CC2FF"));
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
    QTest::newRow("seven") << 7 << QColor("#EEF1F5") << QColor("#A7B0BC") << QColor("#5B6675");
    QTest::newRow("negative") << -1 << QColor("#EEF1F5") << QColor("#A7B0BC") << QColor("#5B6675");
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

void TestTheme::saveTheme()
{
    ostra::saveTheme(true);
    QCOMPARE(QSettings().value("ui/theme").toString(), QStringLiteral("dark"));
    QVERIFY(ostra::selectedTheme());
    ostra::saveTheme(false);
    QCOMPARE(QSettings().value("ui/theme").toString(), QStringLiteral("light"));
    QVERIFY(!isDarkTheme());
    QSettings().remove("ui/theme");
}

void TestTheme::reducedMotion()
{
    Motion *motion = Motion::instance();
    QCOMPARE(motion, Motion::instance());
    QVERIFY(!motion->reduced());
    QVERIFY(!animationsEnabled());
    QCOMPARE(animDuration(380), 0);

    QSignalSpy spy(motion, &Motion::reducedChanged);
    motion->setReducedMotion(false);
    QCOMPARE(spy.count(), 0);
    QVERIFY(!QSettings().contains("ui/reduceMotion"));

    motion->setReducedMotion(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QCOMPARE(QSettings().value("ui/reduceMotion").toBool(), true);
    motion->setReducedMotion(true);
    QCOMPARE(spy.count(), 1);
    motion->setReducedMotion(false);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(QSettings().value("ui/reduceMotion").toBool(), false);
}

void TestTheme::fonts()
{
    QVERIFY(QFontDatabase::families().contains("Geist"));
    QVERIFY(QFontDatabase::families().contains("Geist Mono"));

    const QFont ui = uiFont(14, 600);
    QCOMPARE(ui.family(), QStringLiteral("Geist"));
    QCOMPARE(ui.pointSizeF(), 10.5);
    QCOMPARE(ui.weight(), QFont::DemiBold);
    QCOMPARE(ui.hintingPreference(), QFont::PreferNoHinting);

    const QFont mono = monoFont(13, 400);
    QCOMPARE(mono.family(), QStringLiteral("Geist Mono"));
    QCOMPARE(mono.pointSizeF(), 9.75);
    QCOMPARE(mono.styleHint(), QFont::Monospace);
    QVERIFY(QFontInfo(mono).fixedPitch());

    QCOMPARE(colorHex(QColor(0xC8, 0x1F, 0x24)), QStringLiteral("#c81f24"));
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
    QCOMPARE(button.property("primary").toBool(), true);
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
    QWidget *widget = nullptr;
    if (kind == QLatin1String("button"))
        widget = new QPushButton("Go", &host);
    else if (kind == QLatin1String("edit"))
        widget = new QLineEdit(&host);
    else if (kind == QLatin1String("combo"))
        widget = new QComboBox(&host);
    else
        widget = new QLabel("chip", &host);
    if (!property.isEmpty())
        widget->setProperty(property.constData(), value);
    widget->ensurePolished();
    QCOMPARE(widget->minimumHeight(), height);
}

void TestTheme::heading()
{
    QLabel *title = nullptr;
    QLabel *subtitle = reinterpret_cast<QLabel *>(1);
    QWidget host;
    QHBoxLayout *row = makeHeading("Devices", QString(), nullptr, &title, &subtitle);
    host.setLayout(row);
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("Devices"));
    QCOMPARE(title->property("role").toString(), QStringLiteral("h2"));
    QCOMPARE(subtitle, nullptr);
    QCOMPARE(row->spacing(), 12);
    QCOMPARE(row->contentsMargins(), QMargins());

    QWidget host2;
    auto *trailing = new QPushButton("Edit");
    QHBoxLayout *row2 = makeHeading("Devices", QString(""), trailing, nullptr, &subtitle);
    host2.setLayout(row2);
    QVERIFY(subtitle);
    QVERIFY(subtitle->text().isEmpty());
    QCOMPARE(subtitle->property("role").toString(), QStringLiteral("muted"));
    QVERIFY(subtitle->wordWrap());
    QCOMPARE(row2->count(), 2);
    QCOMPARE(row2->itemAt(1)->widget(), trailing);
    QCOMPARE(row2->itemAt(1)->alignment(), Qt::AlignRight | Qt::AlignVCenter);
}

void TestTheme::factories()
{
    QWidget parent;
    QPushButton *plain = makeButton("Cancel", false, &parent);
    QPushButton *primary = makeButton("Save", true, &parent);
    QCOMPARE(plain->parentWidget(), &parent);
    QCOMPARE(plain->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(!plain->property("primary").isValid());
    QCOMPARE(primary->property("primary").toBool(), true);

    QLabel *label = makeRoleLabel("hint", "caption", &parent);
    QCOMPARE(label->property("role").toString(), QStringLiteral("caption"));
    QVERIFY(!makeRoleLabel("x", nullptr, &parent)->property("role").isValid());

    QFrame *line = makeHairline(&parent);
    QCOMPARE(line->property("hairline").toBool(), true);
    QCOMPARE(line->maximumHeight(), 1);
    QCOMPARE(line->minimumHeight(), 1);
}

static QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(14, 14), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
}

void TestTheme::iconButtonRemembers()
{
    QSettings().setValue("ui/section/advanced", false);
    QWidget window;
    auto *section = new QWidget(&window);
    QPushButton *button = makeIconButton(section, true, "ui/section/advanced", &window);
    window.show();
    QVERIFY(!section->isVisible());
    QVERIFY(!button->isChecked());
    QCOMPARE(button->toolTip(), QStringLiteral("Show"));
    QCOMPARE(button->property("iconRound").toBool(), true);
    QCOMPARE(button->iconSize(), QSize(14, 14));
    QCOMPARE(iconImage(button->icon()), iconImage(makeRevealIcon(false)));
    QVERIFY(iconImage(makeRevealIcon(false)) != iconImage(makeRevealIcon(true)));

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(section->isVisible());
    QCOMPARE(button->toolTip(), QStringLiteral("Hide"));
    QCOMPARE(iconImage(button->icon()), iconImage(makeRevealIcon(true)));
    QCOMPARE(QSettings().value("ui/section/advanced").toBool(), true);
}

void TestTheme::iconButtonWithoutKey()
{
    const QStringList before = QSettings().allKeys();
    QWidget window;
    auto *section = new QWidget(&window);
    QPushButton *button = makeIconButton(section, true, QString(), &window);
    window.show();
    QVERIFY(section->isVisible());
    QVERIFY(button->isChecked());
    QCOMPARE(button->toolTip(), QStringLiteral("Hide"));
    button->toggle();
    QVERIFY(!section->isVisible());
    QCOMPARE(QSettings().allKeys(), before);

    const QPixmap pixmap = makeRevealIcon(true).pixmap(QSize(14, 14), 2.0);
    QCOMPARE(pixmap.size(), QSize(28, 28));
}

OSTRA_TEST_MAIN_WIDGETS(TestTheme)
#include "tst_theme.moc"
