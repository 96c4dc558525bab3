#pragma once

#include <QString>

struct Profile;

namespace corvane {

// Why a profile that a client imports cannot be taken: the first value it would store that the
// requests setting that value refuse or hold within a range, or a text longer than they take,
// named with its path under "profileJson"; empty when every value passes. The profile is what
// the file reader made of the request, so a value the reader mends itself is not refused, and a
// profile file on disk still loads as the reader has it.
QString importRefusal(const Profile &profile);

} // namespace corvane
