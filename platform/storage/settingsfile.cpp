#include "platform/storage/settingsfile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QLockFile>
#include <QPointer>
#include <QSet>
#include <QSettings>
#include <QStringList>
#include <QSysInfo>
#include <QTimer>
#include <QtDebug>

#include <cerrno>
#include <iterator>
#include <mutex>
#include <utility>

#include <sys/stat.h>

#include "platform/storage/filewriter.h"
#include "platform/storage/iniformat.h"

namespace corvane {

namespace {

QString settingsPath(const QString &application)
{
    static QHash<QString, QString> paths;
    auto path = paths.find(application);
    if (path == paths.end()) {
        // Where QSettings keeps the application's file, so that the program finds what it kept
        // before.
        const QSettings named(QSettings::NativeFormat, QSettings::UserScope, QCoreApplication::organizationName(), application);
        path = paths.insert(application, named.fileName());
    }
    return *path;
}

// A change of this process not yet on disk.
struct Change
{
    bool remove = false;
    QVariant value;
    quint64 revision = 0;
};
using Changes = QMap<QString, Change>;

// What the file held when it was last read or written, shared with the writer's thread.
struct Disk
{
    std::mutex mutex;
    QVariantMap values;
    FileWriter::Stamp stamp;
    bool known = false; // values are what the file holds; false while it could not be read
    quint64 stored = 0; // the changes up to this revision are on disk
    QStringList changedOnDisk; // by another writer, not yet told
    QString failure; // why the last write failed
    QList<QVariantMap> released; // let go by the thread that reads settings, freed by the writer's
};

// How long a write waits for another program's hold on QSettings' lock (its own read, merge and
// rename) before it fails as for a full disk; the change stays in memory for the next write.
constexpr int LockWaitMs = 5000;

// Whether a lock file names this very process, as QLockFile writes it.
bool namesThisProcess(const QLockFile &lock)
{
    qint64 pid = 0;
    QString host;
    QString application;
    return lock.getLockInfo(&pid, &host, &application) && pid == QCoreApplication::applicationPid()
           && host == QSysInfo::machineHostName();
}

// On the writer's thread, in QSettings' order: takes the file's lock, reads the file again when
// it has changed since it was last read or written (a hand edit, a tool), puts this process's
// changes on top and writes the whole file. A file that cannot be read is never replaced.
FileWriter::Outcome storeChanges(Disk &disk, const QString &path, const Changes &changes, quint64 revision,
                                 QDeadlineTimer &patience)
{
    const auto fail = [&disk, &path](const QString &failure) {
        FileWriter::warn(QStringLiteral("Settings: not written: %1 - %2 - the change stays in memory").arg(path, failure));
        const std::lock_guard lock(disk.mutex);
        disk.failure = failure;
        return FileWriter::Outcome::Failed;
    };
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString lockPath = path + QLatin1String(".lock");
    // Short enough for a toast; the log names the folder.
    const QString shown = QFileInfo(lockPath).fileName();
    // Only a lock file is QLockFile's to judge: anything else in its place is never free (and a
    // pipe would hold QLockFile reading it).
    struct stat found = {};
    if (::lstat(QFile::encodeName(lockPath).constData(), &found) == 0 && !S_ISREG(found.st_mode)) {
        return fail((S_ISLNK(found.st_mode)  ? SettingsFile::tr("%1 is a link, not a lock file")
                     : S_ISDIR(found.st_mode) ? SettingsFile::tr("%1 is a folder, not a lock file")
                                              : SettingsFile::tr("%1 is not a lock file"))
                        .arg(shown));
    }
    // Judged as QSettings judges it, by QLockFile: another program's lock is held while the process
    // it names runs, up to the stale time QSettings keeps (QLockFile's own); one of a process that
    // ended, or older, QLockFile removes. A lock file is never judged by a probe of its own:
    // QLockFile's file stands unlocked for a moment when it is made and when it is let go.
    QLockFile lock(lockPath);
    bool locked = lock.tryLock(0);
    // QLockFile counts a lock naming a running process of the same name as held, one naming this
    // process too. Here only this thread takes the lock, and not now: such a lock was left by an
    // earlier run that had this one's number (killed in a write, in a container where numbers
    // repeat). It is removed as QLockFile removes a stale one: only with no owner's flock on it,
    // and under the guard that keeps two removers apart.
    if (!locked && lock.error() == QLockFile::LockFailedError && namesThisProcess(lock)) {
        QLockFile guard(lockPath + QLatin1String(".rmlock"));
        if (guard.tryLock(0) && namesThisProcess(lock) && lock.removeStaleLockFile())
            locked = lock.tryLock(0);
    }
    if (!locked && lock.error() != QLockFile::LockFailedError) {
        // Why the system refused QLockFile's step (a full disk, a file-size limit, a folder not
        // the user's), as QLockFile leaves it.
        const QString why = FileWriter::recordFailure(errno);
        return fail(why.isEmpty() ? SettingsFile::tr("%1 cannot be made").arg(shown)
                                  : SettingsFile::tr("%1 cannot be made: %2").arg(shown, why));
    }
    if (!locked) {
        // Also when its owner let go of it while QLockFile looked: tried again shortly.
        if (patience.isForever())
            patience.setRemainingTime(LockWaitMs);
        if (!patience.hasExpired())
            return FileWriter::Outcome::Busy;
        return fail(SettingsFile::tr("another program holds %1").arg(shown));
    }
    QVariantMap values;
    FileWriter::Stamp known;
    bool readable = false;
    QList<QVariantMap> released;
    {
        const std::lock_guard guard(disk.mutex);
        released.swap(disk.released);
        values = disk.values;
        known = disk.stamp;
        readable = disk.known;
    }
    released.clear();
    FileWriter::Stamp now = FileWriter::stampOf(path);
    if (!readable || now != known) {
        QByteArray bytes;
        QString error;
        bool damaged = false;
        QVariantMap read;
        if (now.exists() && !FileWriter::readFile(path, bytes, now, error))
            return fail(SettingsFile::tr("%1 cannot be read (%2) and is not written over").arg(QFileInfo(path).fileName(), error));
        if (now.exists())
            read = IniFormat::parsed(bytes, damaged);
        QStringList changed = IniFormat::differingKeys(values, read);
        values = read;
        QVariantMap old;
        const std::lock_guard guard(disk.mutex);
        old = std::exchange(disk.values, read);
        disk.stamp = now;
        disk.known = true;
        disk.changedOnDisk += std::move(changed);
    }
    for (auto change = changes.cbegin(); change != changes.cend(); ++change) {
        if (change->remove)
            values.remove(change.key());
        else
            values.insert(change.key(), change->value);
    }
    // The stamp of what was written, not of what is there once the folder is synced: a hand edit
    // meanwhile is read by the next write.
    FileWriter::Stamp written;
    if (!FileWriter::writeFile(path, IniFormat::text(values), &written))
        return fail(SettingsFile::tr("they could not be written (is the disk full?)"));
    QVariantMap old;
    const std::lock_guard guard(disk.mutex);
    old = std::exchange(disk.values, std::move(values));
    disk.stamp = written;
    disk.stored = std::max(disk.stored, revision);
    disk.failure.clear();
    return FileWriter::Outcome::Stored;
}

} // namespace

struct SettingsFile::Contents
{
    ~Contents()
    {
        QObject::disconnect(reports);
        // Gone from the list unless a newer load of the file took its place.
        auto &files = open();
        const auto entry = files.constFind(path);
        if (entry != files.cend() && entry->expired())
            files.erase(entry);
    }

