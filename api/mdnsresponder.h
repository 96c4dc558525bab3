#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QNetworkDatagram;
class QUdpSocket;

namespace corvane {

// Makes "<host name>.local" resolve to this PC on the local network: answers multicast DNS
// questions for the A record (or ANY) of that one name with one A record. Nothing else of
// mDNS: no probing, no announcements, no goodbyes, no other records.
// It shares the GUI thread with the 7 ms transmit tick, so a flood of queries must cost little
// there and draw few answers: it reads a bounded number of datagrams per pass, answers a query
// once however often it repeats the question, and at most AnswersPerSecond times a second on
// each interface.
class MdnsResponder : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 Port = 5353;
    // Datagrams read in one pass; the rest wait until the event loop has had its turn.
    static constexpr int DatagramsPerPass = 32;
    // Answers per second and interface, in bursts of at most as many. A resolver asks now and
    // then, and the answer is multicast, so every resolver on the link hears each one.
    static constexpr int AnswersPerSecond = 10;
    // The largest mDNS message; anything longer is cut here, so a pass reads a bounded amount.
    static constexpr int MaxQuerySize = 9000;
    // Interface addresses are looked up again when the ones held are older than this.
    static constexpr int AddressRefreshMs = 5000;

    explicit MdnsResponder(const QString &hostName, QObject *parent = nullptr);
    ~MdnsResponder() override;

    // Binds 5353 (shared with any other mDNS software) and joins the group on every served
    // interface; true when listening, also when already started.
    bool start();
    void stop();
    bool isListening() const { return m_socket != nullptr; }
    // The name it answers for, without ".local".
    QString hostName() const { return m_hostName; }

    // Milliseconds on a monotonic clock (rate of answers, age of the addresses held); tests
    // pass their own.
    void setClock(std::function<qint64()> clock);

    // The interfaces the responder listens and answers on: by default every interface that is
    // up, running and multicast-capable, loopback excluded. Tests narrow this to interfaces
    // of their own (for example "lo"), here or through the environment variable
    // OSTRA_MDNS_INTERFACES (names separated by commas); an empty list restores the default.
    static void setServedInterfaceNames(const QStringList &names);
    static QList<QNetworkInterface> servedInterfaces();

    // DNS wire helpers, public so the wire format can be checked byte by byte.
    static QByteArray encodeDnsName(const QString &name);
    static QByteArray buildResponse(quint16 id, const QByteArray &encodedName, const QHostAddress &address);
    // Whether a question of the query asks for our name's A (or ANY) record in class IN; such a
    // query gets one answer, however many of its questions ask. False for a response, a
    // datagram shorter than a header, or one cut off before its first such question ends.
    static bool asksForName(const QByteArray &query, const QByteArray &encodedName);
    // The first IPv4 address of the first interface that is up, running and not a loopback.
    static QHostAddress localIPv4();

private slots:
    void onReadyRead();

private:
    void answer(const QNetworkDatagram &query);
    bool serves(int interfaceIndex) const;
    // Whether the interface's share of answers has room now.
    bool mayAnswer(int interfaceIndex, qint64 now) const;
    void countAnswer(int interfaceIndex, qint64 now);
    // The first IPv4 address of the interface (null when it has none), or of the PC for
    // interface 0, from the addresses held.
    QHostAddress addressOf(int interfaceIndex, qint64 now);
    qint64 now() const;

    QString m_hostName;
    QByteArray m_fullName;
    QByteArray m_encodedName;
    QUdpSocket *m_socket = nullptr;
    QList<QNetworkInterface> m_joined;
    QTimer m_nextPass;
    // Per interface: when its next answer is due if answers went out at the steady rate; an
    // answer may go out up to a second's share early.
    QHash<int, qint64> m_answerDue;
    QHash<int, QHostAddress> m_addresses;
    qint64 m_addressesAt = -1;
    std::function<qint64()> m_clock;
    QElapsedTimer m_monotonic;
};

} // namespace corvane
