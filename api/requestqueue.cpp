#include "api/requestqueue.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QThread>
#include <QWebSocket>

#include <algorithm>
#include <utility>

#include "api/wshandler.h"
#include "api/wsjson.h"
#include "platform/storage/filewriter.h"

namespace corvane {

using wsjson::echoed;
using wsjson::FieldReader;

namespace {

const QString kEvent = QStringLiteral("event");
const QString kData = QStringLiteral("data");
const QString kMessage = QStringLiteral("message");
const QString kSuccess = QStringLiteral("success");

// What a waiting request holds beside its text.
constexpr qint64 RequestBytes = 256;

} // namespace

bool inTurns(const QObject *owner, const QList<QWebSocket *> clients, qsizetype &next, qint64 budgetNs,
             const std::function<bool(QWebSocket *)> &step)
{
    QElapsedTimer spent;
    spent.start();
    const QPointer<const QObject> self = owner;
    // Clients passed in a row with nothing to do: once every client has been, nothing waits.
    qsizetype idle = 0;
    while (idle < clients.size() && spent.nsecsElapsed() < budgetNs) {
        if (next >= clients.size())
            next = 0;
        const bool busy = step(clients.at(next++));
        if (!self)
            return false;
        idle = busy ? 0 : idle + 1;
    }
    return idle < clients.size();
}

RequestQueue::RequestQueue(Server server, QObject *parent)
    : QObject(parent)
    , m_server(std::move(server))
    , m_readerThread(new QThread(this))
{
    m_readerThread->setObjectName(QStringLiteral("API reader"));
    m_reader = new QObject;
    m_reader->moveToThread(m_readerThread);
    connect(m_readerThread, &QThread::finished, m_reader, &QObject::deleteLater);
    m_readerThread->start();
}

RequestQueue::~RequestQueue()
{
    // Its last results are dropped with this object's posted events.
    m_readerThread->quit();
    m_readerThread->wait();
}

void RequestQueue::registerHandler(WsHandler *handler)
{
    const QStringList events = handler->supportedEvents();
    for (const QString &event : events)
        m_handlers.insert(event, handler);
    // What it pushes may be a start made while a request waits.
    connect(handler, &WsHandler::pushEvent, this, [this, handler] { dropUndoneStops(handler); });
}

void RequestQueue::expect(quint64 connection)
{
    m_opening.insert(connection);
}

void RequestQueue::abandon(quint64 connection)
{
    m_opening.remove(connection);
    m_barriers.remove(connection);
}

void RequestQueue::open(QWebSocket *client, quint64 connection)
{
    Inbox inbox;
    inbox.serial = ++m_serials;
    inbox.connection = connection;
    // What it sent with its opening request keeps the stops read meanwhile, by its connection.
    m_opening.remove(connection);
    m_inboxes.insert(client, inbox);
    m_clients.append(client);
}

bool RequestQueue::isHandlingRequest() const
{
    // A request's change that its file takes back is the request's too.
    return (!m_requestLoopLevels.isEmpty() && m_requestLoopLevels.constLast() == QThread::currentThread()->loopLevel())
           || FileWriter::shared().reportingFor() == this;
}

qint64 RequestQueue::unreadBytes(QWebSocket *client) const
{
    const auto inbox = m_inboxes.constFind(client);
    return inbox == m_inboxes.cend() ? 0 : inbox->unreadBytes;
}

void RequestQueue::take(QWebSocket *client, const QString &message, qint64 end)
{
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end())
        return;
    const auto entry = std::make_shared<Entry>();
    entry->bytes = message.size() + RequestBytes;
    entry->end = end;
    entry->arrival = ++m_arrivals;
    inbox->entries.enqueue(entry);
    inbox->takenEnd = end;
    if (message.size() <= MaxReadAtOnceChars) {
        inbox->waitingBytes += entry->bytes;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
        parsed(client, entry, document, error);
        return;
    }
    inbox->unreadBytes += entry->bytes;
    const quint64 serial = inbox->serial;
    m_unparsed.append(entry->arrival);
    // Should it be a stop, it holds against what had arrived by now.
    const Arrived arrived = arrivedElsewhere(client);
    QMetaObject::invokeMethod(m_reader, [this, client, serial, entry, message, arrived] {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
        QMetaObject::invokeMethod(this, [this, client, serial, entry, document, error, arrived] {
            m_unparsed.removeOne(entry->arrival);
            scheduleTurns();
            const auto inbox = m_inboxes.find(client);
            if (inbox == m_inboxes.end() || inbox->serial != serial)
                return; // gone meanwhile
            inbox->unreadBytes -= entry->bytes;
            inbox->waitingBytes += entry->bytes;
            parsed(client, entry, document, error, &arrived);
            emit shrunk(client);
        });
    });
}

