#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <thread>

namespace corvane {

// Writes and removes files on a thread of its own, so that the thread that changes them (the one
// of the 7 ms tick) never waits for the disk. One file's jobs keep their order, and what is
// handed over for a file while a job of it is on the thread is done once after it, newest
// first: the bytes of a write are made then, from what is in memory by that time. Everything
// but the disk's work runs on the thread the writer belongs to.
class FileWriter : public QObject
{
    Q_OBJECT
public:
    // Makes the bytes when the write starts, on the thread the writer belongs to (never the one
    // that writes), given the number `write` returned for it; a null array: nothing to write.
    using Bytes = std::function<QByteArray(quint64 ticket)>;
    // What the disk's part of a job came to. Busy: another program holds the file for now (its
    // lock); the job is done again RetryMs later, and the other files' jobs go on meanwhile
    // while its own file's later ones wait behind it.
    enum class Outcome { Failed, Stored, Busy };
    // The disk's part of one job, done on the writer's thread: what a file holds may be read
    // there, the bytes made and written (writeFile). Made when the job starts, on the thread the
    // writer belongs to, as a copy of what it needs; an empty one: nothing to do.
    using Work = std::function<Outcome()>;
    using MakeWork = std::function<Work()>;
    // The first failure of a batch's jobs, in the words their callers gave and, where the disk
    // said, why (the disk is full, another program holds the file); empty: all stored.
    // Called from the writer's report, unless the batch had nothing to do: it must not wait
    // (no dialog, no nested event loop), or the files of the report wait with it.
    using Stored = std::function<void(const QString &failure)>;

    // How long a writer that ends waits for the disk before it gives up on what is left (the
    // program's own end waits for all of it before).
    static constexpr int QuitWaitMs = 5000;
    static constexpr int RetryMs = 20;

    explicit FileWriter(QObject *parent = nullptr);
    // Writes what was handed over and not yet written, for at most QuitWaitMs (not at all once a
    // flush has run out of time).
    ~FileWriter() override;

    // The program's writer: every file the program keeps goes through it, so that one thread
    // does the disk's waiting and a request can wait for all it changed at once.
    static FileWriter &shared();

    // Hands a write over to the background. The number returned comes back with `written` once
    // a job of the file that started after this call has ended; numbers only grow. `failure` is
    // what the batches waiting for it report when it fails (by default naming the file). With a
    // `context`, the bytes are made only while it lives: a write it left behind is dropped.
    quint64 write(const QString &path, const Bytes &bytes, const QString &failure = QString(),
                  QObject *context = nullptr);
    // The same, but no batch waits for it: what it stores is nobody's answer.
    quint64 writeAside(const QString &path, const Bytes &bytes, QObject *context = nullptr);
    // The same for a job whose bytes are made on the writer's thread, so that a large file costs
    // the thread handing it over nothing.
    quint64 update(const QString &path, const MakeWork &make, const QString &failure = QString());
    // Removes the files in order, stopping at the first that stays, and syncs their folder; in
    // turn with the jobs of the last one, so that a write of it still on its way cannot put it
    // back, and one handed over before and not started yet is not done.
    quint64 remove(const QStringList &paths, const QString &failure);

    // Opened around the answering of one request (or one change made of several jobs): every job
    // handed over on this event-loop level until endBatch joins it, and `stored` is called once
    // they have all ended. A batch opened inside another reports with it, after the batches
    // closed inside it, last closed first, so that what they take back is taken back in turn.
    // Jobs handed over from a nested event loop (the desktop user's, while a request waits) do
    // not join the batches of the level below. `origin` is told by reportingFor while the batch
    // and those inside it report.
    void beginBatch(QObject *origin = nullptr);
    void endBatch(const Stored &stored);
    // The jobs `jobs` hands over as one batch.
    void batch(const std::function<void()> &jobs, const Stored &stored);
    // The origin of the batch whose `stored` runs now, or of the one it was opened inside.
    QObject *reportingFor() const { return m_reportingFor; }

    // Makes now the bytes of the writes `context` handed over that wait for their turn: for an
    // owner about to go, whose last changes would otherwise be dropped.
    void release(QObject *context);

    // Nothing handed over that has not been reported.
    bool isIdle() const;
    // Hands every waiting job to the thread now and returns once all is done, or false after
    // `timeoutMs`, having logged the files not yet done. For the end of the program, and for a
    // start that reads the files. With 0 it only hands over and tells whether all is done.
    bool flush(int timeoutMs);
    // For an end that cannot wait for the disk any longer: no job not done yet replaces or
    // removes a file any more, not even the one inside the disk now (unless its last rename or
    // removal is under way), so that a copy started next reads what stays; every later job
    // fails. Returns, having logged them, the files that may not hold what was handed over for
    // them: a file whose jobs were given up (a removal of several files stopped half-way
    // included) keeps what it held before; the one whose last change is under way holds the old
    // or the new, whole.
    QStringList giveUp();
    // The files whose last job failed (a full disk, a failed sync, another program's lock): for
    // the end of the program, where no event loop takes the writer's reports any more.
    QStringList failedFiles() const;
    // Logs a failure of the disk's work, from any thread: nothing once the program has given up,
    // as the process may be ending around the thread that would log.
    static void warn(const QString &message);
    // Records that the system refused a step of a job's own with `error` (a lock file it could
    // not make): the job's batches report this reason, as for a step of the writer's; its words.
    static QString recordFailure(int error);

