#include "profiles/profilename.h"

#include <QCoreApplication>
#include <QSet>

#include <algorithm>

namespace corvane {

namespace {

const char *const Context = "corvane::ProfileManager";

// Controls (C0, DEL, C1), line and paragraph separators, the embeddings, overrides and
// isolates that reorder the text after them, and the byte order mark: the JSON reader drops one
// at the front of a text, so the name would change, or a profile of that name alone vanish, at
// the next start. All of them lie in the basic plane.
bool isForbidden(QChar c)
{
    const QChar::Category category = c.category();
    if (category == QChar::Other_Control || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph)
        return true;
    const char16_t u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0xFEFF;
}

// White space, format characters (zero-width spaces and joiners, the soft hyphen, tags), marks
// that only show on a letter before them, and the letters and symbols that are drawn as nothing
// (the Hangul fillers, the blank braille cell): a name of these alone looks empty in every list.
bool isInvisible(char32_t c)
{
    if (QChar::isSpace(c))
        return true;
    switch (QChar::category(c)) {
    case QChar::Other_Format:
    case QChar::Mark_NonSpacing:
        return true;
    default:
        break;
    }
    return c == 0x115F || c == 0x1160 || c == 0x3164 || c == 0xFFA0 || c == 0x2800;
}

} // namespace

QString ProfileName::normalized(const QString &name)
{
    const QList<uint> codePoints = name.toUcs4();
    // A forbidden character is refused as such, not taken for a blank.
    const auto blank = [](uint c) { return isInvisible(char32_t(c)) && !(c <= 0xFFFF && isForbidden(QChar(c))); };
    if (std::all_of(codePoints.cbegin(), codePoints.cend(), blank))
        return {};
    return name.trimmed();
}

QString ProfileName::refusal(const QString &name, Of of)
{
    const QString clean = normalized(name);
    if (clean.isEmpty())
        return of == Of::TelemetrySensor ? QString() : emptyMessage(of);
    if (clean.size() > MaxLength)
        return tooLongMessage(of);
    if (hasForbiddenCharacter(clean))
        return forbiddenCharacterMessage(of);
    return {};
}

bool ProfileName::hasForbiddenCharacter(const QString &text)
{
    // A lone surrogate goes out as an escape that strict JSON readers refuse: a phone would lose
    // the whole list the name is in.
    return !text.isValidUtf16() || std::any_of(text.cbegin(), text.cend(), isForbidden);
}

bool ProfileName::hasInvisibleCharacter(const QString &text)
{
    const QList<uint> codePoints = text.toUcs4();
    return std::any_of(codePoints.cbegin(), codePoints.cend(),
                       [](uint c) { return isInvisible(char32_t(c)) && !QChar::isSpace(char32_t(c)); });
}

QString ProfileName::withSuffix(const QString &base, const QString &suffix)
{
    qsizetype keep = std::max<qsizetype>(0, MaxLength - suffix.size());
    if (base.size() <= keep)
        return base + suffix;
    // Never split a character that takes two code units.
    if (keep > 0 && base.at(keep - 1).isHighSurrogate())
        --keep;
    QString cut = base.left(keep);
    while (!cut.isEmpty() && cut.back().isSpace())
        cut.chop(1);
    return cut + suffix;
}

QString ProfileName::unique(const QString &base, const QStringList &taken)
{
    QSet<QString> lowered;
    for (const QString &name : taken)
        lowered.insert(name.toLower());
    if (!lowered.contains(base.toLower()))
        return base;
    for (int n = 2;; ++n) {
        const QString candidate = withSuffix(base, QStringLiteral(" (%1)").arg(n));
        if (!lowered.contains(candidate.toLower()))
            return candidate;
    }
}

QString ProfileName::emptyMessage(Of of)
{
    switch (of) {
    case Of::EscPreset:
        return QCoreApplication::translate(Context, "ESC preset name cannot be empty");
    case Of::UserPreset:
        return QCoreApplication::translate(Context, "Preset name cannot be empty");
    case Of::TelemetrySensor:
        return QCoreApplication::translate(Context, "Sensor name cannot be empty");
    case Of::Profile:
        break;
    }
    return QCoreApplication::translate(Context, "Profile name cannot be empty");
}

QString ProfileName::tooLongMessage(Of of)
{
    switch (of) {
    case Of::EscPreset:
        return QCoreApplication::translate(Context, "ESC preset name is too long: at most %1 characters").arg(MaxLength);
    case Of::UserPreset:
        return QCoreApplication::translate(Context, "Preset name is too long: at most %1 characters").arg(MaxLength);
    case Of::TelemetrySensor:
        return QCoreApplication::translate(Context, "Sensor name is too long: at most %1 characters").arg(MaxLength);
    case Of::Profile:
        break;
    }
    return QCoreApplication::translate(Context, "Profile name is too long: at most %1 characters").arg(MaxLength);
}

QString ProfileName::forbiddenCharacterMessage(Of of)
{
    switch (of) {
    case Of::EscPreset:
        return QCoreApplication::translate(
            Context, "ESC preset name cannot contain line breaks, tabs, other control characters or text direction overrides");
    case Of::UserPreset:
        return QCoreApplication::translate(
            Context, "Preset name cannot contain line breaks, tabs, other control characters or text direction overrides");
    case Of::TelemetrySensor:
        return QCoreApplication::translate(
            Context, "Sensor name cannot contain line breaks, tabs, other control characters or text direction overrides");
    case Of::Profile:
        break;
    }
    return QCoreApplication::translate(
        Context, "Profile name cannot contain line breaks, tabs, other control characters or text direction overrides");
}

} // namespace corvane
