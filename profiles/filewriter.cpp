#include "profiles/filewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QtDebug>

#include <algorithm>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace corvane {

FileWriter::FileWriter(QObject *parent)
    : QObject(parent)
{
}

FileWriter::~FileWriter()
{
    for (auto waiting = m_waiting.cbegin(); waiting != m_waiting.cend(); ++waiting)
        start(waiting.key(), waiting->bytes(), waiting->ticket);
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

FileWriter &FileWriter::shared()
{
    static FileWriter writer;
    return writer;
}

quint64 FileWriter::write(const QString &path, const Bytes &bytes)
{
    const quint64 ticket = ++m_lastTicket;
    if (m_started.contains(path))
        m_waiting.insert(path, {bytes, ticket});
    else
        start(path, bytes(), ticket);
    return ticket;
}

void FileWriter::start(const QString &path, const QByteArray &bytes, quint64 ticket)
{
    if (bytes.isNull()) {
        QMetaObject::invokeMethod(this, [this, path, ticket] { emit written(path, ticket, true); }, Qt::QueuedConnection);
        return;
    }
    m_started.insert(path);
    if (!m_thread.joinable()) {
        // A plain thread: a QThread would want an event dispatcher, and descriptors for it.
        try {
            m_thread = std::thread(&FileWriter::run, this);
        } catch (const std::system_error &error) {
            qWarning().noquote() << "FileWriter: no thread to write with:" << error.what();
        }
    }
    if (!m_thread.joinable()) {
        // No thread to be had (the system's limit on them): written on this one instead.
        const bool ok = writeFile(path, bytes);
        QMetaObject::invokeMethod(this, [this, path, ticket, ok] { finished(path, ticket, ok); }, Qt::QueuedConnection);
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back({path, bytes, ticket});
    }
    m_wake.notify_one();
}

bool FileWriter::writeNow(const QString &path, const QByteArray &bytes)
{
    const Waiting dropped = m_waiting.take(path);
    waitForWrite(path);
    const bool ok = writeFile(path, bytes);
    if (m_started.contains(path))
        m_rewritten.insert(path, ok);
    // Behind the report of the write that was under way, which went out before it ended.
    if (dropped.ticket != 0) {
        QMetaObject::invokeMethod(
            this, [this, path, ticket = dropped.ticket, ok] { emit written(path, ticket, ok); }, Qt::QueuedConnection);
    }
    return ok;
}

void FileWriter::waitForWrite(const QString &path)
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [&] {
        return m_writing != path
               && std::none_of(m_queue.cbegin(), m_queue.cend(), [&](const Job &job) { return job.path == path; });
    });
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
            this, [this, path = job.path, ticket = job.ticket, ok] { finished(path, ticket, ok); }, Qt::QueuedConnection);
        lock.lock();
        m_writing.clear();
        m_idle.notify_all();
    }
}

void FileWriter::finished(const QString &path, quint64 ticket, bool ok)
{
    m_started.remove(path);
    // A writeNow meanwhile stored these bytes or newer ones, and its caller heard how that went.
    const bool rewritten = m_rewritten.contains(path);
    const bool stored = ok || m_rewritten.take(path);
    if (m_waiting.contains(path)) {
        const Waiting next = m_waiting.take(path);
        start(path, next.bytes(), next.ticket);
    }
    if (!ok && !rewritten)
        emit failed(path);
    emit written(path, ticket, stored);
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
    // The rename lives in the folder: until the folder is on disk too, a power cut can bring the
    // old file back after the save was reported done. The new file is in place by now, so a
    // folder that cannot be synced is only logged: the store's memory must match the file.
    const QByteArray folderPath = QFile::encodeName(QFileInfo(path).absolutePath());
    const int folder = ::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || ::fsync(folder) != 0)
        qWarning().noquote() << "FileWriter: cannot sync the folder of" << path;
    if (folder >= 0)
        ::close(folder);
    return true;
}

} // namespace corvane