void RequestQueue::parsed(QWebSocket *client, const EntryPtr &entry, const QJsonDocument &document,
                          const QJsonParseError &error, const Arrived *arrivedThen)
{
    read(*entry, document, error);
    entry->parsed = true;
    const auto inbox = m_inboxes.find(client);
    if (isStop(*entry)) {
        // Now, answering in its client's order. What this client or another sent before it and
        // takes effect after it does not undo it: it is applied again after each of those.
        holdAgainst(client, *entry, arrivedThen ? *arrivedThen : arrivedElsewhere(client));
        apply(client, entry);
    } else if (appliesOnArrival(*entry)) {
        apply(client, entry);
    } else if (inbox->overflowed) {
        // Let go: past the limit nothing else it sent takes effect, nor is answered.
        inbox->waitingBytes -= entry->bytes;
        inbox->entries.removeOne(entry);
        if (inbox->gone)
            settle(client);
        return;
    } else if (!entry->answered && inbox->waitingBytes - entry->bytes > MaxWaitingBytes && isWaiting(*inbox->entries.head())) {
        // Refused at once, it holds only its place in its client's order, and its reply.
        inbox->waitingBytes -= entry->bytes;
        entry->bytes = RequestBytes;
        inbox->refusedBytes += entry->bytes;
        entry->refused = true;
        entry->started = entry->answered = entry->stored = true;
        const QString message = QStringLiteral("Too many requests waiting for the disk: try again shortly");
        entry->reply = entry->handler ? entry->handler->refusedReply(entry->event, message)
                                      : QJsonObject{{kEvent, QStringLiteral("error")}, {kMessage, message}};
        entry->handler = nullptr;
        entry->event.clear();
        entry->data = QJsonObject();
        // A flood of one request holds one refusal, counted as many.
        // A long one is refused once read on the reader thread, with later ones behind it already.
        if (const qsizetype at = inbox->entries.lastIndexOf(entry); at > 0) {
            Entry &previous = *inbox->entries.at(at - 1);
            if (previous.refused && previous.reply == entry->reply) {
                ++previous.repeats;
                previous.bytes += entry->bytes;
                inbox->entries.removeAt(at);
            }
        }
    }
    checkHeld(client);
    scheduleTurns();
}

void RequestQueue::checkHeld(QWebSocket *client)
{
    // Connections taken in meanwhile may have moved it.
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end() || inbox->overflowed || inbox->waitingBytes + inbox->refusedBytes <= MaxHeldBytes)
        return;
    inbox->overflowed = true;
    // What waits of it takes no effect and is not answered; its messages on the reader thread are
    // dropped when read, stops aside.
    for (qsizetype i = inbox->entries.size() - 1; i >= inbox->next; --i) {
        const Entry &waiting = *inbox->entries.at(i);
        if (waiting.parsed && !waiting.started) {
            inbox->waitingBytes -= waiting.bytes;
            inbox->entries.removeAt(i);
        }
    }
    emit overflowed(client);
}

