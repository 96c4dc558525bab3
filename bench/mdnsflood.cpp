// Floods the mDNS responder with queries for its name and measures what the flood costs the
// thread it shares with the 7 ms transmit tick: a 7 ms timer beside the responder records its
// longest gap between ticks, a listener counts the answers that go out and reads their IP TTL.
//
//     mdnsflood [queries per second, default 50000] [seconds 1..30, default 5] [--repeat N]
//
// --repeat N puts the question N times into every query. As root the probe runs in a network
// namespace of its own (only its loopback), otherwise on this machine's loopback.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "api/mdnsresponder.h"
#include "support/netnamespaces.h"
#include "support/testenvironment.h"

namespace {

using Clock = std::chrono::steady_clock;

QByteArray floodQuery(const QByteArray &name, int repeat)
{
    QByteArray out("\0\0\0\0", 4);
    out.append(char(repeat >> 8)).append(char(repeat & 0xFF));
    out.append(QByteArray(6, '\0'));
    for (int i = 0; i < repeat; ++i)
        out.append(name).append("\0\x01\0\x01", 4);
    return out;
}

double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    const ostratest::OwnLoopback ownLoopback;
    const bool isolated = ownLoopback.entered();
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    ostratest::TestEnvironment environment;
    QCoreApplication app(argc, argv);
    ostratest::TestEnvironment::applyIdentity();

    QStringList args = app.arguments().mid(1);
    int repeat = 1;
    if (const int at = int(args.indexOf(QStringLiteral("--repeat"))); at >= 0 && at + 1 < args.size()) {
        repeat = std::clamp(args.at(at + 1).toInt(), 1, 2000);
        args.remove(at, 2);
    }
    const int rate = args.size() > 0 ? std::clamp(args.at(0).toInt(), 1, 1000000) : 50000;
    const int seconds = args.size() > 1 ? std::clamp(args.at(1).toInt(), 1, 30) : 5;
    std::printf("%s, %d queries/s for %d s, question %d time(s) per query\n",
                isolated ? "own network namespace" : "shared loopback (not root)", rate, seconds, repeat);

    const QString host = isolated ? QStringLiteral("qorvant-transmitter")
                                  : QStringLiteral("ostra-flood-%1").arg(QCoreApplication::applicationPid());
    corvane::MdnsResponder::setServedInterfaceNames({QStringLiteral("lo")});
    corvane::MdnsResponder responder(host);
    if (!responder.start()) {
        std::fprintf(stderr, "mdnsflood: the responder did not start\n");
        return 1;
    }

    sockaddr_in group {};
    group.sin_family = AF_INET;
    group.sin_port = htons(corvane::MdnsResponder::Port);
    group.sin_addr.s_addr = inet_addr("224.0.0.251");
    in_addr loopback {};
    loopback.s_addr = htonl(INADDR_LOOPBACK);

    // The listener: on 5353 in the group, as any other mDNS software is.
    const int listener = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::setsockopt(listener, IPPROTO_IP, IP_RECVTTL, &yes, sizeof yes);
    const int buffer = 4 << 20;
    ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in any {};
    any.sin_family = AF_INET;
    any.sin_port = group.sin_port;
    ip_mreq membership {};
    membership.imr_multiaddr = group.sin_addr;
    membership.imr_interface = loopback;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0
        || ::setsockopt(listener, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        std::perror("mdnsflood: listener");
        return 1;
    }
    timeval wait {0, 100000};
    ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    std::atomic<bool> running {true};
    std::atomic<long> answers {0};
    std::atomic<int> minTtl {256};
    std::atomic<int> maxTtl {-1};
    std::thread listen([&] {
        char bytes[9000];
        char control[64];
        while (running) {
            iovec part {bytes, sizeof bytes};
            msghdr message {};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t got = ::recvmsg(listener, &message, 0);
            if (got < 12 || !(quint8(bytes[2]) & 0x80))
                continue;
            ++answers;
            for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
                    int ttl = 0;
                    std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
                    minTtl = std::min(minTtl.load(), ttl);
                    maxTtl = std::max(maxTtl.load(), ttl);
                }
            }
        }
    });

    // The flood, paced in 1 ms steps from a socket of its own.
    const QByteArray query = floodQuery(corvane::MdnsResponder::encodeDnsName(host + QStringLiteral(".local")), repeat);
    std::atomic<long> sent {0};
    std::thread flood([&] {
        const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
        ::setsockopt(sender, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
        const Clock::time_point start = Clock::now();
        const Clock::time_point end = start + std::chrono::seconds(seconds);
        long due = 0;
        for (Clock::time_point now = start; now < end; now = Clock::now()) {
            due = long(std::chrono::duration<double>(now - start).count() * rate);
            for (; sent < due; ++sent)
                ::sendto(sender, query.constData(), size_t(query.size()), 0, reinterpret_cast<sockaddr *>(&group), sizeof group);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::close(sender);
    });

    // The 7 ms tick beside the responder, from the first query to the flood's end.
    QElapsedTimer gapClock;
    qint64 longestGapUs = 0;
    int over14 = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (gapClock.isValid()) {
            const qint64 gap = gapClock.nsecsElapsed() / 1000;
            longestGapUs = std::max(longestGapUs, gap);
            over14 += gap > 14000 ? 1 : 0;
        }
        gapClock.start();
    });
    tick.start(7);
    const double cpuBefore = cpuSeconds();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    flood.join();
    const long answered = answers;
    running = false;
    listen.join();
    ::close(listener);

    std::printf("queries sent       %ld (%.0f/s)\n", sent.load(), double(sent) / seconds);
    std::printf("longest tick gap   %.1f ms (7 ms timer; %d gaps over 14 ms)\n", longestGapUs / 1000.0, over14);
    std::printf("answers            %ld (%.1f/s)\n", answered, double(answered) / seconds);
    if (maxTtl >= 0)
        std::printf("answer IP TTL      %d..%d\n", minTtl.load(), maxTtl.load());
    std::printf("GUI thread CPU     %.0f ms per second\n", cpu * 1000.0 / seconds);
    return 0;
}
