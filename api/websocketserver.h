#pragma once

#include <QList>
#include <QObject>

class QWebSocket;
class QWebSocketServer;

namespace corvane {

class CorvaneController;
class WsHandler;

// Placeholder until the mobile-app WebSocket API is built.
class WebSocketServer : public QObject
{
    Q_OBJECT
public:
    WebSocketServer(CorvaneController *controller, QObject *parent = nullptr);
    ~WebSocketServer() override;

    // Listens on every address; false when the port cannot be taken.
    bool start(quint16 port);
    void stop();
    void registerHandler(WsHandler *handler);
    bool isListening() const;
    int clientCount() const { return int(m_clients.size()); }

signals:
    void clientCountChanged(int count);

private:
    void onNewConnection();
    void onClientGone();

    CorvaneController *m_controller;
    QWebSocketServer *m_server;
    QList<QWebSocket *> m_clients;
    QList<WsHandler *> m_handlers;
};

} // namespace corvane
