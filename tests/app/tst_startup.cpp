#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/endsignals.h"
#include "app/instancelock.h"
#include "app/startup.h"
#include "bridge/logrouter.h"
#include "platform/storage/filewriter.h"
#include "platform/storage/settingsfile.h"
#include "profiles/profilemanager.h"
#include "support/heldrenames.h"
#include "support/testenvironment.h"

namespace {

// The handler that was there before the program's: it must still see every message. Messages
// come from any thread at once (the file writer's among them). A pthread mutex, which race
// detectors such as helgrind see.
std::mutex g_seenMutex;
QStringList g_seenBefore;
QtMessageHandler g_testHandler = nullptr;

QStringList seenBefore()
{
    const std::lock_guard locker(g_seenMutex);
    return g_seenBefore;
}

void handlerBefore(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        const std::lock_guard locker(g_seenMutex);
        g_seenBefore << QStringLiteral("%1 %2").arg(type).arg(message);
    }
    if (g_testHandler)
        g_testHandler(type, context, message);
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

// Whole or not at all: the other process may look at any moment.
bool put(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// Answers the next message box with its first button, having written what it said to `path`.
void answerNextBox(QTimer &timer, const QString &path, bool bySignal = false)
{
    timer.callOnTimeout([&timer, path, bySignal] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->buttons().isEmpty())
            return;
        timer.stop();
        put(path, (box->text() + '\n' + box->informativeText()).toUtf8());
        if (bySignal)
            ::raise(SIGTERM);
        else
            box->buttons().constFirst()->click();
    });
    timer.start(20);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        g_testHandler = qInstallMessageHandler(handlerBefore);
        installLogRouting();
    }

    void cleanupTestCase() { qInstallMessageHandler(g_testHandler); }

    void identity()
    {
        QCoreApplication::setOrganizationName(QString());
        QCoreApplication::setApplicationName(QString());
        setApplicationIdentity(*qApp);
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Qorvant"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Qorvant OSTRA"));
        QVERIFY(!QApplication::windowIcon().isNull());
        // Each window made hands its icon to the window system: small, not the logo's 560 px.
        QCOMPARE(QApplication::windowIcon().availableSizes(), QList<QSize>{QSize(128, 33)});
        QVERIFY(corvane::SettingsFile().fileName().contains(QStringLiteral("Qorvant OSTRA")));
        QCOMPARE(settingsFolder(), QFileInfo(corvane::SettingsFile().fileName()).absolutePath());
    }

    // A warning from a worker reaches the router on the GUI thread, and the handler before.
    void workerWarningRouted()
    {
        {
            const std::lock_guard locker(g_seenMutex);
            g_seenBefore.clear();
        }
        QList<QPair<int, bool>> delivered;
        QStringList messages;
        const auto connection = connect(corvane::LogRouter::instance(), &corvane::LogRouter::logEmitted, this,
                                        [&](int type, const QString &message) {
                                            delivered << qMakePair(type, QThread::currentThread() == qApp->thread());
                                            messages << message;
                                        });
        QThread *worker = QThread::create([] { qWarning("from the worker"); });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        QCOMPARE(seenBefore(), QStringList{QStringLiteral("1 from the worker")});
        QTRY_COMPARE(messages, QStringList{QStringLiteral("from the worker")});
        disconnect(connection);
        QCOMPARE(delivered, (QList<QPair<int, bool>>{qMakePair(1, true)}));
    }

    // The end of a run while the disk hangs (a save's sync does not return, its rename does not,
    // a removal of two files hangs on the first, another program holds a settings file's lock):
    // the run waits for it however long it takes, and says so on screen; the process then ends
    // with its exit code, every change on disk. A restart begins only then: the next copy reads
    // what the file holds, and the user is told which file may lack the last changes, where a
    // write failed.
    void endOfRunWhileTheDiskHangs_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("hang");
        QTest::addColumn<QByteArray>("held"); // what kept.json holds in the end
        QTest::addColumn<QStringList>("named"); // by the restart's box
        const QStringList both{"kept.json", "the profile \"Fast <b>car</b>\""};
        QTest::newRow("quit") << "quit" << "sync" << QByteArray("new") << QStringList();
        QTest::newRow("restart") << "restart" << "sync" << QByteArray("new") << QStringList();
        // Asked to end while it waits: it ends once the disk is done, with no restart.
        QTest::newRow("restart, a signal while it waits") << "restart, signalled" << "sync" << QByteArray("new") << QStringList();
        QTest::newRow("restart in the rename") << "restart" << "rename" << QByteArray("new") << QStringList();
        QTest::newRow("quit in a removal of two files") << "quit" << "removal" << QByteArray("missing") << QStringList();
        QTest::newRow("restart behind another program's lock") << "restart" << "lock" << QByteArray("old") << QStringList();
        QTest::newRow("restart after a failed write") << "restart" << "fails" << QByteArray("old") << both;
        QTest::newRow("restart after a failed write, a signal at its box") << "restart, signalled" << "fails" << QByteArray("old") << both;
        // A profile the disk refused is not the user's: its file is not named.
        QTest::newRow("restart on a full disk after a new profile failed") << "restart" << "new profile" << QByteArray("old") << both;
    }

    void endOfRunWhileTheDiskHangs()
    {
        QFETCH(QString, end);
        QFETCH(QString, hang);
        QFETCH(QByteArray, held);
        QFETCH(QStringList, named);
        QTemporaryDir dir;
        QVERIFY(put(dir.filePath("kept.json"), "old"));
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("OSTRA_END_RUN", end);
        environment.insert("OSTRA_END_RUN_HANG", hang);
        environment.insert("OSTRA_END_RUN_DIR", dir.path());
        run.setProcessEnvironment(environment);
        // A file, not a pipe: the copy a restart starts writes there too, after the run ended.
        run.setStandardOutputFile(dir.filePath("output"));
        run.setStandardErrorFile(dir.filePath("output"), QIODevice::Append);
        run.start(QCoreApplication::applicationFilePath(), {"endOfRunChild"});
        QVERIFY(run.waitForFinished(120000));
        const QByteArray output = contentsOf(dir.filePath("output"));
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 3, output.constData());
        // The run waited for the disk in sight of the user.
        const bool waited = hang != "fails" && hang != "new profile";
        QCOMPARE(contentsOf(dir.filePath("saving")).startsWith("Saving before the OSTRA ends"), waited);
        QCOMPARE(contentsOf(dir.filePath("kept.json")), held);
        // Waiting is no giving up: nothing says a file was left unwritten.
        QVERIFY2(!output.contains("did not finish in time"), output.constData());
        QCOMPARE(output.contains("the restart is left out"), end == "restart, signalled");
        if (end == "restart") {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("restarted")), 30000);
            QCOMPARE(contentsOf(dir.filePath("restarted")), held);
            const QString told = QString::fromUtf8(contentsOf(dir.filePath("told")));
            QCOMPARE(told == "missing", named.isEmpty());
            QVERIFY2(named.isEmpty()
                         || (told.contains("may not hold your last changes") && !told.contains("disk")
                             && !told.contains(QRegularExpression("[0-9a-f]{8}-")) && !told.contains("Never made")),
                     qPrintable(told));
            for (const QString &name : named)
                QVERIFY2(told.contains(name), qPrintable(told));
        }
    }

    // The run of endOfRunWhileTheDiskHangs, and the copy its restart starts.
    void endOfRunChild()
    {
        const QString end = qEnvironmentVariable("OSTRA_END_RUN");
        if (end.isEmpty())
            QSKIP("a run of endOfRunWhileTheDiskHangs, started by it");
        const QDir dir(qEnvironmentVariable("OSTRA_END_RUN_DIR"));
        if (QFile::exists(dir.filePath("ran"))) {
            // The restarted copy: what it finds at its start.
            QVERIFY(put(dir.filePath("restarted"), contentsOf(dir.filePath("kept.json"))));
            return;
        }
        QVERIFY(put(dir.filePath("ran"), ""));
        // As main sets it up; gone with its window before the end, as there.
        auto window = std::make_unique<QWidget>();
        closeOnEndSignals(window.get());
        window.reset();
        corvane::ProfileManager store;
        const QString id = store.createProfile("Fast <b>car</b>");
        corvane::FileWriter &writer = corvane::FileWriter::shared();
        QVERIFY(writer.flush(10000));
        const QString hang = qEnvironmentVariable("OSTRA_END_RUN_HANG");
        using Hold = ostratest::HeldRenames::Hold;
        std::unique_ptr<ostratest::HeldRenames> hangingDisk;
        std::unique_ptr<QLockFile> other;
        if (hang == "fails" || hang == "new profile") {
            corvane::FileWriter::setFaults(corvane::FileWriter::SyncFails);
            if (hang == "new profile") {
                const QString never = store.createProfile("Never made");
                QTRY_VERIFY(!store.mutableProfile(never));
            }
            writer.write(dir.filePath("kept.json"), [](quint64) { return QByteArray("new"); });
        } else if (hang == "lock") {
            corvane::SettingsFile settings(QStringLiteral("Held"));
            QDir().mkpath(QFileInfo(settings.fileName()).absolutePath());
            other = std::make_unique<QLockFile>(settings.fileName() + ".lock");
            QVERIFY(other->lock());
            settings.setValue(QStringLiteral("x"), 1);
        } else if (hang == "removal") {
            QVERIFY(put(dir.filePath("stale.json"), "old"));
            hangingDisk = std::make_unique<ostratest::HeldRenames>("stale.json", 60000, Hold::Removals);
            writer.remove({dir.filePath("stale.json"), dir.filePath("kept.json")}, "not removed");
        } else {
            hangingDisk = std::make_unique<ostratest::HeldRenames>("kept.json", 60000, hang == "rename" ? Hold::Renames : Hold::Syncs);
            writer.write(dir.filePath("kept.json"), [](quint64) { return QByteArray("new"); });
        }
        if (hangingDisk)
            QTRY_COMPARE(hangingDisk->waiting(), 1);
        QVERIFY(store.saveProfile(id));
        // Writes that fail end by themselves, however busy the machine: the end of the run finds
        // them over and does not wait for the disk.
        if (hang == "fails" || hang == "new profile")
            QTRY_VERIFY_WITH_TIMEOUT(writer.flush(0), 60000);
        // The disk comes back once the run has said that it waits.
        QTimer saving;
        saving.callOnTimeout([&] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(top);
                if (box && box->isVisible() && box->buttons().isEmpty()) {
                    saving.stop();
                    put(dir.filePath("saving"), (box->text() + '\n' + box->informativeText()).toUtf8());
                    if (end.endsWith("signalled"))
                        ::raise(SIGTERM);
                    if (hangingDisk)
                        hangingDisk->release();
                    if (other)
                        other->unlock();
                }
            }
        });
        saving.start(20);
        QTimer answer;
        answerNextBox(answer, dir.filePath("told"), end.endsWith("signalled"));
        // As main ends.
        std::exit(endRun(3, end.startsWith("restart"), store.fileNames()));
    }

    // One copy of the program per settings folder and per profile store. A second start that
    // shares either ends, and the copy that runs comes forward; one started by the theme restart
    // waits a few seconds for the old copy's end, and only then refuses; a copy killed with -9
    // keeps no later one out. A run as root leaves lock files the user's later runs can lock;
    // where none can be had (one of root's from before, a folder the user cannot write), the copy
    // runs and says so once on screen.
    void oneCopyPerFolder_data()
    {
        QTest::addColumn<QString>("first"); // what the first copy does once it holds the folders
        QTest::addColumn<QString>("folders"); // the second's config and data homes (the first's: settings data)
        QTest::addColumn<QString>("before"); // what is there before; set: the copies run as another user
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("warned"); // what the first copy tells on screen
        const QString same = "settings data";
        QTest::newRow("second start") << "stays" << same << "" << QByteArray("refused") << "";
        QTest::newRow("after kill -9") << "killed" << same << "" << QByteArray("held") << "";
        QTest::newRow("theme restart") << "restarts" << same << "" << QByteArray("held") << "";
        QTest::newRow("theme restart, old copy stays") << "restarts and stays" << same << "" << QByteArray("refused") << "";
        QTest::newRow("while the first ends") << "ends" << same << "" << QByteArray("refused") << "";
        QTest::newRow("first killed while asked") << "hangs" << same << "" << QByteArray("held") << "";
        QTest::newRow("same data folder, other settings folder") << "stays" << "settings2 data" << "" << QByteArray("refused") << "";
        QTest::newRow("same settings folder, other data folder") << "stays" << "settings data2" << "" << QByteArray("refused") << "";
        QTest::newRow("same data folder through a link") << "stays" << "settings2 datalink" << "" << QByteArray("refused") << "";
        QTest::newRow("other folders") << "stays" << "settings2 data2" << "" << QByteArray("held") << "";
        QTest::newRow("after a run as root") << "stays" << same << "root run" << QByteArray("refused") << "";
        const QString lockFile = "settings/Qorvant/." + QCoreApplication::applicationName() + ".running (Permission denied)";
        QTest::newRow("lock file root's 0600") << "stays" << same << "root's 0600" << QByteArray("refused") << lockFile;
        // No lock file there: the folder is named, not a file that does not exist.
        QTest::newRow("read-only settings folder") << "stays" << same << "read-only settings" << QByteArray("refused")
                                                   << "settings/Qorvant (Permission denied)";
    }

    void oneCopyPerFolder()
    {
        QFETCH(QString, first);
        QFETCH(QString, folders);
        QFETCH(QString, before);
        QFETCH(QByteArray, second);
        QFETCH(QString, warned);
        QTemporaryDir dir;
        QVERIFY(QFile::link(dir.filePath("data"), dir.filePath("datalink")));
        const bool asUser = !before.isEmpty();
        if (asUser) {
            if (::geteuid() != 0)
                QSKIP("needs root to leave files as root");
            // The user's own folders, where the first copy's settings and profiles live.
            const QString settings = dir.filePath("settings/Qorvant");
            QVERIFY(QDir().mkpath(settings) && QDir().mkpath(dir.filePath("data/Qorvant/Qorvant OSTRA/profiles")));
            for (const char *path : {"", "settings", "settings/Qorvant", "data", "data/Qorvant", "data/Qorvant/Qorvant OSTRA",
                                        "data/Qorvant/Qorvant OSTRA/profiles"})
                QVERIFY(::chmod(QFile::encodeName(dir.filePath(path)).constData(), 0777) == 0);
            const QString lockFile = settings + "/." + QCoreApplication::applicationName() + ".running";
            if (before == "root run") {
                const mode_t umask = ::umask(077);
                InstanceLock({settings, dir.filePath("data/Qorvant/Qorvant OSTRA/profiles")}).acquire(0);
                ::umask(umask);
            } else if (before == "root's 0600") {
                QVERIFY(put(lockFile, ""));
                QVERIFY(::chmod(QFile::encodeName(lockFile).constData(), 0600) == 0);
            } else {
                QVERIFY(::chmod(QFile::encodeName(settings).constData(), 0755) == 0);
            }
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("OSTRA_COPY", first);
        environment.insert("OSTRA_COPY_DIR", dir.path());
        environment.insert("OSTRA_COPY_FOLDERS", folders);
        const auto start = [&](QProcess &copy) {
            copy.setProcessEnvironment(environment);
            copy.setProcessChannelMode(QProcess::ForwardedChannels);
            if (asUser) {
                copy.setChildProcessModifier([] {
                    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                        ::_exit(127);
                });
            }
            copy.start(QCoreApplication::applicationFilePath(), {"copyChild"});
        };
        QProcess firstCopy;
        start(firstCopy);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("first")), 30000);
        QProcess secondCopy;
        if (!first.startsWith("restarts")) {
            if (first == "killed") {
                firstCopy.kill();
                QVERIFY(firstCopy.waitForFinished(10000));
            }
            start(secondCopy);
            if (first == "hangs") {
                // Within the second's wait for an answer.
                QVERIFY(secondCopy.waitForStarted(10000));
                QTest::qWait(1000);
                firstCopy.kill();
            }
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("second")), 30000);
        QCOMPARE(contentsOf(dir.filePath("second")), second);
        if (second == "refused") {
            const QByteArray told = contentsOf(dir.filePath("told"));
            QVERIFY2(told.contains("already running") && told.contains(first == "ends" ? "window that is open" : "in front now"),
                     told.constData());
        }
        for (QProcess *copy : {&firstCopy, &secondCopy})
            QVERIFY(copy->state() == QProcess::NotRunning || copy->waitForFinished(30000));
        if (first != "killed" && first != "hangs") {
            QCOMPARE(firstCopy.exitStatus(), QProcess::NormalExit);
            QCOMPARE(firstCopy.exitCode(), 0);
        }
        const QString told = QString::fromUtf8(contentsOf(dir.filePath("warned")));
        if (warned.isEmpty())
            QCOMPARE(told, QString("missing"));
        else
            QVERIFY2(told.contains("is kept out only if it uses " + dir.filePath("data/")) && told.contains(dir.filePath(warned))
                         && told.contains(".running") == warned.contains(".running"),
                     qPrintable(told));
    }

    // A copy of oneCopyPerFolder: the first holds the folders and comes forward when asked; the
    // second (started by the test, or by the first's restart) says whether it got them.
    void copyChild()
    {
        const QString first = qEnvironmentVariable("OSTRA_COPY");
        if (first.isEmpty())
            QSKIP("a copy of oneCopyPerFolder, started by it");
        const QDir dir(qEnvironmentVariable("OSTRA_COPY_DIR"));
        // One user's session: every test process has a home of its own.
        const QString runtime = dir.filePath(QString("runtime-%1").arg(::getuid()));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        const bool isSecond = QFile::exists(dir.filePath("first"));
        const QStringList folders = isSecond ? qEnvironmentVariable("OSTRA_COPY_FOLDERS").split(' ') : QStringList{"settings", "data"};
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(folders.at(0))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(folders.at(1))));
        QStandardPaths::setTestModeEnabled(false);
        InstanceLock lock(programFolders());
        if (isSecond) {
            QTimer answer;
            answerNextBox(answer, dir.filePath("told"));
            QVERIFY(put(dir.filePath("second"), holdProgramFolders(lock, RestartWaitMs) ? "held" : "refused"));
            return;
        }
        QVERIFY(holdProgramFolders(lock, 0));
        auto window = std::make_unique<QWidget>();
        window->show();
        answerSecondStarts(lock, window.get());
        QTimer answer;
        answerNextBox(answer, dir.filePath("warned"));
        tellWhenUnguarded(lock, window.get());
        // As at the end of a run: the window is gone, the event loop still turns (a box).
        if (first == "ends")
            window.reset();
        QVERIFY(put(dir.filePath("first"), ""));
        // A copy that no longer turns its event loop, killed by the test.
        if (first == "hangs")
            QThread::sleep(60);
        if (first == "restarts") {
            QVERIFY(restartProgram());
            QTest::qWait(300);
            return;
        }
        if (first == "restarts and stays")
            QVERIFY(restartProgram());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("second")), 30000);
        // Told once.
        QVERIFY(!QApplication::activeModalWidget());
    }

    // The folder's lock file as a link is not followed: nothing is made where it leads, and the
    // run says it goes unguarded.
    void linkedLockFileNotFollowed()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("settings")));
        const QString name = dir.filePath("settings/." + QCoreApplication::applicationName() + ".running");
        QVERIFY(QFile::link(dir.filePath("elsewhere"), name));
        InstanceLock lock({dir.filePath("settings")});
        QVERIFY(lock.acquire(0));
        QVERIFY(!QFile::exists(dir.filePath("elsewhere")));
        QCOMPARE(lock.unguarded(), QStringList{name + " (a link, which is not followed)"});
        QCOMPARE(lock.remedies(), QStringList{"Remove that link."});
    }

    // The program carries no translations: no language finds one, and none is installed.
    void noTranslationFound_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::newRow("none") << QStringList();
        QTest::newRow("german, then english") << QStringList{"de-DE", "en-US"};
        QTest::newRow("unknown tag") << QStringList{"xx"};
    }

    void noTranslationFound()
    {
        QFETCH(QStringList, languages);
        QTranslator translator;
        QVERIFY(!installTranslator(translator, languages));
        QVERIFY(translator.isEmpty());
        QCOMPARE(QCoreApplication::translate("MainWindow", "Dashboard"), QStringLiteral("Dashboard"));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestStartup)
#include "tst_startup.moc"
