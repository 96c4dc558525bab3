// Floods the API server with connections that never finish their opening handshake, each opened
// again as soon as the server cuts it, and prints what that leaves of the server:
//
//     apiflood lockout [attempts, default 30]
//     apiflood descriptors [seconds 1..60, default 10]
//
// lockout: 4 source addresses (127.0.0.2..5) hold 8 connections each; a phone from 127.0.0.100
// then tries `attempts` times, 200 ms apart, to open a connection and finish its handshake
// within 2 s, and the count that got in is printed.
// descriptors: the server's process is left 16 descriptors above what it has open; 40 source
// addresses hold 4 connections each, and the CPU time of the server's thread over `seconds`
// is printed.
// The flood runs in a child process, so its descriptors are not the server's. As root
// everything runs in a network namespace of its own (only its loopback).

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "api/websocketserver.h"
#include "support/netnamespaces.h"
#include "support/testenvironment.h"

namespace {

in_addr loopbackSource(int last)
{
    in_addr source {};
    source.s_addr = htonl((127u << 24) | unsigned(last));
    return source;
}

// A blocking connection to the server on 127.0.0.1 from `source`; -1 when none was made.
int connectFrom(in_addr source, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr = source;
    sockaddr_in server {};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval patience {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The child's whole life: reads the port from `portPipe`, holds `perSource` silent connections
// from each of `sources`, opens one again whenever the server cuts it, and ends when `stop`
// is closed. System calls only.
[[noreturn]] void flood(int portPipe, int stop, int firstSource, int sources, int perSource)
{
    quint16 port = 0;
    if (::read(portPipe, &port, sizeof port) != sizeof port)
        _exit(1);
    struct Held
    {
        in_addr source;
        int fd;
    };
    std::vector<Held> held;
    for (int s = 0; s < sources; ++s) {
        for (int i = 0; i < perSource; ++i)
            held.push_back({loopbackSource(firstSource + s), -1});
    }
    std::vector<pollfd> watched(held.size() + 1);
    for (;;) {
        for (size_t i = 0; i < held.size(); ++i) {
            if (held[i].fd < 0)
                held[i].fd = connectFrom(held[i].source, port);
            watched[i] = {held[i].fd, POLLIN | POLLRDHUP, 0};
        }
        watched.back() = {stop, POLLIN, 0};
        if (::poll(watched.data(), nfds_t(watched.size()), 100) < 0 && errno != EINTR)
            _exit(1);
        if (watched.back().revents != 0)
            _exit(0);
        for (size_t i = 0; i < held.size(); ++i) {
            if (held[i].fd < 0 || watched[i].revents == 0)
                continue;
            char bytes[512];
            const ssize_t got = ::recv(held[i].fd, bytes, sizeof bytes, MSG_DONTWAIT);
            if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR)))
                continue;
            ::close(held[i].fd);
            held[i].fd = -1;
        }
    }
}

// True when a connection from 127.0.0.100 finished its handshake within 2 s.
bool phoneGetsIn(quint16 port)
{
    const int fd = connectFrom(loopbackSource(100), port);
    if (fd < 0)
        return false;
    const char request[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    bool in = ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) == ssize_t(sizeof request - 1);
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (in && answer.find("\r\n\r\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable {fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, int(left.count())) <= 0)
            break;
        char bytes[512];
        const ssize_t got = ::recv(fd, bytes, sizeof bytes, 0);
        if (got <= 0)
            break;
        answer.append(bytes, size_t(got));
    }
    ::close(fd);
    return answer.rfind("HTTP/1.1 101", 0) == 0;
}

double threadCpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

} // namespace

int main(int argc, char *argv[])
{
    const ostratest::OwnLoopback ownLoopback;
    const bool isolated = ownLoopback.entered();
    const bool lockout = argc < 2 || std::strcmp(argv[1], "descriptors") != 0;
    const int amount = argc > 2 ? std::atoi(argv[2]) : (lockout ? 30 : 10);

    int portPipe[2];
    int stop[2];
    if (::pipe(portPipe) != 0 || ::pipe(stop) != 0)
        return 1;
    // Forked before Qt starts any thread.
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(portPipe[1]);
        ::close(stop[1]);
        if (lockout)
            flood(portPipe[0], stop[0], 2, 4, 8);
        flood(portPipe[0], stop[0], 2, 40, 4);
    }
    ::close(portPipe[0]);
    ::close(stop[0]);

    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false");
    ostratest::TestEnvironment environment;
    QCoreApplication app(argc, argv);
    ostratest::TestEnvironment::applyIdentity();
    // Refusals are logged once a second each; they are not what is measured.
    if (!qEnvironmentVariableIsSet("APIFLOOD_LOG"))
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    corvane::WebSocketServer server(nullptr);
    if (!server.start(0)) {
        std::fprintf(stderr, "apiflood: the server did not start\n");
        return 1;
    }
    const quint16 port = server.serverPort();
    std::printf("%s\n", isolated ? "own network namespace" : "shared loopback (not root)");
    if (!lockout) {
        rlimit limit {};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = rlim_t(openDescriptors() + 16);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        std::printf("descriptor limit   %llu\n", static_cast<unsigned long long>(limit.rlim_cur));
    }
    (void)!::write(portPipe[1], &port, sizeof port);

    if (lockout) {
        const int attempts = std::clamp(amount, 1, 1000);
        std::atomic<int> gotIn {0};
        std::thread phone;
        // The flood first takes its places.
        QTimer::singleShot(2000, &app, [&] {
            phone = std::thread([&] {
                for (int i = 0; i < attempts; ++i) {
                    const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
                    gotIn += phoneGetsIn(port) ? 1 : 0;
                    std::this_thread::sleep_until(next);
                }
                QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
            });
        });
        app.exec();
        phone.join();
        std::printf("phone got in       %d of %d\n", gotIn.load(), attempts);
    } else {
        const int seconds = std::clamp(amount, 1, 60);
        double before = 0;
        QTimer::singleShot(2000, &app, [&] {
            before = threadCpuSeconds();
            QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
        });
        const auto start = std::chrono::steady_clock::now();
        app.exec();
        const double cpu = threadCpuSeconds() - before;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() - 2.0;
        std::printf("server thread CPU  %.1f %% over %.1f s (%.0f ms)\n", 100.0 * cpu / wall, wall, cpu * 1000.0);
    }
    ::close(stop[1]);
    ::waitpid(child, nullptr, 0);
    return 0;
}
