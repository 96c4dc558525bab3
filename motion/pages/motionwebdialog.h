#pragma once

#include <QDialog>
#include <QString>

namespace corvane {

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
