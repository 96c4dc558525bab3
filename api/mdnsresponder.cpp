#include "api/mdnsresponder.h"

#include <QDebug>
#include <QNetworkDatagram>
#include <QUdpSocket>

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

} // namespace

MdnsResponder::MdnsResponder(const QString &hostName, QObject *parent)
    : QObject(parent)
    , m_hostName(hostName)
    , m_fullName((hostName + QStringLiteral(".local")).toUtf8())
    , m_encodedName(encodeDnsName(QString::fromUtf8(m_fullName)))
{
}

MdnsResponder::~MdnsResponder()
{
    stop();
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

int MdnsResponder::answerableQuestions(const QByteArray &query, const QByteArray &encodedName)
{
    const int length = int(query.size());
    if (length < HeaderSize || (quint8(query.at(2)) & 0x80))
        return 0;
    const QByteArray ourName = encodedName.toLower();
    const int questions = readBigEndian16(query, 4);
    int answerable = 0;
    int pos = HeaderSize;
    for (int q = 0; q < questions; ++q) {
        if (pos >= length)
            break;
        const int nameLength = int(encodedName.size());
        if (pos + nameLength <= length && query.mid(pos, nameLength).toLower() == ourName) {
            pos += nameLength;
            if (pos + 4 > length)
                break;
            const quint16 type = readBigEndian16(query, pos);
            const quint16 klass = readBigEndian16(query, pos + 2);
            if ((type == TypeA || type == TypeAny) && (klass & 0x7FFF) == ClassIn)
                ++answerable;
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
    return answerable;
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

QHostAddress MdnsResponder::ipv4Of(int interfaceIndex)
{
    return firstIPv4(QNetworkInterface::interfaceFromIndex(interfaceIndex));
}

void MdnsResponder::onReadyRead()
{
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram query = m_socket->receiveDatagram();
        const QByteArray bytes = query.data();
        const int answers = answerableQuestions(bytes, m_encodedName);
        if (answers == 0)
            continue;
        // The address of the interface the question came in on reaches the asker; another
        // interface's (a container bridge, a VPN) might not.
        // The socket hears every interface; questions from one it does not serve are not its own.
        const int arrivedOn = int(query.interfaceIndex());
        if (arrivedOn > 0 && !serves(arrivedOn))
            continue;
        QHostAddress address = arrivedOn > 0 ? ipv4Of(arrivedOn) : QHostAddress();
        const bool fromArrival = !address.isNull();
        if (!fromArrival)
            address = localIPv4();
        if (address.isNull())
            continue;
        QNetworkDatagram answer(buildResponse(readBigEndian16(bytes, 0), m_encodedName, address),
                                groupAddress(), Port);
        if (fromArrival)
            answer.setInterfaceIndex(uint(arrivedOn));
        for (int i = 0; i < answers; ++i)
            m_socket->writeDatagram(answer);
    }
}

} // namespace corvane