RequestQueue::Arrived RequestQueue::arrivedElsewhere(QWebSocket *client)
{
    m_server.admitWaiting();
    Arrived arrived;
    for (auto inbox = m_inboxes.cbegin(); inbox != m_inboxes.cend(); ++inbox) {
        // One that has gone holds what it sent till then.
        if (inbox.key() != client)
            arrived.insert(inbox->connection, std::max(m_server.arrived(inbox.key()), inbox->takenEnd));
    }
    for (const quint64 opening : std::as_const(m_opening))
        arrived.insert(opening, m_server.arrivedOpening(opening));
    return arrived;
}

void RequestQueue::holdAgainst(QWebSocket *client, const Entry &stop, const Arrived &arrived)
{
    const auto hold = [this, &stop](quint64 connection, qint64 end) {
        QList<Barrier> &barriers = m_barriers[connection];
        // Every stop of an event has the same effect: a flood of them is applied again once, and
        // the furthest end holds, whatever order they were read in.
        for (Barrier &held : barriers) {
            if (held.handler == stop.handler && held.event == stop.event) {
                held.end = std::max(held.end, end);
                held.data = stop.data;
                return;
            }
        }
        barriers.append({end, stop.handler, stop.event, stop.data});
    };
    for (auto inbox = m_inboxes.cbegin(); inbox != m_inboxes.cend(); ++inbox) {
        const qint64 end = inbox.key() == client ? stop.end : arrived.value(inbox->connection, -1);
        if (end > 0)
            hold(inbox->connection, end);
    }
    for (const quint64 opening : std::as_const(m_opening)) {
        if (const qint64 end = arrived.value(opening); end > 0)
            hold(opening, end);
    }
}

void RequestQueue::read(Entry &entry, const QJsonDocument &document, const QJsonParseError &parseError) const
{
    // A message that is no request is answered at once: it changes nothing.
    const auto refuse = [&entry](const QJsonObject &reply) {
        entry.reply = reply;
        entry.handler = nullptr;
        entry.answered = entry.stored = true;
    };
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        // A well-formed array or value parses without error: say what is wrong with it instead.
        const QString reason = parseError.error != QJsonParseError::NoError
                                   ? parseError.errorString()
                                   : QStringLiteral("the message must be an object");
        refuse({{kEvent, QStringLiteral("error")}, {kMessage, QStringLiteral("Invalid JSON: ") + reason}});
        return;
    }
    const QJsonObject request = document.object();
    entry.event = request.value(kEvent).toString();
    entry.data = request.value(kData).toObject();
    entry.handler = m_handlers.value(entry.event);
    if (entry.event.isEmpty()) {
        refuse({{kEvent, QStringLiteral("error")}, {kMessage, QStringLiteral("Missing 'event' field")}});
        return;
    }
    // Data of another kind would read as none, and a change sent in it answered as made. Null
    // is none, and a ping reads nothing.
    if (request.value(kData).isNull() || entry.event == QLatin1String("ping"))
        return;
    const FieldReader envelope(request);
    envelope.object(kData);
    if (envelope.ok())
        return;
    if (entry.handler)
        refuse(entry.handler->refusedReply(entry.event, envelope.refusal()));
    else if (entry.event == QLatin1String("action_subscribe") || entry.event == QLatin1String("action_unsubscribe"))
        refuse({{kEvent, entry.event}, {kSuccess, false}, {kMessage, envelope.refusal()}});
}

bool RequestQueue::isReady(const Entry &entry)
{
    return entry.started && entry.answered && entry.stored;
}

bool RequestQueue::isWaiting(const Entry &entry)
{
    return entry.started && !isReady(entry);
}

bool RequestQueue::isStop(const Entry &entry) const
{
    return !entry.answered && entry.handler && entry.handler->isStop(entry.event, entry.data);
}

bool RequestQueue::appliesOnArrival(const Entry &entry) const
{
    return !entry.answered && entry.handler && entry.handler->appliesOnArrival(entry.event, entry.data);
}

