#pragma once

#include <QJsonObject>

struct HelicopterConfig;

namespace corvane {

// Merges a partial helicopter setup from the app into `config`. Whole members of the right
// type replace single values; the calibration records, the arm switch, the dual rates and the
// two curves are replaced whole, keys they lack taking their when-absent values. Device records
// and unknown members are ignored, and nothing is limited to a range; a number that does not
// fit its field (a fraction or 1e39 for an index, a float overflow) is not taken.
void mergeHelicopterConfig(HelicopterConfig &config, const QJsonObject &partial);

} // namespace corvane
