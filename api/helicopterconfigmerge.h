#pragma once

#include <QJsonObject>
#include <QString>

struct HelicopterConfig;

namespace corvane {

namespace wsjson {
class FieldReader;
}

// Merges a partial helicopter setup from the app into `config`. Members present replace single
// values; the calibration records, the arm switch, the dual rates and the two curves are replaced
// whole, keys they lack taking their when-absent values. Device records and unknown members are
// ignored. A value of the wrong type or outside what the desktop's dialogs allow, unless it is the
// one stored, is refused: the refusal naming it is returned (empty when everything was taken),
// and `config` is then not to be stored.
QString mergeHelicopterConfig(HelicopterConfig &config, const QJsonObject &partial);
// The same merge through a reader of the caller's, which keeps the refusal.
void mergeHelicopterConfig(const wsjson::FieldReader &in, HelicopterConfig &config);

} // namespace corvane
