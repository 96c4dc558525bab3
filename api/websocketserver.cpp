#include "api/websocketserver.h"

#include <QWebSocket>
#include <QWebSocketServer>

#include "api/wshandler.h"

namespace corvane {

WebSocketServer::WebSocketServer(CorvaneController *controller, QObject *parent)
    : QObject(parent),
      m_controller(controller),
      m_server(new QWebSocketServer(QStringLiteral("Qorvant OSTRA"), QWebSocketServer::NonSecureMode, this))
{
    connect(m_server, &QWebSocketServer::newConnection, this, &WebSocketServer::onNewConnection);
}

WebSocketServer::~WebSocketServer()
{
    stop();
}

bool WebSocketServer::start(quint16 port)
{
    if (m_server->isListening())
        return true;
    // No firewall rule to open on this platform.
    qInfo("WebSocketServer: no firewall rule needed for port %u", unsigned(port));
    if (!m_server->listen(QHostAddress::Any, port)) {
        qWarning("WebSocketServer: cannot listen on port %u: %s", unsigned(port),
                 qPrintable(m_server->errorString()));
        return false;
    }
    qInfo("WebSocketServer: listening on port %u", unsigned(m_server->serverPort()));
    return true;
}

void WebSocketServer::stop()
{
    const QList<QWebSocket *> clients = std::exchange(m_clients, {});
    for (QWebSocket *client : clients) {
        client->disconnect(this);
        client->close();
        client->deleteLater();
    }
    emit clientCountChanged(0);
    m_server->close();
}

void WebSocketServer::registerHandler(WsHandler *handler)
{
    if (handler && !m_handlers.contains(handler))
        m_handlers.append(handler);
}

bool WebSocketServer::isListening() const
{
    return m_server->isListening();
}

void WebSocketServer::onNewConnection()
{
    while (QWebSocket *client = m_server->nextPendingConnection()) {
        connect(client, &QWebSocket::disconnected, this, &WebSocketServer::onClientGone);
        m_clients.append(client);
        emit clientCountChanged(clientCount());
    }
}

void WebSocketServer::onClientGone()
{
    auto *client = qobject_cast<QWebSocket *>(sender());
    if (!client || !m_clients.removeOne(client))
        return;
    client->deleteLater();
    emit clientCountChanged(clientCount());
}

} // namespace corvane
