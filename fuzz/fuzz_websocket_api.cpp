// One text message from the LAN through the API server's envelope into every handler the main
// window registers, with the controller on a simulated transmitter. The message goes straight to
// the server's message slot for a client connected once over loopback; replies go back to it.
#include <QElapsedTimer>
#include <QUrl>
#include <QWebSocket>

#include "api/mdnsresponder.h"
#include "api/websocketserver.h"
#include "api/apihandlers.h"
#include "fuzzhost.h"
#include "support/transmitrig.h"

namespace {

struct ApiHost
{
    ApiHost()
    {
        corvane::CorvaneController *controller = rig.controller.get();
        rig.openTransmitter();
        corvane::registerApiHandlers(&server, controller);
        corvane::MdnsResponder::setServedInterfaceNames({QStringLiteral("lo")});
        server.start(0);
    }

    // The server's end of the one client, connected again when a message got it dropped.
    QWebSocket *serverSide()
    {
        if (server.clientCount() == 0) {
            client.abort();
            client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())));
            QElapsedTimer waited;
            waited.start();
            while (server.clientCount() == 0 && waited.elapsed() < 5000)
                ostrafuzz::drainEvents();
        }
        const QList<QWebSocket *> sockets = server.findChildren<QWebSocket *>(Qt::FindDirectChildrenOnly);
        for (QWebSocket *socket : sockets) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                return socket;
        }
        return nullptr;
    }

    ostratest::TransmitRig rig;
    corvane::WebSocketServer server {rig.controller.get()};
    QWebSocket client;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ostrafuzz::initHost();
    static ApiHost host;
    static int inputs = 0;
    QWebSocket *socket = host.serverSide();
    if (!socket)
        return 0;
    static qint64 end = 0;
    end += qint64(size);
    host.server.onTextMessageReceived(socket, QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)), end);
    if (++inputs % 16 == 0)
        ostrafuzz::drainEvents();
    return 0;
}
