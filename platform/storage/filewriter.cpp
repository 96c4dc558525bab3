#include "platform/storage/filewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>
#include <QtDebug>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace corvane {

struct FileWriter::Shared
{
    std::mutex mutex;
    std::condition_variable wake; // a job came, or the writer ends
    std::condition_variable idle; // a job ended
    std::deque<Job> queue;
    QString doing; // the path of the job on the thread now
    bool ending = false;
    FileWriter *owner = nullptr; // null once the writer is gone: nobody to report to
};

FileWriter::FileWriter(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

FileWriter::~FileWriter()
{
    // Once the disk has not finished in time, the end of the program waits no longer.
    const bool done = flush(m_gaveUp ? 0 : QuitWaitMs);
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
        m_shared->ending = true;
    }
    m_shared->wake.notify_all();
    if (!m_thread.joinable())
        return;
    // A disk that does not answer must not hold the end of the program: the thread finishes
    // what it has, if the program lives long enough.
    if (done)
        m_thread.join();
    else
        m_thread.detach();
}

FileWriter &FileWriter::shared()
{
    static FileWriter writer;
    return writer;
}

quint64 FileWriter::write(const QString &path, const Bytes &bytes, const QString &failure, QObject *context)
{
    return hand(path, {bytes, context, context != nullptr, {}, 0}, failure, true);
}

quint64 FileWriter::writeAside(const QString &path, const Bytes &bytes, QObject *context)
{
    return hand(path, {bytes, context, context != nullptr, {}, 0}, QString(), false);
}

quint64 FileWriter::remove(const QStringList &paths, const QString &failure)
{
    if (paths.isEmpty())
        return m_lastTicket;
    return hand(paths.constLast(), {{}, nullptr, false, paths, 0}, failure, true);
}

quint64 FileWriter::hand(const QString &path, Waiting next, const QString &failure, bool batched)
{
    next.ticket = ++m_lastTicket;
    if (batched) {
        const int level = QThread::currentThread()->loopLevel();
        QString message = failure;
        for (const std::shared_ptr<Batch> &batch : std::as_const(m_openBatches)) {
            if (batch->loopLevel != level)
                continue;
            if (message.isEmpty())
                message = tr("Failed to save %1").arg(QFileInfo(path).fileName());
            Batch::Pending &pending = batch->waiting[path];
            pending.first = pending.ticket == 0 ? next.ticket : pending.first;
            pending.ticket = next.ticket;
            pending.failure = message;
        }
    }
    if (m_started.value(path) > 0)
        m_waiting.insert(path, next);
    else
        start(path, next);
    return next.ticket;
}

void FileWriter::start(const QString &path, const Waiting &job)
{
    ++m_started[path];
    QByteArray bytes;
    if (job.removals.isEmpty()) {
        if (job.hasContext && !job.context)
            qWarning().noquote() << "FileWriter: dropped a write of" << path << "its owner left behind";
        else if (job.bytes)
            bytes = job.bytes();
        if (bytes.isNull()) {
            // Nothing to write: reported in turn, like a write.
            QMetaObject::invokeMethod(
                this, [this, path, ticket = job.ticket] { finished(path, ticket, true); }, Qt::QueuedConnection);
            return;
        }
    }
    push({path, bytes, job.removals, job.ticket});
}

void FileWriter::push(Job job)
{
    if (!m_thread.joinable()) {
        // A plain thread: a QThread would want an event dispatcher, and descriptors for it.
        try {
            m_thread = std::thread(&FileWriter::run, m_shared);
        } catch (const std::system_error &error) {
            // Not written on this thread instead: it is the one of the 7 ms tick. The next job
            // tries again.
            qWarning().noquote() << "FileWriter: no thread to write" << job.path << "with:" << error.what();
            QMetaObject::invokeMethod(
                this, [this, path = job.path, ticket = job.ticket] { finished(path, ticket, false); },
                Qt::QueuedConnection);
            return;
        }
    }
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->queue.push_back(std::move(job));
    }
    m_shared->wake.notify_one();
}

void FileWriter::run(const std::shared_ptr<Shared> &shared)
{
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->wake.wait(lock, [&] { return shared->ending || !shared->queue.empty(); });
        if (shared->queue.empty())
            return;
        const Job job = std::move(shared->queue.front());
        shared->queue.pop_front();
        shared->doing = job.path;
        lock.unlock();
        const bool ok = job.removals.isEmpty() ? writeFile(job.path, job.bytes) : removeFiles(job.removals);
        lock.lock();
        if (shared->owner) {
            QMetaObject::invokeMethod(
                shared->owner,
                [owner = shared->owner, path = job.path, ticket = job.ticket, ok] { owner->finished(path, ticket, ok); },
                Qt::QueuedConnection);
        }
        shared->doing.clear();
        shared->idle.notify_all();
    }
}

