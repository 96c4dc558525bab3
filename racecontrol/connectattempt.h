#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace corvane {

// Hands the first outcome of a socket's connection attempt to `done`, exactly once: true when it
// connects, false on its error signal or after timeoutMs. The socket is then aborted and deleted
// on the next turn of the event loop. Signals reach `done` only while `context` exists.
template <typename Socket, typename ErrorSignal>
void watchConnectAttempt(Socket *socket, ErrorSignal errorSignal, int timeoutMs, QObject *context,
                         std::function<void(bool ok)> done)
{
    auto finished = std::make_shared<bool>(false);
    auto finish = [socket, finished, done = std::move(done)](bool ok) {
        if (*finished)
            return;
        *finished = true;
        socket->abort();
        socket->deleteLater();
        done(ok);
    };
    QObject::connect(socket, &Socket::connected, context, [finish] { finish(true); });
    QObject::connect(socket, errorSignal, context, [finish] { finish(false); });
    QTimer::singleShot(timeoutMs, Qt::PreciseTimer, socket, [finish] { finish(false); });
}

} // namespace corvane
