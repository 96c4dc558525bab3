#include "motion/motionwebpanel.h"

#include "motion/motionsystemcontroller.h"
#include "platform/network/machinename.h"
#include "platform/network/networkinterfacelister.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>

namespace corvane {

namespace {

const QByteArray TextType = QByteArrayLiteral("text/plain");
const QByteArray JsonType = QByteArrayLiteral("application/json");
// Characters of a refused map that its answer repeats.
constexpr int MapEcho = 40;

std::optional<int> intParam(const QUrlQuery &query, const QString &key)
{
    if (!query.hasQueryItem(key))
        return std::nullopt;
    bool ok = false;
    const int value = query.queryItemValue(key, QUrl::FullyDecoded).toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

int intParam(const QUrlQuery &query, const QString &key, int fallback)
{
    return intParam(query, key).value_or(fallback);
}

// The page's actuator map: six channel numbers, each of 0..5 once.
std::optional<std::array<int, 6>> actuatorMap(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    std::array<int, 6> channels {};
    if (parts.size() != qsizetype(channels.size()))
        return std::nullopt;
    for (size_t k = 0; k < channels.size(); ++k) {
        bool ok = false;
        channels[k] = parts.at(qsizetype(k)).toInt(&ok, 10);
        if (!ok)
            return std::nullopt;
    }
    if (!isActuatorPermutation(channels))
        return std::nullopt;
    return channels;
}

// Just past the empty line that ends the header, looking at line ends from `from` on; -1 while
// there is none. Lines end in "\r\n", or in a bare "\n" from a request typed by hand, which
// would otherwise wait for the idle cut.
qsizetype headerEnd(const QByteArray &buffer, qsizetype from)
{
    for (qsizetype i = buffer.indexOf('\n', from); i >= 0; i = buffer.indexOf('\n', i + 1)) {
        const qsizetype lineStart = i > 0 && buffer.at(i - 1) == '\r' ? i - 1 : i;
        if (lineStart == 0 || buffer.at(lineStart - 1) == '\n')
            return i + 1;
    }
    return -1;
}

QByteArray reason(int code)
{
    switch (code) {
    case 200: return QByteArrayLiteral("OK");
    case 400: return QByteArrayLiteral("Bad Request");
    case 403: return QByteArrayLiteral("Forbidden");
    case 404: return QByteArrayLiteral("Not Found");
    case 405: return QByteArrayLiteral("Method Not Allowed");
    case 500: return QByteArrayLiteral("Internal Server Error");
    default: return QByteArrayLiteral("Conflict");
    }
}

// Whether an Origin or Referer value names the port this connection came in on, and the address
// it came in on or this machine's name.
bool namesPanel(const QByteArray &value, const QTcpSocket *socket)
{
    const QUrl url(QString::fromLatin1(value), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.port(80) != socket->localPort())
        return false;
    const QHostAddress local = socket->localAddress();
    if (url.host() == QLatin1String("localhost"))
        return local.isLoopback();
    // The panel opened by the PC's name rather than by the address in its QR code.
    if (MachineName::isNamedBy(url.host()))
        return true;
    return QHostAddress(url.host()).isEqual(local, QHostAddress::TolerantConversion);
}

// The values of the request's header lines named any of `names` (lower case), in order.
QList<QByteArray> headerValues(const QByteArray &request, std::initializer_list<const char *> names)
{
    QList<QByteArray> values;
    const QList<QByteArray> lines = request.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (std::find(names.begin(), names.end(), name) != names.end())
            values.append(line.mid(colon + 1).trimmed());
    }
    return values;
}

// A page of any other site may post a form here without asking first: a request that names its
// page must name the panel's own.
bool fromPanelPage(const QByteArray &request, const QTcpSocket *socket)
{
    const QList<QByteArray> pages = headerValues(request, {"origin", "referer"});
    return std::all_of(pages.cbegin(), pages.cend(), [socket](const QByteArray &page) { return namesPanel(page, socket); });
}

// A page of another site whose name was made to point here (DNS rebinding) sends that name as
// Host, and its browser would let it read the answers: Host must name this machine. A request
// without one comes from no browser.
bool addressedHere(const QByteArray &request)
{
    const QList<QByteArray> hosts = headerValues(request, {"host"});
    if (hosts.isEmpty())
        return true;
    if (hosts.size() > 1)
        return false;
    const QUrl url(QStringLiteral("http://") + QString::fromLatin1(hosts.first()), QUrl::StrictMode);
    return url.isValid() && url.userInfo().isEmpty() && url.path().isEmpty() && MachineName::isThisMachine(url.host());
}

} // namespace

MotionWebPanel::MotionWebPanel(MotionSystemController *controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
    , m_server(new QTcpServer(this))
    , m_idleSweep(new QTimer(this))
{
    m_idleSweep->setInterval(IdleSweepMs);
    m_idleSweep->setTimerType(Qt::PreciseTimer);
    connect(m_server, &QTcpServer::newConnection, this, &MotionWebPanel::onNewConnection);
    connect(m_idleSweep, &QTimer::timeout, this, &MotionWebPanel::onIdleSweep);
    if (m_controller) {
        connect(m_controller, &MotionSystemController::statusLine, this, &MotionWebPanel::appendLog);
        connect(m_controller, &MotionSystemController::errorOccurred, this,
                [this](const QString &message) { appendLog(QStringLiteral("! ") + message); });
        connect(m_controller, &MotionSystemController::settingsWritten, this, &MotionWebPanel::onSettingsWritten);
    }
}

MotionWebPanel::~MotionWebPanel()
{
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it)
        it.key()->disconnect(this);
}

bool MotionWebPanel::start(quint16 basePort)
{
    if (m_server->isListening())
        return true;
    for (int offset = 0; offset < PortCount; ++offset) {
        const int candidate = basePort + offset;
        if (candidate > 0xFFFF)
            break;
        if (m_server->listen(QHostAddress::AnyIPv4, quint16(candidate))) {
            m_port = m_server->serverPort();
            emit statusChanged();
            return true;
        }
    }
    return false;
}

void MotionWebPanel::stop()
{
    if (!m_server->isListening())
        return;
    m_server->close();
    emit statusChanged();
}

bool MotionWebPanel::isListening() const
{
    return m_server->isListening();
}

void MotionWebPanel::appendLog(const QString &text)
{
    MotionPanelLogEntry entry;
    entry.seq = ++m_lastSeq;
    entry.time = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
    entry.text = text;
    m_log.append(entry);
    while (m_log.size() > LogLimit)
        m_log.removeFirst();
}

void MotionWebPanel::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        // The server listens on IPv4 alone: a peer is counted by its own address.
        const QHostAddress source = socket->peerAddress();
        if (connectionsFrom(source) >= MaxConnectionsPerAddress) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (m_connections.size() >= MaxConnections) {
            // The oldest has had the longest to send its request: the phone's comes whole at once.
            // One waiting for its save is owed its answer: with all of them waiting, the newcomer
            // goes.
            auto oldest = m_connections.cend();
            for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
                if (it->savedBy == 0 && (oldest == m_connections.cend() || it->arrival < oldest->arrival))
                    oldest = it;
            }
            if (oldest == m_connections.cend()) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            drop(oldest.key());
        }
        Connection connection;
        connection.source = source;
        connection.arrival = ++m_arrivals;
        m_connections.insert(socket, connection);
        connect(socket, &QTcpSocket::readyRead, this, &MotionWebPanel::onSocketReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
            if (m_connections.isEmpty())
                m_idleSweep->stop();
        });
        if (!m_idleSweep->isActive())
            m_idleSweep->start();
    }
}

