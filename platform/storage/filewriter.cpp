#include "platform/storage/filewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QtDebug>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

std::atomic<int> g_faults{FileWriter::NoFault};

// Once the program has given up on the disk no file is replaced or removed any more: what was
// not done by then stays undone, rather than landing behind the back of a copy started next.
// Never destroyed: a thread still inside the disk may come here while the program ends.
struct Gate
{
    std::mutex mutex;
    std::atomic<bool> closed{false};
    bool replacing = false; // the last rename or removal of a job is inside the disk now
};

Gate &gate()
{
    static auto *const gate = new Gate;
    return *gate;
}

// Set by the thread running a job once that job's last change has replaced or removed its file.
thread_local std::atomic<bool> *t_landed = nullptr;

// Replaces or removes a file through `change` (0 or the system's error), unless the program
// has given up. `last`: the job's last change; the job counts as done only once that lands, so a
// removal of several files stopped half-way counts as given up.
int commit(const std::function<int()> &change, bool last = true)
{
    Gate &g = gate();
    {
        const std::lock_guard lock(g.mutex);
        if (g.closed)
            return ECANCELED;
        g.replacing = last;
    }
    const int error = change();
    const std::lock_guard lock(g.mutex);
    g.replacing = false;
    if (error == 0 && last && t_landed)
        t_landed->store(true);
    return error;
}

// The system's error of the first step that failed in the job on this thread; 0: none.
thread_local int t_failure = 0;
// The system's error when the job's change is in its file but its folder could not be synced.
thread_local int t_folderUnsynced = 0;

void warnFailure(const char *what, const QString &path, int error)
{
    if (t_failure == 0)
        t_failure = error;
    FileWriter::warn(QStringLiteral("FileWriter: %1 %2 %3").arg(QLatin1String(what), path, qt_error_string(error)));
}

constexpr char TemporaryMark[] = ".ostra-new-";

// Hidden, beside the target, named after it and marked as the writer's own.
QString temporaryName(const QString &fileName)
{
    static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString name = QLatin1Char('.') + fileName + QLatin1String(TemporaryMark);
    for (int i = 0; i < 6; ++i)
        name += QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters) - 1)]);
    return name;
}

// A link stays a link: the file it names is the one replaced.
QString linkTarget(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? path : info.filePath();
}

// Locks a temporary file just made, until it has its name: a start meanwhile (of this program
// or another copy of it) leaves it alone. A start that came between the open and the lock has
// taken it (ENOENT): the caller makes another. 0, or the system's error.
int lockOwn(int fd)
{
    int locked;
    while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    struct stat st = {};
    if (locked != 0 || ::fstat(fd, &st) != 0)
        return errno;
    return st.st_nlink > 0 ? 0 : ENOENT;
}

FileWriter::Stamp stampFrom(const struct stat &st)
{
    FileWriter::Stamp stamp;
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    stamp.size = qint64(st.st_size);
    stamp.modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changed = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return stamp;
}

// Why a job failed, in words a user can act on.
QString reasonOf(int error, bool heldElsewhere)
{
    switch (error) {
    case 0:
        return heldElsewhere ? FileWriter::tr("another program holds the file; try again in a moment") : QString();
    case ENOSPC:
    case EDQUOT:
        return FileWriter::tr("the disk is full");
    case EFBIG:
        return FileWriter::tr("the file size limit is reached");
    case EIO:
        return FileWriter::tr("the disk reported an error");
    case EROFS:
        return FileWriter::tr("the disk is read-only");
    case EMFILE:
    case ENFILE:
        return FileWriter::tr("too many files are open");
    default: {
        QString text = qt_error_string(error);
        if (!text.isEmpty())
            text[0] = text.at(0).toLower();
        return text;
    }
    }
}

} // namespace

struct FileWriter::Shared
{
    std::mutex mutex;
    std::condition_variable wake; // a job came, or the writer ends
    std::condition_variable idle; // a job ended
    std::deque<Job> queue;
    std::deque<std::pair<std::chrono::steady_clock::time_point, Job>> busy; // done again from then on
    QString doing; // the path of the job on the thread now
    std::atomic<bool> landed{false}; // that job has replaced or removed its file
    bool ending = false;
    QSet<QString> failed; // files whose last job failed
    FileWriter *owner = nullptr; // null once the writer is gone: nobody to report to
};