void RequestQueue::apply(QWebSocket *client, const EntryPtr &entry)
{
    entry->started = true;
    if (entry->answered)
        return;
    if (entry->handler) {
        ask(entry);
        return;
    }
    // The server's own answers need no disk.
    QJsonObject reply = m_server.ownAnswer(client, entry->event, entry->data);
    if (reply.isEmpty()) {
        const QString shown = echoed(entry->event);
        reply = {{kEvent, QStringLiteral("error")},
                 {QStringLiteral("source"), shown},
                 {kMessage, QStringLiteral("Unknown event: ") + shown}};
    }
    entry->reply = reply;
    entry->answered = entry->stored = true;
}

void RequestQueue::ask(const EntryPtr &entry)
{
    // The reply waits for every file the request changes: they go to the writer in one batch.
    const QPointer<RequestQueue> self = this;
    FileWriter &writer = FileWriter::shared();
    m_requestLoopLevels.append(QThread::currentThread()->loopLevel());
    writer.beginBatch(this);
    entry->handler->handleRequest(entry->event, entry->data, [self, entry](const QJsonObject &reply) {
        if (entry->answered)
            return;
        entry->answered = true;
        entry->reply = reply;
        if (self && entry->later)
            self->scheduleTurns();
    });
    writer.endBatch([self, entry](const QString &failure) {
        entry->stored = true;
        entry->failure = failure;
        if (self && entry->later)
            self->scheduleTurns();
    });
    entry->later = true;
    if (self)
        m_requestLoopLevels.removeLast();
}

bool RequestQueue::applyNext(QWebSocket *client)
{
    auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end() || (inbox->inHand && !inbox->inHand->answered))
        return false;
    // A client behind on reading has its requests wait, counted, until it takes its replies: it
    // makes no more of them meanwhile.
    if (!inbox->gone && !m_server.mayReceive(client))
        return false;
    while (inbox->next < inbox->entries.size() && inbox->entries.at(inbox->next)->started)
        ++inbox->next;
    if (inbox->next == inbox->entries.size() || !inbox->entries.at(inbox->next)->parsed)
        return false;
    // Another client's message that came before it may be a stop it must not overtake.
    if (!m_unparsed.isEmpty() && inbox->entries.at(inbox->next)->arrival > m_unparsed.constFirst())
        return false;
    const EntryPtr entry = inbox->entries.at(inbox->next++);
    inbox->inHand = entry;
    const quint64 connection = inbox->connection;
    // The handler may run the event loop, in which stops are applied and this client's earlier
    // replies go: nothing of its inbox is held across.
    const QPointer<RequestQueue> self = this;
    // Not again a stop that a start made since has undone, before the request or while it waits.
    Holding holding{QThread::currentThread()->loopLevel(), {}};
    if (const auto barriers = m_barriers.find(connection); barriers != m_barriers.end()) {
        for (const Barrier &stop : std::as_const(*barriers)) {
            if (stop.end >= entry->end && stop.handler && stop.handler->stopHolds(stop.event, stop.data))
                holding.stops.append(stop);
        }
        // Those ending by this request have nothing of the client's left to hold against.
        barriers->removeIf([&entry](const Barrier &stop) { return stop.end <= entry->end; });
    }
    m_holding.append(&holding);
    apply(client, entry);
    if (!self)
        return true;
    m_holding.removeOne(&holding);
    for (const Barrier &stop : std::as_const(holding.stops)) {
        if (!self || !stop.handler)
            continue;
        const auto again = std::make_shared<Entry>();
        again->handler = stop.handler;
        again->event = stop.event;
        again->data = stop.data;
        again->parsed = true;
        apply(client, again);
    }
    if (!self)
        return true;
    // A stop applied again has changed what its reply told.
    answerNext(client, holding.stops.isEmpty() ? entry.get() : nullptr);
    return true;
}