void MotionWebPanel::onSocketReadyRead()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || !m_connections.contains(socket))
        return;
    Connection &connection = m_connections[socket];
    if (connection.answered) {
        socket->readAll();
        return;
    }
    // Everything waiting is read so the close is clean, but the buffer never holds more than
    // a header may need. Only the new line ends are looked at: a request sent byte by byte
    // costs no more than one sent whole.
    const QByteArray chunk = socket->readAll();
    const qsizetype scanned = connection.buffer.size();
    connection.buffer.append(chunk.left(HeaderLimit + 1 - scanned));
    const qsizetype end = headerEnd(connection.buffer, scanned);
    if (end < 0 && connection.buffer.size() <= HeaderLimit)
        return;
    connection.answered = true;
    if (end < 0 || end > HeaderLimit)
        answer(socket, 400, QStringLiteral("bad request"));
    else
        handleRequest(socket, connection.buffer.left(end));
    // The buffer is not needed any more; the socket goes when the peer has closed (a settings
    // update's once it is answered).
    const auto open = m_connections.find(socket);
    if (open != m_connections.end()) {
        open->buffer.clear();
        if (open->savedBy != 0)
            return;
    }
    socket->disconnectFromHost();
}

void MotionWebPanel::onIdleSweep()
{
    QList<QTcpSocket *> dropped;
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        // One waiting for its save is not idle: the disk is slow, and the phone gets its answer.
        if (it->savedBy == 0 && ++it->sweeps >= IdleSweeps)
            dropped.append(it.key());
    }
    for (QTcpSocket *socket : dropped)
        drop(socket);
}

