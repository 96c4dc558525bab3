#include "api/mdnsresponder.h"

#include <QDebug>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QVariant>

namespace corvane {

namespace {

const QHostAddress &groupAddress()
{
    static const QHostAddress group(QStringLiteral("224.0.0.251"));
    return group;
}

QStringList &servedNames()
{
    static QStringList names;
    return names;
}

constexpr int HeaderSize = 12;
constexpr quint16 TypeA = 1;
constexpr quint16 TypeAny = 255;
constexpr quint16 ClassIn = 1;
constexpr quint16 CacheFlushIn = 0x8001;
constexpr quint32 TtlSeconds = 120;
// Answers carry the largest IP TTL, by which a receiver knows they come from its own link.
constexpr int IpTtl = 255;
constexpr qint64 AnswerIntervalMs = 1000 / MdnsResponder::AnswersPerSecond;

bool isUsable(const QNetworkInterface &iface)
{
    const auto flags = iface.flags();
    return flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning);
}

QHostAddress firstIPv4(const QNetworkInterface &iface)
{
    const QList<QNetworkAddressEntry> entries = iface.addressEntries();
    for (const QNetworkAddressEntry &entry : entries) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
            return entry.ip();
    }
    return QHostAddress();
}

void appendBigEndian16(QByteArray &out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

quint16 readBigEndian16(const QByteArray &data, int pos)
{
    return quint16((quint8(data.at(pos)) << 8) | quint8(data.at(pos + 1)));
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Compared in place: every question of every datagram passes here.
bool sameNameAt(const QByteArray &data, int pos, const QByteArray &name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (asciiLower(data.at(pos + i)) != asciiLower(name.at(i)))
            return false;
    }
    return true;
}

} // namespace

MdnsResponder::MdnsResponder(const QString &hostName, QObject *parent)
    : QObject(parent)
    , m_hostName(hostName)
    , m_fullName((hostName + QStringLiteral(".local")).toUtf8())
    , m_encodedName(encodeDnsName(QString::fromUtf8(m_fullName)))
{
    m_nextPass.setSingleShot(true);
    m_nextPass.setInterval(0);
    connect(&m_nextPass, &QTimer::timeout, this, &MdnsResponder::onReadyRead);
    m_monotonic.start();
}

MdnsResponder::~MdnsResponder()
{
    stop();
}

void MdnsResponder::setClock(std::function<qint64()> clock)
{
    m_clock = std::move(clock);
}

qint64 MdnsResponder::now() const
{
    return m_clock ? m_clock() : m_monotonic.elapsed();
}

void MdnsResponder::setServedInterfaceNames(const QStringList &names)
{
    servedNames() = names;
}

QList<QNetworkInterface> MdnsResponder::servedInterfaces()
{
    QStringList names = servedNames();
    if (names.isEmpty())
        names = qEnvironmentVariable("OSTRA_MDNS_INTERFACES").split(QLatin1Char(','), Qt::SkipEmptyParts);
    QList<QNetworkInterface> served;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : all) {
        if (!isUsable(iface))
            continue;
        if (names.isEmpty()) {
            const auto flags = iface.flags();
            if (flags.testFlag(QNetworkInterface::IsLoopBack) || !flags.testFlag(QNetworkInterface::CanMulticast))
                continue;
        } else if (!names.contains(iface.name())) {
            continue;
        }
        served.append(iface);
    }
    return served;
}

bool MdnsResponder::start()
{
    if (m_socket)
        return true;
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(QHostAddress::AnyIPv4, Port,
                        QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        qWarning().noquote() << "MdnsResponder: failed to bind port" << Port << m_socket->errorString();
        delete m_socket;
        m_socket = nullptr;
        return false;
    }
    // Joined per interface, by name: a join without one needs a default route, which a
    // machine on a local network alone may not have.
    QString lastError = tr("no usable network interface");
    for (const QNetworkInterface &iface : servedInterfaces()) {
        if (m_socket->joinMulticastGroup(groupAddress(), iface))
            m_joined.append(iface);
        else
            lastError = iface.name() + QStringLiteral(": ") + m_socket->errorString();
    }
    if (m_joined.isEmpty()) {
        qWarning().noquote() << "MdnsResponder: failed to join multicast group" << lastError;
        delete m_socket;
        m_socket = nullptr;
        return false;
    }
    m_socket->setSocketOption(QAbstractSocket::MulticastTtlOption, IpTtl);
    m_addressesAt = -1;
    connect(m_socket, &QUdpSocket::readyRead, this, &MdnsResponder::onReadyRead);
    QStringList names;
    for (const QNetworkInterface &iface : std::as_const(m_joined))
        names.append(iface.name());
    qInfo().noquote() << "MdnsResponder: advertising" << QString::fromUtf8(m_fullName) << "on"
                      << names.join(QStringLiteral(", "));
    return true;
}

void MdnsResponder::stop()
{
    if (!m_socket)
        return;
    for (const QNetworkInterface &iface : std::as_const(m_joined))
        m_socket->leaveMulticastGroup(groupAddress(), iface);
    m_joined.clear();
    m_nextPass.stop();
    m_socket->close();
    delete m_socket;
    m_socket = nullptr;
}

QByteArray MdnsResponder::encodeDnsName(const QString &name)
{
    QByteArray out;
    const QStringList labels = name.split(QLatin1Char('.'));
    for (const QString &label : labels) {
        const QByteArray bytes = label.toUtf8();
        // A length byte holds at most 255; longer labels cannot be written.
        out.append(char(quint8(qMin(bytes.size(), qsizetype(255)))));
        out.append(bytes.left(255));
    }
    out.append('\0');
    return out;
}

