#include "ostraui/theme.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleHints>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "ostraui/focusring.h"
#include "ostraui/ostrastyle.h"
#include "ostraui/plaintextguard.h"
#include "ostraui/screenfit.h"
#include "ostraui/systemboxes.h"
#include "ostraui/wheelguard.h"
#include "platform/storage/settingsfile.h"

namespace ostra {

namespace ThemeColors {
QColor windowBg = QColor::fromRgb(0xF3F5F8);
QColor border = QColor::fromRgb(0xE1E6ED);
QColor ink = QColor::fromRgb(0x0F1720);
QColor textSecondary = QColor::fromRgb(0x5B6675);
QColor textMuted = QColor::fromRgb(0x8A94A3);
QColor textDisabled = QColor::fromRgb(0xA7B0BC);
QColor inverseSurface = QColor::fromRgb(0x0F1720);
QColor accent = QColor::fromRgb(0x4CC2FF);
QColor dangerAccent = QColor::fromRgb(0xE5262B);
QColor successAccent = QColor::fromRgb(0x12A66A);
QColor surface = QColor::fromRgb(0xFFFFFF);
QColor surfaceAlt = QColor::fromRgb(0xF7F9FB);
QColor borderLight = QColor::fromRgb(0xE6EAF0);
QColor borderStrong = QColor::fromRgb(0xD5DCE5);
QColor borderHover = QColor::fromRgb(0xCFD6DF);
QColor hairline = QColor::fromRgb(0xEEF1F5);
QColor controlBorder = QColor::fromRgb(0xD9DEE6);
QColor textHover = QColor::fromRgb(0x3B4552);
QColor inkHover = QColor::fromRgb(0x26313D);
QColor infoText = QColor::fromRgb(0x0B7FD0);
QColor infoSoft = QColor::fromRgb(0xE3F2FC);
QColor dangerText = QColor::fromRgb(0xC81F24);
QColor dangerSoft = QColor::fromRgb(0xFDE8E8);
QColor successText = QColor::fromRgb(0x0D8A57);
QColor successSoft = QColor::fromRgb(0xE3F6EC);
QColor successBorder = QColor::fromRgb(0xBFE8D3);
QColor warningAccent = QColor::fromRgb(0xD98A00);
QColor warningText = QColor::fromRgb(0xB06F00);
QColor warningSoft = QColor::fromRgb(0xFDF1DC);
QColor warningTint = QColor::fromRgb(0xFFFAF0);
QColor neutralSoft = QColor::fromRgb(0xEEF1F5);
QColor shadow = QColor::fromRgb(0x0F1720);
QColor inverseText = QColor::fromRgb(0xFFFFFF);
QColor toggleOn = QColor::fromRgb(0x0F1720);
QColor thumb = QColor::fromRgb(0xFFFFFF);
} // namespace ThemeColors

namespace {

bool g_dark = false;

const char *const kFonts[] = {
    ":/fonts/Geist-Regular.ttf",     ":/fonts/Geist-Medium.ttf",    ":/fonts/Geist-SemiBold.ttf",
    ":/fonts/GeistMono-Regular.ttf", ":/fonts/GeistMono-Medium.ttf",
};

const QRegularExpression &hexPattern()
{
    static const QRegularExpression pattern(QStringLiteral("#([0-9A-Fa-f]{6}|[0-9A-Fa-f]{3})\\b"));
    return pattern;
}

} // namespace

void installTheme(QApplication &app)
{
    installTheme(app, selectedTheme());
}

void installTheme(QApplication &app, bool dark)
{
    for (const char *path : kFonts) {
        if (QFontDatabase::addApplicationFont(QString::fromLatin1(path)) < 0)
            qWarning("ostra theme: failed to load font %s", path);
    }

    g_dark = dark;
    if (g_dark) {
        applyDarkColors();
        app.installEventFilter(new StyleRemapper(&app));
    }

    app.setStyle(new OstraStyle);
    trackKeyboardFocus(app);
    app.installEventFilter(new SystemBoxes(&app));
    app.installEventFilter(new WheelGuard(&app));
    app.installEventFilter(new PlainTextGuard(&app));
    app.setPalette(buildPalette());

    QFont font(QStringLiteral("Geist"));
    font.setPointSizeF(10.5);
    font.setWeight(QFont::Normal);
    font.setHintingPreference(QFont::PreferNoHinting);
    app.setFont(font);

#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    if (QStyleHints *hints = QGuiApplication::styleHints())
        hints->setColorScheme(g_dark ? Qt::ColorScheme::Dark : Qt::ColorScheme::Light);
#endif

    QFile sheet(QStringLiteral(":/theme/ostra.qss"));
    if (sheet.open(QIODevice::ReadOnly | QIODevice::Text))
        app.setStyleSheet(remapColors(QString::fromUtf8(sheet.readAll())));
    else
        qWarning("ostra theme: stylesheet missing from resources");
}

bool selectedTheme()
{
    const QByteArray env = qgetenv("QOROSTRA_THEME");
    if (!env.isEmpty())
        return env == "dark";
    return corvane::SettingsFile().value(QStringLiteral("ui/theme")).toString() == QLatin1String("dark");
}

bool isDarkTheme()
{
    return g_dark;
}

void saveTheme(bool dark)
{
    corvane::SettingsFile().setValue(QStringLiteral("ui/theme"), dark ? QStringLiteral("dark") : QStringLiteral("light"));
}

void applyDarkColors()
{
    using namespace ThemeColors;
    windowBg = QColor::fromRgb(0x0B1016);
    border = QColor::fromRgb(0x2E3946);
    ink = QColor::fromRgb(0xE8EDF3);
    textSecondary = QColor::fromRgb(0xA3AEBC);
    textMuted = QColor::fromRgb(0x76818F);
    textDisabled = QColor::fromRgb(0x4E5866);
    inverseSurface = QColor::fromRgb(0xE8EDF3);
    accent = QColor::fromRgb(0x4CC2FF);
    dangerAccent = QColor::fromRgb(0xE5262B);
    successAccent = QColor::fromRgb(0x12A66A);
    surface = QColor::fromRgb(0x141B23);
    surfaceAlt = QColor::fromRgb(0x1A222C);
    borderLight = QColor::fromRgb(0x26303B);
    borderStrong = QColor::fromRgb(0x34404D);
    borderHover = QColor::fromRgb(0x3C4856);
    hairline = QColor::fromRgb(0x1F2832);
    controlBorder = QColor::fromRgb(0x3A4553);
    textHover = QColor::fromRgb(0xC3CCD7);
    inkHover = QColor::fromRgb(0xC9D2DD);
    infoText = QColor::fromRgb(0x7FD3FF);
    infoSoft = QColor::fromRgb(0x0F2A3D);
    dangerText = QColor::fromRgb(0xFF8487);
    dangerSoft = QColor::fromRgb(0x3A1619);
    successText = QColor::fromRgb(0x46D99C);
    successSoft = QColor::fromRgb(0x0E2E22);
    successBorder = QColor::fromRgb(0x1D5A40);
    warningAccent = QColor::fromRgb(0xD98A00);
    warningText = QColor::fromRgb(0xFFBE55);
    warningSoft = QColor::fromRgb(0x33260C);
    warningTint = QColor::fromRgb(0x2A2210);
    neutralSoft = QColor::fromRgb(0x1F2832);
    shadow = QColor::fromRgb(0x000000);
    inverseText = QColor::fromRgb(0x0F1720);
    toggleOn = QColor::fromRgb(0x4CC2FF);
    thumb = QColor::fromRgb(0xE8EDF3);
}

const QList<ColorPair> &themeTokens()
{
    static const QList<ColorPair> tokens = [] {
        const char *const pairs[][2] = {
            {"#F3F5F8", "#0B1016"}, {"#FFFFFF", "#141B23"}, {"#F7F9FB", "#1A222C"},
            {"#E6EAF0", "#26303B"}, {"#D5DCE5", "#34404D"}, {"#E1E6ED", "#2E3946"},
            {"#CFD6DF", "#3C4856"}, {"#EEF1F5", "#1F2832"}, {"#D9DEE6", "#3A4553"},
            {"#0F1720", "#E8EDF3"}, {"#5B6675", "#A3AEBC"}, {"#8A94A3", "#76818F"},
            {"#A7B0BC", "#4E5866"}, {"#3B4552", "#C3CCD7"}, {"#26313D", "#C9D2DD"},
            {"#0B7FD0", "#7FD3FF"}, {"#E3F2FC", "#0F2A3D"}, {"#CDEBFF", "#16405C"},
            {"#C81F24", "#FF8487"}, {"#FDE8E8", "#3A1619"}, {"#F4C7C8", "#5A2226"},
            {"#0D8A57", "#46D99C"}, {"#E3F6EC", "#0E2E22"}, {"#BFE8D3", "#1D5A40"},
            {"#B06F00", "#FFBE55"}, {"#FDF1DC", "#33260C"}, {"#FFFAF0", "#2A2210"},
            {"#E9EDF2", "#27313C"}, {"#CDD5E1", "#3A4553"}, {"#F5F5F5", "#1A222C"},
            {"#ECECEC", "#222B36"}, {"#E6E6E6", "#26303B"}, {"#D4D4D4", "#3A4553"},
        };
        QList<ColorPair> list;
        list.reserve(int(std::size(pairs)));
        for (const auto &pair : pairs)
            list.append({QString::fromLatin1(pair[0]), QString::fromLatin1(pair[1])});
        return list;
    }();
    return tokens;
}

QString remapColors(const QString &sheet)
{
    if (!g_dark || sheet.isEmpty())
        return sheet;

    const QList<ColorPair> &tokens = themeTokens();
    QString out;
    out.reserve(sheet.size());
    qsizetype last = 0;
    QRegularExpressionMatchIterator it = hexPattern().globalMatch(sheet);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        out += QStringView(sheet).mid(last, match.capturedStart() - last);
        last = match.capturedEnd();

        QString key = match.captured(0).toUpper();
        if (key.size() == 4)
            key = QStringLiteral("#%1%1%2%2%3%3").arg(key.at(1)).arg(key.at(2)).arg(key.at(3));
        auto found = std::find_if(tokens.cbegin(), tokens.cend(),
                                  [&key](const ColorPair &pair) { return pair.first == key; });
        out += found != tokens.cend() ? found->second : match.captured(0);
    }
    out += QStringView(sheet).mid(last);
    return out;
}