FileWriter::FileWriter(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    // A file-size limit (ulimit -f, a service's or a container's) would end the program at the
    // first larger write; ignored, the write fails with EFBIG and is reported as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    m_shared->owner = this;
}

FileWriter::~FileWriter()
{
    // Once the disk has not finished in time, the end of the program waits no longer.
    const bool done = flush(m_gaveUp ? 0 : QuitWaitMs);
    if (!done)
        giveUp();
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
        m_shared->ending = true;
    }
    m_shared->wake.notify_all();
    if (!m_thread.joinable())
        return;
    // A disk that does not answer must not hold the end of the program; what the thread still
    // does there replaces nothing any more.
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

namespace {

std::function<FileWriter::Work(quint64)> writeOf(const QString &path, const FileWriter::Bytes &bytes)
{
    return [path, bytes](quint64 ticket) -> FileWriter::Work {
        const QByteArray made = bytes ? bytes(ticket) : QByteArray();
        if (made.isNull())
            return {};
        return [path, made] { return FileWriter::writeFile(path, made) ? FileWriter::Outcome::Stored : FileWriter::Outcome::Failed; };
    };
}

} // namespace

quint64 FileWriter::write(const QString &path, const Bytes &bytes, const QString &failure, QObject *context)
{
    return hand(path, {writeOf(path, bytes), context, context != nullptr, 0}, failure, true);
}

quint64 FileWriter::writeAside(const QString &path, const Bytes &bytes, QObject *context)
{
    return hand(path, {writeOf(path, bytes), context, context != nullptr, 0}, QString(), false);
}

quint64 FileWriter::update(const QString &path, const MakeWork &make, const QString &failure)
{
    return hand(path, {[make](quint64) { return make ? make() : Work(); }, nullptr, false, 0}, failure, true);
}

quint64 FileWriter::remove(const QStringList &paths, const QString &failure)
{
    if (paths.isEmpty())
        return m_lastTicket;
    const Make make = [paths](quint64) {
        return Work([paths] { return removeFiles(paths) ? Outcome::Stored : Outcome::Failed; });
    };
    return hand(paths.constLast(), {make, nullptr, false, 0}, failure, true);
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
    Work work;
    if (job.hasContext && !job.context)
        qWarning().noquote() << "FileWriter: dropped a write of" << path << "its owner left behind";
    else if (job.make)
        work = job.make(job.ticket);
    if (!work) {
        // Nothing to write: reported in turn, like a write.
        QMetaObject::invokeMethod(
            this, [this, path, ticket = job.ticket] { finished(path, ticket, true); }, Qt::QueuedConnection);
        return;
    }
    push({path, work, job.ticket});
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
    using Clock = std::chrono::steady_clock;
    t_landed = &shared->landed;
    std::unique_lock lock(shared->mutex);
    // A file's jobs keep their order: while one waits to be tried again (behind another
    // program's lock), the file's later ones (handed over by a flush) wait behind it.
    const auto next = [&] {
        return std::find_if(shared->queue.begin(), shared->queue.end(), [&](const Job &job) {
            return std::none_of(shared->busy.cbegin(), shared->busy.cend(),
                                [&](const auto &waiting) { return waiting.second.path == job.path; });
        });
    };
    for (;;) {
        // In the order they came due, behind the other files' jobs waiting already but before
        // their own file's.
        while (!shared->busy.empty() && shared->busy.front().first <= Clock::now()) {
            Job due = std::move(shared->busy.front().second);
            shared->busy.pop_front();
            const auto later = std::find_if(shared->queue.begin(), shared->queue.end(),
                                            [&due](const Job &queued) { return queued.path == due.path; });
            shared->queue.insert(later, std::move(due));
        }
        const auto ready = [&] { return shared->ending || next() != shared->queue.end(); };
        if (shared->busy.empty())
            shared->wake.wait(lock, ready);
        else
            shared->wake.wait_until(lock, shared->busy.front().first, ready);
        const auto first = next();
        if (first == shared->queue.end()) {
            if (shared->ending)
                return;
            continue;
        }
        Job job = std::move(*first);
        shared->queue.erase(first);
        shared->doing = job.path;
        shared->landed = false;
        lock.unlock();
        t_failure = 0;
        t_folderUnsynced = 0;
        const Outcome outcome = job.work();
        lock.lock();
        shared->doing.clear();
        if (outcome == Outcome::Busy) {
            job.heldElsewhere = true;
            shared->busy.emplace_back(Clock::now() + std::chrono::milliseconds(RetryMs), std::move(job));
            continue;
        }
        // A change its folder does not hold yet is in the file, but a power cut may undo it: the
        // file counts as written, the batches waiting for it as failed.
        const bool ok = outcome == Outcome::Stored;
        const bool durable = !ok || t_folderUnsynced == 0;
        const QString why = ok ? (durable ? QString() : reasonOf(t_folderUnsynced, false))
                               : reasonOf(t_failure, job.heldElsewhere);
        if (ok && durable)
            shared->failed.remove(job.path);
        else
            shared->failed.insert(job.path);
        if (shared->owner) {
            QMetaObject::invokeMethod(
                shared->owner,
                [owner = shared->owner, path = job.path, ticket = job.ticket, ok, why] {
                    owner->finished(path, ticket, ok, why);
                },
                Qt::QueuedConnection);
        }
        shared->idle.notify_all();
    }
}