QByteArray MdnsResponder::buildResponse(quint16 id, const QByteArray &encodedName, const QHostAddress &address)
{
    QByteArray out;
    out.reserve(26 + encodedName.size());
    appendBigEndian16(out, id);
    appendBigEndian16(out, 0x8400); // response, authoritative
    appendBigEndian16(out, 0);      // questions are not repeated
    appendBigEndian16(out, 1);      // one answer
    appendBigEndian16(out, 0);
    appendBigEndian16(out, 0);
    out.append(encodedName);
    appendBigEndian16(out, TypeA);
    appendBigEndian16(out, CacheFlushIn);
    appendBigEndian16(out, quint16(TtlSeconds >> 16));
    appendBigEndian16(out, quint16(TtlSeconds & 0xFFFF));
    appendBigEndian16(out, 4);
    const quint32 ip = address.toIPv4Address();
    appendBigEndian16(out, quint16(ip >> 16));
    appendBigEndian16(out, quint16(ip & 0xFFFF));
    return out;
}

bool MdnsResponder::asksForName(const QByteArray &query, const QByteArray &encodedName)
{
    const int length = int(query.size());
    if (length < HeaderSize || (quint8(query.at(2)) & 0x80))
        return false;
    const int questions = readBigEndian16(query, 4);
    const int nameLength = int(encodedName.size());
    int pos = HeaderSize;
    for (int q = 0; q < questions; ++q) {
        if (pos >= length)
            break;
        if (pos + nameLength <= length && sameNameAt(query, pos, encodedName)) {
            pos += nameLength;
            if (pos + 4 > length)
                break;
            const quint16 type = readBigEndian16(query, pos);
            const quint16 klass = readBigEndian16(query, pos + 2);
            if ((type == TypeA || type == TypeAny) && (klass & 0x7FFF) == ClassIn)
                return true;
        } else {
            while (pos < length) {
                const quint8 label = quint8(query.at(pos));
                if (label == 0) {
                    pos += 1;
                    break;
                }
                if ((label & 0xC0) == 0xC0) {
                    pos += 2;
                    break;
                }
                pos += label + 1;
            }
        }
        pos += 4;
    }
    return false;
}

QHostAddress MdnsResponder::localIPv4()
{
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : all) {
        if (!isUsable(iface) || iface.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const QHostAddress ip = firstIPv4(iface);
        if (!ip.isNull())
            return ip;
    }
    return QHostAddress();
}

bool MdnsResponder::serves(int interfaceIndex) const
{
    for (const QNetworkInterface &iface : m_joined) {
        if (iface.index() == interfaceIndex)
            return true;
    }
    return false;
}

bool MdnsResponder::mayAnswer(int interfaceIndex, qint64 now) const
{
    const auto due = m_answerDue.constFind(interfaceIndex);
    return due == m_answerDue.cend() || *due - now <= 1000 - AnswerIntervalMs;
}

void MdnsResponder::countAnswer(int interfaceIndex, qint64 now)
{
    qint64 &due = m_answerDue[interfaceIndex];
    due = qMax(due, now) + AnswerIntervalMs;
}

QHostAddress MdnsResponder::addressOf(int interfaceIndex, qint64 now)
{
    // Looking interfaces up costs far more than an answer; addresses change seldom.
    if (m_addressesAt < 0 || now - m_addressesAt >= AddressRefreshMs) {
        m_addresses.clear();
        const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface &iface : all) {
            if (serves(iface.index()))
                m_addresses.insert(iface.index(), firstIPv4(iface));
        }
        m_addresses.insert(0, localIPv4());
        m_addressesAt = now;
    }
    return m_addresses.value(interfaceIndex);
}

void MdnsResponder::onReadyRead()
{
    for (int read = 0; m_socket && m_socket->hasPendingDatagrams(); ++read) {
        if (read == DatagramsPerPass) {
            // The rest waits: the transmit tick and everything else queued run first.
            m_nextPass.start();
            return;
        }
        answer(m_socket->receiveDatagram(MaxQuerySize));
    }
}

void MdnsResponder::answer(const QNetworkDatagram &query)
{
    // The socket hears every interface; questions from one it does not serve are not its own.
    const int arrivedOn = int(query.interfaceIndex());
    if (arrivedOn > 0 && !serves(arrivedOn))
        return;
    // Past the rate a query is dropped before it is parsed.
    const qint64 time = now();
    if (!mayAnswer(arrivedOn, time))
        return;
    const QByteArray bytes = query.data();
    if (!asksForName(bytes, m_encodedName))
        return;
    // The address of the interface the question came in on reaches the asker; another
    // interface's (a container bridge, a VPN) might not.
    QHostAddress address = arrivedOn > 0 ? addressOf(arrivedOn, time) : QHostAddress();
    const bool fromArrival = !address.isNull();
    if (!fromArrival)
        address = addressOf(0, time);
    if (address.isNull())
        return;
    QNetworkDatagram answer(buildResponse(readBigEndian16(bytes, 0), m_encodedName, address),
                            groupAddress(), Port);
    if (fromArrival)
        answer.setInterfaceIndex(uint(arrivedOn));
    countAnswer(arrivedOn, time);
    m_socket->writeDatagram(answer);
}

} // namespace corvane