QPalette buildPalette()
{
    using namespace ThemeColors;
    QPalette palette;
    const auto set = [&palette](QPalette::ColorRole role, const QColor &color) {
        palette.setBrush(QPalette::All, role, QBrush(color));
    };
    set(QPalette::Window, windowBg);
    set(QPalette::WindowText, ink);
    set(QPalette::Base, surface);
    set(QPalette::AlternateBase, surfaceAlt);
    set(QPalette::ToolTipBase, inverseSurface);
    set(QPalette::ToolTipText, inverseText);
    set(QPalette::Text, ink);
    set(QPalette::PlaceholderText, textMuted);
    set(QPalette::Button, surface);
    set(QPalette::ButtonText, ink);
    set(QPalette::BrightText, dangerAccent);
    set(QPalette::Light, surface);
    set(QPalette::Midlight, hairline);
    set(QPalette::Mid, border);
    set(QPalette::Dark, borderHover);
    set(QPalette::Shadow, textMuted);
    set(QPalette::Highlight, infoSoft);
    set(QPalette::HighlightedText, ink);
    set(QPalette::Link, infoText);
    set(QPalette::LinkVisited, infoText);
    palette.setBrush(QPalette::Disabled, QPalette::Text, QBrush(textDisabled));
    palette.setBrush(QPalette::Disabled, QPalette::WindowText, QBrush(textDisabled));
    palette.setBrush(QPalette::Disabled, QPalette::ButtonText, QBrush(textDisabled));
    return palette;
}