void RequestQueue::dropUndoneStops(const WsHandler *handler)
{
    // A change at the level of the request in hand is its own, and is undone.
    const int level = QThread::currentThread()->loopLevel();
    for (Holding *holding : std::as_const(m_holding)) {
        if (holding->loopLevel == level)
            continue;
        holding->stops.removeIf([handler](const Barrier &stop) {
            return stop.handler == handler && !handler->stopHolds(stop.event, stop.data);
        });
    }
}

bool RequestQueue::answerNext(QWebSocket *client, const Entry *fresh)
{
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end() || inbox->entries.isEmpty() || !inbox->entries.head()->started)
        return false;
    const EntryPtr first = inbox->entries.head();
    // The replies of a client that has gone go nowhere, and need not wait.
    if (!inbox->gone && (!isReady(*first) || !m_server.mayReceive(client)))
        return false;
    if (first->repeats > 1 && !inbox->gone) {
        --first->repeats;
        first->bytes -= RequestBytes;
        inbox->refusedBytes -= RequestBytes;
        m_server.send(client, first->reply);
        return true;
    }
    inbox->entries.dequeue();
    if (inbox->next > 0)
        --inbox->next;
    (first->refused ? inbox->refusedBytes : inbox->waitingBytes) -= first->bytes;
    if (inbox->gone) {
        settle(client);
        return true;
    }
    m_server.send(client, replyOf(*first, first.get() == fresh));
    return true;
}

QJsonObject RequestQueue::replyOf(const Entry &entry, bool fresh)
{
    if (!entry.handler)
        return entry.reply;
    QJsonObject reply = entry.reply;
    // What the handler causes while it tells the state is the request's.
    if (!fresh) {
        m_requestLoopLevels.append(QThread::currentThread()->loopLevel());
        reply = entry.handler->stateReply(entry.event, entry.data, reply);
        m_requestLoopLevels.removeLast();
    }
    return entry.failure.isEmpty() ? reply : entry.handler->unstoredReply(reply, entry.failure);
}

void RequestQueue::scheduleTurns()
{
    if (m_turnsQueued)
        return;
    m_turnsQueued = true;
    QMetaObject::invokeMethod(this, &RequestQueue::takeTurns, Qt::QueuedConnection);
}

void RequestQueue::takeTurns()
{
    m_turnsQueued = false;
    const QPointer<RequestQueue> self = this;
    const bool more = inTurns(this, m_clients, m_nextTurn, TurnBudgetNs, [this, self](QWebSocket *client) {
        const bool applied = applyNext(client);
        return self && (answerNext(client) || applied);
    });
    if (more)
        scheduleTurns();
}

void RequestQueue::resume(QWebSocket *client)
{
    const auto inbox = m_inboxes.constFind(client);
    if (inbox != m_inboxes.cend() && !inbox->entries.isEmpty())
        scheduleTurns();
}

void RequestQueue::leave(QWebSocket *client)
{
    const auto inbox = m_inboxes.find(client);
    if (inbox == m_inboxes.end())
        return;
    inbox->gone = true;
    scheduleTurns();
}

bool RequestQueue::isDone(QWebSocket *client) const
{
    const auto inbox = m_inboxes.constFind(client);
    return inbox == m_inboxes.cend() || inbox->entries.isEmpty();
}

void RequestQueue::settle(QWebSocket *client)
{
    if (isDone(client))
        emit drained(client);
}

void RequestQueue::forget(QWebSocket *client)
{
    if (const auto inbox = m_inboxes.constFind(client); inbox != m_inboxes.cend())
        m_barriers.remove(inbox->connection);
    m_inboxes.remove(client);
    m_clients.removeOne(client);
}

void RequestQueue::clear()
{
    m_inboxes.clear();
    m_clients.clear();
    m_opening.clear();
    m_barriers.clear();
    m_unparsed.clear();
}

} // namespace corvane