int MotionWebPanel::connectionsFrom(const QHostAddress &source) const
{
    int count = 0;
    for (const Connection &connection : m_connections)
        count += connection.source == source ? 1 : 0;
    return count;
}

void MotionWebPanel::drop(QTcpSocket *socket)
{
    m_connections.remove(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    if (m_connections.isEmpty())
        m_idleSweep->stop();
}

void MotionWebPanel::answer(QTcpSocket *socket, int code, const QString &text)
{
    sendResponse(socket, code, TextType, text.toUtf8());
}

void MotionWebPanel::sendResponse(QTcpSocket *socket, int code, const QByteArray &type, const QByteArray &body)
{
    QByteArray out;
    out.reserve(body.size() + 128);
    out.append("HTTP/1.1 ").append(QByteArray::number(code)).append(' ').append(reason(code)).append("\r\n");
    out.append("Content-Type: ").append(type);
    out.append("\r\nContent-Length: ").append(QByteArray::number(body.size()));
    if (code == 405)
        out.append("\r\nAllow: GET, HEAD, POST");
    out.append("\r\nConnection: close\r\n\r\n");
    const auto connection = m_connections.constFind(socket);
    if (connection == m_connections.cend() || !connection->headOnly)
        out.append(body);
    socket->write(out);
}

void MotionWebPanel::handleRequest(QTcpSocket *socket, const QByteArray &request)
{
    QByteArray requestLine = request.left(request.indexOf('\n'));
    if (requestLine.endsWith('\r'))
        requestLine.chop(1);
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() < 2) {
        answer(socket, 400, QStringLiteral("bad request"));
        return;
    }
    const QString method = QString::fromLatin1(parts.at(0));
    const QUrl url(QString::fromLatin1(parts.at(1)), QUrl::TolerantMode);
    const QString path = url.path(QUrl::FullyDecoded);
    const QUrlQuery query(url);
    // Only POST changes anything: a browser sends HEAD and the rest from any page without
    // naming it, so they must not reach a route that acts.
    const bool head = method == QLatin1String("HEAD");
    const bool get = head || method == QLatin1String("GET");
    const bool post = method == QLatin1String("POST");
    if (!get && !post) {
        answer(socket, 405, QStringLiteral("method not allowed"));
        return;
    }
    m_connections[socket].headOnly = head;
    if (!addressedHere(request)) {
        answer(socket, 403, QStringLiteral("refused: the Host names another site"));
        return;
    }
    if (post && !fromPanelPage(request, socket)) {
        answer(socket, 403, QStringLiteral("refused: sent from another page"));
        return;
    }

    if (get && (path == QLatin1String("/") || path == QLatin1String("/index.html"))) {
        QFile page(QStringLiteral(":/web/motion-panel.html"));
        const QByteArray body = page.open(QIODevice::ReadOnly)
                                    ? page.readAll()
                                    : QByteArrayLiteral("<!doctype html><title>QOR Motion</title><p>Web panel page missing from this build.");
        sendResponse(socket, 200, QByteArrayLiteral("text/html; charset=utf-8"), body);
    } else if (get && path == QLatin1String("/status")) {
        sendResponse(socket, 200, JsonType, statusJson(intParam(query, QStringLiteral("since"), 0)));
    } else if (get && path == QLatin1String("/cfg")) {
        sendResponse(socket, 200, JsonType, configJson());
    } else if (post && path == QLatin1String("/cfg")) {
        updateSettings(socket, query);
    } else if (post && path == QLatin1String("/test")) {
        startTest(socket, query);
    } else if (post && path == QLatin1String("/buzz")) {
        const QString refusal = checkTestAllowed();
        // The controller sends only the low byte of an axis: anything but a real actuator is refused.
        const int axis = intParam(query, QStringLiteral("axis"), 0);
        if (!refusal.isEmpty())
            answer(socket, 409, refusal);
        else if (axis < 0 || axis > 5)
            answer(socket, 400, QStringLiteral("bad params"));
        else if (m_controller->vibrate(axis, 20, 8, 2))
            answer(socket, 200, QStringLiteral("buzzing"));
        else
            answer(socket, 409, QStringLiteral("buzz refused"));
    } else if (post && path == QLatin1String("/move")) {
        const std::optional<int> axis = intParam(query, QStringLiteral("axis"));
        const std::optional<int> mm = intParam(query, QStringLiteral("mm"));
        if (!axis || !mm)
            answer(socket, 400, QStringLiteral("bad params"));
        else if (m_controller->moveAxis(*axis, *mm))
            answer(socket, 200, QStringLiteral("ax%1 -> %2mm").arg(*axis).arg(*mm));
        else
            answer(socket, 409, QStringLiteral("move refused (need connected + ready, no test)"));
    } else if (post && (path == QLatin1String("/home") || path == QLatin1String("/release") || path == QLatin1String("/cal"))) {
        if (!m_controller->isConnected()) {
            answer(socket, 409, QStringLiteral("controller not connected"));
        } else if (path == QLatin1String("/release")) {
            m_controller->release();
            answer(socket, 200, QStringLiteral("released"));
        } else if (m_controller->isBusy()) {
            answer(socket, 409, QStringLiteral("test running - wait"));
        } else {
            if (path == QLatin1String("/home"))
                m_controller->home();
            else
                m_controller->requestCalibration();
            answer(socket, 200, QStringLiteral("ok"));
        }
    } else {
        answer(socket, 404, QStringLiteral("not found"));
    }
}

