#include "motion/pages/motionwebdialog.h"

#include "ostraui/dialogchrome.h"
#include "ostraui/qrcode.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>


namespace corvane {

void copyTextToClipboard(const QString &text)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text, QClipboard::Clipboard);
}

MotionWebDialog::MotionWebDialog(const QString &url, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Motion System Web Panel"));
    setMinimumWidth(400);
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    layout->setContentsMargins(24, 24, 24, 24);

    auto *heading = new QLabel(tr("Open the Web Panel on your phone"), this);
    heading->setStyleSheet(QStringLiteral("font-size: 14pt; font-weight: bold; color: %1;").arg(QLatin1String("#0F1720")));
    heading->setAlignment(Qt::AlignCenter);
    layout->addWidget(heading);

    auto *qr = new QLabel(this);
    qr->setObjectName(QStringLiteral("qrLabel"));
    // White in both themes: phone cameras need the light margin around the code.
    qr->setStyleSheet(QStringLiteral("background: white; border-radius: 8px; padding: 12px;"));
    const bool reachable = ostra::reachableFromPhone(QUrl(url).host());
    const QPixmap code = ostra::renderQrCode(url, QrSize);
    if (code.isNull())
        qr->setText(tr("QR Code unavailable"));
    else
        qr->setPixmap(code);
    // The code keeps its full size with the white padding around it, however small the dialog.
    qr->ensurePolished();
    qr->setMinimumSize(qr->sizeHint());
    qr->setVisible(reachable);
    layout->addWidget(qr, 0, Qt::AlignHCenter);

    auto *address = new QLabel(reachable ? url : tr("No network found"), this);
    address->setObjectName(QStringLiteral("urlLabel"));
    // An address in the monospaced face; the words that stand in for one in the text face.
    address->setStyleSheet(QStringLiteral("font-size: 13pt; %1color: %2; padding: 8px;")
                               .arg(reachable ? QStringLiteral("font-family: 'Geist Mono'; ") : QString(),
                                    QLatin1String("#0F1720")));
    address->setAlignment(Qt::AlignCenter);
    address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(address);

    if (reachable) {
        auto *copy = new QPushButton(tr("Copy URL"), this);
        copy->setCursor(Qt::PointingHandCursor);
        connect(copy, &QPushButton::clicked, this, [url] { copyTextToClipboard(url); });
        layout->addWidget(copy, 0, Qt::AlignHCenter);
    } else {
        layout->addWidget(ostra::makeNoNetworkNote(this));
    }

    QStringList texts{tr("Make sure the phone is on the same WiFi network as this PC")};
    // Off every network there is neither a code nor an address to point at.
    if (reachable)
        texts << tr("Scan the QR code with the phone camera \u2014 the panel opens in the browser (no app needed) "
                    "\u2014 or type the URL by hand");
    texts << tr("DOF tests, actuator bars and settings work live from the phone");
    for (int i = 0; i < texts.size(); ++i)
        texts[i] = tr("%1. %2").arg(i + 1).arg(texts.at(i));
    auto *steps = new QLabel(texts.join(QStringLiteral("\n\n")), this);
    steps->setObjectName(QStringLiteral("steps"));
    steps->setWordWrap(true);
    steps->setStyleSheet(QStringLiteral("font-size: 10pt; color: %1;").arg(QLatin1String("#5B6675")));
    layout->addWidget(steps);

    auto *close = new QPushButton(tr("Close"), this);
    close->setCursor(Qt::PointingHandCursor);
    // The label colour is the surface token, so it stays readable on the ink button in both themes.
    close->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: #FFFFFF; border: none; border-radius: 6px; "
                                        "padding: 10px 24px; font-size: 10pt; font-weight: bold; }"
                                        "QPushButton:hover { background: #C81F24; }")
                             .arg(QLatin1String("#0F1720")));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignHCenter);

    ostra::applyDialogChrome(this, QString());
    // The chrome keeps only the minimum width; below its content's height the code would be cut.
    setMinimumHeight(minimumSizeHint().height());
}

} // namespace corvane