QColor levelColor(int level)
{
    using namespace ThemeColors;
    switch (level) {
    case LevelInfo: return infoSoft;
    case LevelWarning: return warningSoft;
    case LevelSuccess: return successSoft;
    case LevelDanger: return dangerSoft;
    default: return neutralSoft;
    }
}

QColor levelAccentColor(int level)
{
    using namespace ThemeColors;
    switch (level) {
    case LevelInfo: return accent;
    case LevelWarning: return warningAccent;
    case LevelSuccess: return successAccent;
    case LevelDanger: return dangerAccent;
    default: return textDisabled;
    }
}

QColor levelTextColor(int level)
{
    using namespace ThemeColors;
    switch (level) {
    case LevelInfo: return infoText;
    case LevelWarning: return warningText;
    case LevelSuccess: return successText;
    case LevelDanger: return dangerText;
    default: return textSecondary;
    }
}

StyleRemapper::StyleRemapper(QObject *parent)
    : QObject(parent)
{
}

bool StyleRemapper::eventFilter(QObject *watched, QEvent *event)
{
    // A sheet replaced before the widget's first polish raises no style change, so the
    // polish is watched as well.
    const bool styled = event->type() == QEvent::StyleChange || event->type() == QEvent::Polish;
    if (styled && !m_applying && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        const QString sheet = widget->styleSheet();
        if (sheet.isEmpty())
            return QObject::eventFilter(watched, event);
        auto cached = m_remapped.constFind(sheet);
        if (cached == m_remapped.cend()) {
            // Sheets built from changing values would grow it without end.
            if (m_remapped.size() >= MaxRemembered)
                m_remapped.clear();
            cached = m_remapped.insert(sheet, remapColors(sheet));
        }
        const QString remapped = *cached;
        bool keep = remapped == sheet;
        for (QWidget *w = widget; w && !keep; w = w->parentWidget())
            keep = w->property("ostraKeepColors").toBool();
        if (!keep) {
            m_applying = true;
            widget->setStyleSheet(remapped);
            m_applying = false;
        }
    }
    return QObject::eventFilter(watched, event);
}