    // Never destroyed: contents let go by statics that end after it (the shared writer's
    // waiting jobs) still look themselves up in it.
    static QHash<QString, std::weak_ptr<Contents>> &open()
    {
        static auto *files = new QHash<QString, std::weak_ptr<Contents>>;
        return *files;
    }

    static std::shared_ptr<Contents> of(const QString &path)
    {
        if (std::shared_ptr<Contents> found = open().value(path).lock())
            return found;
        auto contents = std::make_shared<Contents>();
        contents->path = path;
        contents->load();
        open().insert(path, contents);
        const std::weak_ptr<Contents> weak = contents;
        FileWriter &writer = FileWriter::shared();
        contents->reports = QObject::connect(&writer, &FileWriter::written, &writer,
                                             [weak](const QString &written, quint64 ticket, bool ok) {
                                                 const std::shared_ptr<Contents> held = weak.lock();
                                                 if (held && written == held->path)
                                                     held->report(ticket, ok);
                                             });
        return contents;
    }

    // The files with a write on its way, held so that a SettingsFile made meanwhile starts from
    // their memory, which is newer than the file. Held here rather than by themselves, so that
    // what the end of the program leaves on its way is still let go.
    static QHash<QString, std::shared_ptr<Contents>> &writing()
    {
        static QHash<QString, std::shared_ptr<Contents>> files;
        return files;
    }

