#include "profiles/filewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QtDebug>

#include <algorithm>

namespace corvane {

FileWriter::FileWriter(QObject *parent)
    : QObject(parent)
{
}

FileWriter::~FileWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

quint64 FileWriter::write(const QString &path, const QByteArray &bytes)
{
    const quint64 ticket = ++m_lastTicket;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_thread.joinable())
            m_thread = std::thread(&FileWriter::run, this);
        const auto queued = std::find_if(m_queue.begin(), m_queue.end(), [&](const Job &job) { return job.path == path; });
        if (queued != m_queue.end()) {
            queued->bytes = bytes;
            queued->ticket = ticket;
        } else {
            m_queue.push_back({path, bytes, ticket});
        }
    }
    m_wake.notify_one();
    return ticket;
}

bool FileWriter::writeNow(const QString &path, const QByteArray &bytes)
{
    quint64 dropped = 0;
    {
        std::unique_lock lock(m_mutex);
        const auto queued = std::find_if(m_queue.begin(), m_queue.end(), [&](const Job &job) { return job.path == path; });
        if (queued != m_queue.end()) {
            dropped = queued->ticket;
            m_queue.erase(queued);
        }
        m_idle.wait(lock, [&] { return m_writing != path; });
    }
    const bool ok = writeFile(path, bytes);
    m_syncWrites.insert(path, {m_lastTicket, ok});
    // Queued behind the report of the write that was under way, which went out before it ended.
    if (dropped != 0)
        QMetaObject::invokeMethod(this, [this, path, dropped, ok] { settle(path, dropped, ok); }, Qt::QueuedConnection);
    return ok;
}

void FileWriter::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_ending || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        const Job job = std::move(m_queue.front());
        m_queue.pop_front();
        m_writing = job.path;
        lock.unlock();
        const bool ok = writeFile(job.path, job.bytes);
        QMetaObject::invokeMethod(
            this, [this, path = job.path, ticket = job.ticket, ok] { settle(path, ticket, ok); }, Qt::QueuedConnection);
        lock.lock();
        m_writing.clear();
        m_idle.notify_all();
    }
}

void FileWriter::settle(const QString &path, quint64 ticket, bool ok)
{
    const auto sync = m_syncWrites.constFind(path);
    const bool covered = sync != m_syncWrites.cend() && ticket <= sync->upTo;
    if (!ok && !covered)
        emit failed(path);
    emit written(path, ticket, ok || (covered && sync->ok));
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
    return true;
}

} // namespace corvane
