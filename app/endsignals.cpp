#include "app/endsignals.h"

#include <QSocketNotifier>
#include <QWidget>
#include <QtDebug>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Written by the end signals' handler, read on the GUI thread: the handler may do no more.
int g_endSignalPipe[2] = {-1, -1};
// An end signal has come: the run ends, and a restart it had asked for is left out.
bool g_endSignalled = false;

void onEndSignal(int)
{
    const int saved = errno;
    const char byte = 0;
    (void)!::write(g_endSignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void closeOnEndSignals(QWidget *window)
{
    if (g_endSignalPipe[0] < 0 && ::pipe2(g_endSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning().noquote() << "Startup: the end signals end the program at once:" << qt_error_string(errno);
        return;
    }
    // Gone with the window: the end's wait for the disk takes the signals after it.
    auto *notifier = new QSocketNotifier(g_endSignalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        takeEndSignals();
        window->close();
    });
    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // One the program was started to ignore (nohup) stays ignored.
        struct sigaction before = {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

bool takeEndSignals()
{
    char bytes[16];
    while (g_endSignalPipe[0] >= 0 && ::read(g_endSignalPipe[0], bytes, sizeof bytes) > 0)
        g_endSignalled = true;
    return g_endSignalled;
}

void takeEndSignalsWhileAlive(QObject *owner, const std::function<void()> &then)
{
    if (g_endSignalPipe[0] < 0)
        return;
    auto *notifier = new QSocketNotifier(g_endSignalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [then] {
        takeEndSignals();
        if (then)
            then();
    });
}
