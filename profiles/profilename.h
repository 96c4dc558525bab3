#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

// The rule for the name of a profile, a preset or a telemetry sensor, wherever one is typed
// (profile dialog, ESC dialog, presets panel, helicopter page, sensor list, WebSocket API) and
// enforced by the store itself:
// surrounding blanks are dropped, a blank name (or one that shows nothing: zero-width spaces,
// Hangul fillers, the blank braille cell) is refused, a name may be at most MaxLength
// characters, so that it fits the header's profile pill and the lists, and it may hold no control
// characters (line breaks, tabs, NUL), which would break the lists' lines, no text direction
// overrides, which would show the name reversed, and no byte order mark, which the files do not
// keep. A sensor's name alone may be blank: its label shows then.
class ProfileName
{
public:
    static constexpr int MaxLength = 64;

    // What the name belongs to; the messages say so.
    enum class Of { Profile, EscPreset, UserPreset, TelemetrySensor };

    // The name as it is stored: without leading and trailing white space; empty when nothing of
    // it would show.
    static QString normalized(const QString &name);
    // Why the name cannot be used (a translated sentence), or empty when it can.
    static QString refusal(const QString &name, Of of = Of::Profile);
    // Whether the text holds a character a name may not hold: a control character, a text
    // direction override or a byte order mark. Texts from outside that are shown the way names
    // are (firmware versions) are held to the same rule.
    static bool hasForbiddenCharacter(const QString &text);
    // Whether the text holds a character that shows nothing at all (a zero-width space or joiner,
    // a soft hyphen, a Hangul filler; white space shows as a gap and is none): a firmware version
    // with one reads like another that has none.
    static bool hasInvisibleCharacter(const QString &text);
    // `base` shortened as far as needed for base + suffix to be a name of at most MaxLength
    // characters, for the names the store makes up ("Car (Copy)", "Car (2)").
    static QString withSuffix(const QString &base, const QString &suffix);
    // `base`, or the first of "base (2)", "base (3)", ... that none of `taken` equals without
    // regard to letter case.
    static QString unique(const QString &base, const QStringList &taken);

    static QString emptyMessage(Of of = Of::Profile);
    static QString tooLongMessage(Of of = Of::Profile);
    static QString forbiddenCharacterMessage(Of of = Of::Profile);
};

} // namespace corvane