Motion::Motion()
    : m_reduced(corvane::SettingsFile().value(QStringLiteral("ui/reduceMotion"), false).toBool())
{
}

Motion *Motion::instance()
{
    static Motion *const motion = new Motion;
    return motion;
}

void Motion::setReducedMotion(bool reduced)
{
    if (reduced == m_reduced)
        return;
    m_reduced = reduced;
    corvane::SettingsFile().setValue(QStringLiteral("ui/reduceMotion"), reduced);
    emit reducedChanged(reduced);
}

bool animationsEnabled()
{
    return !headlessPlatform() && !Motion::instance()->reduced();
}

int animDuration(int ms)
{
    return animationsEnabled() ? ms : 0;
}

QEasingCurve motionCurve()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.2, 0.8), QPointF(0.2, 1.0), QPointF(1.0, 1.0));
    return curve;
}

void driveLoop(QVariantAnimation *&animation, QWidget *owner, bool run, int durationMs,
               const std::function<void(double)> &onStep)
{
    if (!animation) {
        if (!run)
            return;
        animation = new QVariantAnimation(owner);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        animation->setLoopCount(-1);
        QObject::connect(animation, &QVariantAnimation::valueChanged, owner,
                         [onStep](const QVariant &value) { onStep(value.toDouble()); });
    }
    animation->setDuration(durationMs);
    if (!run)
        animation->stop();
    else if (animation->state() != QAbstractAnimation::Running)
        animation->start();
}

