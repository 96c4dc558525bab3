#include <QApplication>
#include <QLabel>

#include "ostraui/theme.h"
#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"

using namespace ostra;

// The dark theme, installed through the environment as a user would choose it.
class TestThemeDark : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        corvane::SettingsFile().setValue("ui/theme", "light");
        qputenv("QOROSTRA_THEME", "dark");
        installTheme(*qApp);
        QVERIFY(isDarkTheme());
    }

    void tokens()
    {
        QCOMPARE(ThemeColors::windowBg, QColor("#0B1016"));
        QCOMPARE(qApp->palette().color(QPalette::Active, QPalette::Window), QColor("#0B1016"));
        // The application sheet is written dark: no light token is left in it.
        const QString sheet = qApp->styleSheet();
        QVERIFY(!sheet.isEmpty());
        for (const ColorPair &pair : themeTokens())
            QVERIFY2(!sheet.contains(pair.first, Qt::CaseInsensitive), qPrintable(pair.first));
    }

    void remap_data()
    {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("expected");
        QTest::newRow("lower case") << "QWidget { background: #f3f5f8; }" << "QWidget { background: #0B1016; }";
        QTest::newRow("short white") << "color:#fff" << "color:#141B23";
        QTest::newRow("unknown short stays as written") << "color: #abc;" << "color: #abc;";
        QTest::newRow("eight digits") << "color: #F3F5F8AA;" << "color: #F3F5F8AA;";
        QTest::newRow("several") << "a { color: #0F1720; border: 1px solid #E6EAF0; }"
                                 << "a { color: #E8EDF3; border: 1px solid #26303B; }";
    }

    void remap()
    {
        QFETCH(QString, sheet);
        QFETCH(QString, expected);
        QCOMPARE(remapColors(sheet), expected);
        // Dark output is a fixed point: rewriting twice changes nothing more.
        QCOMPARE(remapColors(remapColors(sheet)), expected);
    }

    void widgetSheetsFollow()
    {
        // Set before the first polish, set twice, or set on a shown widget: the sheet comes out dark once.
        QLabel label;
        label.setStyleSheet("QLabel { color: #C81F24; background: #fff; }");
        label.setStyleSheet("QLabel { color: #C81F24; background: #fff; }");
        label.ensurePolished();
        QCOMPARE(label.styleSheet(), QStringLiteral("QLabel { color: #FF8487; background: #141B23; }"));
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QCOMPARE(label.grab().toImage().pixelColor(1, 1), QColor("#141B23"));
        label.setStyleSheet("color: #C81F24;");
        QCOMPARE(label.styleSheet(), QStringLiteral("color: #FF8487;"));
    }

    // A page builds its sheet from the tokens at run time: the remapper must leave it as built.
    void tokenSheetsSurvive()
    {
        using namespace ThemeColors;
        const QList<QColor> tokens{windowBg, border, ink, textSecondary, textMuted, textDisabled, inverseSurface,
                                   accent, dangerAccent, successAccent, surface, surfaceAlt, borderLight,
                                   borderStrong, borderHover, hairline, controlBorder, textHover, inkHover,
                                   infoText, infoSoft, dangerText, dangerSoft, successText, successSoft,
                                   successBorder, warningAccent, warningText, warningSoft, warningTint,
                                   neutralSoft, shadow, inverseText, toggleOn, thumb};
        QCOMPARE(tokens.size(), 35);
        QString sheet;
        for (int i = 0; i < tokens.size(); ++i) {
            const QColor written(colorHex(tokens[i]));
            // What the sheet says is the token, give or take one step of one channel.
            QVERIFY2(std::abs(written.red() - tokens[i].red()) + std::abs(written.green() - tokens[i].green())
                         + std::abs(written.blue() - tokens[i].blue()) <= 1,
                     qPrintable(tokens[i].name()));
            sheet += QStringLiteral("QLabel[n=\"%1\"] { color: %2; }\n").arg(i).arg(colorHex(tokens[i]));
        }
        QCOMPARE(remapColors(sheet), sheet);
        QLabel label;
        label.setStyleSheet(sheet);
        label.ensurePolished();
        QCOMPARE(label.styleSheet(), sheet);

        // Text in inverseText on an inverseSurface bubble stays dark on light.
        QLabel bubble(QStringLiteral("\u2588\u2588\u2588\u2588"));
        bubble.setStyleSheet(QStringLiteral("color: %1; background: %2; font-size: 40px;")
                                 .arg(colorHex(inverseText), colorHex(inverseSurface)));
        bubble.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bubble));
        const QImage image = bubble.grab().toImage();
        QCOMPARE(image.pixelColor(0, 0), inverseSurface);
        QVERIFY(image.pixelColor(bubble.width() / 2, bubble.height() / 2).lightness() < 40);
    }

    // Pages set a widget's sheet or state on every refresh: only a change restyles and repaints
    // it, also where the dark theme has rewritten the sheet or the widget keeps its colours.
    void restyleOnlyOnChange_data()
    {
        QTest::addColumn<bool>("sheet"); // a style sheet, else the state "primary"
        QTest::addColumn<QVariant>("first");
        QTest::addColumn<QVariant>("second");
        QTest::addColumn<bool>("keepColors");
        QTest::addColumn<bool>("restyled");
        const QVariant ink = QStringLiteral("color: #0F1720;");
        QTest::newRow("same sheet, rewritten dark") << true << ink << ink << false << false;
        QTest::newRow("same sheet, colours kept") << true << ink << ink << true << false;
        QTest::newRow("another sheet") << true << ink << QVariant(QStringLiteral("color: #C81F24;")) << false << true;
        QTest::newRow("same state") << false << QVariant(true) << QVariant(true) << false << false;
        QTest::newRow("another state") << false << QVariant(true) << QVariant(false) << false << true;
    }

    void restyleOnlyOnChange()
    {
        QFETCH(bool, sheet);
        QFETCH(QVariant, first);
        QFETCH(QVariant, second);
        QFETCH(bool, keepColors);
        QFETCH(bool, restyled);
        struct PaintCounter : QObject
        {
            int paints = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                paints += event->type() == QEvent::Paint ? 1 : 0;
                return false;
            }
        } counter;
        QWidget container;
        container.setProperty("ostraKeepColors", keepColors);
        auto *label = new QLabel(QStringLiteral("Status"), &container);
        label->installEventFilter(&counter);
        container.show();
        QVERIFY(QTest::qWaitForWindowExposed(&container));
        const auto apply = [&](const QVariant &value) {
            if (sheet)
                setStyleSheetIfChanged(label, value.toString());
            else
                setStyleState(label, "primary", value);
            QCoreApplication::processEvents();
        };
        apply(first);
        const int paints = counter.paints;
        apply(second);
        QCOMPARE(counter.paints > paints, restyled);
    }

    void keepColorsContainer()
    {
        QWidget container;
        container.setProperty("ostraKeepColors", true);
        QWidget middle(&container);
        QLabel inner(&middle);
        inner.setStyleSheet("color: #0F1720;");
        QCOMPARE(inner.styleSheet(), QStringLiteral("color: #0F1720;"));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestThemeDark)
#include "tst_themedark.moc"