void MotionWebPanel::updateSettings(QTcpSocket *socket, const QUrlQuery &query)
{
    if (m_controller->isBusy()) {
        answer(socket, 409, QStringLiteral("test running - wait"));
        return;
    }
    MotionSystemSettings s = m_controller->settings();
    // The settings the phone set, each stored whatever it held before.
    QStringList set;
    const auto take = [&](const char *param, int &field, const char *key) {
        if (const std::optional<int> value = intParam(query, QLatin1String(param))) {
            field = *value;
            set.append(QLatin1String(key));
        }
    };
    take("st", s.strokeMm, "strokeMm");
    take("i", s.intensity, "intensity");
    take("t", s.travelMm, "travelMm");
    take("s", s.speedPct, "speedPct");
    take("a", s.accelPct, "accelPct");
    take("p", s.parkMm, "parkMm");
    take("ss", s.sleepSeconds, "sleepSeconds");
    if (const std::optional<int> sleep = intParam(query, QStringLiteral("sl"))) {
        s.sleepEnabled = *sleep != 0;
        set.append(QStringLiteral("sleepEnabled"));
    }
    if (query.hasQueryItem(QStringLiteral("map"))) {
        // A map the board cannot use would be replaced by the identity map: refused, nothing saved.
        const QString text = query.queryItemValue(QStringLiteral("map"), QUrl::FullyDecoded);
        const std::optional<std::array<int, 6>> channels = actuatorMap(text);
        if (!channels) {
            const QString shown = text.size() > MapEcho ? text.left(MapEcho) + QStringLiteral("...") : text;
            answer(socket, 400, QStringLiteral("bad map \"%1\" - needs channels 0..5, each once").arg(shown));
            return;
        }
        s.actuatorSlots = *channels;
        set.append(QStringLiteral("actuatorSlots"));
    }
    if (set.isEmpty()) {
        answer(socket, 400, QStringLiteral("bad params"));
        return;
    }
    // Answered once the write has ended: the phone must not read "saved" before it is on disk.
    m_connections[socket].savedBy = m_controller->applySettings(s, set);
}

void MotionWebPanel::onSettingsWritten(quint64 ticket, bool ok)
{
    const QList<QTcpSocket *> sockets = m_connections.keys();
    for (QTcpSocket *socket : sockets) {
        Connection &connection = m_connections[socket];
        if (connection.savedBy == 0 || connection.savedBy > ticket)
            continue;
        connection.savedBy = 0;
        if (ok) {
            appendLog(tr("Settings saved from the web panel"));
            answer(socket, 200, QStringLiteral("saved & applied"));
        } else {
            // In use on the platform, but gone at the next start.
            answer(socket, 500, QStringLiteral("applied but not saved - the settings could not be written"));
        }
        socket->disconnectFromHost();
    }
}

