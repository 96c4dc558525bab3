#include <QAbstractEventDispatcher>
#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "api/apihandlers.h"
#include "api/mdnsresponder.h"
#include "api/websocketserver.h"
#include "api/wsdevicehandler.h"
#include "api/wsescpresethandler.h"
#include "api/wsframereader.h"
#include "api/wshandler.h"
#include "bridge/corvanecontroller.h"
#include "platform/network/networkinterfacelister.h"
#include "platform/serial/serialportlister.h"
#include "profiles/profilemanager.h"
#include "support/netnamespaces.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"
#include "wstestclient.h"

using corvane::WebSocketServer;
using ostratest::RawWsClient;
using ostratest::WsTestClient;

namespace {

QtMessageHandler previousHandler = nullptr;
QStringList firewallLines;
QStringList refusalLines; // the server's warnings

void collectLogLines(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("firewall")))
        firewallLines.append(message);
    if (type == QtWarningMsg && message.startsWith(QLatin1String("WebSocketServer:")))
        refusalLines.append(message);
    if (previousHandler)
        previousHandler(type, context, message);
}

// Answers "get_echo" with its data, "get_padded" with its data and 2 KiB more, takes "action_halt"
// as a stop, and pushes on request.
class EchoHandler : public corvane::WsHandler
{
public:
    explicit EchoHandler(QObject *parent) : WsHandler(nullptr, parent) {}
    QStringList supportedEvents() const override
    {
        return {QStringLiteral("get_echo"), QStringLiteral("get_padded"), QStringLiteral("action_halt")};
    }
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override
    {
        ++handled;
        halts += event == QLatin1String("action_halt") ? 1 : 0;
        QJsonObject reply = data;
        if (event == QLatin1String("get_padded"))
            reply.insert(QStringLiteral("pad"), QString(2048, QLatin1Char('p')));
        return {{QStringLiteral("event"), event}, {QStringLiteral("data"), reply}};
    }
    bool isStop(const QString &event, const QJsonObject &) const override { return event == QLatin1String("action_halt"); }
    void push(const QString &event, const QJsonObject &data) { emit pushEvent(event, data); }
    int handled = 0;
    int halts = 0;
};

// Answers "get_later" only when the test says so, the way a handler waiting for a child
// process does.
class LaterHandler : public corvane::WsHandler
{
public:
    explicit LaterHandler(QObject *parent) : WsHandler(nullptr, parent) {}
    QStringList supportedEvents() const override { return {QStringLiteral("get_later")}; }
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override
    {
        return {{QStringLiteral("event"), event}, {QStringLiteral("data"), data}};
    }
    void handleRequest(const QString &event, const QJsonObject &data, const corvane::WsReply &reply) override
    {
        waiting.append([event, data, reply] { reply({{QStringLiteral("event"), event}, {QStringLiteral("data"), data}}); });
    }
    QJsonObject refusedReply(const QString &event, const QString &message) const override
    {
        ++refusals;
        return WsHandler::refusedReply(event, message);
    }
    void answerFirst() { waiting.takeFirst()(); }
    QList<std::function<void()>> waiting;
    mutable int refusals = 0;
};

QJsonObject parsed(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonObject refusedAs(const char *event, const char *message)
{
    return {{"event", event}, {"success", false}, {"message", message}};
}

// One of this machine's loopback addresses, 127.0.0.<n>: a source address of its own.
QHostAddress loopback(int n)
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(n));
}

// In a forked child, so that they take none of the test's descriptors: opens one connection to
// `port` from 127.0.0.1 for each entry of `sockets`, one after the other, sends nothing on any,
// writes a byte to `report` for each that connected, closes `report` when done and holds them
// until `hold` is closed. Only system calls here: the child of a process with threads may do
// nothing more.
[[noreturn]] void holdConnections(quint16 port, std::vector<int> &sockets, int report, int hold)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval patience{5, 0};
    // Paced, as a flood that lands within seconds: the listener's queue of connections waiting to
    // be taken does not overflow and make connections wait a second for a retry.
    const timespec pause{0, 10 * 1000 * 1000};
    int connected = 0;
    for (int &fd : sockets) {
        if (connected % 32 == 31)
            nanosleep(&pause, nullptr);
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            break;
        // A listener that stopped accepting ends the flood instead of hanging it.
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
        if (connect(fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0)
            break;
        ++connected;
        (void)!write(report, "c", 1);
    }
    close(report);
    char byte = 0;
    (void)!read(hold, &byte, 1);
    _exit(0);
}

// A listening server on a free port with a clock the test moves by hand.
struct ServerRig
{
    ServerRig()
    {
        server.setClock([this] { return clock; });
        echo = new EchoHandler(&server);
        server.registerHandler(echo);
        started = server.start(0);
    }

    // A tick, as the 2000 ms timer would run it, at clock time `at`.
    void tickAt(qint64 at)
    {
        clock = at;
        QMetaObject::invokeMethod(&server, "onHeartbeatTick", Qt::DirectConnection);
    }

    qint64 clock = 0;
    WebSocketServer server{nullptr};
    EchoHandler *echo = nullptr;
    bool started = false;
};

// The server with the device handler on a controller, and a pseudo-terminal that another holder
// keeps busy: a connect to it waits between attempts until the holder lets go.
struct BusyPortRig
{
    BusyPortRig()
    {
        rig.server.registerHandler(new corvane::WsDeviceHandler(&controller, &rig.server));
        corvane::SerialPortLister::setFixedPorts({{pty.slavePath(), QStringLiteral("Busy"), QString()}});
        held = holder.open(QIODevice::ReadWrite);
    }
    ~BusyPortRig() { corvane::SerialPortLister::useSystemPorts(); }

    ServerRig rig;
    corvane::CorvaneController controller;
    ostratest::PtyDevice pty;
    QSerialPort holder{pty.slavePath()};
    bool held = false;
};

// The server with the program's set of handlers, registered as the main window does, and a
// client connected to it.
struct ProgramRig
{
    ProgramRig()
    {
        corvane::registerApiHandlers(&server, &controller);
        started = server.start(0) && client.open(server.serverPort());
    }

    corvane::CorvaneController controller;
    WebSocketServer server{&controller};
    WsTestClient client;
    bool started = false;
};

} // namespace

class TestWebSocketServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The responder the server starts stays on the loopback interface.
        corvane::MdnsResponder::setServedInterfaceNames({QStringLiteral("lo")});
        previousHandler = qInstallMessageHandler(collectLogLines);
    }

    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    // Runs first: the firewall check happens once per process, whatever later starts do.
    void firewallCheckOnce()
    {
        WebSocketServer server(nullptr);
        QVERIFY(server.start(0));
        QVERIFY(server.start(0)); // already listening
        server.stop();
        QVERIFY(server.start(0));
        WebSocketServer second(nullptr);
        QVERIFY(second.start(0));
        QCOMPARE(firewallLines.size(), 1);
        QVERIFY(firewallLines.first().contains(QLatin1String("not checked")));
    }

    void envelope_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QJsonObject>("reply"); // empty: sent as binary, gets none
        QJsonParseError brace{};
        QJsonDocument::fromJson("{", &brace);
        const QString invalid = QStringLiteral("Invalid JSON: ");
        QTest::newRow("ping with data") << R"({"event":"ping","data":{"x":1}})" << parsed(R"({"event":"pong"})");
        // Well-formed, but not an object: the parser reports no error to repeat.
        QTest::newRow("array") << "[1]"
                               << QJsonObject{{"event", "error"}, {"message", invalid + "the message must be an object"}};
        QTest::newRow("lone brace") << "{"
                                    << QJsonObject{{"event", "error"}, {"message", invalid + brace.errorString()}};
        QTest::newRow("no event") << R"({"data":{}})"
                                  << parsed(R"({"event":"error","message":"Missing 'event' field"})");
        QTest::newRow("names are case-sensitive")
            << R"({"event":"PING"})" << parsed(R"({"event":"error","source":"PING","message":"Unknown event: PING"})");
        QTest::newRow("handler reply unchanged")
            << R"({"event":"get_echo","data":{"a":[1,2]}})" << parsed(R"({"event":"get_echo","data":{"a":[1,2]}})");
        QTest::newRow("binary") << R"({"event":"ping"})" << QJsonObject();
        // A name it does not know is repeated only in part, however long.
        const QString longName(60 * 1024, QLatin1Char('n'));
        const QString shown(WebSocketServer::MaxEchoedChars, QLatin1Char('n'));
        QTest::newRow("long unknown name")
            << QStringLiteral(R"({"event":"%1"})").arg(longName)
            << QJsonObject{{"event", "error"}, {"source", shown}, {"message", "Unknown event: " + shown}};
    }

    void envelope()
    {
        QFETCH(QString, text);
        QFETCH(QJsonObject, reply);
        ServerRig rig;
        QVERIFY(rig.started);
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        if (reply.isEmpty())
            client.socket->sendBinaryMessage(text.toUtf8());
        else
            client.socket->sendTextMessage(text);
        if (!reply.isEmpty())
            QCOMPARE(client.next(), reply);
        // Exactly one reply, and the connection stays open.
        QCOMPARE(client.request("ping"), parsed(R"({"event":"pong"})"));
        QVERIFY(client.pending().isEmpty());
        QCOMPARE(client.binaryReceived, 0);
    }

    void subscriptions()
    {
        ServerRig rig;
        WsTestClient subscriber;
        WsTestClient other;
        QVERIFY(subscriber.open(rig.server.serverPort()));
        QVERIFY(other.open(rig.server.serverPort()));

        // A string instead of an array: success, and nothing subscribed.
        QCOMPARE(subscriber.request("action_subscribe", {{"events", "event_gps"}}),
                 parsed(R"({"event":"action_subscribe","success":true})"));
        rig.echo->push("event_gps", {{"n", 1}});
        // Twice then once: a set, not a count.
        QVERIFY(subscriber.subscribe({"event_gps", "event_gps", "event_other"}));
        QVERIFY(subscriber.subscribe({"event_gps"}));
        subscriber.request("action_unsubscribe", {{"events", QJsonArray{"event_gps"}}});
        rig.echo->push("event_gps", {{"n", 2}});
        rig.echo->push("event_other", {{"n", 3}});
        rig.echo->push("event_oth", {{"n", 4}}); // no prefixes
        subscriber.request("ping");
        other.request("ping");
        const auto pushes = [](const WsTestClient &client) {
            QList<QJsonObject> found;
            for (const QJsonObject &m : client.received) {
                if (m.value("event").toString().startsWith("event_"))
                    found.append(m);
            }
            return found;
        };
        QCOMPARE(pushes(subscriber), QList<QJsonObject>{parsed(R"({"event":"event_other","data":{"n":3}})")});
        QVERIFY(pushes(other).isEmpty());
    }

    // A client may hold at most 256 names; the reply does not change.
    void subscriptionLimit()
    {
        ServerRig rig;
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        QStringList names;
        for (int i = 0; i < 300; ++i)
            names.append(QStringLiteral("event_%1").arg(i));
        QVERIFY(client.subscribe(names));
        rig.echo->push("event_255", {});
        rig.echo->push("event_256", {});
        QCOMPARE(client.request("ping").value("event").toString(), QStringLiteral("pong"));
        QCOMPARE(client.received.size(), 3); // subscribe reply, the one push, pong
        QCOMPARE(client.received.at(1).value("event").toString(), QStringLiteral("event_255"));
    }

    // A name longer than any event the program has names nothing: the whole request is refused.
    void subscriptionNames_data()
    {
        QTest::addColumn<QString>("name"); // subscribed after "event_x"
        QTest::addColumn<bool>("accepted");
        const QString longest(WebSocketServer::MaxEventNameChars, QLatin1Char('e'));
        QTest::newRow("as long as the longest event") << longest << true;
        QTest::newRow("one character longer") << longest + 'e' << false;
        QTest::newRow("60 KB") << QString(60 * 1000, QLatin1Char('e')) << false;
    }

    void subscriptionNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        ServerRig rig;
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        const QJsonObject reply = client.request("action_subscribe", {{"events", QJsonArray{"event_x", name}}});
        QCOMPARE(reply.value("success").toBool(), accepted);
        if (!accepted) {
            QCOMPARE(reply.value("message").toString(),
                     QStringLiteral("'events[1]' must be an event name of at most %1 characters")
                         .arg(WebSocketServer::MaxEventNameChars));
        }
        // Nothing of a refused request is kept.
        rig.echo->push("event_x", {});
        client.request("ping");
        QCOMPARE(client.received.size(), accepted ? 3 : 2);
    }

    // Client kinds: "raw" never answers pings, "qt" answers them by itself.
    void heartbeat_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("at7000"); // what the client sends at 7000 ms
        QTest::addColumn<QList<qint64>>("ticks");
        QTest::addColumn<bool>("dropped");
        const QList<qint64> to8001{4000, 8000, 8001};
        QTest::newRow("silent for 8000 ms: pinged") << "raw" << "" << QList<qint64>{4000, 8000} << false;
        QTest::newRow("silent for 8001 ms: dropped") << "raw" << "" << to8001 << true;
        QTest::newRow("binary is no sign of life") << "raw" << "binary" << to8001 << true;
        QTest::newRow("text is a sign of life") << "raw" << "text" << to8001 << false;
        QTest::newRow("answers pings") << "qt" << "" << QList<qint64>{4000, 8000, 12000, 16000, 20000} << false;
        QTest::newRow("a gap between ticks drops nobody") << "raw" << "" << QList<qint64>{4000, 64000} << false;
    }

    void heartbeat()
    {
        QFETCH(QString, kind);
        QFETCH(QString, at7000);
        QFETCH(QList<qint64>, ticks);
        QFETCH(bool, dropped);
        ServerRig rig;
        QSignalSpy count(&rig.server, &WebSocketServer::clientCountChanged);
        RawWsClient raw;
        WsTestClient qt;
        if (kind == "raw")
            QVERIFY(raw.open(rig.server.serverPort()));
        else
            QVERIFY(qt.open(rig.server.serverPort()));
        QTRY_COMPARE(rig.server.clientCount(), 1);
        count.clear();
        // The server's side of the connection: its pongs tell when the client has answered.
        const auto sides = rig.server.findChildren<QWebSocket *>();
        QCOMPARE(sides.size(), 1);
        QSignalSpy pongs(sides.first(), &QWebSocket::pong);
        QByteArray rawIn;
        for (qint64 at : ticks) {
            if (at > 7000 && !at7000.isEmpty()) {
                rig.clock = 7000;
                if (at7000 == "binary") {
                    raw.sendFrame(0x82, "{\"event\":\"ping\"}");
                    QTest::qWait(50);
                } else {
                    raw.sendText("{\"event\":\"ping\"}");
                    QTRY_VERIFY((rawIn = raw.readAll()).contains("pong"));
                }
                at7000.clear();
            }
            const int answered = pongs.count();
            rig.tickAt(at);
            if (kind == "qt")
                QTRY_COMPARE(pongs.count(), answered + 1);
            else
                QTest::qWait(30); // a raw client's ping arrives unanswered
            rawIn = raw.readAll();
        }
        QTest::qWait(50);
        QCOMPARE(rig.server.clientCount(), dropped ? 0 : 1);
        QCOMPARE(count.count(), dropped ? 1 : 0);
        if (kind == "raw" && !dropped) {
            rawIn = raw.readAll();
            QVERIFY(rawIn.contains(QByteArray("\x89\x00", 2))); // the empty ping
        }
        if (dropped) {
            // Told why before it is cut off.
            if (kind == "raw") {
                QByteArray reason;
                QTRY_COMPARE(raw.closeCode(&reason), int(QWebSocketProtocol::CloseCodeGoingAway));
                QCOMPARE(reason, QByteArray("Client stopped answering"));
            }
            QTRY_VERIFY(!raw.isConnected());
        }
    }

    // The 2000 ms tick counts the drop time: a coarse timer would move it by up to 5 %.
    void heartbeatTimerIsPrecise()
    {
        ServerRig rig;
        auto *timer = rig.server.findChild<QTimer *>(QStringLiteral("heartbeatTimer"));
        QVERIFY(timer);
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        QVERIFY(timer->isActive());
    }

    // A message beyond the largest request the app sends (the import of a large profile, about
    // 52 KB) is refused before it is read: its client is closed as "message too big".
    void tooLargeMessageClosesOnlyItsClient_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("100 KiB") << 100 * 1024;
        QTest::newRow("2 MiB") << 2 * 1024 * 1024;
    }

    void tooLargeMessageClosesOnlyItsClient()
    {
        QFETCH(int, size);
        ServerRig rig;
        WsTestClient big;
        WsTestClient other;
        QVERIFY(big.open(rig.server.serverPort()));
        QVERIFY(other.open(rig.server.serverPort()));
        QSignalSpy closed(big.socket.get(), &QWebSocket::disconnected);
        big.socket->sendTextMessage(QString(size, QLatin1Char('x')));
        QVERIFY(closed.wait(10000));
        QCOMPARE(int(big.socket->closeCode()), int(QWebSocketProtocol::CloseCodeTooMuchData));
        QTRY_COMPARE(rig.server.clientCount(), 1);
        QCOMPARE(other.request("ping"), parsed(R"({"event":"pong"})"));
    }

    // Frames as a client sends them in one segment, each its first byte (FIN and opcode) and its
    // payload (an empty one: the client ends its side of the connection), the requests they make
    // (each takes effect when read, whatever follows it) and the frames the server sends back. A
    // message's UTF-8 is checked whole: a character may be split between two of its frames.
    void frames_data()
    {
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QList<QByteArray>>("received");
        const QByteArray echoed = QJsonDocument(parsed(R"({"event":"get_echo","data":{"s":"é"}})")).toJson(QJsonDocument::Compact);
        const QByteArray head = "{\"event\":\"get_echo\",\"data\":{\"s\":\"";
        const QByteArray request = "\x81{\"event\":\"get_echo\"}";
        QTest::newRow("a character split between two frames")
            << QList<QByteArray>{"\x01" + head + "\xc3", "\x80\xa9\"}}"} << 1 << QList<QByteArray>{"\x81" + echoed};
        QTest::newRow("a ping between two frames")
            << QList<QByteArray>{"\x01" + head + "\xc3", "\x89hi", "\x80\xa9\"}}"} << 1
            << QList<QByteArray>{"\x8ahi", "\x81" + echoed};
        QTest::newRow("invalid UTF-8") << QList<QByteArray>{"\x81" + head + "\xc3(\"}}"} << 0
                                       << QList<QByteArray>{"\x88\x03\xefInvalid UTF-8 code encountered."};
        QTest::newRow("invalid UTF-8 across two frames") << QList<QByteArray>{"\x01" + head + "\xc3", "\x80(\"}}"} << 0
                                                         << QList<QByteArray>{"\x88\x03\xefInvalid UTF-8 code encountered."};
        QTest::newRow("nothing to continue")
            << QList<QByteArray>{"\x80{}"} << 0
            << QList<QByteArray>{"\x88\x03\xea" "Received Continuation frame, while there is nothing to continue."};
        QTest::newRow("a fragmented ping") << QList<QByteArray>{"\x09hi"} << 0
                                           << QList<QByteArray>{"\x88\x03\xea" "Control frames cannot be fragmented"};
        QTest::newRow("a close frame") << QList<QByteArray>{"\x88\x03\xe8"} << 0 << QList<QByteArray>{"\x88\x03\xe8"};
        QTest::newRow("a close frame of one byte")
            << QList<QByteArray>{"\x88\x03"} << 0 << QList<QByteArray>{"\x88\x03\xea" "Payload of close frame is too small."};
        QTest::newRow("a close code no endpoint sends")
            << QList<QByteArray>{"\x88\x03\xed"} << 0 << QList<QByteArray>{"\x88\x03\xea" "Invalid close code 1005."};
        QTest::newRow("a close reason not UTF-8")
            << QList<QByteArray>{"\x88\x03\xe8\xc3("} << 0 << QList<QByteArray>{"\x88\x03\xefInvalid UTF-8 code encountered."};
        QTest::newRow("a request, then a close frame")
            << QList<QByteArray>{request, "\x88\x03\xe8"} << 1 << QList<QByteArray>{"\x88\x03\xe8"};
        QTest::newRow("a request, then a frame out of place")
            << QList<QByteArray>{request, "\xc1{}"} << 1 << QList<QByteArray>{"\x88\x03\xeaReserved bits set"};
        QTest::newRow("requests, then the end of the connection")
            << QList<QByteArray>{request, request, request, QByteArray()} << 3 << QList<QByteArray>{};
        // More than one reading pass takes: the connection's socket has gone meanwhile.
        QTest::newRow("many requests, then the end of the connection")
            << (QList<QByteArray>(1000, request) << QByteArray()) << 1000 << QList<QByteArray>{};
        QTest::newRow("requests in the handshake's write")
            << QList<QByteArray>{"handshake", request, "\x89hi", request} << 2 << QList<QByteArray>{"\x8ahi"};
    }

    void frames()
    {
        QFETCH(QList<QByteArray>, sent);
        QFETCH(int, requests);
        QFETCH(QList<QByteArray>, received);
        ServerRig rig;
        RawWsClient client;
        const bool inHandshake = sent.first() == "handshake";
        if (inHandshake)
            sent.removeFirst();
        QByteArray bytes;
        for (const QByteArray &frame : sent) {
            if (!frame.isEmpty())
                bytes += ostratest::wsClientFrame(quint8(frame.at(0)), frame.mid(1));
        }
        QVERIFY(client.connectFrom(QHostAddress::LocalHost, rig.server.serverPort()));
        QVERIFY(client.handshake({}, 5000, inHandshake ? bytes : QByteArray()));
        if (!inHandshake)
            client.socket.write(bytes);
        client.socket.flush();
        if (sent.last().isEmpty())
            ::shutdown(int(client.socket.socketDescriptor()), SHUT_WR);
        QTRY_COMPARE(rig.echo->handled, requests);
        QTRY_VERIFY(client.frames().size() >= received.size());
        QList<QByteArray> frames;
        for (const RawWsClient::Frame &frame : client.frames())
            frames.append(char(0x80 | frame.opcode) + frame.payload);
        // A request's reply goes before a close that follows it or not at all, as the reading pass
        // that took the close began after the reply's turn or before it: either is right.
        frames.removeAll(QByteArray("\x81{\"data\":{},\"event\":\"get_echo\"}"));
        QCOMPARE(frames, received);
        // Gone after a close frame or its end, kept otherwise.
        const bool closed = received.isEmpty() || received.last().startsWith('\x88');
        QTRY_COMPARE(rig.server.clientCount(), closed ? 0 : 1);
    }

    // A socket closed under the reader (its connection reset) leaves the frames it had taken:
    // they are still taken, and nothing is written to or read from the closed socket (each
    // would log, once per ping of a flood).
    void framesTakenAfterTheSocketCloses()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("not open")));
        QBuffer socket;
        QVERIFY(socket.open(QIODevice::ReadWrite));
        socket.write(ostratest::wsClientFrame(0x89, "a") + ostratest::wsClientFrame(0x89, "b")
                     + ostratest::wsClientFrame(0x81, "{}"));
        socket.seek(0);
        corvane::WsFrameReader reader(1024);
        QVERIFY(reader.next(&socket).kind == corvane::WsFrameReader::Kind::Ping);
        socket.close();
        QVERIFY(reader.next(&socket).kind == corvane::WsFrameReader::Kind::Ping);
        QCOMPARE(reader.next(&socket).text, QStringLiteral("{}"));
        QVERIFY(reader.next(&socket).kind == corvane::WsFrameReader::Kind::None);
    }

    void clientLimit()
    {
        ServerRig rig;
        // Each from an address of its own: none holds more than its share, so none gives its place.
        std::vector<std::unique_ptr<RawWsClient>> clients;
        for (int i = 0; i < WebSocketServer::MaxClients; ++i) {
            clients.push_back(std::make_unique<RawWsClient>());
            QVERIFY(clients.back()->connectFrom(loopback(10 + i), rig.server.serverPort()));
            QVERIFY(clients.back()->handshake());
        }
        QTRY_COMPARE(rig.server.clientCount(), WebSocketServer::MaxClients);
        // Read off the wire: Qt's own client reports codes from 1012 on as a protocol error.
        RawWsClient extra;
        QVERIFY(extra.connectFrom(loopback(50), rig.server.serverPort()));
        QVERIFY(extra.handshake());
        QTRY_VERIFY(extra.readAll().size() >= 4);
        const QByteArray closeFrame = extra.readAll();
        QCOMPARE(quint8(closeFrame.at(0)), quint8(0x88));
        QCOMPARE((quint8(closeFrame.at(2)) << 8) | quint8(closeFrame.at(3)), WebSocketServer::CloseCodeTryAgainLater);
        QCOMPARE(rig.server.clientCount(), WebSocketServer::MaxClients);

        // A burst of refusals is one line a second, not one line each, and its tail is reported
        // once the second has passed.
        refusalLines.clear();
        rig.clock = 5000;
        std::vector<std::unique_ptr<RawWsClient>> refused;
        for (int i = 0; i < 5; ++i) {
            refused.push_back(std::make_unique<RawWsClient>());
            QVERIFY(refused.back()->connectFrom(loopback(50), rig.server.serverPort()));
            QVERIFY(refused.back()->handshake());
            QTRY_VERIFY(refused.back()->closeCode() == WebSocketServer::CloseCodeTryAgainLater);
        }
        QCOMPARE(refusalLines.size(), 1);
        rig.clock = 5000 + WebSocketServer::RefusalLogIntervalMs;
        QMetaObject::invokeMethod(&rig.server, "flushRefusalLog");
        QCOMPARE(refusalLines.size(), 2);
        QVERIFY2(refusalLines.last().contains(QLatin1String("4 more")), qPrintable(refusalLines.last()));
        rig.clock = 5000 + 2 * WebSocketServer::RefusalLogIntervalMs;
        RawWsClient later;
        QVERIFY(later.connectFrom(loopback(51), rig.server.serverPort()));
        QVERIFY(later.handshake());
        QTRY_COMPARE(refusalLines.size(), 3);
        QVERIFY2(!refusalLines.last().contains(QLatin1String("more")), qPrintable(refusalLines.last()));
    }

    // A page in a browser names itself in Origin; the phone app and other stations send none,
    // or one naming this machine on the API port. "%port" stands for the server's port, "%host"
    // for this machine's host name.
    void webPagesRefused_data()
    {
        QTest::addColumn<QByteArray>("origin"); // empty: no Origin header
        QTest::addColumn<bool>("accepted");
        QTest::newRow("no origin") << QByteArray() << true;
        QTest::newRow("sandboxed page or file") << QByteArray("null") << false;
        QTest::newRow("page on the LAN") << QByteArray("http://192.168.1.20:8080") << false;
        QTest::newRow("page on the internet") << QByteArray("https://example.com") << false;
        QTest::newRow("upper-case scheme") << QByteArray("HTTPS://example.com") << false;
        QTest::newRow("file page") << QByteArray("file://") << false;
        QTest::newRow("browser extension") << QByteArray("chrome-extension://abcdefghijklmnop") << false;
        QTest::newRow("firefox extension") << QByteArray("moz-extension://0b1e4c7d") << false;
        QTest::newRow("localhost on the API port") << QByteArray("ws://localhost:%port") << true;
        QTest::newRow("loopback address") << QByteArray("http://127.0.0.1:%port") << true;
        QTest::newRow("IPv6 loopback") << QByteArray("http://[::1]:%port") << true;
        QTest::newRow("own address") << QByteArray("http://192.0.2.10:%port") << true;
        QTest::newRow("another machine on the API port") << QByteArray("http://192.0.2.11:%port") << false;
        QTest::newRow("announced name") << QByteArray("ws://qorvant-transmitter.local:%port") << true;
        QTest::newRow("announced name, capitals, final dot") << QByteArray("HTTP://Qorvant-Transmitter.LOCAL.:%port") << true;
        QTest::newRow("name ending like ours") << QByteArray("http://evil-qorvant-transmitter.local:%port") << false;
        QTest::newRow("localhost, other port") << QByteArray("http://localhost:8090") << false;
        QTest::newRow("localhost, no port") << QByteArray("http://localhost") << false;
        QTest::newRow("other site on the API port") << QByteArray("http://localhost.example.com:%port") << false;
        QTest::newRow("host name") << QByteArray("http://%host:%port") << true;
        QTest::newRow("host name on the local link") << QByteArray("ws://%host.local:%port") << true;
        QTest::newRow("site named after the host") << QByteArray("http://%host.example.com:%port") << false;
        QTest::newRow("own IPv6 address") << QByteArray("http://[2001:db8::10]:%port") << true;
        QTest::newRow("another host of the own IPv6 /64") << QByteArray("http://[2001:db8::11]:%port") << false;
    }

    void webPagesRefused()
    {
        QFETCH(QByteArray, origin);
        QFETCH(bool, accepted);
        ServerRig rig;
        corvane::NetworkInterfaceLister::setFixedInterfaces(
            {{QStringLiteral("eth0"), QStringLiteral("eth0"), true, true, false,
              {QHostAddress(QStringLiteral("192.0.2.10")), QHostAddress(QStringLiteral("2001:db8::10"))}}});
        const auto systemInterfaces = qScopeGuard([] { corvane::NetworkInterfaceLister::useSystemInterfaces(); });
        origin.replace("%port", QByteArray::number(rig.server.serverPort()));
        if (origin.contains("%host") && QHostInfo::localHostName().isEmpty())
            QSKIP("this machine has no host name");
        origin.replace("%host", QHostInfo::localHostName().toUtf8());
        RawWsClient raw;
        QCOMPARE(raw.open(rig.server.serverPort(), origin.isEmpty() ? QByteArray() : "Origin: " + origin + "\r\n"),
                 accepted);
        if (accepted) {
            QTRY_COMPARE(rig.server.clientCount(), 1);
            raw.sendText(R"({"event":"ping"})");
            QTRY_VERIFY(raw.readAll().contains("pong"));
            return;
        }
        QVERIFY2(raw.status.startsWith("HTTP/1.1 4"), raw.status.constData());
        QTRY_VERIFY(!raw.isConnected());
        QCOMPARE(rig.server.clientCount(), 0);
    }

    // Connections from one address, and connections still in their opening handshake, are
    // bounded: one over the address bound is closed at once; when the handshakes fill their
    // bound, the oldest of the address holding most of them is cut. An IPv6 host holds a whole
    // /64. When the clients fill their places, a client from an address holding at least two
    // fewer than the fullest takes the place of that address's longest-idle client. Sources are
    // 127.0.0.10 and on (IPv6 ones in a network namespace of the test's own), taking the
    // patterns in turn; the probe, a client from yet another address, comes after them, and
    // before it the first connection sends a request.
    void connectionLimits_data()
    {
        QTest::addColumn<QStringList>("from"); // source address patterns, %1 counting from 10
        QTest::addColumn<int>("sources");
        QTest::addColumn<int>("perSource");
        QTest::addColumn<bool>("handshake"); // they finish their handshake
        QTest::addColumn<int>("held"); // of them, the connections still open
        QTest::addColumn<bool>("probeAccepted");
        // The connection whose place the probe takes, closed with 1013; -1 for none.
        QTest::addColumn<int>("cut");
        // The probe is closed with 1013 after its handshake.
        QTest::addColumn<bool>("probeTryAgain");
        // Then a heartbeat tick after the handshake time-out closes them, and lets a client in.
        QTest::addColumn<bool>("timeOut");
        // Connections cut to make room for the probe are opened again, this many times, before
        // the probe sends its handshake.
        QTest::addColumn<int>("reopened");
        const int perAddress = WebSocketServer::MaxConnectionsPerAddress;
        const int sourcesToCap = WebSocketServer::MaxHandshakes / perAddress;
        const int capLessProbe = WebSocketServer::MaxHandshakes - 1;
        const int clients = WebSocketServer::MaxClients;
        const QStringList ipv4{QStringLiteral("127.0.0.%1")};
        QTest::newRow("clients from one address")
            << ipv4 << 1 << perAddress + 1 << true << perAddress << true << -1 << false << false << 0;
        QTest::newRow("handshakes from one address")
            << ipv4 << 1 << perAddress + 1 << false << perAddress << true << -1 << false << false << 0;
        QTest::newRow("handshakes up to the cap")
            << ipv4 << sourcesToCap << perAddress + 1 << false << capLessProbe << true << -1 << false << false << 0;
        QTest::newRow("handshakes that never finish")
            << ipv4 << sourcesToCap << perAddress << false << capLessProbe << true << -1 << false << true << 0;
        QTest::newRow("handshakes opened again when cut")
            << ipv4 << sourcesToCap << perAddress << false << capLessProbe << true << -1 << false << false
            << 2 * WebSocketServer::MaxHandshakes;
        QTest::newRow("clients from one IPv6 /64")
            << QStringList{QStringLiteral("fd00:0:0:1::%1")} << 4 << 3 << true << perAddress << true << -1 << false
            << false << 0;
        QTest::newRow("clients from IPv6 /64s apart")
            << QStringList{QStringLiteral("fd00:0:0:%1::1")} << 4 << 3 << true << 12 << true << -1 << false << false << 0;
        // The first connection made a request, so the second is the longest idle.
        QTest::newRow("four addresses fill the places")
            << ipv4 << clients / perAddress << perAddress << true << clients - 1 << true << 1 << false << false << 0;
        QTest::newRow("one host: IPv4, link-local and two IPv6 prefixes fill the places")
            << QStringList{QStringLiteral("127.0.0.%1"), QStringLiteral("fe80::%1%lo"), QStringLiteral("fd00:0:0:1::%1"),
                           QStringLiteral("2001:db8:0:1::%1")}
            << clients / perAddress << perAddress << true << clients - 1 << true << 1 << false << false << 0;
        QTest::newRow("every address at its share")
            << ipv4 << clients << 1 << true << clients << true << -1 << true << false << 0;
    }

    void connectionLimits()
    {
        QFETCH(QStringList, from);
        QFETCH(int, sources);
        QFETCH(int, perSource);
        QFETCH(bool, handshake);
        QFETCH(int, held);
        QFETCH(bool, probeAccepted);
        QFETCH(int, cut);
        QFETCH(bool, probeTryAgain);
        QFETCH(bool, timeOut);
        QFETCH(int, reopened);
        std::optional<ostratest::OwnLoopback> ownLoopback;
        const auto sourceAt = [&from](int source) { return from.at(source % from.size()).arg(10 + source); };
        for (int source = 0; source < sources; ++source) {
            if (!sourceAt(source).contains(QLatin1Char(':')))
                continue;
            if (!ownLoopback) {
                ownLoopback.emplace();
                if (!ownLoopback->entered())
                    QSKIP("needs root to make a network namespace");
            }
            if (!ownLoopback->addIPv6Address(sourceAt(source).section(QLatin1Char('%'), 0, 0)))
                QSKIP("needs the ip tool to give the loopback IPv6 addresses");
        }
        ServerRig rig;
        std::vector<std::unique_ptr<RawWsClient>> connections;
        std::vector<QHostAddress> sourceOf;
        int handshaken = 0;
        for (int source = 0; source < sources; ++source) {
            for (int i = 0; i < perSource; ++i) {
                rig.clock = qint64(connections.size()) * 10;
                connections.push_back(std::make_unique<RawWsClient>());
                sourceOf.push_back(QHostAddress(sourceAt(source)));
                QVERIFY(connections.back()->connectFrom(sourceOf.back(), rig.server.serverPort()));
                if (handshake)
                    handshaken += connections.back()->handshake() ? 1 : 0;
            }
        }
        if (handshake) {
            rig.clock = 1000;
            connections.front()->sendText(R"({"event":"ping"})");
            QTRY_VERIFY(connections.front()->readAll().contains("pong"));
        }
        RawWsClient probe;
        QVERIFY(probe.connectFrom(loopback(100), rig.server.serverPort()));
        for (int i = 0; i < reopened; ++i) {
            const auto cut = [&connections] {
                return std::find_if(connections.begin(), connections.end(),
                                    [](const auto &connection) { return !connection->isConnected(); });
            };
            QTRY_VERIFY(cut() != connections.end());
            const size_t at = size_t(cut() - connections.begin());
            connections[at] = std::make_unique<RawWsClient>();
            QVERIFY(connections[at]->connectFrom(sourceOf[at], rig.server.serverPort()));
        }
        QCOMPARE(probe.handshake(), probeAccepted);
        const auto stillOpen = [&connections] {
            return int(std::count_if(connections.cbegin(), connections.cend(),
                                     [](const auto &connection) { return connection->isConnected(); }));
        };
        QTRY_COMPARE(stillOpen(), held);
        if (timeOut) {
            rig.tickAt(rig.clock + WebSocketServer::HandshakeTimeoutMs + 1);
            QTRY_COMPARE(stillOpen(), 0);
            RawWsClient late;
            QVERIFY(late.connectFrom(loopback(101), rig.server.serverPort()));
            QVERIFY(late.handshake());
            return;
        }
        if (handshake) {
            if (probeTryAgain)
                QTRY_COMPARE(probe.closeCode(), WebSocketServer::CloseCodeTryAgainLater);
            if (cut >= 0) {
                QVERIFY(!connections[size_t(cut)]->isConnected());
                QCOMPARE(connections[size_t(cut)]->closeCode(), WebSocketServer::CloseCodeTryAgainLater);
            }
            QCOMPARE(handshaken, held + (cut >= 0 ? 1 : 0));
            QCOMPARE(rig.server.clientCount(), held + (probeAccepted && !probeTryAgain ? 1 : 0));
            if (!probeTryAgain) {
                probe.sendText(R"({"event":"ping"})");
                QTRY_VERIFY(probe.readAll().contains("pong"));
            }
            return;
        }
        // The ones kept are real: each can still finish its handshake.
        for (const auto &connection : connections) {
            if (connection->isConnected())
                QVERIFY(connection->handshake());
        }
    }

    // Refusals are counted per reason: each reason's first refusal in a second is logged, and
    // the rest of that second are reported together once it has passed, even when no more come.
    void refusalLogPerReason()
    {
        ServerRig rig;
        refusalLines.clear();
        rig.clock = 5000;
        for (int i = 0; i < 3; ++i) {
            RawWsClient page;
            QVERIFY(!page.open(rig.server.serverPort(), "Origin: null\r\n"));
        }
        std::vector<std::unique_ptr<RawWsClient>> connections;
        for (int i = 0; i < WebSocketServer::MaxConnectionsPerAddress + 3; ++i) {
            connections.push_back(std::make_unique<RawWsClient>());
            QVERIFY(connections.back()->connectFrom(loopback(30), rig.server.serverPort()));
        }
        // Taken after all of them.
        RawWsClient probe;
        QVERIFY(probe.connectFrom(loopback(31), rig.server.serverPort()));
        QVERIFY(probe.handshake());
        QCOMPARE(refusalLines.size(), 2);
        rig.clock = 5000 + WebSocketServer::RefusalLogIntervalMs - 1;
        QMetaObject::invokeMethod(&rig.server, "flushRefusalLog");
        QCOMPARE(refusalLines.size(), 2);
        rig.clock = 5000 + WebSocketServer::RefusalLogIntervalMs;
        QMetaObject::invokeMethod(&rig.server, "flushRefusalLog");
        QCOMPARE(refusalLines.size(), 4);
        const QStringList tail = refusalLines.mid(2);
        QCOMPARE(tail.filter(QLatin1String("2 more")).size(), 2);
        QCOMPARE(tail.filter(QLatin1String("Origin")).size(), 1);
        QCOMPARE(tail.filter(QLatin1String("per address")).size(), 1);
        QMetaObject::invokeMethod(&rig.server, "flushRefusalLog");
        QCOMPARE(refusalLines.size(), 4);
    }

    // Connections that never finish their handshake do not take the descriptors the program
    // saves with: under a limit of 256 descriptors, 1,100 of them from one machine leave another
    // client able to connect and an ESC preset saved.
    void descriptorsKeptForSaves()
    {
        constexpr int Flood = 1100;
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
        if (saved.rlim_max < rlim_t(Flood + 64))
            QSKIP("The hard descriptor limit leaves no room for the flood");
        corvane::CorvaneController controller;
        ServerRig rig;
        rig.server.registerHandler(new corvane::WsEscPresetHandler(&controller, &rig.server));
        const quint16 port = rig.server.serverPort();
        rlimit lowered = saved;
        lowered.rlim_cur = 256;
        QVERIFY(setrlimit(RLIMIT_NOFILE, &lowered) == 0);
        const auto restoreLimit = qScopeGuard([&saved] { setrlimit(RLIMIT_NOFILE, &saved); });
        int report[2];
        int hold[2];
        QVERIFY(pipe(report) == 0 && pipe(hold) == 0);
        std::vector<int> sockets(Flood, -1);
        const pid_t child = fork();
        if (child == 0) {
            close(report[0]);
            close(hold[1]);
            holdConnections(port, sockets, report[1], hold[0]);
        }
        close(report[1]);
        close(hold[0]);
        const auto releaseFlood = qScopeGuard([&] {
            close(hold[1]);
            waitpid(child, nullptr, 0);
            close(report[0]);
        });
        QVERIFY(child > 0);
        int connected = 0;
        bool floodDone = false;
        const auto readReport = [&] {
            pollfd ready{report[0], POLLIN, 0};
            char bytes[256];
            while (!floodDone && poll(&ready, 1, 0) == 1) {
                const ssize_t count = read(report[0], bytes, sizeof bytes);
                connected += int(qMax<ssize_t>(count, 0));
                floodDone = count <= 0;
            }
        };
        // Mid-flood, with more connections opened than the limit would hold.
        QVERIFY(QTest::qWaitFor([&] { readReport(); return connected >= 300 || floodDone; }, 60000));

        QElapsedTimer took;
        took.start();
        RawWsClient phone;
        QVERIFY(phone.connectFrom(loopback(2), port));
        QVERIFY(phone.handshake());
        const qint64 connectMs = took.elapsed();
        phone.sendText(R"({"event":"action_create_esc_preset","data":{"name":"Held up","neutral":1500,"fullForward":2000,"fullReverse":1000}})");
        QJsonObject reply;
        const auto replied = [&] {
            for (const RawWsClient::Frame &frame : phone.frames()) {
                if (frame.opcode == 0x1)
                    reply = QJsonDocument::fromJson(frame.payload).object();
            }
            return !reply.isEmpty();
        };
        QTRY_VERIFY(replied());
        const qint64 saveMs = took.elapsed() - connectMs;
        QVERIFY(QTest::qWaitFor([&] { readReport(); return floodDone; }, 120000));
        qInfo().noquote() << QStringLiteral("%1 of %2 silent connections opened; another client connected in %3 ms, saved in %4 ms")
                                 .arg(connected)
                                 .arg(Flood)
                                 .arg(connectMs)
                                 .arg(saveMs);
        QCOMPARE(reply.value("success"), QJsonValue(true));
        QCOMPARE(connected, Flood);
        corvane::ProfileManager reread;
        QVERIFY(reread.loadEscPresets());
        const QList<EscPreset> presets = reread.escPresets();
        QVERIFY(std::any_of(presets.cbegin(), presets.cend(),
                            [](const EscPreset &preset) { return preset.name == QLatin1String("Held up"); }));
    }

    // With no descriptor left to take a connection with, the server says so and takes it once
    // there is one again, instead of never accepting again, or trying again without pause.
    void acceptResumesAfterRunningOut_data()
    {
        QTest::addColumn<bool>("takenBefore"); // a connection was taken before it ran out
        QTest::newRow("first connection") << false;
        QTest::newRow("after a connection was taken") << true;
    }

    void acceptResumesAfterRunningOut()
    {
        QFETCH(bool, takenBefore);
        ServerRig rig;
        RawWsClient earlier;
        if (takenBefore) {
            QVERIFY(earlier.open(rig.server.serverPort()));
            QTRY_COMPARE(rig.server.clientCount(), 1);
        }
        // The server's reader thread takes its wakeup descriptors as it starts: before the limit.
        QThread *reader = rig.server.findChild<QThread *>();
        QVERIFY(reader);
        QTRY_VERIFY(QAbstractEventDispatcher::instance(reader));
        RawWsClient client;
        // Connected, but not yet taken: the server takes it when the event loop next runs.
        QVERIFY(client.connectFrom(loopback(40), rig.server.serverPort()));
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
        const auto restoreLimit = qScopeGuard([&saved] { setrlimit(RLIMIT_NOFILE, &saved); });
        const int lowestFree = dup(0);
        QVERIFY(lowestFree >= 0);
        close(lowestFree);
        rlimit none = saved;
        none.rlim_cur = rlim_t(lowestFree);
        refusalLines.clear();
        QVERIFY(setrlimit(RLIMIT_NOFILE, &none) == 0);
        QTRY_VERIFY(!refusalLines.filter(QLatin1String("cannot accept")).isEmpty());
        QVERIFY(setrlimit(RLIMIT_NOFILE, &saved) == 0);
        QVERIFY(client.handshake());
        QTRY_COMPARE(rig.server.clientCount(), takenBefore ? 2 : 1);
    }

    // A subscriber that stops reading misses pushes instead of piling them up, while the
    // others get every one; it is dropped, with a close frame, once it has read nothing for the
    // drop time.
    void stalledSubscriberMissesPushes()
    {
        ServerRig rig;
        QSignalSpy count(&rig.server, &WebSocketServer::clientCountChanged);
        RawWsClient stalled;
        WsTestClient reader;
        QVERIFY(stalled.open(rig.server.serverPort()));
        QVERIFY(reader.open(rig.server.serverPort()));
        stalled.sendText(R"({"event":"action_subscribe","data":{"events":["event_frame_sent"]}})");
        QVERIFY(reader.subscribe({"event_frame_sent"}));
        QTRY_VERIFY(stalled.socket.bytesAvailable() > 0); // its subscribe reply
        stalled.stopReading();
        QTRY_COMPARE(rig.server.clientCount(), 2);
        QWebSocket *stalledSide = nullptr;
        for (QWebSocket *side : rig.server.findChildren<QWebSocket *>()) {
            if (side->peerPort() == stalled.socket.localPort())
                stalledSide = side;
        }
        QVERIFY(stalledSide);
        count.clear();
        const QJsonObject bulk{{"pad", QString(32 * 1024, QLatin1Char('p'))}};
        constexpr int Pushes = 200;
        for (int push = 0; push < Pushes; ++push) {
            rig.echo->push("event_frame_sent", bulk);
            // The reader takes each before the next: it is never behind itself, however slow.
            QTRY_COMPARE(reader.received.size(), push + 2);
            QVERIFY(stalledSide->bytesToWrite() <= WebSocketServer::MaxUnsentBytes + 64 * 1024);
        }
        rig.echo->push("event_frame_sent", {{"frameNumber", 1}});
        QTRY_VERIFY_WITH_TIMEOUT(reader.received.size() == Pushes + 2, 20000);
        QCOMPARE(reader.received.last(), parsed(R"({"event":"event_frame_sent","data":{"frameNumber":1}})"));
        QCOMPARE(count.count(), 0);

        // Once the kernel's buffers are full, the stalled client takes nothing more.
        qint64 unsent = -1;
        QTRY_VERIFY_WITH_TIMEOUT(std::exchange(unsent, stalledSide->bytesToWrite()) == stalledSide->bytesToWrite(), 10000);
        for (qint64 at : {4000, 8000, 8001}) {
            rig.clock = at;
            QCOMPARE(reader.request("ping"), parsed(R"({"event":"pong"})")); // the reader stays heard from
            QCOMPARE(rig.server.clientCount(), 2);
            rig.tickAt(at);
        }
        QCOMPARE(rig.server.clientCount(), 1);
        QCOMPARE(count.count(), 1);
        QVERIFY(reader.isConnected());
        // Its socket is let go, not kept for a client that reads nothing.
        const QPointer<QWebSocket> released = stalledSide;
        QTRY_VERIFY(released.isNull());
    }

    // A client that pipelines requests gets every reply, in order, however far its reading
    // lags behind their bytes.
    void pipelinedRequestsAllAnswered()
    {
        ServerRig rig;
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        constexpr int Requests = 1000;
        for (int i = 0; i < Requests; ++i)
            client.send({{"event", "get_padded"}, {"data", QJsonObject{{"i", i}}}});
        for (int i = 0; i < Requests; ++i) {
            const QJsonObject reply = client.next(20000);
            QCOMPARE(reply.value("data").toObject().value("i").toInt(-1), i);
        }
        QVERIFY(client.isConnected());
        QCOMPARE(rig.server.clientCount(), 1);
    }

    // A client that pipelines requests (or pings) and reads nothing has its requests wait (and its
    // pings unanswered) while what it leaves unread is over the limit: that stays bounded, its
    // stop takes effect meanwhile, and all replies come, in order, once it reads again.
    void nonReadingClientBounded_data()
    {
        QTest::addColumn<bool>("pings");
        QTest::newRow("requests") << false;
        QTest::newRow("pings") << true;
    }

    void nonReadingClientBounded()
    {
        QFETCH(bool, pings);
        ServerRig rig;
        RawWsClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        QTRY_COMPARE(rig.server.clientCount(), 1);
        QWebSocket *side = rig.server.findChild<QWebSocket *>();
        // Below what the queue holds of a client before it is let go.
        constexpr int Requests = 3000;
        const auto overTheLimit = [side] { return side->bytesToWrite() > WebSocketServer::MaxUnsentBytes; };
        if (pings) {
            client.stopReading();
            // The server's kernel buffer may take megabytes of pongs (some sent while the pile
            // was briefly over the limit, so unanswered) before anything stays piled: pings go
            // on until it does.
            QVERIFY(QTest::qWaitFor([&] {
                for (int i = 0; i < Requests; ++i)
                    client.sendFrame(0x89, QByteArray(125, 'p'));
                return overTheLimit();
            }, 20000));
        } else {
            // Not stopReading(): its small kernel buffer would make the catching up slow.
            client.socket.setReadBufferSize(1);
            for (int i = 0; i < Requests; ++i)
                client.sendText(QStringLiteral(R"({"event":"get_padded","data":{"i":%1}})").arg(i).toUtf8());
        }
        // What it leaves unread piles up to the limit and no further.
        QTRY_VERIFY(overTheLimit());
        client.sendText(R"({"event":"action_halt"})");
        QTRY_VERIFY(rig.echo->halts > 0);
        QVERIFY(side->bytesToWrite() <= WebSocketServer::MaxUnsentBytes + 4096);
        if (pings)
            return;
        QCOMPARE(rig.server.clientCount(), 1);
        client.resumeReading();
        // A run that outlasts the heartbeat's interval (a slow machine) has its pings among them.
        const auto replies = [&client] {
            QList<QByteArray> texts;
            for (const RawWsClient::Frame &frame : client.frames()) {
                if (frame.opcode == 0x1)
                    texts.append(frame.payload);
            }
            return texts;
        };
        QTRY_VERIFY_WITH_TIMEOUT(replies().size() >= Requests, 20000);
        const QList<QByteArray> texts = replies();
        for (int i = 0; i < Requests; ++i) {
            const QJsonObject reply = QJsonDocument::fromJson(texts.at(i)).object();
            QCOMPARE(reply.value("data").toObject().value("i").toInt(-1), i);
        }
        QCOMPARE(rig.server.clientCount(), 1);
    }

    // A reply that comes later still comes in its place: the client's next requests wait for it;
    // other clients do not.
    void laterReplyKeepsOrder()
    {
        ServerRig rig;
        auto *later = new LaterHandler(&rig.server);
        rig.server.registerHandler(later);
        WsTestClient asking;
        WsTestClient other;
        QVERIFY(asking.open(rig.server.serverPort()));
        QVERIFY(other.open(rig.server.serverPort()));
        asking.send({{"event", "get_later"}, {"data", QJsonObject{{"n", 1}}}});
        asking.send({{"event", "ping"}});
        asking.send({{"event", "get_later"}, {"data", QJsonObject{{"n", 2}}}});
        QTRY_COMPARE(later->waiting.size(), 1);
        QCOMPARE(other.request("ping"), parsed(R"({"event":"pong"})"));
        QVERIFY(asking.received.isEmpty());
        QCOMPARE(later->waiting.size(), 1);
        later->answerFirst();
        QCOMPARE(asking.next(), parsed(R"({"event":"get_later","data":{"n":1}})"));
        QCOMPARE(asking.next(), parsed(R"({"event":"pong"})"));
        QTRY_COMPARE(later->waiting.size(), 1);
        later->answerFirst();
        QCOMPARE(asking.next(), parsed(R"({"event":"get_later","data":{"n":2}})"));
        QVERIFY(asking.pending().isEmpty());
    }

    // Another client's flood of stops overtakes the requests that wait behind an answer to come:
    // each is applied again after them once, not once for every stop that came.
    void stopFloodBehindAWait()
    {
        ServerRig rig;
        auto *later = new LaterHandler(&rig.server);
        rig.server.registerHandler(later);
        WsTestClient waiting;
        WsTestClient stopping;
        QVERIFY(waiting.open(rig.server.serverPort()));
        QVERIFY(stopping.open(rig.server.serverPort()));
        constexpr int Requests = 50;
        constexpr int Stops = 400;
        waiting.send({{"event", "get_later"}});
        for (int i = 0; i < Requests; ++i)
            waiting.send({{"event", "get_echo"}});
        QTRY_COMPARE(later->waiting.size(), 1);
        for (int i = 0; i < Stops; ++i)
            stopping.send({{"event", "action_halt"}, {"data", QJsonObject{{"n", i}}}});
        QTRY_COMPARE(stopping.received.size(), Stops);
        QCOMPARE(rig.echo->halts, Stops);
        later->answerFirst();
        QTRY_COMPARE(waiting.received.size(), Requests + 1);
        QCOMPARE(rig.echo->halts, Stops + Requests);
    }

    // Two clients' runs of stops, read while each other's are unread: every stop is applied once.
    void stopRunsOfTwoClients()
    {
        ServerRig rig;
        WsTestClient first;
        WsTestClient second;
        QVERIFY(first.open(rig.server.serverPort()));
        QVERIFY(second.open(rig.server.serverPort()));
        constexpr int Stops = 100000;
        for (int i = 0; i < Stops; ++i) {
            first.send({{"event", "action_halt"}});
            second.send({{"event", "action_halt"}});
        }
        QTRY_COMPARE_WITH_TIMEOUT(first.received.size() + second.received.size(), 2 * Stops, 300000);
        QCOMPARE(rig.echo->halts, 2 * Stops);
    }

    // A request is handled once the request before it has its answer, however long it is.
    void handledInOrder_data()
    {
        QTest::addColumn<int>("padding");
        QTest::newRow("short") << 10;
        QTest::newRow("long") << 60 * 1024;
    }

    void handledInOrder()
    {
        QFETCH(int, padding);
        ServerRig rig;
        auto *later = new LaterHandler(&rig.server);
        rig.server.registerHandler(later);
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        client.send({{"event", "get_later"}});
        client.send({{"event", "get_echo"}, {"data", QJsonObject{{"pad", QString(padding, QLatin1Char('p'))}}}});
        client.send({{"event", "ping"}});
        QTRY_COMPARE(later->waiting.size(), 1);
        WsTestClient other;
        QVERIFY(other.open(rig.server.serverPort()));
        QCOMPARE(other.request("get_echo"), parsed(R"({"event":"get_echo","data":{}})"));
        QCOMPARE(rig.echo->handled, 1);
        QVERIFY(client.received.isEmpty());
        later->answerFirst();
        QCOMPARE(client.next().value("event"), QJsonValue("get_later"));
        QCOMPARE(client.next().value("data").toObject().value("pad").toString().size(), padding);
        QCOMPARE(client.next().value("event"), QJsonValue("pong"));
    }

    // Requests waiting behind an answer to come are bounded: the client is still read, its requests
    // past the limit are refused, and it gets every reply, in order, once they can go.
    void waitingRepliesBounded()
    {
        ServerRig rig;
        auto *later = new LaterHandler(&rig.server);
        rig.server.registerHandler(later);
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        constexpr int Requests = 1000;
        client.send({{"event", "get_later"}});
        for (int i = 0; i < Requests; ++i)
            client.send({{"event", "get_padded"}, {"data", QJsonObject{{"i", i}}}});
        client.send({{"event", "get_later"}});
        // Refused too: everything before it has been read.
        QTRY_COMPARE(later->refusals, 1);
        later->answerFirst();
        QCOMPARE(client.next().value("event"), QJsonValue("get_later"));
        int refused = 0;
        for (int i = 0; i < Requests; ++i) {
            const QJsonObject reply = client.next();
            if (reply.value("message") == QJsonValue("Too many requests waiting for the disk: try again shortly"))
                ++refused;
            else
                QCOMPARE(reply.value("data").toObject().value("i").toInt(-1), i - refused);
        }
        QCOMPARE_GT(refused, Requests / 2);
    }

    // However much a client sends behind a request that waits, refusals of changing requests and
    // malformed messages among it, its stop behind them takes effect while that request still
    // waits; past the limit the client is let go, saying why.
    void floodBeforeAStop_data()
    {
        QTest::addColumn<QList<QByteArray>>("flood"); // sent in turn
        QTest::newRow("changing requests") << QList<QByteArray>{R"({"event":"get_echo","data":{"n":1}})",
                                                                R"({"event":"get_padded"})"};
        QTest::newRow("mostly invalid JSON") << (QList<QByteArray>(9, "{\"event\":") << R"({"event":"get_echo"})");
        QTest::newRow("data not an object") << QList<QByteArray>{R"({"event":"get_echo","data":5})"};
    }

    void floodBeforeAStop()
    {
        QFETCH(QList<QByteArray>, flood);
        ServerRig rig;
        auto *later = new LaterHandler(&rig.server);
        rig.server.registerHandler(later);
        // It writes on whatever it is sent meanwhile, as a phone's app writing a burst does.
        RawWsClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        client.sendText(R"({"event":"get_later"})");
        QTRY_COMPARE(later->waiting.size(), 1);
        for (int i = 0; i < 6000; ++i)
            client.sendText(flood.at(i % flood.size()));
        client.sendText(R"({"event":"action_halt"})");
        QTRY_COMPARE(rig.echo->halts, 1);
        QCOMPARE(later->waiting.size(), 1);
        QCOMPARE(rig.server.clientCount(), 0);
        // Told at once, before any reply.
        QByteArray reason;
        QTRY_COMPARE(client.closeCode(&reason), int(WebSocketServer::CloseCodeTooManyRequests));
        QCOMPARE(reason, QByteArray("Too many requests waiting"));
        QCOMPARE(client.frames().size(), 1);
        // What waited of it takes no effect once the request before it is answered.
        later->answerFirst();
        WsTestClient other;
        QVERIFY(other.open(rig.server.serverPort()));
        QCOMPARE(other.request("ping"), parsed(R"({"event":"pong"})"));
        QCOMPARE(rig.echo->handled, rig.echo->halts);
    }

    // A connect request waits between attempts on a busy port: the same client's later requests
    // follow it, in their order; another client is answered meanwhile, and its connect of the same
    // port does not run inside the waiting one.
    void repliesInArrivalOrder()
    {
        BusyPortRig busy;
        QVERIFY(busy.held);
        ServerRig &rig = busy.rig;
        WsTestClient asking;
        WsTestClient other;
        QVERIFY(asking.open(rig.server.serverPort()));
        QVERIFY(other.open(rig.server.serverPort()));
        QStringList arrivals; // "<client> <event> [ok|failed]", in the order they came
        for (auto [client, who] : {std::pair{&asking, "asking"}, std::pair{&other, "other"}}) {
            connect(client->socket.get(), &QWebSocket::textMessageReceived, this, [&arrivals, who = QString(who)](const QString &text) {
                const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
                QString line = who + ' ' + message.value("event").toString();
                if (message.contains("success"))
                    line += message.value("success").toBool() ? " ok" : " failed";
                arrivals << line;
            });
        }
        const QJsonObject connectPort{{"event", "action_connect_receiver"}, {"data", QJsonObject{{"port", busy.pty.slavePath()}}}};
        asking.send(connectPort);
        asking.send({{"event", "ping"}});
        asking.send(connectPort);
        asking.send({{"event", "get_receiver_status"}});
        // These run inside the first connect's waits.
        QTimer::singleShot(300, this, [&] {
            other.send({{"event", "ping"}});
            other.send(connectPort);
        });
        QTimer::singleShot(900, this, [&] { busy.holder.close(); });
        QTRY_COMPARE_WITH_TIMEOUT(arrivals.size(), 6, 15000);
        QCOMPARE(arrivals, QStringList({"other pong", "other action_connect_receiver failed",
                                        "asking action_connect_receiver ok", "asking pong",
                                        "asking action_connect_receiver ok", "asking get_receiver_status"}));
        QCOMPARE(asking.received.last().value("data").toObject().value("connected"), QJsonValue(true));
        // The other client's connect, taken inside the first one's waits, says why it was refused.
        const QString message = other.received.at(1).value("message").toString();
        QVERIFY2(message.contains("still being opened"), qPrintable(message));
    }

    // Connections that end together without a close frame leave nothing of theirs behind: their
    // address keeps every place.
    void connectionsEndingTogetherFreeTheirPlaces()
    {
        ServerRig rig;
        for (int round = 0; round < 3; ++round) {
            RawWsClient first;
            RawWsClient second;
            QVERIFY(first.open(rig.server.serverPort()));
            QVERIFY(second.open(rig.server.serverPort()));
            QTRY_COMPARE(rig.server.clientCount(), 2);
            first.socket.abort();
            second.socket.abort();
            QTRY_VERIFY(rig.server.findChildren<QWebSocket *>().isEmpty());
        }
    }

    // A connect request waits between attempts on a busy port; the requesting client leaves
    // meanwhile. It gets no reply and nothing breaks.
    void clientGoneDuringRequest()
    {
        BusyPortRig busy;
        QVERIFY(busy.held);
        ServerRig &rig = busy.rig;
        auto leaving = std::make_unique<WsTestClient>();
        WsTestClient staying;
        QVERIFY(leaving->open(rig.server.serverPort()));
        QVERIFY(staying.open(rig.server.serverPort()));
        QTimer::singleShot(300, [&] { leaving.reset(); });
        QTimer::singleShot(900, [&] { staying.send({{"event", "ping"}}); });
        QTimer::singleShot(1200, [&] { busy.holder.close(); });
        leaving->send({{"event", "action_connect_receiver"}, {"data", QJsonObject{{"port", busy.pty.slavePath()}}}});
        // Read inside the connect's waits: their replies wait for it when the client goes.
        leaving->send({{"event", "ping"}});
        leaving->send({{"event", "get_receiver_status"}});
        QTRY_COMPARE_WITH_TIMEOUT(busy.controller.isReceiverConnected(), true, 15000);
        QCOMPARE(rig.server.clientCount(), 1);
        QCOMPARE(staying.next(), parsed(R"({"event":"pong"})"));
        QCOMPARE(staying.request("get_receiver_status").value("data").toObject().value("connected"), QJsonValue(true));
    }

    // Each request goes to the handler that lists it.
    void programHandlers()
    {
        ProgramRig rig;
        QVERIFY(rig.started);
        WsTestClient &client = rig.client;
        WebSocketServer &server = rig.server;
        QCOMPARE(client.request("get_app_mode"), parsed(R"({"event":"get_app_mode","data":{"mode":"pc"}})"));
        QCOMPARE(client.request("get_frame_count"), parsed(R"({"event":"get_frame_count","data":{"frameCount":0}})"));
        // Subscriptions are bounded by the longest name there is.
        qsizetype longest = 0;
        for (const corvane::WsHandler *handler : server.findChildren<corvane::WsHandler *>()) {
            for (const QString &event : handler->supportedEvents())
                longest = std::max(longest, event.size());
        }
        QCOMPARE(longest, qsizetype(WebSocketServer::MaxEventNameChars));
    }

    // Data of another kind than an object would read as none, and a change sent in it pass for
    // made: it is refused, named, in the form of the handler's replies. Null is none.
    void dataNotAnObject_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QJsonObject>("reply");
        QTest::newRow("axis settings, array") << R"({"event":"set_axis_settings","data":[1,2]})"
                                              << refusedAs("set_axis_settings", "'data' must be an object, not an array");
        QTest::newRow("lounge, number") << R"({"event":"set_lounge_speed_cap","data":5})"
                                        << parsed(R"({"event":"error","source":"set_lounge_speed_cap","message":"'data' must be an object, not a number"})");
        QTest::newRow("get, true") << R"({"event":"get_app_mode","data":true})"
                                   << parsed(R"({"event":"error","source":"get_app_mode","message":"'data' must be an object, not true"})");
        QTest::newRow("subscribe, array") << R"({"event":"action_subscribe","data":["event_gps"]})"
                                          << refusedAs("action_subscribe", "'data' must be an object, not an array");
        QTest::newRow("null is none") << R"({"event":"get_app_mode","data":null})"
                                      << parsed(R"({"event":"get_app_mode","data":{"mode":"pc"}})");
        QTest::newRow("ping reads nothing") << R"({"event":"ping","data":[1]})" << parsed(R"({"event":"pong"})");
    }

    void dataNotAnObject()
    {
        QFETCH(QString, text);
        QFETCH(QJsonObject, reply);
        ProgramRig rig;
        QVERIFY(rig.started);
        WsTestClient &client = rig.client;
        const QJsonObject axes = client.request("get_axis_settings").value("data").toObject();
        client.socket->sendTextMessage(text);
        QCOMPARE(client.next(), reply);
        QCOMPARE(client.request("get_axis_settings").value("data").toObject(), axes);
    }

    void stopClosesClients()
    {
        ServerRig rig;
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        QTRY_COMPARE(rig.server.clientCount(), 1);
        QSignalSpy count(&rig.server, &WebSocketServer::clientCountChanged);
        QSignalSpy closed(client.socket.get(), &QWebSocket::disconnected);
        rig.server.stop();
        QCOMPARE(count.count(), 1);
        QCOMPARE(count.first().first().toInt(), 0);
        QVERIFY(closed.wait(5000));
        QCOMPARE(int(client.socket->closeCode()), int(QWebSocketProtocol::CloseCodeNormal));
        // The registry survives a stop.
        QVERIFY(rig.server.start(0));
        WsTestClient again;
        QVERIFY(again.open(rig.server.serverPort()));
        QCOMPARE(again.request("get_echo").value("event").toString(), QStringLiteral("get_echo"));
    }

};

OSTRA_TEST_MAIN_CORE(TestWebSocketServer)
#include "tst_websocketserver.moc"