QFont uiFont(double px, int weight)
{
    QFont font(QStringLiteral("Geist"));
    font.setPointSizeF(px * 0.75);
    font.setWeight(QFont::Weight(weight));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QFont monoFont(double px, int weight)
{
    QFont font(QStringLiteral("Geist Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(px * 0.75);
    font.setWeight(QFont::Weight(weight));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QFont readoutFont(const QString &text, double px, int weight)
{
    return text == QStringLiteral("\u2014") ? uiFont(px, weight) : monoFont(px, weight);
}

void setReadoutText(QLabel *label, const QString &text, double px, int weight)
{
    const bool figures = text != QStringLiteral("\u2014");
    const QFont &font = label->font();
    // A new font lays the label out again: only when the face or its size changes, not with
    // every figure.
    if ((font.styleHint() == QFont::Monospace) != figures || font.pointSizeF() != px * 0.75
        || font.weight() != QFont::Weight(weight))
        label->setFont(readoutFont(text, px, weight));
    label->setText(text);
}

void setStyleState(QWidget *widget, const char *property, const QVariant &value)
{
    if (!widget || widget->property(property) == value)
        return;
    widget->setProperty(property, value);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

void setStyleSheetIfChanged(QWidget *widget, const QString &sheet)
{
    if (!widget || widget->styleSheet() == sheet || widget->styleSheet() == remapColors(sheet))
        return;
    widget->setStyleSheet(sheet);
}

QString colorHex(const QColor &color)
{
    // A dark colour that happens to equal one of the light keys (inverseText is the light ink)
    // would be rewritten by the remapper into its light-theme partner: nudge it by the
    // smallest step that leaves the keys, a difference no eye can see.
    QColor shown = color.toRgb();
    if (g_dark) {
        const QList<ColorPair> &tokens = themeTokens();
        const auto isKey = [&tokens](const QColor &c) {
            const QString key = c.name().toUpper();
            return std::any_of(tokens.cbegin(), tokens.cend(), [&key](const ColorPair &pair) { return pair.first == key; });
        };
        const int step = shown.blue() < 128 ? 1 : -1;
        while (isKey(shown))
            shown.setBlue(shown.blue() + step);
    }
    return shown.name();
}

QPushButton *makeButton(const QString &text, bool primary, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setCursor(Qt::PointingHandCursor);
    if (primary)
        button->setProperty("primary", true);
    return button;
}

QLabel *makeRoleLabel(const QString &text, const char *role, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    if (role)
        label->setProperty("role", QString::fromLatin1(role));
    return label;
}

QHBoxLayout *makeHeading(const QString &title, const QString &subtitle, QWidget *trailing,
                         QLabel **titleOut, QLabel **subtitleOut)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);

    auto *block = new QVBoxLayout;
    block->setSpacing(3);
    QLabel *titleLabel = makeRoleLabel(title, "h2");
    block->addWidget(titleLabel);
    QLabel *subtitleLabel = nullptr;
    if (!subtitle.isNull()) {
        subtitleLabel = makeRoleLabel(subtitle, "muted");
        subtitleLabel->setWordWrap(true);
        block->addWidget(subtitleLabel);
    }
    row->addLayout(block, 1);
    if (trailing)
        row->addWidget(trailing, 0, Qt::AlignRight | Qt::AlignVCenter);

    if (titleOut)
        *titleOut = titleLabel;
    if (subtitleOut)
        *subtitleOut = subtitleLabel;
    return row;
}

QFrame *makeHairline(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setProperty("hairline", true);
    line->setFixedHeight(1);
    return line;
}

QPushButton *makeIconButton(QWidget *section, bool defaultShown, const QString &settingsKey,
                            QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setProperty("iconRound", true);
    button->setCheckable(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setIconSize(QSize(14, 14));

    const bool shown = settingsKey.isEmpty()
                           ? defaultShown
                           : corvane::SettingsFile().value(settingsKey, defaultShown).toBool();
    button->setChecked(shown);
    setRevealButtonState(button, section, shown);

    QObject::connect(button, &QPushButton::toggled, button, [button, section, settingsKey](bool on) {
        setRevealButtonState(button, section, on);
        if (!settingsKey.isEmpty())
            corvane::SettingsFile().setValue(settingsKey, on);
    });
    return button;
}

void setRevealButtonState(QPushButton *button, QWidget *section, bool shown)
{
    if (section)
        section->setVisible(shown);
    if (!button)
        return;
    button->setIcon(makeRevealIcon(shown));
    button->setToolTip(shown ? QCoreApplication::translate("ostra", "Hide")
                             : QCoreApplication::translate("ostra", "Show"));
}

QIcon makeRevealIcon(bool shown)
{
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        const int side = int(std::lround(14 * ratio));
        QPixmap pixmap(side, side);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(ThemeColors::textSecondary, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF up[] = {{3, 9}, {7, 5}, {11, 9}};
        const QPointF down[] = {{3, 5.5}, {7, 9.5}, {11, 5.5}};
        painter.drawPolyline(shown ? up : down, 3);
        painter.end();
        icon.addPixmap(pixmap, QIcon::Normal, QIcon::Off);
    }
    return icon;
}

} // namespace ostra
