#include "motion/motionwebpanel.h"

#include "motion/motionsystemcontroller.h"
#include "platform/network/networkinterfacelister.h"
#include "platform/storage/settingsfile.h"
#include "support/heldrenames.h"
#include "support/simulatedmotioncontroller.h"
#include "support/starved.h"
#include "support/testenvironment.h"

#include <QFileInfo>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

using corvane::MotionSystemController;
using corvane::MotionWebPanel;
using corvane::NetworkInterfaceEntry;
using corvane::NetworkInterfaceLister;
using ostratest::SimulatedMotionController;

namespace {

constexpr int Patience = 10000;

// A raw HTTP exchange on loopback: sends the segments (waiting a little between them) and
// returns everything the panel answered until it closed the connection.
class Client
{
public:
    // From `source`: on loopback any 127.x.y.z is this machine's, each an address of its own.
    explicit Client(quint16 port, const QHostAddress &source = QHostAddress::LocalHost)
    {
        m_socket.bind(source);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    bool connected() { return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, Patience); }
    void send(const QByteArray &bytes)
    {
        // Before the connection is up the bytes wait in the socket and go out once it is.
        m_socket.write(bytes);
        if (m_socket.state() == QAbstractSocket::ConnectedState)
            m_socket.flush();
    }
    bool closed()
    {
        return QTest::qWaitFor([this] {
            m_received += m_socket.readAll();
            return m_socket.state() == QAbstractSocket::UnconnectedState;
        }, Patience);
    }
    QByteArray received()
    {
        m_received += m_socket.readAll();
        return m_received;
    }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

QByteArray exchange(quint16 port, const QByteArray &request)
{
    Client client(port);
    if (!client.connected())
        return "no connection";
    client.send(request);
    if (!client.closed())
        return "not closed";
    return client.received();
}

QByteArray response(int code, const QByteArray &reason, const QByteArray &type, const QByteArray &body)
{
    return "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason + "\r\nContent-Type: " + type
           + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray bodyOf(const QByteArray &reply)
{
    return reply.mid(reply.indexOf("\r\n\r\n") + 4);
}

int codeOf(const QByteArray &reply)
{
    return reply.mid(9, 3).toInt();
}

} // namespace

Q_DECLARE_METATYPE(QList<corvane::NetworkInterfaceEntry>)

class TestMotionWebPanel : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimulatedMotionController> m_board;
    std::unique_ptr<MotionSystemController> m_controller;
    std::unique_ptr<MotionWebPanel> m_panel;

    quint16 port() const { return m_panel->port(); }

    void connectReady(const QByteArray &state = "ready")
    {
        QVERIFY(m_board->connectController(*m_controller, state));
    }

private slots:
    void init()
    {
        corvane::SettingsFile(QStringLiteral("MotionSystem")).remove(QString());
        m_board = std::make_unique<SimulatedMotionController>();
        m_controller = std::make_unique<MotionSystemController>();
        m_panel = std::make_unique<MotionWebPanel>(m_controller.get());
        QVERIFY(m_panel->start(0));
    }

    void cleanup()
    {
        m_panel.reset();
        m_controller.reset();
        m_board.reset();
        NetworkInterfaceLister::useSystemInterfaces();
    }