void FileWriter::finished(const QString &path, quint64 ticket, bool ok, const QString &why)
{
    if (!ok || !why.isEmpty())
        emit failed(path);
    emit written(path, ticket, ok);
    // Before the file's next job makes its bytes: what a failed batch takes back is not written.
    for (const std::shared_ptr<Batch> &batch : std::as_const(m_openBatches))
        settle(*batch, path, ticket, ok, why);
    QList<std::shared_ptr<Batch>> done;
    for (const std::shared_ptr<Batch> &batch : std::as_const(m_storingBatches)) {
        settle(*batch, path, ticket, ok, why);
        if (batch->waiting.isEmpty())
            done.append(batch);
    }
    // In one pass: thousands of requests' batches may wait for one file.
    m_storingBatches.removeIf([](const std::shared_ptr<Batch> &batch) { return batch->waiting.isEmpty(); });
    // Last closed first: changes that failed together are taken back in the reverse of their order.
    for (auto batch = done.crbegin(); batch != done.crend(); ++batch)
        report(*batch);
    // Jobs handed over while the batches reported waited for this one.
    if (--m_started[path] > 0)
        return;
    m_started.remove(path);
    const auto next = m_waiting.constFind(path);
    if (next != m_waiting.cend())
        start(path, m_waiting.take(path));
}

void FileWriter::settle(Batch &batch, const QString &path, quint64 ticket, bool ok, const QString &why)
{
    for (const std::shared_ptr<Batch> &child : std::as_const(batch.children))
        settle(*child, path, ticket, ok, why);
    const auto pending = batch.waiting.constFind(path);
    if (pending == batch.waiting.cend() || pending->ticket > ticket)
        return;
    const bool failed = !ok || !why.isEmpty();
    if (failed && (batch.failure.isEmpty() || pending->first < batch.failureTicket)) {
        batch.failure = why.isEmpty() ? pending->failure : tr("%1: %2", "what failed: why").arg(pending->failure, why);
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
            const Work work = job->make ? job->make(job->ticket) : Work();
            job->make = [work](quint64) { return work; };
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
        return m_shared->queue.empty() && m_shared->busy.empty() && m_shared->doing.isEmpty();
    });
    // A flush that waits not at all only asks; it gives nothing up.
    if (!done && timeoutMs > 0) {
        QStringList left;
        if (!m_shared->doing.isEmpty())
            left.append(m_shared->doing);
        for (const Job &job : m_shared->queue)
            left.append(job.path);
        for (const auto &job : m_shared->busy)
            left.append(job.second.path);
        qWarning().noquote() << "FileWriter: the disk did not finish in time; not written:" << left.join(QStringLiteral(", "));
        m_gaveUp = true;
    }
    return done;
}

