#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace corvane {

// Writes files on a thread of its own, so that the thread that changes them (the one of the
// 7 ms tick) does not wait for the disk. One file's writes keep their order, and what is handed
// over for a file while it is being written is written once after it: its bytes are made then,
// from what is in memory by that time. Everything but the writing itself runs on the thread the
// writer belongs to.
class FileWriter : public QObject
{
    Q_OBJECT
public:
    // Makes the bytes when the write starts, on the thread the writer belongs to (never the one
    // that writes); a null array: nothing to write.
    using Bytes = std::function<QByteArray()>;

    explicit FileWriter(QObject *parent = nullptr);
    // Writes what was handed over and not yet written before it returns.
    ~FileWriter() override;

    // The program's writer: every file the program keeps goes through it, so that one thread
    // does the disk's waiting and a request can wait for all it changed at once.
    static FileWriter &shared();

    // Hands a write over to the background. The number returned comes back with `written` once
    // a write that started after this call has ended; numbers only grow.
    quint64 write(const QString &path, const Bytes &bytes);
    // Writes now, on the calling thread, once the file's write under way has ended. A write of
    // the file handed over and not started yet is dropped, these bytes being newer.
    bool writeNow(const QString &path, const QByteArray &bytes);
    // Returns once the file's write under way on the thread, if any, has ended, so that the file
    // can be removed or replaced without that write putting it back. A write of it handed over
    // and not started yet stays.
    void waitForWrite(const QString &path);

    // Writes through a temporary file that replaces the target only when it is complete and on
    // disk, so that a reader (or a restart after a crash) finds the old file or the new, whole.
    static bool writeFile(const QString &path, const QByteArray &bytes);

signals:
    // Whether everything handed over for `path` up to `ticket` is on disk: by the write that
    // carried it or by a later writeNow.
    void written(const QString &path, quint64 ticket, bool ok);
    // A write in the background failed, and no writeNow since has already said so.
    void failed(const QString &path);

private:
    struct Job
    {
        QString path;
        QByteArray bytes;
        quint64 ticket = 0;
    };

    struct Waiting
    {
        Bytes bytes;
        quint64 ticket = 0;
    };

    void start(const QString &path, const QByteArray &bytes, quint64 ticket);
    void run();
    // A write of the thread has ended: the file's waiting write starts, and it is reported.
    void finished(const QString &path, quint64 ticket, bool ok);

    // The thread the writer belongs to only.
    quint64 m_lastTicket = 0;
    QSet<QString> m_started; // files with a write on the thread
    QHash<QString, Waiting> m_waiting; // files with a write waiting for that one
    // Files writeNow stored while a write of them was on the thread, until that write is
    // reported: whether writeNow's went well.
    QHash<QString, bool> m_rewritten;

    // Shared with the thread.
    std::mutex m_mutex;
    std::condition_variable m_wake; // a job came, or the writer ends
    std::condition_variable m_idle; // a write ended
    std::deque<Job> m_queue;
    QString m_writing; // the path the thread writes now
    bool m_ending = false;
    std::thread m_thread; // started by the first write handed over
};

} // namespace corvane
