#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class QJsonDocument;
class QThread;
class QWebSocket;
struct QJsonParseError;

namespace corvane {

class WsHandler;

// Gives the clients a step each in turn, from `next` on (a step may remove a client from the list
// it was given: the turns go on over the list as it was), until `budgetNs` is spent or a whole
// round had nothing to do; true when something may still wait (false also once `owner` is gone).
bool inTurns(const QObject *owner, const QList<QWebSocket *> clients, qsizetype &next, qint64 budgetNs,
             const std::function<bool(QWebSocket *)> &step);

// The clients' requests from their arrival until their replies have gone. A stop takes effect
// when it arrives, whatever else waits, and again after each request that reached the machine
// whole before it (from any client) and took effect after it; every other request in its client's
// order, once the one before it has been answered, however long that takes (a connect waits
// seconds for a busy port), and after every message of another client that came before it and
// is still being read. A reply goes in its client's order once what its request stored is
// on disk; one that waited tells the state as it is when it goes. A client behind on reading
// has its requests wait until it takes its replies. A client whose requests wait beyond a limit
// has its further requests, stops aside, refused at once; one whose requests and refusals
// waiting pass a second limit is let go: of what it sends from then on, only its stops and
// heartbeats take effect.
class RequestQueue : public QObject
{
    Q_OBJECT
public:
    // What of one client's requests may wait behind one that waits to take effect or to be
    // stored, counting each text and what it holds beside it: about two of the largest messages,
    // or some five hundred small ones.
    static constexpr qint64 MaxWaitingBytes = 128 * 1024;
    // What of one client's requests and refusals (each one, alike or not) may wait at most:
    // past it the client has sent some four thousand requests that cannot be answered yet, behind
    // a slow write or its own reading, and is let go (`overflowed`), its stops still taking
    // effect. Messages still being read count apart.
    static constexpr qint64 MaxHeldBytes = 1024 * 1024;
    // Time a pass of the event loop spends applying requests and sending replies (the 7 ms tick
    // shares the thread); what is left waits for the next pass.
    static constexpr qint64 TurnBudgetNs = 1'000'000;
    // A message this long at most is read when it arrives (in 50 µs at worst); a longer one on a
    // thread of its own: a peer sending the longest back to back would take most of the thread of
    // the 7 ms tick.
    static constexpr qsizetype MaxReadAtOnceChars = 4096;

    // What the queue needs of the server.
    struct Server
    {
        // Sends a reply to a client still connected.
        std::function<void(QWebSocket *, const QJsonObject &)> send;
        // Whether a reply may go to the client now: it has taken what it was sent before.
        std::function<bool(QWebSocket *)> mayReceive;
        // The server's own answer to a request; empty for an event that is not its own.
        std::function<QJsonObject(QWebSocket *, const QString &event, const QJsonObject &data)> ownAnswer;
        // Where the client's stream ends of what has reached the machine, read or not; -1 once
        // nothing more is taken from it.
        std::function<qint64(QWebSocket *)> arrived;
        // The same of a connection still opening (see expect), counted from the end of its
        // opening request.
        std::function<qint64(quint64 connection)> arrivedOpening;
        // Takes in the connections the system holds for the server, not yet accepted.
        std::function<void()> admitWaiting;
    };

    RequestQueue(Server server, QObject *parent);
    ~RequestQueue() override;

    void registerHandler(WsHandler *handler);
    // A connection in its opening handshake: what it sent with it reached the machine before the
    // stops read meanwhile.
    void expect(quint64 connection);
    // Its handshake failed or it was cut.
    void abandon(quint64 connection);
    // The connection became `client`.
    void open(QWebSocket *client, quint64 connection);
    // A message the client sent, ending at `end` in its stream: a stop takes effect now, anything
    // else in its order.
    void take(QWebSocket *client, const QString &message, qint64 end);
    // The client has gone: its replies go nowhere, what it sent still takes effect.
    void leave(QWebSocket *client);
    // Holds nothing of the client (any more).
    bool isDone(QWebSocket *client) const;
    void forget(QWebSocket *client);
    void clear();
    // The client takes replies again.
    void resume(QWebSocket *client);
    // What the client's messages still being read hold.
    qint64 unreadBytes(QWebSocket *client) const;
    // See WebSocketServer::isHandlingRequest.
    bool isHandlingRequest() const;

signals:
    // A client that left has nothing more here.
    void drained(QWebSocket *client);
    // A long message of the client's has been read.
    void shrunk(QWebSocket *client);
    // The client's requests and refusals waiting passed MaxHeldBytes: it must be let go. Of what
    // it sends from now on, only what applies on arrival takes effect.
    void overflowed(QWebSocket *client);

private:
    // One request, from its arrival until its reply has gone.
    struct Entry
    {
        qint64 bytes = 0; // counted while it waits
        bool refused = false; // for too much waiting: counted apart
        int repeats = 1; // the requests in a row it refuses
        bool parsed = false;
        bool started = false; // taken in hand: applied, or answered without
        bool later = false; // past the handler's call: a reply or report now comes from outside it
        bool answered = false;
        bool stored = false;
        QPointer<WsHandler> handler; // none: the server answers it itself
        QString event;
        QJsonObject data;
        QJsonObject reply;
        QString failure;
        qint64 end = 0; // where it ends in its client's stream
        quint64 arrival = 0; // order of arrival among every client's messages
    };
    using EntryPtr = std::shared_ptr<Entry>;
    // Where each connection's stream ended of what had reached the machine, by connection.
    using Arrived = QHash<quint64, qint64>;

