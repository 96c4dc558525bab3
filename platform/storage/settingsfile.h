#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

namespace corvane {

// One settings file of the program, in the INI format QSettings reads and writes, so that every
// file written before loads and QSettings reads what is written here. The file is read when it is
// first named and held in memory for as long as a SettingsFile names it or a write of it is on
// its way: every SettingsFile of one file shares that memory, and reads come from it. Each change
// is handed to the program's FileWriter; on its thread, in QSettings' order, QSettings' lock is
// taken (waiting for another program that holds it as QLockFile judges it, never writing past
// it), the file is read again when it has changed since (a hand edit, a QSettings-based tool),
// this process's changes not yet on disk are put on top, and the whole file replaces the old one
// once it is whole on disk; memory then follows the file, and changedOnDisk says which keys
// another writer changed. A file that could not be read is never written over. The thread that
// changes a setting never waits for the disk, nor makes the file's bytes.
class SettingsFile : public QObject
{
    Q_OBJECT
public:
    // The program's own settings: the file of the application's organisation and name.
    explicit SettingsFile(QObject *parent = nullptr);
    // The file of another application of the organisation, such as "MotionSystem".
    explicit SettingsFile(const QString &application, QObject *parent = nullptr);
    ~SettingsFile() override;

    QString fileName() const;
    // Whether the file held lines that could not be read when it was loaded (what could be read
    // is kept).
    bool isDamaged() const;
    bool contains(const QString &key) const;
    QVariant value(const QString &key, const QVariant &fallback = QVariant()) const;

    // Why the last write of the file failed, as the user may read it; empty after one that stored.
    QString failure() const;

    // Each change is handed to the writer at once; the number returned comes back with `written`.
    // A key set is a key written, whatever the file or memory held for it: callers hand over the
    // keys that changed, and only those.
    quint64 setValue(const QString &key, const QVariant &value);
    // The keys of `group` ("lounge"; empty: no group), in one write; `failure` says what a
    // request waiting for it could not store.
    quint64 setValues(const QString &group, const QVariantMap &values, const QString &failure = QString());
    // Removes a key, or a group with every key under it; the empty name removes everything.
    quint64 remove(const QString &key);

    // Waits until every settings file write handed over so far has been reported, at most
    // `timeoutMs`: for quitting, when the next run (or a restart) must find them. Runs the
    // event loop meanwhile but takes no input. False when one is still on its way.
    static bool waitForWrites(int timeoutMs);

signals:
    // Everything handed over for the file up to `ticket` is on disk, or (not `ok`) that write
    // failed (a full disk, a failed sync, a file that cannot be read, another program holding the
    // file's lock for the 5 s a write waits, a lock file that cannot be made or something else
    // in its place; failure() says which) and the old file stays whole. What failed stays in
    // memory and goes with the next write of the file.
    void written(quint64 ticket, bool ok);
    // A write found these keys changed in the file by another writer; value() gives the file's
    // values now, except for keys this process changed and has not yet stored. Emitted before
    // the write's `written`.
    void changedOnDisk(const QStringList &keys);

private:
    struct Contents;

    quint64 write(const QString &failure = QString());

    std::shared_ptr<Contents> m_contents;
};

} // namespace corvane