    void exactResponseBytes()
    {
        const QByteArray config = m_panel->configJson();
        QCOMPARE(config, QByteArray(R"({"a":100,"i":100,"map":[0,1,2,3,4,5],"p":75,"s":100,"sl":0,"ss":10,"st":150,"t":140})"));
        QCOMPARE(exchange(port(), "GET /cfg HTTP/1.1\r\nHost: localhost\r\n\r\n"), response(200, "OK", "application/json", config));
        QCOMPARE(exchange(port(), "GET /test HTTP/1.1\r\n\r\n"), response(404, "Not Found", "text/plain", "not found"));
        QCOMPARE(exchange(port(), "POST /home HTTP/1.1\r\n\r\n"),
                 response(409, "Conflict", "text/plain", "controller not connected"));
        const QByteArray page = exchange(port(), "GET / HTTP/1.1\r\n\r\n");
        QVERIFY(page.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"));
        QVERIFY(bodyOf(page).startsWith("<!doctype html>"));
        QCOMPARE(bodyOf(exchange(port(), "GET /index.html HTTP/1.1\r\n\r\n")), bodyOf(page));
    }

    // Log lines and states come from the serial line: the page writes them as text, never as markup.
    void pageInsertsTextOnly()
    {
        const QByteArray page = bodyOf(exchange(port(), "GET / HTTP/1.1\r\n\r\n"));
        QVERIFY(page.contains("textContent"));
        for (const char *sink : { "innerHTML", "outerHTML", "insertAdjacentHTML", "document.write", "eval(" })
            QVERIFY2(!page.contains(sink), sink);
        // Self-contained: nothing loaded from elsewhere.
        for (const char *external : { "src=", "href=", "@import", "http://", "https://" })
            QVERIFY2(!page.contains(external), external);
    }

    void requestInSegments()
    {
        Client client(port());
        QVERIFY(client.connected());
        client.send("GET /cfg HT");
        QTest::qWait(50);
        client.send("TP/1.1\r\nHost: localhost\r\n");
        QTest::qWait(50);
        QCOMPARE(client.received(), QByteArray()); // nothing before the blank line
        client.send("\r\nGET /status HTTP/1.1\r\n\r\n");
        QVERIFY(client.closed());
        QCOMPARE(client.received(), response(200, "OK", "application/json", m_panel->configJson()));
    }

    void routes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("GET /test") << QByteArray("GET /test HTTP/1.1") << 404 << QByteArray("not found");
        QTest::newRow("lower-case method") << QByteArray("get /cfg HTTP/1.1") << 405 << QByteArray("method not allowed");
        QTest::newRow("one word") << QByteArray("GARBAGE") << 400 << QByteArray("bad request");
        // The controller's gate answers before the parameters are looked at.
        QTest::newRow("dof 5 disconnected") << QByteArray("POST /test?kind=dof&dof=5 HTTP/1.1") << 409
                                            << QByteArray("controller not connected");
        QTest::newRow("dof 2 disconnected") << QByteArray("POST /test?kind=dof&dof=2 HTTP/1.1") << 409
                                            << QByteArray("controller not connected");
        QTest::newRow("single axis 9 disconnected") << QByteArray("POST /test?kind=single&axis=9 HTTP/1.1") << 409
                                                    << QByteArray("controller not connected");
        QTest::newRow("single all") << QByteArray("POST /test?kind=single&axis=-1 HTTP/1.1") << 409
                                    << QByteArray("controller not connected");
        QTest::newRow("buzz axis 9 disconnected") << QByteArray("POST /buzz?axis=9 HTTP/1.1") << 409
                                                  << QByteArray("controller not connected");
        QTest::newRow("move disconnected") << QByteArray("POST /move?axis=1&mm=40 HTTP/1.1") << 409
                                           << QByteArray("move refused (need connected + ready, no test)");
        QTest::newRow("cfg unknown key") << QByteArray("POST /cfg?zz=1 HTTP/1.1") << 400 << QByteArray("bad params");
        QTest::newRow("cfg map of five") << QByteArray("POST /cfg?map=0,1,2,3,4 HTTP/1.1") << 400
                                         << QByteArray("bad map \"0,1,2,3,4\" - needs channels 0..5, each once");
        QTest::newRow("release disconnected") << QByteArray("POST /release HTTP/1.1") << 409 << QByteArray("controller not connected");
        // Only POST changes anything: a browser sends the other methods from any page without
        // naming it. HEAD is GET without the body. Lines may end in a bare line feed.
        const QByteArray config(R"({"a":100,"i":100,"map":[0,1,2,3,4,5],"p":75,"s":100,"sl":0,"ss":10,"st":150,"t":140})");
        const QByteArray map(" /cfg?map=5,4,3,2,1,0 HTTP/1.1");
        QTest::newRow("POST map") << "POST" + map << 200 << QByteArray("saved & applied");
        QTest::newRow("GET map") << "GET" + map << 200 << config;
        QTest::newRow("HEAD map") << "HEAD" + map << 200 << QByteArray();
        QTest::newRow("HEAD of a POST route") << QByteArray("HEAD /home HTTP/1.1") << 404 << QByteArray();
        for (const char *method : { "PUT", "DELETE", "OPTIONS" })
            QTest::newRow(method) << method + map << 405 << QByteArray("method not allowed");
        QTest::newRow("line feeds, POST") << "POST" + map + "\nHost: localhost\n\n" << 200 << QByteArray("saved & applied");
        QTest::newRow("line feeds, GET") << "GET" + map + "\n\n" << 200 << config;
    }