    // A stop to apply again after each request of a connection that ends by `end` in its stream
    // and takes effect after the stop: it reached the machine whole before the stop, read or
    // not. One for each stop's event, at the furthest end any of them saw.
    struct Barrier
    {
        qint64 end = 0;
        QPointer<WsHandler> handler;
        QString event;
        QJsonObject data;
    };

    // The stops to apply again after the request in hand at a loop level.
    struct Holding
    {
        int loopLevel = 0;
        QList<Barrier> stops;
    };

    struct Inbox
    {
        QQueue<EntryPtr> entries;
        quint64 serial = 0; // tells it from a later client at the same address in memory
        quint64 connection = 0;
        qsizetype next = 0; // entries at the front taken in hand
        EntryPtr inHand; // the last request taken in its order; the next waits for its answer
        qint64 unreadBytes = 0; // of its messages on the reader thread
        qint64 waitingBytes = 0;
        qint64 refusedBytes = 0;
        qint64 takenEnd = 0; // where in its stream the last message taken ends
        bool gone = false;
        bool overflowed = false;
    };

    // A message read: a stop takes effect now, a request past the limit is refused now.
    // `arrivedThen`: where the other connections stood when it arrived, if that was before now.
    void parsed(QWebSocket *client, const EntryPtr &entry, const QJsonDocument &document, const QJsonParseError &error,
                const Arrived *arrivedThen = nullptr);
    // Where every connection but the client's stands now, accepting those the system holds.
    Arrived arrivedElsewhere(QWebSocket *client);
    // The request a message holds, or the refusal of one that holds none.
    void read(Entry &entry, const QJsonDocument &document, const QJsonParseError &parseError) const;
    // Taken in hand, answered and stored: its reply waits only for its turn, or for its client.
    static bool isReady(const Entry &entry);
    // Taken in hand and waiting for its answer or for the disk: what follows it waits for it.
    static bool isWaiting(const Entry &entry);
    bool isStop(const Entry &entry) const;
    bool appliesOnArrival(const Entry &entry) const;
    // The stop holds against what every connection had sent when it came, as `arrived` tells
    // (the client's own up to the stop).
    void holdAgainst(QWebSocket *client, const Entry &stop, const Arrived &arrived);
    // Lets go of the client once it holds more than MaxHeldBytes: what waits of it is dropped,
    // and only what applies on arrival takes effect from now on.
    void checkHeld(QWebSocket *client);
    void apply(QWebSocket *client, const EntryPtr &entry);
    // Calls the handler; the reply goes once it is answered, stored and first in its client's order.
    void ask(const EntryPtr &entry);
    // Takes the client's next request in hand, in its order; false when none may be.
    bool applyNext(QWebSocket *client);
    // Sends the client's first reply if it may go; `fresh`: the request just answered, whose
    // reply tells the state of now as it is.
    bool answerNext(QWebSocket *client, const Entry *fresh = nullptr);
    QJsonObject replyOf(const Entry &entry, bool fresh);
    // Of the stops to apply again after the requests in hand, those the handler's state no longer
    // holds, changed from outside those requests.
    void dropUndoneStops(const WsHandler *handler);
    void scheduleTurns();
    void takeTurns();
    void settle(QWebSocket *client);

    Server m_server;
    QHash<QString, WsHandler *> m_handlers;
    QHash<QWebSocket *, Inbox> m_inboxes;
    QSet<quint64> m_opening; // the connections still opening
    QHash<quint64, QList<Barrier>> m_barriers; // by connection
    quint64 m_arrivals = 0;
    QList<quint64> m_unparsed; // the arrival of each message on the reader thread, in order
    QList<QWebSocket *> m_clients; // in the order of their turns
    quint64 m_serials = 0;
    bool m_turnsQueued = false;
    qsizetype m_nextTurn = 0;
    // The event loop level of each request with a handler, innermost last.
    QList<int> m_requestLoopLevels;
    QList<Holding *> m_holding; // innermost last
    // Long messages are read there, by jobs run in the context of m_reader, which lives there.
    QThread *m_readerThread = nullptr;
    QObject *m_reader = nullptr;
};

} // namespace corvane