QStringList FileWriter::giveUp()
{
    QStringList kept = m_waiting.keys();
    m_waiting.clear();
    m_gaveUp = true;
    Gate &g = gate();
    const std::lock_guard gateLock(g.mutex);
    g.closed = true;
    QString landing;
    {
        const std::lock_guard lock(m_shared->mutex);
        for (const Job &job : m_shared->queue)
            kept.append(job.path);
        for (const auto &job : m_shared->busy)
            kept.append(job.second.path);
        m_shared->queue.clear();
        m_shared->busy.clear();
        if (!m_shared->doing.isEmpty() && !m_shared->landed) {
            if (g.replacing)
                landing = m_shared->doing;
            else
                kept.append(m_shared->doing);
        }
    }
    kept.removeDuplicates();
    kept.removeOne(landing);
    if (!kept.isEmpty())
        qWarning().noquote() << "FileWriter: gave up on the disk; these keep what they held before:"
                             << kept.join(QStringLiteral(", "));
    if (landing.isEmpty())
        return kept;
    qWarning().noquote() << "FileWriter: gave up while the disk was changing" << landing
                         << "- it holds the old or the new, whole";
    return kept << landing;
}

QStringList FileWriter::failedFiles() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->failed.values();
}

void FileWriter::warn(const QString &message)
{
    // Held while it logs: once giveUp has returned, no line comes any more.
    Gate &g = gate();
    const std::lock_guard lock(g.mutex);
    if (!g.closed)
        qWarning().noquote() << message;
}

QString FileWriter::recordFailure(int error)
{
    if (t_failure == 0)
        t_failure = error;
    return reasonOf(error, false);
}

bool FileWriter::writeFile(const QString &path, const QByteArray &bytes, Stamp *written)
{
    const QFileInfo target(linkTarget(path));
    QDir().mkpath(target.absolutePath());
    const QByteArray finalName = QFile::encodeName(target.filePath());
    // Like QSaveFile: a file its owner made read-only is not replaced.
    if (::access(finalName.constData(), F_OK) == 0 && ::access(finalName.constData(), W_OK) != 0) {
        warnFailure("cannot write", path, errno);
        return false;
    }
    QByteArray temporary;
    int fd = -1;
    int reason = 0;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temporary = QFile::encodeName(target.absolutePath() + QLatin1Char('/') + temporaryName(target.fileName()));
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            reason = errno;
            if (reason == EEXIST)
                continue;
            break;
        }
        reason = lockOwn(fd);
        if (reason == 0)
            break;
        if (reason != ENOENT)
            ::unlink(temporary.constData());
        ::close(fd);
        fd = -1;
        if (reason != ENOENT)
            break;
    }
    if (fd < 0) {
        warnFailure("cannot write", path, reason);
        return false;
    }
    // A file keeps its mode and owners, and a new one takes its folder's owners: a run as root on
    // the user's home (through sudo, to reach a serial port) leaves the user's files the user's.
    struct stat old = {};
    const bool replacing = ::stat(finalName.constData(), &old) == 0;
    if (replacing)
        ::fchmod(fd, old.st_mode & 07777);
    if ((replacing || ::stat(QFile::encodeName(target.absolutePath()).constData(), &old) == 0)
        && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
        (void)::fchown(fd, old.st_uid, old.st_gid);
    const auto fail = [&](const char *what, int error) {
        ::unlink(temporary.constData());
        ::close(fd);
        if (error != ECANCELED)
            warnFailure(what, path, error);
        return false;
    };
    // Every write checked: a full disk or a file size limit may take only part of the bytes.
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t wrote = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return fail("short write to", wrote < 0 ? errno : ENOSPC);
        done += wrote;
    }
    // Only a file the disk has taken may replace the old one: a failed sync (a failing card, a
    // stick pulled, a network folder over quota) keeps the old file, and says so.
    if (g_faults & SyncFails)
        return fail("cannot sync", EIO);
    if (::fdatasync(fd) != 0)
        return fail("cannot sync", errno);
    const int folder = openFolder(target.filePath());
    if (folder < 0)
        return fail("cannot open the folder of", errno);
    const int renamed = commit([&] { return ::rename(temporary.constData(), finalName.constData()) == 0 ? 0 : errno; });
    if (renamed != 0) {
        ::close(folder);
        return fail("cannot replace", renamed);
    }
    struct stat made = {};
    if (written)
        *written = ::fstat(fd, &made) == 0 ? stampFrom(made) : Stamp();
    ::close(fd);
    // The new file is in place by now: a folder that cannot be synced fails the job's batches
    // but not the write, as the store's memory must match the file.
    syncFolder(folder, target.filePath());
    return true;
}