void MotionWebPanel::startTest(QTcpSocket *socket, const QUrlQuery &query)
{
    const QString refusal = checkTestAllowed();
    if (!refusal.isEmpty()) {
        answer(socket, 409, refusal);
        return;
    }
    const QString kind = query.queryItemValue(QStringLiteral("kind"), QUrl::FullyDecoded);
    const int secs = intParam(query, QStringLiteral("secs"), 5);
    int axis = -1;
    int dof = -1;
    if (kind == QLatin1String("single")) {
        axis = intParam(query, QStringLiteral("axis"), -1);
        if (axis < -1 || axis > 5) {
            answer(socket, 400, QStringLiteral("bad params"));
            return;
        }
    } else if (kind != QLatin1String("haptic")) {
        dof = intParam(query, QStringLiteral("dof")).value_or(-1);
        if (dof < 0 || dof > 4) {
            answer(socket, 400, QStringLiteral("bad params"));
            return;
        }
    }
    bool started = false;
    if (kind == QLatin1String("haptic")) {
        started = m_controller->vibrate(-1, intParam(query, QStringLiteral("amp"), 5), intParam(query, QStringLiteral("hz"), 30), secs);
    } else if (kind == QLatin1String("single")) {
        started = m_controller->startBoardTest(axis, intParam(query, QStringLiteral("travel"), 30), intParam(query, QStringLiteral("hz"), 50), secs);
    } else {
        const int travel = intParam(query, QStringLiteral("travel")).value_or(intParam(query, QStringLiteral("force"), 30));
        started = m_controller->startDofTest(dof, travel, intParam(query, QStringLiteral("hz"), 50), secs);
    }
    if (started)
        answer(socket, 200, QStringLiteral("test started"));
    else
        answer(socket, 409, QStringLiteral("test refused"));
}

QString MotionWebPanel::checkTestAllowed() const
{
    if (!m_controller->isConnected())
        return QStringLiteral("controller not connected");
    if (m_controller->isBusy())
        return QStringLiteral("test already running");
    if (m_controller->state() != QLatin1String("ready"))
        return QStringLiteral("controller is \"%1\" - needs \"ready\"").arg(m_controller->state());
    return QString();
}

namespace {

QJsonObject configObject(const MotionSystemSettings &s)
{
    QJsonArray map;
    for (int slot : s.actuatorSlots)
        map.append(slot);
    const QJsonObject config {
        { QStringLiteral("i"), s.intensity },
        { QStringLiteral("t"), s.travelMm },
        { QStringLiteral("s"), s.speedPct },
        { QStringLiteral("a"), s.accelPct },
        { QStringLiteral("p"), s.parkMm },
        { QStringLiteral("st"), s.strokeMm },
        { QStringLiteral("sl"), s.sleepEnabled ? 1 : 0 },
        { QStringLiteral("ss"), s.sleepSeconds },
        { QStringLiteral("map"), map },
    };
    return config;
}

} // namespace

QByteArray MotionWebPanel::configJson() const
{
    return QJsonDocument(configObject(m_controller->settings())).toJson(QJsonDocument::Compact);
}

QByteArray MotionWebPanel::statusJson(int since) const
{
    QJsonObject axes;
    const QMap<int, int> positions = m_controller->axisPositions();
    for (auto it = positions.cbegin(); it != positions.cend(); ++it)
        axes.insert(QString::number(it.key()), it.value());
    QJsonArray log;
    for (const MotionPanelLogEntry &entry : m_log) {
        if (entry.seq > since)
            log.append(QJsonArray { entry.seq, entry.time, entry.text });
    }
    const QJsonObject status {
        { QStringLiteral("connected"), m_controller->isConnected() },
        { QStringLiteral("state"), m_controller->state() },
        { QStringLiteral("platform"), m_controller->platformDof() },
        { QStringLiteral("testRunning"), m_controller->isBusy() },
        { QStringLiteral("sleep"), QString(m_controller->sleepFlag()) },
        { QStringLiteral("mapConfirmed"), m_controller->isMapConfirmed() },
        { QStringLiteral("live"), m_controller->hasLivePositions() },
        { QStringLiteral("axes"), axes },
        { QStringLiteral("cfg"), configObject(m_controller->settings()) },
        { QStringLiteral("log"), log },
        { QStringLiteral("seq"), m_lastSeq },
    };
    return QJsonDocument(status).toJson(QJsonDocument::Compact);
}

QString lanPanelUrl(const MotionWebPanel *panel)
{
    if (!panel || !panel->isListening())
        return QString();
    return QStringLiteral("http://%1:%2").arg(NetworkInterfaceLister::bestLanAddress()).arg(panel->port());
}

} // namespace corvane
