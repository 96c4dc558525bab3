#include "api/dialogs/webstatusdialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "api/websocketserver.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/qrcode.h"
#include "ostraui/theme.h"
#include "platform/network/networkinterfacelister.h"

namespace corvane {

namespace {

constexpr int QrTargetSize = 180;

} // namespace

WebStatusDialog::WebStatusDialog(WebSocketServer *server, QWidget *parent)
    : QDialog(parent)
    , m_server(server)
{
    setWindowTitle(tr("Connect from Mobile Device"));
    setMinimumWidth(400);
    buildUi();
    ostra::applyDialogChrome(this, QString());
}

QString WebStatusDialog::pickLanAddress()
{
    return NetworkInterfaceLister::bestLanAddress();
}

void WebStatusDialog::buildUi()
{
    const QString address = pickLanAddress();
    const QString url = QStringLiteral("ws://%1:%2").arg(address).arg(m_server ? m_server->serverPort() : 0);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    layout->setContentsMargins(24, 24, 24, 24);

    const bool reachable = ostra::reachableFromPhone(address);
    m_qrLabel = new QLabel(this);
    m_qrLabel->setAlignment(Qt::AlignCenter);
    // A named colour: the dark theme rewrites only hex colours, and a scanner needs white.
    m_qrLabel->setStyleSheet(QStringLiteral("background: white; border-radius: 8px; padding: 12px;"));
    const QPixmap qr = ostra::renderQrCode(url, QrTargetSize);
    if (qr.isNull())
        m_qrLabel->setText(tr("QR Code unavailable"));
    else
        m_qrLabel->setPixmap(qr);
    m_qrLabel->setVisible(reachable);
    layout->addWidget(m_qrLabel, 0, Qt::AlignHCenter);

    m_addressLabel = new QLabel(reachable ? address : tr("No network found"), this);
    m_addressLabel->setAlignment(Qt::AlignCenter);
    m_addressLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // An address in the monospaced face; the words that stand in for one in the text face.
    m_addressLabel->setStyleSheet(QStringLiteral("font-size: 16pt; %1color: %2; padding: 8px;")
                                      .arg(reachable ? QStringLiteral("font-family: 'Geist Mono'; ") : QString(),
                                           QStringLiteral("#0F1720")));
    layout->addWidget(m_addressLabel);

    if (reachable) {
        QPushButton *copy = ostra::makeButton(tr("Copy IP"), false, this);
        connect(copy, &QPushButton::clicked, this, [address] { QGuiApplication::clipboard()->setText(address); });
        layout->addWidget(copy, 0, Qt::AlignHCenter);
    } else {
        layout->addWidget(ostra::makeNoNetworkNote(this));
    }

    QFrame *hairline = ostra::makeHairline(this);
    hairline->setFrameShape(QFrame::NoFrame);
    layout->addWidget(hairline);

    QString steps = tr("To connect from your mobile device:\n"
                       "\n"
                       "1. Download \"Qorvant Corvane\" from the\n"
                       "   App Store or Google Play\n"
                       "\n"
                       "2. Open the app and tap \"Connect with Custom IP\"");
    // Off every network there is neither an address nor a code to point at.
    if (reachable)
        steps += QStringLiteral("\n\n") + tr("3. Enter the IP address shown above,\n"
                                              "   or scan the QR code");
    auto *instructions = new QLabel(steps, this);
    instructions->setObjectName(QStringLiteral("instructions"));
    instructions->setWordWrap(true);
    instructions->setStyleSheet(
        QStringLiteral("font-size: 10pt; color: %1; line-height: 1.5;").arg(QStringLiteral("#5B6675")));
    layout->addWidget(instructions);
    layout->addStretch();

    QPushButton *close = ostra::makeButton(tr("Close"), false, this);
    close->setMinimumWidth(120);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignHCenter);
}

} // namespace corvane
