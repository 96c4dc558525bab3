#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QObject>
#include <QString>
#include <QStringList>

class QUdpSocket;

namespace corvane {

// Makes "<host name>.local" resolve to this PC on the local network: answers multicast DNS
// questions for the A record (or ANY) of that one name with one A record. Nothing else of
// mDNS: no probing, no announcements, no goodbyes, no other records.
class MdnsResponder : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 Port = 5353;

    explicit MdnsResponder(const QString &hostName, QObject *parent = nullptr);
    ~MdnsResponder() override;

    // Binds 5353 (shared with any other mDNS software) and joins the group on every served
    // interface; true when listening, also when already started.
    bool start();
    void stop();
    bool isListening() const { return m_socket != nullptr; }
    // The name it answers for, without ".local".
    QString hostName() const { return m_hostName; }

    // The interfaces the responder listens and answers on: by default every interface that is
    // up, running and multicast-capable, loopback excluded. Tests narrow this to interfaces
    // of their own (for example "lo"), here or through the environment variable
    // OSTRA_MDNS_INTERFACES (names separated by commas); an empty list restores the default.
    static void setServedInterfaceNames(const QStringList &names);
    static QList<QNetworkInterface> servedInterfaces();

    // DNS wire helpers, public so the wire format can be checked byte by byte.
    static QByteArray encodeDnsName(const QString &name);
    static QByteArray buildResponse(quint16 id, const QByteArray &encodedName, const QHostAddress &address);
    // How many questions of the query ask for our name's A (or ANY) record in class IN; each
    // gets its own answer. 0 for a response, a datagram shorter than a header, or one cut off
    // before its first such question ends.
    static int answerableQuestions(const QByteArray &query, const QByteArray &encodedName);
    // The first IPv4 address of the first interface that is up, running and not a loopback.
    static QHostAddress localIPv4();

private slots:
    void onReadyRead();

private:
    bool serves(int interfaceIndex) const;
    // The interface's current first IPv4 address, null when it has none.
    static QHostAddress ipv4Of(int interfaceIndex);

    QString m_hostName;
    QByteArray m_fullName;
    QByteArray m_encodedName;
    QUdpSocket *m_socket = nullptr;
    QList<QNetworkInterface> m_joined;
};

} // namespace corvane