void FileWriter::finished(const QString &path, quint64 ticket, bool ok)
{
    if (!ok)
        emit failed(path);
    emit written(path, ticket, ok);
    // Before the file's next job makes its bytes: what a failed batch takes back is not written.
    for (const std::shared_ptr<Batch> &batch : std::as_const(m_openBatches))
        settle(*batch, path, ticket, ok);
    QList<std::shared_ptr<Batch>> done;
    for (const std::shared_ptr<Batch> &batch : std::as_const(m_storingBatches)) {
        settle(*batch, path, ticket, ok);
        if (batch->waiting.isEmpty())
            done.append(batch);
    }
    // Last closed first: changes that failed together are taken back in the reverse of their order.
    for (auto batch = done.crbegin(); batch != done.crend(); ++batch) {
        m_storingBatches.removeOne(*batch);
        report(*batch);
    }
    // Jobs handed over while the batches reported waited for this one.
    if (--m_started[path] > 0)
        return;
    m_started.remove(path);
    const auto next = m_waiting.constFind(path);
    if (next != m_waiting.cend())
        start(path, m_waiting.take(path));
}

void FileWriter::settle(Batch &batch, const QString &path, quint64 ticket, bool ok)
{
    for (const std::shared_ptr<Batch> &child : std::as_const(batch.children))
        settle(*child, path, ticket, ok);
    const auto pending = batch.waiting.constFind(path);
    if (pending == batch.waiting.cend() || pending->ticket > ticket)
        return;
    if (!ok && (batch.failure.isEmpty() || pending->first < batch.failureTicket)) {
        batch.failure = pending->failure;
        batch.failureTicket = pending->first;
    }
    batch.waiting.erase(pending);
}

void FileWriter::beginBatch(QObject *origin)
{
    auto batch = std::make_shared<Batch>();
    batch->loopLevel = QThread::currentThread()->loopLevel();
    batch->origin = origin;
    if (!m_openBatches.isEmpty() && m_openBatches.constLast()->loopLevel == batch->loopLevel) {
        batch->parent = m_openBatches.constLast();
        if (!origin)
            batch->origin = m_openBatches.constLast()->origin;
    }
    m_openBatches.append(batch);
}

void FileWriter::endBatch(const Stored &stored)
{
    if (m_openBatches.isEmpty())
        return;
    const std::shared_ptr<Batch> batch = m_openBatches.takeLast();
    batch->stored = stored;
    batch->closed = true;
    if (const std::shared_ptr<Batch> parent = batch->parent.lock()) {
        parent->children.append(batch);
        return;
    }
    if (batch->waiting.isEmpty())
        report(batch);
    else
        m_storingBatches.append(batch);
}

void FileWriter::batch(const std::function<void()> &jobs, const Stored &stored)
{
    beginBatch();
    jobs();
    endBatch(stored);
}

void FileWriter::report(const std::shared_ptr<Batch> &batch)
{
    for (auto child = batch->children.crbegin(); child != batch->children.crend(); ++child)
        report(*child);
    const QPointer<QObject> outer = m_reportingFor;
    m_reportingFor = batch->origin;
    if (batch->stored)
        batch->stored(batch->failure);
    m_reportingFor = outer;
}

void FileWriter::release(QObject *context)
{
    for (auto job = m_waiting.begin(); job != m_waiting.end(); ++job) {
        if (job->hasContext && job->context == context) {
            const QByteArray bytes = job->bytes ? job->bytes() : QByteArray();
            job->bytes = [bytes] { return bytes; };
            job->hasContext = false;
        }
    }
}

bool FileWriter::isIdle() const
{
    return m_started.isEmpty() && m_waiting.isEmpty();
}

bool FileWriter::flush(int timeoutMs)
{
    // In turn: each waits behind its file's jobs on the thread, and the thread keeps the order.
    const QHash<QString, Waiting> waiting = std::exchange(m_waiting, {});
    for (auto job = waiting.cbegin(); job != waiting.cend(); ++job)
        start(job.key(), job.value());
    std::unique_lock lock(m_shared->mutex);
    const bool done = m_shared->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return m_shared->queue.empty() && m_shared->doing.isEmpty();
    });
    if (!done) {
        QStringList left{m_shared->doing};
        for (const Job &job : m_shared->queue)
            left.append(job.path);
        qWarning().noquote() << "FileWriter: the disk did not finish in time; not written:" << left.join(QStringLiteral(", "));
        m_gaveUp = true;
    }
    return done;
}

bool FileWriter::writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning().noquote() << "FileWriter: cannot write" << path << file.errorString();
        return false;
    }
    // The bytes go through a buffer: a disk that is full or a file size limit shows only when it
    // is flushed, and commit would replace the target with the cut file all the same.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        qWarning().noquote() << "FileWriter: short write to" << path << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qWarning().noquote() << "FileWriter: cannot replace" << path << file.errorString();
        return false;
    }
    // The new file is in place by now, so a folder that cannot be synced is only logged: the
    // store's memory must match the file.
    syncFolder(path);
    return true;
}

bool FileWriter::removeFiles(const QStringList &paths)
{
    for (const QString &path : paths) {
        QFile file(path);
        if (file.exists() && !file.remove()) {
            qWarning().noquote() << "FileWriter: cannot remove" << path << file.errorString();
            return false;
        }
    }
    syncFolder(paths.constLast());
    return true;
}

void FileWriter::syncFolder(const QString &path)
{
    // A rename or removal lives in the folder: until the folder is on disk too, a power cut can
    // bring the old file back after the change was reported done.
    const QByteArray folderPath = QFile::encodeName(QFileInfo(path).absolutePath());
    const int folder = ::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || ::fsync(folder) != 0)
        qWarning().noquote() << "FileWriter: cannot sync the folder of" << path;
    if (folder >= 0)
        ::close(folder);
}

} // namespace corvane
