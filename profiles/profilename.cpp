#include "profiles/profilename.h"

#include <QCoreApplication>

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

} // namespace

QString ProfileName::normalized(const QString &name)
{
    return name.trimmed();
}

QString ProfileName::refusal(const QString &name, Of of)
{
    const QString clean = normalized(name);
    if (clean.isEmpty())
        return emptyMessage(of);
    if (clean.size() > MaxLength)
        return tooLongMessage(of);
    if (std::any_of(clean.cbegin(), clean.cend(), isForbidden))
        return forbiddenCharacterMessage(of);
    return {};
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

QString ProfileName::emptyMessage(Of of)
{
    switch (of) {
    case Of::EscPreset:
        return QCoreApplication::translate(Context, "ESC preset name cannot be empty");
    case Of::UserPreset:
        return QCoreApplication::translate(Context, "Preset name cannot be empty");
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
    case Of::Profile:
        break;
    }
    return QCoreApplication::translate(
        Context, "Profile name cannot contain line breaks, tabs, other control characters or text direction overrides");
}

} // namespace corvane
