#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QPushButton>
#include <QSignalSpy>

#include "ostraui/theme.h"
#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"

using namespace ostra;

class TestTheme : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qunsetenv("QOROSTRA_THEME");
        installTheme(*qApp);
    }

    void selectedTheme_data()
    {
        QTest::addColumn<QByteArray>("env");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<bool>("dark");
        QTest::newRow("nothing") << QByteArray() << QString() << false;
        QTest::newRow("saved dark") << QByteArray() << "dark" << true;
        QTest::newRow("env light wins") << QByteArray("light") << "dark" << false;
        QTest::newRow("env capital") << QByteArray("Dark") << "dark" << false;
    }

    void selectedTheme()
    {
        QFETCH(QByteArray, env);
        QFETCH(QString, saved);
        QFETCH(bool, dark);
        corvane::SettingsFile settings;
        if (saved.isNull())
            settings.remove("ui/theme");
        else
            settings.setValue("ui/theme", saved);
        qputenv("QOROSTRA_THEME", env);
        QCOMPARE(ostra::selectedTheme(), dark);
        qunsetenv("QOROSTRA_THEME");

        // What saveTheme writes, selectedTheme reads back; the running theme stays as installed.
        saveTheme(!dark);
        QCOMPARE(ostra::selectedTheme(), !dark);
        QVERIFY(!isDarkTheme());
        settings.remove("ui/theme");
    }

    void lightInstall()
    {
        QCOMPARE(qApp->palette().color(QPalette::Active, QPalette::Window), QColor("#F3F5F8"));
        QCOMPARE(levelAccentColor(7), levelAccentColor(LevelNeutral));
        QCOMPARE(qApp->font().family(), QStringLiteral("Geist"));
        QVERIFY(QFontDatabase::families().contains("Geist Mono"));
        // In the light theme sheets pass unchanged.
        QFile qss(":/theme/ostra.qss");
        QVERIFY(qss.open(QIODevice::ReadOnly | QIODevice::Text));
        QCOMPARE(qApp->styleSheet(), QString::fromUtf8(qss.readAll()));
        const QString sheet = "QWidget { background: #f3f5f8; color: #FFF; }";
        QCOMPARE(remapColors(sheet), sheet);
    }

    void reducedMotion()
    {
        // Headless there is nothing to animate.
        QCOMPARE(animDuration(380), 0);
        Motion *motion = Motion::instance();
        QSignalSpy spy(motion, &Motion::reducedChanged);
        motion->setReducedMotion(true);
        motion->setReducedMotion(true);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(corvane::SettingsFile().value("ui/reduceMotion").toBool(), true);
        motion->setReducedMotion(false);
    }

    void revealButtonRemembers()
    {
        corvane::SettingsFile().setValue("ui/section/advanced", false);
        QWidget window;
        auto *section = new QWidget(&window);
        QPushButton *button = makeIconButton(section, true, "ui/section/advanced", &window);
        window.show();
        QVERIFY(!section->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(section->isVisible());
        QCOMPARE(corvane::SettingsFile().value("ui/section/advanced").toBool(), true);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestTheme)
#include "tst_theme.moc"
