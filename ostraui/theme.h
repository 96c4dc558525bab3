#pragma once

#include <QColor>
#include <QEasingCurve>
#include <QFont>
#include <QIcon>
#include <QList>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QPalette>
#include <QString>
#include <QVariant>

#include <functional>

class QApplication;
class QHBoxLayout;
class QFrame;
class QLabel;
class QPushButton;
class QVariantAnimation;
class QWidget;

namespace ostra {

// Process-wide colour tokens. They hold the light values from the start; the dark theme
// overwrites them once during installTheme(), before any widget reads them.
namespace ThemeColors {
extern QColor windowBg;
extern QColor border;
extern QColor ink;
extern QColor textSecondary;
extern QColor textMuted;
extern QColor textDisabled;
extern QColor inverseSurface;
extern QColor accent;
extern QColor dangerAccent;
extern QColor successAccent;
extern QColor surface;
extern QColor surfaceAlt;
extern QColor borderLight;
extern QColor borderStrong;
extern QColor borderHover;
extern QColor hairline;
extern QColor controlBorder;
extern QColor textHover;
extern QColor inkHover;
extern QColor infoText;
extern QColor infoSoft;
extern QColor dangerText;
extern QColor dangerSoft;
extern QColor successText;
extern QColor successSoft;
extern QColor successBorder;
extern QColor warningAccent;
extern QColor warningText;
extern QColor warningSoft;
extern QColor warningTint;
extern QColor neutralSoft;
extern QColor shadow;
extern QColor inverseText;
extern QColor toggleOn;
extern QColor thumb;
} // namespace ThemeColors

// Status levels shared by pills, dots, meters and status texts; other values count as neutral.
enum StatusLevel { LevelNeutral = 0, LevelInfo = 1, LevelWarning = 2, LevelSuccess = 3, LevelDanger = 4 };

using ColorPair = QPair<QString, QString>;

void installTheme(QApplication &app);
// The same in the colours given, with no setting read.
void installTheme(QApplication &app, bool dark);
bool selectedTheme();
bool isDarkTheme();
void saveTheme(bool dark);
void applyDarkColors();
const QList<ColorPair> &themeTokens();
QString remapColors(const QString &sheet);
QPalette buildPalette();

QColor levelColor(int level);
QColor levelAccentColor(int level);
QColor levelTextColor(int level);

// Rewrites every widget's own light stylesheet into dark colours as it is applied.
class StyleRemapper : public QObject
{
    Q_OBJECT
public:
    explicit StyleRemapper(QObject *parent);
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_applying = false;
    // Widgets share a handful of sheets: each is remapped once.
    static constexpr qsizetype MaxRemembered = 512;
    QHash<QString, QString> m_remapped;
};

// The user's reduced-motion preference, kept in "ui/reduceMotion".
class Motion : public QObject
{
    Q_OBJECT
public:
    static Motion *instance();
    bool reduced() const { return m_reduced; }
    void setReducedMotion(bool reduced);

signals:
    void reducedChanged(bool reduced);

private:
    Motion();
    bool m_reduced = false;
};

bool animationsEnabled();
int animDuration(int ms);
// The easing every UI transition shares.
QEasingCurve motionCurve();
// Starts or stops a widget's endless 0..1 loop (created on first need, owned by the widget);
// each step hands the value to onStep.
void driveLoop(QVariantAnimation *&animation, QWidget *owner, bool run, int durationMs,
               const std::function<void(double)> &onStep);

QFont uiFont(double px, int weight);
QFont monoFont(double px, int weight);
// A read-out's face: figures in the mono face, but its "—" for no value in the text face,
// whose dash is as long as everywhere else (the mono face's fills one cell and reads as "–").
QFont readoutFont(const QString &text, double px, int weight);
// Sets a read-out label's text in its face.
void setReadoutText(QLabel *label, const QString &text, double px, int weight);

// Restyling only on a real change: a new state or sheet re-polishes the widget and all it holds,
// and pages set theirs on every refresh. setStyleState sets a dynamic property the style sheet
// styles by; setStyleSheetIfChanged the widget's own sheet, where the dark theme's rewrite of a
// sheet counts as that sheet.
void setStyleState(QWidget *widget, const char *property, const QVariant &value);
void setStyleSheetIfChanged(QWidget *widget, const QString &sheet);
QString colorHex(const QColor &color);

QPushButton *makeButton(const QString &text, bool primary = false, QWidget *parent = nullptr);
QLabel *makeRoleLabel(const QString &text, const char *role, QWidget *parent = nullptr);
QHBoxLayout *makeHeading(const QString &title, const QString &subtitle = QString(),
                         QWidget *trailing = nullptr, QLabel **titleOut = nullptr,
                         QLabel **subtitleOut = nullptr);
QFrame *makeHairline(QWidget *parent = nullptr);
QPushButton *makeIconButton(QWidget *section, bool defaultShown, const QString &settingsKey,
                            QWidget *parent = nullptr);
void setRevealButtonState(QPushButton *button, QWidget *section, bool shown);
QIcon makeRevealIcon(bool shown);

} // namespace ostra
