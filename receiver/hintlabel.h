#pragma once

class QLabel;
class QString;
class QWidget;

namespace corvane {

// The word-wrapped, secondary-coloured hint line of the receiver pages.
QLabel *makeHintLabel(const QString &text, QWidget *parent);

} // namespace corvane