    static bool anyPending() { return !writing().isEmpty(); }

    void load()
    {
        // What writes killed half-way left beside the settings, once per folder.
        static QSet<QString> tidied;
        const QString folder = QFileInfo(path).absolutePath();
        if (!tidied.contains(folder)) {
            tidied.insert(folder);
            FileWriter::removeLeftovers(folder);
        }
        disk->stamp = FileWriter::stampOf(path);
        disk->known = true;
        if (!disk->stamp.exists())
            return;
        QByteArray bytes;
        QString error;
        if (!FileWriter::readFile(path, bytes, disk->stamp, error)) {
            // Nothing is written over it while it stays so: every other setting would be lost.
            qWarning().noquote() << "Settings: cannot read" << path << error;
            damaged = true;
            disk->known = false;
            return;
        }
        base = IniFormat::parsed(bytes, damaged);
        disk->values = base;
        if (damaged)
            qWarning().noquote() << "Settings: parts of" << path << "could not be read";
    }

    // What this process holds for a key: its own change, else what the file held; null: nothing.
    const QVariant *held(const QString &key) const
    {
        const auto change = changes.constFind(key);
        if (change != changes.cend())
            return change->remove ? nullptr : &change->value;
        const auto stored = base.constFind(key);
        return stored == base.cend() ? nullptr : &stored.value();
    }

    void set(const QString &key, const QVariant &value) { changes.insert(key, {false, value, ++revision}); }

    // The key and every key under it (everything for the empty name): as QSettings does, the
    // keys this process knows, not those another writer adds later.
    void removeKeys(const QString &name)
    {
        QStringList keys;
        const QString under = name + QLatin1Char('/');
        const auto collect = [&](const auto &map) {
            if (name.isEmpty()) {
                keys += map.keys();
                return;
            }
            if (map.contains(name))
                keys.append(name);
            for (auto it = map.lowerBound(under); it != map.cend() && it.key().startsWith(under); ++it)
                keys.append(it.key());
        };
        collect(std::as_const(base));
        collect(std::as_const(changes));
        for (const QString &key : std::as_const(keys))
            changes.insert(key, {true, QVariant(), ++revision});
    }

