#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>

namespace corvane {

// The QR code of a text, black modules on white without a quiet zone, each module a whole number
// of pixels so that the side comes as close to `size` as it can; null when the text cannot be
// encoded (too long). Any dialog that shows an address for a phone to scan draws it with this.
QPixmap renderQrImage(const QString &text, int size);

// Puts the text on the application clipboard.
void copyTextToClipboard(const QString &text);

// Shows the phone web panel's address as a QR code and as text.
class MotionWebDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int QrSize = 180;

    explicit MotionWebDialog(const QString &url, QWidget *parent = nullptr);
};

} // namespace corvane