    void routes()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, code);
        QFETCH(QByteArray, body);
        const QByteArray reply = exchange(port(), request.endsWith('\n') ? request : request + "\r\n\r\n");
        QCOMPARE(codeOf(reply), code);
        QCOMPARE(bodyOf(reply), body);
        QCOMPARE(m_controller->settings().actuatorSlots[0], body == "saved & applied" ? 5 : 0);
        QCOMPARE(reply.contains("\r\nAllow: GET, HEAD, POST\r\n"), code == 405);
    }

    // With the controller ready, a dof or axis the board cannot take is refused and nothing goes
    // out: the frames carry only an axis's low byte, so 258 would reach actuator 2.
    void parametersAfterTheGate_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("body");
        const QByteArray bad("bad params");
        const QByteArray move("move refused (need connected + ready, no test)");
        QTest::newRow("dof 5") << QByteArray("POST /test?kind=dof&dof=5") << 400 << bad;
        QTest::newRow("dof missing") << QByteArray("POST /test?kind=dof") << 400 << bad;
        QTest::newRow("single axis -2") << QByteArray("POST /test?kind=single&axis=-2") << 400 << bad;
        QTest::newRow("single axis 258") << QByteArray("POST /test?kind=single&axis=258") << 400 << bad;
        QTest::newRow("buzz axis -2") << QByteArray("POST /buzz?axis=-2") << 400 << bad;
        QTest::newRow("buzz axis -1") << QByteArray("POST /buzz?axis=-1") << 400 << bad;
        QTest::newRow("buzz axis 258") << QByteArray("POST /buzz?axis=258") << 400 << bad;
        QTest::newRow("move axis -2") << QByteArray("POST /move?axis=-2&mm=40") << 409 << move;
        QTest::newRow("move axis -1") << QByteArray("POST /move?axis=-1&mm=40") << 409 << move;
        QTest::newRow("move axis 258") << QByteArray("POST /move?axis=258&mm=40") << 409 << move;
    }

    void parametersAfterTheGate()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, code);
        QFETCH(QByteArray, body);
        connectReady();
        const QByteArray reply = exchange(port(), request + " HTTP/1.1\r\n\r\n");
        QCOMPARE(codeOf(reply), code);
        QCOMPARE(bodyOf(reply), body);
        // A heartbeat answered after the request: whatever the request sent has arrived by now.
        QVERIFY(m_board->sendHeartbeat("ready"));
        QTest::qWait(50);
        m_board->process();
        QCOMPARE(m_board->frameCount('T') + m_board->frameCount('V') + m_board->frameCount('M'), 0);
        QVERIFY(!m_controller->isBusy());
    }

    // Only the panel's own page may change anything: a browser names the sending page in Origin
    // or Referer, and a form on any other page would otherwise move the platform.
    void requestsFromOtherPages_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<int>("code");
        const QByteArray own = "http://127.0.0.1:PORT";
        QTest::newRow("no page named") << QByteArray() << 200;
        QTest::newRow("own origin") << "Origin: " + own + "\r\n" << 200;
        QTest::newRow("own origin, localhost") << QByteArray("origin: http://localhost:PORT\r\n") << 200;
        QTest::newRow("own referer") << "Referer: " + own + "/\r\n" << 200;
        QTest::newRow("both own") << "Origin: " + own + "\r\nReferer: " + own + "/index.html\r\n" << 200;
        QTest::newRow("other site") << QByteArray("Origin: http://evil.example\r\n") << 403;
        QTest::newRow("other site's referer") << QByteArray("Referer: http://evil.example/form.html\r\n") << 403;
        QTest::newRow("sandboxed page") << QByteArray("Origin: null\r\n") << 403;
        QTest::newRow("other port") << QByteArray("Origin: http://127.0.0.1:1\r\n") << 403;
        QTest::newRow("https") << QByteArray("Origin: https://127.0.0.1:PORT\r\n") << 403;
        QTest::newRow("name resolving here") << QByteArray("Origin: http://rebound.example:PORT\r\n") << 403;
        QTest::newRow("own origin, other referer") << "Origin: " + own + "\r\nReferer: http://evil.example/\r\n" << 403;
        QTest::newRow("empty origin") << QByteArray("Origin:\r\n") << 403;
        // "HOST" stands for this machine's host name.
        QTest::newRow("host name") << QByteArray("Origin: http://HOST:PORT\r\n") << 200;
        QTest::newRow("host name on the local link")
            << QByteArray("Origin: http://HOST.local:PORT\r\nReferer: http://HOST.local:PORT/\r\n") << 200;
        QTest::newRow("announced name") << QByteArray("Origin: http://qorvant-transmitter.local:PORT\r\n") << 200;
        QTest::newRow("host name, other port") << QByteArray("Origin: http://HOST:1\r\n") << 403;
        QTest::newRow("site named after the host") << QByteArray("Origin: http://HOST.example:PORT\r\n") << 403;
    }

    void requestsFromOtherPages()
    {
        QFETCH(QByteArray, headers);
        QFETCH(int, code);
        headers.replace("PORT", QByteArray::number(port()));
        if (headers.contains("HOST") && QHostInfo::localHostName().isEmpty())
            QSKIP("this machine has no host name");
        headers.replace("HOST", QHostInfo::localHostName().toUtf8());
        const QByteArray reply = exchange(port(), "POST /cfg?i=50 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
        QCOMPARE(codeOf(reply), code);
        QCOMPARE(m_controller->settings().intensity, code == 200 ? 50 : 100);
        if (code == 403)
            QCOMPARE(reply, response(403, "Forbidden", "text/plain", "refused: sent from another page"));
        // Reading stays open to any page: a browser keeps the answer from a page of another site.
        QCOMPARE(codeOf(exchange(port(), "GET /status HTTP/1.1\r\nOrigin: http://evil.example\r\n\r\n")), 200);
    }

    // A page whose own name was made to point here (DNS rebinding) sends that name as Host and
    // could read the answers: only a Host naming this machine is answered. "HOST" stands for
    // this machine's host name, PORT for the panel's port.
    void foreignHostsRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<int>("code");
        const QByteArray cfg("GET /cfg");
        QTest::newRow("no Host") << cfg << QByteArray() << 200;
        QTest::newRow("localhost") << cfg << QByteArray("host: LocalHost:PORT\r\n") << 200;
        QTest::newRow("own LAN address") << cfg << QByteArray("Host: 192.0.2.10:PORT\r\n") << 200;
        QTest::newRow("host name on the local link") << cfg << QByteArray("Host: HOST.local.:PORT\r\n") << 200;
        QTest::newRow("announced name") << cfg << QByteArray("Host: Qorvant-Transmitter.local:PORT\r\n") << 200;
        QTest::newRow("rebound name") << cfg << QByteArray("Host: rebound.example:PORT\r\n") << 403;
        QTest::newRow("rebound name, status") << QByteArray("HEAD /status") << QByteArray("Host: rebound.example\r\n") << 403;
        QTest::newRow("another machine") << cfg << QByteArray("Host: 192.0.2.11:PORT\r\n") << 403;
        QTest::newRow("own and another") << cfg << QByteArray("Host: 127.0.0.1\r\nHost: rebound.example\r\n") << 403;
        QTest::newRow("empty") << cfg << QByteArray("Host:\r\n") << 403;
    }

    void foreignHostsRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, headers);
        QFETCH(int, code);
        NetworkInterfaceLister::setFixedInterfaces(
            {{QStringLiteral("eth0"), QStringLiteral("eth0"), true, true, false, {QHostAddress(QStringLiteral("192.0.2.10"))}}});
        headers.replace("PORT", QByteArray::number(port()));
        if (headers.contains("HOST") && QHostInfo::localHostName().isEmpty())
            QSKIP("this machine has no host name");
        headers.replace("HOST", QHostInfo::localHostName().toUtf8());
        const QByteArray reply = exchange(port(), request + " HTTP/1.1\r\n" + headers + "\r\n");
        QCOMPARE(codeOf(reply), code);
        if (code == 403)
            QCOMPARE(bodyOf(reply), request.startsWith("HEAD") ? QByteArray() : QByteArray("refused: the Host names another site"));
    }

    void settingsUpdateIsClampedAndSent()
    {
        // Disconnected: stored and saved all the same.
        QByteArray reply = exchange(port(), "POST /cfg?st=400&t=400&sl=1&ss=30 HTTP/1.1\r\n\r\n");
        QCOMPARE(reply, response(200, "OK", "text/plain", "saved & applied"));
        QCOMPARE(m_controller->settings().strokeMm, 300);
        QCOMPARE(m_controller->settings().travelMm, 290);
        QVERIFY(m_controller->settings().sleepEnabled);
        QCOMPARE(m_controller->settings().sleepSeconds, 30);
        QCOMPARE(m_panel->log().last().text, QString("Settings saved from the web panel"));

        connectReady();
        reply = exchange(port(), "POST /cfg?st=100&p=95&map=1,0,2,3,5,4 HTTP/1.1\r\n\r\n");
        QCOMPARE(bodyOf(reply), QByteArray("saved & applied"));
        QVERIFY(m_board->waitForFrame('I'));
        QCOMPARE(m_board->letters(), QString("SCAI"));
        QCOMPARE(SimulatedMotionController::hex(m_board->frames('S').first().payload), QByteArray("00 64"));
        // travel 290 and park 95 pulled under the stroke of 100
        QCOMPARE(SimulatedMotionController::hex(m_board->frames('C').first().payload),
                 QByteArray("00 64 00 5A 00 64 00 64 00 5F"));
        // Channel j is driven by the actuator whose slot is j.
        QCOMPARE(SimulatedMotionController::hex(m_board->frames('A').first().payload), QByteArray("01 00 02 03 05 04"));
    }

    // A map the board cannot use is refused with its text and nothing is saved, the other
    // fields of the same request included; each channel once is taken.
    void settingsMaps_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("refused"); // the map named in the answer; empty: accepted
        QTest::newRow("one channel six times") << QByteArray("map=9,9,9,9,9,9") << QByteArray("9,9,9,9,9,9");
        QTest::newRow("letters") << QByteArray("map=a,b,c,d,e,f") << QByteArray("a,b,c,d,e,f");
        QTest::newRow("channel twice") << QByteArray("map=1,1,2,3,4,5") << QByteArray("1,1,2,3,4,5");
        QTest::newRow("negative channel") << QByteArray("map=-1,0,1,2,3,4") << QByteArray("-1,0,1,2,3,4");
        QTest::newRow("empty entry") << QByteArray("map=1,0,2,3,,5") << QByteArray("1,0,2,3,,5");
        QTest::newRow("seven entries") << QByteArray("map=0,1,2,3,4,5,5") << QByteArray("0,1,2,3,4,5,5");
        QTest::newRow("empty") << QByteArray("map=") << QByteArray("");
        QTest::newRow("with other fields") << QByteArray("i=50&st=200&map=0,0,0,0,0,0") << QByteArray("0,0,0,0,0,0");
        QTest::newRow("long") << "map=" + QByteArray(60, '7') << QByteArray(40, '7') + "...";
        QTest::newRow("each channel once") << QByteArray("i=50&map=5,4,3,2,1,0") << QByteArray();
    }

    void settingsMaps()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, refused);
        const corvane::MotionSystemSettings before = m_controller->settings();
        const QByteArray reply = exchange(port(), "POST /cfg?" + query + " HTTP/1.1\r\n\r\n");
        const bool accepted = refused.isNull();
        QCOMPARE(codeOf(reply), accepted ? 200 : 400);
        QCOMPARE(bodyOf(reply), accepted ? QByteArray("saved & applied")
                                         : "bad map \"" + refused + "\" - needs channels 0..5, each once");
        if (accepted) {
            QCOMPARE(m_controller->settings().actuatorSlots, (std::array<int, 6> { 5, 4, 3, 2, 1, 0 }));
            QCOMPARE(m_controller->settings().intensity, 50);
        } else {
            QVERIFY(m_controller->settings() == before);
        }
    }

    void connectedRoutes()
    {
        connectReady("homing");
        QByteArray reply = exchange(port(), "POST /test?kind=dof&dof=2 HTTP/1.1\r\n\r\n");
        QCOMPARE(codeOf(reply), 409);
        QCOMPARE(bodyOf(reply), QByteArray(R"(controller is "homing" - needs "ready")"));

        QVERIFY(m_board->sendHeartbeat("ready"));
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), QString("ready"), Patience);
        reply = exchange(port(), "POST /test?kind=single&axis=2&travel=40&hz=120&secs=3 HTTP/1.1\r\n\r\n");
        QCOMPARE(bodyOf(reply), QByteArray("test started"));
        QVERIFY(m_board->waitForFrame('T'));
        QCOMPARE(SimulatedMotionController::hex(m_board->frames('T').first().payload), QByteArray("02 28 00 78 03"));

        QCOMPARE(bodyOf(exchange(port(), "POST /test?kind=haptic HTTP/1.1\r\n\r\n")), QByteArray("test already running"));
        reply = exchange(port(), "POST /home HTTP/1.1\r\n\r\n");
        QCOMPARE(codeOf(reply), 409);
        QCOMPARE(bodyOf(reply), QByteArray("test running - wait"));
        QCOMPARE(bodyOf(exchange(port(), "POST /cfg?i=50 HTTP/1.1\r\n\r\n")), QByteArray("test running - wait"));
        reply = exchange(port(), "POST /release HTTP/1.1\r\n\r\n");
        QCOMPARE(reply, response(200, "OK", "text/plain", "released"));
        QVERIFY(!m_controller->isBusy());
        QVERIFY(m_board->waitForFrame('R'));

        reply = exchange(port(), "POST /move?axis=1&mm=40 HTTP/1.1\r\n\r\n");
        QCOMPARE(bodyOf(reply), QByteArray("ax1 -> 40mm"));
        QCOMPARE(bodyOf(exchange(port(), "POST /buzz?axis=3 HTTP/1.1\r\n\r\n")), QByteArray("buzzing"));
        QVERIFY(m_board->waitForFrame('V'));
        QCOMPARE(SimulatedMotionController::hex(m_board->frames('V').first().payload), QByteArray("03 14 08 02"));
    }

    void statusAndLog()
    {
        QVERIFY(m_controller->connectPort(m_board->portName()));
        QVERIFY(m_board->sendHeartbeat("ready", { { 0, 70 }, { 1, 80 } }, 'a'));
        QVERIFY(m_board->waitForFrame('Q'));
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), QString("ready"), Patience);

        QJsonObject status = QJsonDocument::fromJson(bodyOf(exchange(port(), "GET /status HTTP/1.1\r\n\r\n"))).object();
        QCOMPARE(status.value("state").toString(), QString("ready"));
        QCOMPARE(status.value("sleep").toString(), QString("a"));
        QCOMPARE(status.value("axes").toObject(), QJsonObject({ { "0", 70 }, { "1", 80 } }));
        const int seq = status.value("seq").toInt();
        QVERIFY(seq >= 2); // "Connected to …" and "Controller alive …"
        QCOMPARE(status.value("log").toArray().size(), seq);

        // Each entry once: since = the last seq gives nothing new, a new line comes alone.
        QByteArray reply = exchange(port(), "GET /status?since=" + QByteArray::number(seq) + " HTTP/1.1\r\n\r\n");
        QCOMPARE(QJsonDocument::fromJson(bodyOf(reply)).object().value("log").toArray().size(), 0);
        m_board->sendLine("#TST hello <b>board</b>");
        QTRY_COMPARE_WITH_TIMEOUT(m_panel->log().size(), seq + 1, Patience);
        reply = exchange(port(), "GET /status?since=" + QByteArray::number(seq) + " HTTP/1.1\r\n\r\n");
        const QJsonArray fresh = QJsonDocument::fromJson(bodyOf(reply)).object().value("log").toArray();
        QCOMPARE(fresh.size(), 1);
        QCOMPARE(fresh.at(0).toArray().at(2).toString(), QString("#TST hello <b>board</b>"));

        // Controller errors arrive with "! ".
        emit m_controller->errorOccurred("port lost");
        QCOMPARE(m_panel->log().last().text, QString("! port lost"));
        for (int i = 0; i < 100; ++i)
            m_panel->appendLog(QString::number(i));
        status = QJsonDocument::fromJson(m_panel->statusJson(0)).object();
        const QJsonArray log = status.value("log").toArray();
        QCOMPARE(log.size(), MotionWebPanel::LogLimit);
        QCOMPARE(log.last().toArray().at(2).toString(), QString("99"));
        QCOMPARE(log.first().toArray().at(2).toString(), QString("20"));
    }

    // A header that never ends is refused once it passes the limit; a silent client is dropped.
    void headerLimitAndIdleConnections()
    {
        Client flood(port());
        QVERIFY(flood.connected());
        flood.send("GET /" + QByteArray(9 * 1024, 'a'));
        QVERIFY(flood.closed());
        QCOMPARE(flood.received(), response(400, "Bad Request", "text/plain", "bad request"));

        Client silent(port());
        QVERIFY(silent.connected());
        silent.send("GET /status HTTP/1.1\r\n");
        QTest::qWait(50);
        for (int i = 0; i < MotionWebPanel::IdleSweeps; ++i)
            QMetaObject::invokeMethod(m_panel.get(), "onIdleSweep");
        QVERIFY(silent.closed());
        QCOMPARE(silent.received(), QByteArray());

        // The panel still serves.
        QCOMPARE(codeOf(exchange(port(), "GET /cfg HTTP/1.1\r\n\r\n")), 200);
    }

    // A settings update whose save waits past the idle cut (behind another save of the file,
    // inside a slow disk) is answered all the same, with 500 when the save fails.
    void slowSaveAnswered_data()
    {
        QTest::addColumn<QString>("disk");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("saved") << "" << response(200, "OK", "text/plain", "saved & applied");
        QTest::newRow("failed") << "failing sync"
                                << response(500, "Internal Server Error", "text/plain",
                                            "applied but not saved - the settings could not be written");
    }

    void slowSaveAnswered()
    {
        QFETCH(QString, disk);
        QFETCH(QByteArray, answer);
        corvane::SettingsFile settings(QStringLiteral("MotionSystem"));
        ostratest::HeldRenames held(QFileInfo(settings.fileName()).fileName(), Patience);
        settings.setValue(QStringLiteral("held"), 1);
        QTRY_COMPARE(held.waiting(), 1);
        Client phone(port());
        phone.send("POST /cfg?i=50 HTTP/1.1\r\n\r\n");
        QTRY_COMPARE(m_controller->settings().intensity, 50);
        for (int i = 0; i < 2 * MotionWebPanel::IdleSweeps; ++i)
            QMetaObject::invokeMethod(m_panel.get(), "onIdleSweep");
        // Newcomers filling the pool cut the oldest of the others.
        std::vector<std::unique_ptr<Client>> crowd;
        for (int i = 0; i < MotionWebPanel::MaxConnections; ++i) {
            const int source = 10 + i / MotionWebPanel::MaxConnectionsPerAddress;
            crowd.push_back(std::make_unique<Client>(port(), QHostAddress(QStringLiteral("127.0.0.%1").arg(source))));
            crowd.back()->send("GET /status HTTP/1.1\r\n");
        }
        QVERIFY(crowd.front()->closed());
        ostratest::Starved starved(disk);
        held.release();
        QVERIFY(phone.closed());
        QCOMPARE(phone.received(), answer);
    }

    // Half-sent requests hold places: at most MaxConnectionsPerAddress from one address (more
    // from it are closed as they come) and MaxConnections in all, where a newcomer cuts the
    // oldest. The others are served once their request is whole.
    void connectionCap_data()
    {
        QTest::addColumn<int>("sources"); // addresses 127.0.0.10, .11, ..., each holding `each`
        QTest::addColumn<int>("each");
        QTest::addColumn<int>("newcomer"); // the newcomer comes from 127.0.0.(10 + newcomer)
        QTest::addColumn<int>("code");
        const int share = MotionWebPanel::MaxConnectionsPerAddress;
        QTest::newRow("one address, a pool's worth") << 1 << MotionWebPanel::MaxConnections << 1 << 200;
        QTest::newRow("one address past its share") << 1 << share << 0 << 0;
        QTest::newRow("pool full") << MotionWebPanel::MaxConnections / share << share << 4 << 200;
    }

    void connectionCap()
    {
        QFETCH(int, sources);
        QFETCH(int, each);
        QFETCH(int, newcomer);
        QFETCH(int, code);
        const auto address = [](int n) { return QHostAddress(QStringLiteral("127.0.0.%1").arg(10 + n)); };
        std::vector<std::unique_ptr<Client>> held;
        for (int i = 0; i < sources * each; ++i) {
            held.push_back(std::make_unique<Client>(port(), address(i / each)));
            held.back()->send("GET /status HTTP/1.1\r\n");
        }
        Client late(port(), address(newcomer));
        late.send("GET /cfg HTTP/1.1\r\n\r\n");
        QVERIFY(late.closed());
        QCOMPARE(codeOf(late.received()), code);
        const bool oldestCut = sources > 1;
        if (oldestCut) {
            QVERIFY(held.front()->closed());
            QCOMPARE(held.front()->received(), QByteArray());
        }
        Client &waiting = *held.at(oldestCut ? 1 : 0);
        waiting.send("\r\n");
        QVERIFY(waiting.closed());
        QCOMPARE(codeOf(waiting.received()), 200);
    }

    void lanPanelUrl_data()
    {
        QTest::addColumn<QList<NetworkInterfaceEntry>>("interfaces");
        QTest::addColumn<QString>("host");
        const auto entry = [](const QString &name, QStringList addresses) {
            NetworkInterfaceEntry e;
            e.name = name;
            e.up = true;
            e.running = true;
            for (const QString &a : addresses)
                e.addresses.append(QHostAddress(a));
            return e;
        };
        QTest::newRow("none") << QList<NetworkInterfaceEntry>() << "127.0.0.1";
        // The address choice itself is the interface list's; its rules are tested with the mobile connect dialog.
        QTest::newRow("home network") << QList<NetworkInterfaceEntry> { entry("eth0", { "10.1.2.3" }), entry("wlan0", { "192.168.1.20" }) }
                                      << "192.168.1.20";
    }

    void lanPanelUrl()
    {
        QFETCH(QList<NetworkInterfaceEntry>, interfaces);
        QFETCH(QString, host);
        NetworkInterfaceLister::setFixedInterfaces(interfaces);
        QCOMPARE(corvane::lanPanelUrl(m_panel.get()), QString("http://%1:%2").arg(host).arg(port()));
        m_panel->stop();
        QCOMPARE(corvane::lanPanelUrl(m_panel.get()), QString());
    }

    // Holds 8090..8099: ctest runs it under a resource lock.
    void fixedPorts()
    {
        m_panel->stop();
        QList<QTcpServer *> taken;
        const auto take = [&taken](quint16 p) {
            auto *server = new QTcpServer;
            taken.append(server);
            return server->listen(QHostAddress::AnyIPv4, p);
        };
        const auto release = [&taken] { qDeleteAll(taken); taken.clear(); };
        if (!take(8090) || !take(8091)) {
            release();
            QSKIP("ports 8090 and 8091 are in use on this machine");
        }
        MotionWebPanel panel(m_controller.get());
        QVERIFY(panel.start(8090));
        QCOMPARE(panel.port(), quint16(8092));
        panel.stop();

        for (quint16 p = 8092; p <= 8099; ++p) {
            if (!take(p)) {
                release();
                QSKIP("a port of 8092..8099 is in use on this machine");
            }
        }
        QVERIFY(!panel.start(8090));
        QVERIFY(!panel.isListening());
        release();
    }
};

OSTRA_TEST_MAIN_CORE(TestMotionWebPanel)
#include "tst_motionwebpanel.moc"