    void report(quint64 ticket, bool ok)
    {
        quint64 stored = 0;
        QStringList changedOnDisk;
        {
            const std::lock_guard lock(disk->mutex);
            // Memory follows the file: what a hand edit or a tool put there shows now. A large
            // file's old copy is freed by the writer's thread, not this one.
            if (!base.isSharedWith(disk->values))
                disk->released.append(std::exchange(base, disk->values));
            stored = disk->stored;
            changedOnDisk.swap(disk->changedOnDisk);
            failure = disk->failure;
        }
        for (auto change = changes.begin(); change != changes.end();)
            change = change->revision <= stored ? changes.erase(change) : std::next(change);
        const QList<QPointer<SettingsFile>> told(handles);
        if (!changedOnDisk.isEmpty()) {
            changedOnDisk.removeDuplicates();
            for (const QPointer<SettingsFile> &handle : told) {
                if (handle)
                    emit handle->changedOnDisk(changedOnDisk);
            }
        }
        for (const QPointer<SettingsFile> &handle : told) {
            if (handle)
                emit handle->written(ticket, ok);
        }
        if (ticket >= lastTicket && writing().value(path).get() == this)
            writing().remove(path); // may be the last hold on this, which the caller keeps alive
    }

    QString path;
    std::shared_ptr<Disk> disk = std::make_shared<Disk>();
    QVariantMap base; // what the file held as last read or written
    Changes changes; // this process's, not on disk yet
    quint64 revision = 0; // of the last change
    bool damaged = false;
    QString failure; // of the last write
    quint64 lastTicket = 0; // of the last write handed over
    QList<QPointer<SettingsFile>> handles;
    QMetaObject::Connection reports;
};

SettingsFile::SettingsFile(QObject *parent)
    : SettingsFile(QCoreApplication::applicationName(), parent)
{
}

SettingsFile::SettingsFile(const QString &application, QObject *parent)
    : QObject(parent)
    , m_contents(Contents::of(settingsPath(application)))
{
    m_contents->handles.append(this);
}

SettingsFile::~SettingsFile()
{
    m_contents->handles.removeAll(this);
}

QString SettingsFile::fileName() const
{
    return m_contents->path;
}

bool SettingsFile::isDamaged() const
{
    return m_contents->damaged;
}

QString SettingsFile::failure() const
{
    return m_contents->failure;
}

bool SettingsFile::contains(const QString &key) const
{
    return m_contents->held(IniFormat::normalizedKey(key)) != nullptr;
}

QVariant SettingsFile::value(const QString &key, const QVariant &fallback) const
{
    if (const QVariant *held = m_contents->held(IniFormat::normalizedKey(key)))
        return *held;
    return fallback;
}

quint64 SettingsFile::setValue(const QString &key, const QVariant &value)
{
    m_contents->set(IniFormat::normalizedKey(key), value);
    return write();
}

quint64 SettingsFile::setValues(const QString &group, const QVariantMap &values, const QString &failure)
{
    const QString prefix = IniFormat::normalizedKey(group);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        m_contents->set(IniFormat::normalizedKey(prefix + QLatin1Char('/') + it.key()), it.value());
    return write(failure);
}

quint64 SettingsFile::remove(const QString &key)
{
    m_contents->removeKeys(IniFormat::normalizedKey(key));
    return write();
}

quint64 SettingsFile::write(const QString &failure)
{
    Contents::writing().insert(m_contents->path, m_contents);
    // The changes are taken when the write starts; the file is read, merged and made on the
    // writer's thread.
    const auto make = [contents = m_contents]() -> FileWriter::Work {
        if (contents->changes.isEmpty())
            return {};
        // Not waiting for another program's lock yet.
        return [disk = contents->disk, path = contents->path, changes = contents->changes, revision = contents->revision,
                patience = QDeadlineTimer(QDeadlineTimer::Forever)]() mutable {
            return storeChanges(*disk, path, changes, revision, patience);
        };
    };
    m_contents->lastTicket = FileWriter::shared().update(m_contents->path, make, failure);
    return m_contents->lastTicket;
}

bool SettingsFile::waitForWrites(int timeoutMs)
{
    if (!Contents::anyPending())
        return true;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    // After the files have taken their reports: connected later, called later.
    QObject::connect(&FileWriter::shared(), &FileWriter::written, &loop, [&loop] {
        if (!Contents::anyPending())
            loop.quit();
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return !Contents::anyPending();
}

} // namespace corvane