bool FileWriter::removeFiles(const QStringList &paths)
{
    // A removal needs no descriptor: with none left to open its folder with (a flood of
    // connections) a profile can still be deleted, its folder then unsynced.
    const int folder = openFolder(paths.constLast());
    const int unopened = folder < 0 ? errno : 0;
    if (unopened != 0 && unopened != EMFILE && unopened != ENFILE) {
        warnFailure("cannot open the folder of", paths.constLast(), unopened);
        return false;
    }
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString &path = paths.at(i);
        const QByteArray name = QFile::encodeName(path);
        const int error = commit([&] { return ::unlink(name.constData()) == 0 || errno == ENOENT ? 0 : errno; },
                                 i == paths.size() - 1);
        if (error != 0) {
            if (folder >= 0)
                ::close(folder);
            if (error != ECANCELED)
                warnFailure("cannot remove", path, error);
            return false;
        }
    }
    syncFolder(folder, paths.constLast(), unopened);
    return true;
}

int FileWriter::openFolder(const QString &path)
{
    // Opened before the change: one that cannot be (a folder the user may write in but not
    // read) could not be synced after it, and the change would land yet be reported failed.
    return ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void FileWriter::syncFolder(int folder, const QString &path, int unopened)
{
    // A rename or removal lives in the folder: until the folder is on disk too, a power cut can
    // bring the old file back after the change was reported done.
    if (folder < 0)
        t_folderUnsynced = unopened;
    else if (g_faults & FolderSyncFails)
        t_folderUnsynced = EIO;
    else if (::fsync(folder) != 0)
        t_folderUnsynced = errno;
    if (folder >= 0)
        ::close(folder);
    if (t_folderUnsynced != 0)
        FileWriter::warn(QStringLiteral("FileWriter: cannot sync the folder of %1 %2").arg(path, qt_error_string(t_folderUnsynced)));
}

bool FileWriter::Stamp::operator==(const Stamp &other) const
{
    return device == other.device && inode == other.inode && size == other.size && modified == other.modified
           && changed == other.changed;
}

FileWriter::Stamp FileWriter::stampOf(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? stampFrom(st) : Stamp();
}

bool FileWriter::readFile(const QString &path, QByteArray &bytes, Stamp &stamp, QString &error)
{
    bytes.clear();
    if (g_faults & ReadFails) {
        t_failure = EIO;
        error = qt_error_string(EIO);
        return false;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st = {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        t_failure = errno;
        error = qt_error_string(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    stamp = stampFrom(st);
    bytes.reserve(qsizetype(st.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            t_failure = errno;
            error = qt_error_string(errno);
            ::close(fd);
            bytes.clear();
            return false;
        }
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    ::close(fd);
    return true;
}

void FileWriter::removeLeftovers(const QString &folder)
{
    static const QRegularExpression own(QStringLiteral("^\\..+%1[A-Za-z0-9]{6}$")
                                            .arg(QRegularExpression::escape(QLatin1String(TemporaryMark))));
    const QDir dir(folder);
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QFileInfo &info : files) {
        if (!own.match(info.fileName()).hasMatch())
            continue;
        const QByteArray name = QFile::encodeName(info.absoluteFilePath());
        const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // A write on its way holds its file; one killed half-way holds nothing.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(name.constData()) == 0)
            qInfo().noquote() << "FileWriter: removed the leftover of an unfinished write" << info.fileName();
        ::close(fd);
    }
}

void FileWriter::setFaults(int faults)
{
    g_faults = faults;
}

} // namespace corvane