    // One version of a file on disk: a write or an edit of the file gives another.
    struct Stamp
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1; // -1: no such file
        qint64 modified = 0; // ns
        qint64 changed = 0; // ns
        bool exists() const { return size >= 0; }
        bool operator==(const Stamp &other) const;
        bool operator!=(const Stamp &other) const { return !(*this == other); }
    };
    static Stamp stampOf(const QString &path);
    // Writes through a temporary file of the writer's own beside the target: every byte written,
    // the file synced, then renamed over the target and the folder synced; on any failure the
    // target stays as it was. A reader (or a restart after a crash) finds the old file or the
    // new, whole. `written`: the stamp of the file made, as it stood once renamed, whatever
    // replaces it while the folder syncs.
    static bool writeFile(const QString &path, const QByteArray &bytes, Stamp *written = nullptr);
    // The whole file and the stamp of what was read; false, with the system's reason, when it
    // cannot be read.
    static bool readFile(const QString &path, QByteArray &bytes, Stamp &stamp, QString &error);
    // Removes what writes killed half-way left in `folder`: temporary files of the writer's own
    // that no write holds. Nothing else there is touched, whatever its name.
    static void removeLeftovers(const QString &folder);

    // For tests: what the disk does wrong from now on (EIO), as a failing card would.
    enum Fault { NoFault = 0, SyncFails = 1, ReadFails = 2, FolderSyncFails = 4 };
    static void setFaults(int faults);

signals:
    // Whether everything handed over for `path` up to `ticket` is in the file.
    void written(const QString &path, quint64 ticket, bool ok);
    // A job of `path` failed, or its change is in the file but not yet in its folder on disk.
    void failed(const QString &path);

private:
    struct Job
    {
        QString path;
        Work work;
        quint64 ticket = 0;
        bool heldElsewhere = false; // once Busy: another program held the file
    };

    // Makes a job's work from its ticket.
    using Make = std::function<Work(quint64 ticket)>;

    // The next job of a file that has one on the thread.
    struct Waiting
    {
        Make make;
        QPointer<QObject> context;
        bool hasContext = false;
        quint64 ticket = 0;
    };

    struct Batch
    {
        int loopLevel = 0;
        QPointer<QObject> origin;
        struct Pending
        {
            quint64 ticket = 0; // of the last job of the file handed over
            quint64 first = 0; // of the first
            QString failure;
        };
        QHash<QString, Pending> waiting;
        // The failure of the file handed over first among those that failed.
        QString failure;
        quint64 failureTicket = 0;
        Stored stored;
        bool closed = false;
        std::weak_ptr<Batch> parent;
        QList<std::shared_ptr<Batch>> children; // closed inside it, reporting with it
    };

    struct Shared; // what the thread uses: it may outlive the writer at the end of the program

    quint64 hand(const QString &path, Waiting next, const QString &failure, bool batched);
    void start(const QString &path, const Waiting &job);
    void push(Job job);
    // A job has ended (`why`: what the disk said of a failure): the batches waiting for it hear of
    // it, then the file's next job starts.
    void finished(const QString &path, quint64 ticket, bool ok, const QString &why = QString());
    static void settle(Batch &batch, const QString &path, quint64 ticket, bool ok, const QString &why);
    void report(const std::shared_ptr<Batch> &batch);
    static bool removeFiles(const QStringList &paths);
    // The folder of `path`, opened to be synced after a change in it; -1 (errno) when it cannot be.
    static int openFolder(const QString &path);
    // Syncs and closes `folder`, which the job's change of `path` is in; -1: it could not be
    // opened, with the system's error `unopened`.
    static void syncFolder(int folder, const QString &path, int unopened = 0);
    static void run(const std::shared_ptr<Shared> &shared);

    // The thread the writer belongs to only.
    quint64 m_lastTicket = 0;
    QHash<QString, int> m_started; // files with jobs on the thread, by count
    QHash<QString, Waiting> m_waiting; // files with a job waiting for those
    QList<std::shared_ptr<Batch>> m_openBatches; // innermost last
    QList<std::shared_ptr<Batch>> m_storingBatches; // closed, outermost, waiting for jobs
    QPointer<QObject> m_reportingFor;
    bool m_gaveUp = false; // a flush ran out of time

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread; // started by the first job handed over
};

} // namespace corvane
