#pragma once

#include <QDialog>
#include <QString>

class QLabel;

namespace corvane {

class WebSocketServer;

// Tells the user how the mobile app reaches this computer: its likely LAN address, a button
// that copies it, and a QR code of the API's URL. Everything is worked out once, when built.
class WebStatusDialog : public QDialog
{
    Q_OBJECT
public:
    WebStatusDialog(WebSocketServer *server, QWidget *parent);

    // The IPv4 address the app most likely reaches this computer at, from the interfaces
    // NetworkInterfaceLister lists; "127.0.0.1" when none.
    static QString pickLanAddress();

private:
    void buildUi();

    WebSocketServer *m_server = nullptr;
    QLabel *m_qrLabel = nullptr;
    QLabel *m_addressLabel = nullptr;
};

} // namespace corvane
