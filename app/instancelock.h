#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

// One copy of the program per folder: a kernel lock on a file in the folder, which goes with the
// process however it ends (kill -9 too), so no lock is ever left behind. The copy that holds it
// listens on a local socket named after the folder, in the session's runtime folder, so that a
// second start can ask it to come forward.
class InstanceLock : public QObject
{
public:
    explicit InstanceLock(const QString &folder, QObject *parent = nullptr);
    ~InstanceLock() override;

    // Takes the folder, waiting up to `waitMs` while another copy holds it; false when that copy
    // still does. A folder that takes no lock (read-only, or a file system without locks) is
    // logged and counts as held: the program runs there as it always has.
    bool acquire(int waitMs);

    // Answers each second start with what `answer` returns; only once acquired.
    using Answer = std::function<QByteArray()>;
    bool listen(const Answer &answer);
    // Asks the copy that holds the folder to come forward; its answer, empty when none came.
    QByteArray askHolder() const;

private:
    QString serverName() const;

    QString m_folder;
    int m_fd = -1;
    QLocalServer *m_server = nullptr;
};
