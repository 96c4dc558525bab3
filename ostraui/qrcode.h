#pragma once

#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;

namespace ostra {

// The QR code of `text` (UTF-8, error correction M), black modules on white without a quiet
// zone, each module a whole number of pixels so that the side comes as close to `targetSize`
// as it can; a null pixmap when the text is too long for the largest code. Every dialog that
// shows an address for a phone to scan draws it with this.
QPixmap renderQrCode(const QString &text, int targetSize);

// Whether a phone could reach this PC at `host`: not at a loopback address, which is all a PC
// off every network has.
bool reachableFromPhone(const QString &host);
// Says, in place of a code and an address, that this PC is on no network a phone can reach.
QLabel *makeNoNetworkNote(QWidget *parent);

} // namespace ostra
