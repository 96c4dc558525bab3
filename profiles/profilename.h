#pragma once

#include <QString>

namespace corvane {

// The rule for a profile's name, wherever one is typed (profile dialog, helicopter page,
// WebSocket API): surrounding blanks are dropped, a blank name is refused, and a name may be
// at most MaxLength characters, so that it fits the header's profile pill and the lists.
class ProfileName
{
public:
    static constexpr int MaxLength = 64;

    // The name as it is stored: without leading and trailing white space.
    static QString normalized(const QString &name);
    // Why the name cannot be used (a translated sentence), or empty when it can.
    static QString refusal(const QString &name);
    static QString emptyMessage();
    static QString tooLongMessage();
};

} // namespace corvane
