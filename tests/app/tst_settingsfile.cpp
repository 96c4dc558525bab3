#include "platform/storage/settingsfile.h"

#include "api/apirig.h"
#include "api/wsloungehandler.h"
#include "bridge/corvanecontroller.h"
#include "bridge/motiontelemetrysender.h"
#include "motion/motionsystemcontroller.h"
#include "motion/motionwebpanel.h"
#include "racecontrol/racecontrol.h"
#include "ostraui/theme.h"
#include "platform/storage/filewriter.h"
#include "platform/storage/iniformat.h"
#include "support/heldrenames.h"
#include "support/starved.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QRect>
#include <QLockFile>
#include <QSaveFile>
#include <QSettings>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>

#include <functional>
#include <optional>

#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using corvane::SettingsFile;

namespace {

constexpr int Patience = 10000;

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

// What a fresh reader finds in the file, as after a restart.
QVariant onDisk(const QString &path, const QString &key)
{
    return QSettings(path, QSettings::IniFormat).value(key);
}

// The folder of the settings on a small disk of its own (in this process's mount namespace)
// while it lives: fill() leaves one page free (or none), makeRoom() frees the rest again.
class SmallDisk
{
public:
    explicit SmallDisk(const QString &folder)
        : m_folder(folder)
    {
        QDir().mkpath(folder);
        m_mounted = ::mount("ostra-test", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=256k") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    void fill(bool leavePage = true)
    {
        QFile filler(m_folder + QStringLiteral("/filler"));
        filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        const QByteArray page(4096, 'x');
        while (filler.write(page) == page.size()) {
        }
        if (leavePage)
            filler.resize(filler.size() / page.size() * page.size() - page.size());
    }
    void makeRoom() { QFile::remove(m_folder + QStringLiteral("/filler")); }

private:
    QString m_folder;
    bool m_mounted = false;
};

// One POST to the web panel; the status code of its answer, 0 without one.
int post(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray answer;
    const bool closed = QTest::qWaitFor([&] {
        answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, Patience);
    answer += socket.readAll();
    if (!closed)
        return 0;
    return answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0;
}

// This test program again, running the test function `function` as another program would.
bool startOther(QProcess &other, const char *function, const QMap<QString, QString> &variables)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        environment.insert(it.key(), it.value());
    other.setProcessEnvironment(environment);
    other.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(function)});
    return other.waitForStarted(Patience);
}

// One writer of settings, as a user or a peer drives it: each step changes a setting and says
// how its answer went ("ok" or "failed").
struct Writer
{
    QString path;
    std::function<QString(int step)> change;
    // What the file holds after the three steps, the failed one and the retry included.
    QVariantMap stored;
};

// What drives one writer: race control's lounge requests, the web panel's platform settings or
// the desktop's own; `w.change` is empty when it could not start.
struct WriterRig
{
    explicit WriterRig(const QString &writer)
    {
        if (writer == QLatin1String("lounge")) {
            api = ostratest::ApiRig::started<corvane::WsLoungeHandler>();
            if (!api)
                return;
            w.path = SettingsFile().fileName();
            w.change = [this](int step) {
                const int before = api->rig.errors->size();
                QJsonObject reply;
                // Answered once stored, or once another program's lock was waited for in vain.
                if (step == 1)
                    reply = api->request("set_lounge_pit_limiter", json(R"({"enabled":true,"percent":40})"), Patience);
                else if (step == 2)
                    reply = api->request("action_lounge_stop", {}, Patience);
                else
                    reply = api->request("set_lounge_speed_cap", json(R"({"enabled":true,"percent":70})"), Patience);
                replies.append(reply);
                SettingsFile::waitForWrites(Patience);
                // Told to the client that asked, with why; the desktop has the settings file's own toast.
                const bool refused = reply.value("message").toString().startsWith("Failed to save the race control state: ");
                return QString(reply.isEmpty() ? "no reply" : api->rig.errors->size() > before ? "raised" : refused ? "failed" : "ok");
            };
            w.stored = {{"lounge/pitLimiterPercent", "40"}, {"lounge/stopped", "true"}, {"lounge/stopReason", "operator"},
                        {"lounge/speedCap", "true"}, {"lounge/speedCapPercent", "70"}};
            return;
        }
        if (writer == QLatin1String("web panel")) {
            platform = std::make_unique<corvane::MotionSystemController>();
            panel = std::make_unique<corvane::MotionWebPanel>(platform.get());
            if (!panel->start(0))
                return;
            w.path = SettingsFile(QStringLiteral("MotionSystem")).fileName();
            w.change = [this](int step) {
                const QByteArray targets[] = {"/cfg?i=50", "/cfg?map=5,4,3,2,1,0", "/cfg?st=200"};
                const int code = post(panel->port(), targets[step - 1]);
                return QString(code == 200 ? "ok" : code == 500 ? "failed" : "code " + QString::number(code));
            };
            w.stored = {{"intensity", "50"}, {"actuatorSlots", "5,4,3,2,1,0"}, {"strokeMm", "200"}};
            return;
        }
        settings = std::make_unique<SettingsFile>();
        w.path = settings->fileName();
        // How the program's own settings file answered the step's change.
        const auto answered = [this](const std::function<void()> &change) {
            QSignalSpy written(settings.get(), &SettingsFile::written);
            change();
            SettingsFile::waitForWrites(Patience);
            return QString(written.isEmpty() ? "not written" : written.last().at(1).toBool() ? "ok" : "failed");
        };
        if (writer == QLatin1String("race control")) {
            race = std::make_unique<corvane::RaceControl>();
            w.change = [this, answered](int step) { return answered([&] { race->setWatchdog(step != 2, 1000 * step); }); };
            w.stored = {{"raceControl/watchdog", "true"}, {"raceControl/watchdogTimeoutMs", "3000"}};
        } else if (writer == QLatin1String("motion output")) {
            output = std::make_unique<corvane::MotionTelemetrySender>();
            w.change = [this, answered](int step) { return answered([&] { output->setTarget("127.0.0.1", quint16(20000 + step)); }); };
            w.stored = {{"motionTelemetry/host", "127.0.0.1"}, {"motionTelemetry/port", "20003"}};
        } else {
            section = std::make_unique<QWidget>();
            QPushButton *reveal =
                ostra::makeIconButton(new QWidget(section.get()), false, QStringLiteral("ui/section/test"), section.get());
            w.change = [reveal, answered](int step) {
                return answered([&] {
                    if (step == 3)
                        reveal->click();
                    else
                        ostra::saveTheme(step == 1);
                });
            };
            w.stored = {{"ui/theme", "light"}, {"ui/section/test", "true"}};
        }
    }

    std::unique_ptr<ostratest::ApiRig> api;
    std::unique_ptr<corvane::MotionSystemController> platform;
    std::unique_ptr<corvane::MotionWebPanel> panel;
    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<QWidget> section;
    std::unique_ptr<corvane::RaceControl> race;
    std::unique_ptr<corvane::MotionTelemetrySender> output;
    QList<QJsonObject> replies; // to the lounge requests, in turn
    Writer w;
};

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

    bool m_ownMounts = false;

private slots:
    void initTestCase()
    {
        // As the other copy of the program (otherCopy below): on the first copy's home.
        if (qEnvironmentVariableIsSet("OSTRA_OTHER_HOME"))
            qputenv("HOME", qgetenv("OSTRA_OTHER_HOME"));
        ostra::installTheme(*qApp);
        // A mount namespace of the process's own, where a small disk can stand in for the settings'
        // folder; mounts stay in it. Before the writer's thread starts, so that it sees them too.
        m_ownMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
                      && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }

    // The same bytes as QSettings writes for the same values, and each reads what the other wrote.
    void formatRoundTrip_data()
    {
        QTest::addColumn<QVariantMap>("values");
        const auto one = [](const char *key, const QVariant &value) { return QVariantMap{{QString::fromUtf8(key), value}}; };
        QTest::newRow("spaces at the ends") << one("group/key", " lead and trail ");
        QTest::newRow("separators") << one("group/key", "a;b,c=d");
        QTest::newRow("quotes and backslashes") << one("group/key", "say \"hi\" \\ there");
        QTest::newRow("percent") << one("group/key", "100% sure");
        QTest::newRow("non-ASCII") << one("group/key", QString::fromUtf8("Gr\u00fc\u00dfe \u65e5\u672c \U0001F697"));
        QTest::newRow("halves of surrogate pairs")
            << one("group/key", QString(QChar(0xD83D)) + QStringLiteral("x") + QChar(0xDC00) + QChar(0xDC00) + QStringLiteral("b\t")
                                    + QChar(0xD83D) + QStringLiteral("\t") + QChar(0xDE97) + QChar(0xD800));
        QTest::newRow("control characters") << one("group/key", QString::fromUtf8("tab\tline\nbell\a\x01" "1"));
        QTest::newRow("NUL") << one("group/key", QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("7"));
        QTest::newRow("leading @") << one("group/key", "@home");
        QTest::newRow("empty text") << one("group/key", QString(""));
        QTest::newRow("string list") << one("group/key", QStringList{"a", "b,c", " d ", "", "\"q\""});
        QTest::newRow("empty list") << one("group/key", QStringList{});
        QTest::newRow("list of one") << one("group/key", QStringList{"only"});
        QTest::newRow("list with @") << one("group/key", QStringList{"@a", "b"});
        QTest::newRow("bool") << one("group/key", true);
        QTest::newRow("numbers") << QVariantMap{{"n/int", -42}, {"n/big", qint64(1) << 40}, {"n/double", 0.1}, {"n/float", 1.5f}};
        QTest::newRow("byte array") << one("group/key", QByteArray("\x00\x01\xff()\xc3\xa9 end", 11));
        QTest::newRow("stations as JSON") << one("raceControl/stations", QByteArray(R"([{"host":"10.0.0.5","id":"s1","port":12345}])"));
        QTest::newRow("map") << one("group/key", QVariantMap{{"AB12", 1}});
        QTest::newRow("date and time") << one("group/key", QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC));
        QTest::newRow("date and time in a zone") << one("group/key", QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone(3600)));
        QTest::newRow("list in a list") << one("group/key", QVariantList{QVariantList{1, "x", QStringList{"y"}}});
        QTest::newRow("rectangle") << one("group/key", QRect(1, -2, 30, 40));
        QTest::newRow("nothing") << one("group/key", QVariant());
        QTest::newRow("slashes in the key") << one("a/b/c/d", 1);
        QTest::newRow("awkward key") << one("sp ace;semi=eq/k%ey", "v");
        QTest::newRow("non-ASCII key") << one("\u00dcn\u00ef/\u00e7\u00f8d\u00e9\u65e5", "v");
        QTest::newRow("no group") << one("top", "v");
        QTest::newRow("group named General") << one("General/x", "v");
        QTest::newRow("several groups") << QVariantMap{{"top", 1}, {"lounge/stopped", true}, {"lounge/stopReason", "operator"},
                                                       {"DeviceSecurity/authorizedDevices", QStringList{"AB12", "CD34"}},
                                                       {"ui/section/advanced", false}, {"ui/theme", "dark"}};
    }

    void formatRoundTrip()
    {
        QFETCH(QVariantMap, values);
        // A file of its own per row: QSettings keeps what it read of a file for as long as its
        // size and time look the same.
        static int row = 0;
        const QString ours = QStringLiteral("Ours %1").arg(++row);
        const QString theirs = QStringLiteral("Theirs %1").arg(row);
        QString ourPath;
        {
            SettingsFile file(ours);
            file.setValues(QString(), values);
            ourPath = file.fileName();
        }
        QVERIFY(SettingsFile::waitForWrites(Patience));
        QString theirPath;
        {
            QSettings file(QCoreApplication::organizationName(), theirs);
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                file.setValue(it.key(), it.value());
            theirPath = file.fileName();
        }
        QCOMPARE(bytesOf(ourPath), bytesOf(theirPath));
        // QSettings answers from what it wrote rather than from the file: a copy is read afresh.
        QVERIFY(QFile::copy(theirPath, theirPath + QStringLiteral(".copy")));
        const QSettings qtReadsOurs(ourPath, QSettings::IniFormat);
        const QSettings qtReadsTheirs(theirPath + QStringLiteral(".copy"), QSettings::IniFormat);
        const SettingsFile weReadTheirs(theirs);
        QCOMPARE(qtReadsOurs.status(), QSettings::NoError);
        QVERIFY(!weReadTheirs.isDamaged());
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            QCOMPARE(qtReadsOurs.value(it.key()), qtReadsTheirs.value(it.key()));
            QCOMPARE(weReadTheirs.value(it.key()), qtReadsTheirs.value(it.key()));
        }
    }

    // A file edited by hand reads as QSettings reads it, what it cannot read included.
    void handEditedFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        // What is read where QSettings itself would ask for more memory than there is; empty:
        // what QSettings reads.
        QTest::addColumn<QVariantMap>("read");
        QTest::newRow("comments and CRLF") << QByteArray("; mine\r\n[ui]\r\ntheme = dark ; the night one\r\n\r\n") << QVariantMap();
        QTest::newRow("line carried over") << QByteArray("[a]\nk=one \\\n  two\nnext=1\n") << QVariantMap();
        QTest::newRow("escapes") << QByteArray("[a]\nk=\\x41\\101\\t\\q\"\\\"\"\n") << QVariantMap();
        QTest::newRow("quoted list") << QByteArray("[a]\nk= \"x , y\" , z ,\n") << QVariantMap();
        QTest::newRow("same key twice") << QByteArray("[a]\nk=1\nk=2\n") << QVariantMap();
        QTest::newRow("both Generals") << QByteArray("[%General]\nx=1\n[General]\ny=2\n") << QVariantMap();
        QTest::newRow("section not closed") << QByteArray("[a\nk=v\n") << QVariantMap();
        QTest::newRow("line without a value") << QByteArray("[a]\njunk\nk=v\n") << QVariantMap();
        // A list in a date's value whose count is far past the value's end: dropped, not 56 GB.
        QTest::newRow("list count past the end")
            << "[a]\nbefore=1\nk" + QByteArray::fromBase64("PUBEYXRlVGltZSgAAAAJ/2j/KSk=") + "\nafter=2\n"
            << QVariantMap{{"a/before", "1"}, {"a/k", QVariant()}, {"a/after", "2"}};
    }

    void handEditedFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QVariantMap, read);
        static int row = 0;
        const QString application = QStringLiteral("Edited %1").arg(++row);
        const QString path = SettingsFile(application).fileName();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.close();
        if (!read.isEmpty()) {
            const SettingsFile ours(application);
            QVERIFY(!ours.isDamaged());
            for (auto it = read.cbegin(); it != read.cend(); ++it) {
                QVERIFY(ours.contains(it.key()));
                QCOMPARE(ours.value(it.key()), it.value());
            }
            return;
        }
        const QSettings qt(path, QSettings::IniFormat);
        const QStringList keys = qt.allKeys(); // QSettings finds a fault only in what it has parsed
        const SettingsFile ours(application);
        QCOMPARE(ours.isDamaged(), qt.status() == QSettings::FormatError);
        QVERIFY(!keys.isEmpty());
        for (const QString &key : keys)
            QCOMPARE(ours.value(key), qt.value(key));
    }

    // A change the disk has no room for, or cannot sync, keeps the old file whole and is
    // reported; the next change, once the disk is well, stores everything, the failed change
    // included. A file that cannot be read when the program starts is not written over (every
    // other setting in it would be lost): its changes are refused the same way until it can be.
    void nearlyFullDisk_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QString>("fault");
        const std::pair<const char *, const char *> writers[] = {{"race control's lounge requests", "lounge"},
                                                                 {"platform settings from the web panel", "web panel"},
                                                                 {"desktop settings", "desktop"}};
        for (const auto &[name, writer] : writers) {
            QTest::newRow(name) << writer << "nearly full";
            QTest::addRow("%s, full disk", name) << writer << "full";
            QTest::addRow("%s, failing sync", name) << writer << "failing sync";
            QTest::addRow("%s, unreadable file", name) << writer << "failing read";
        }
    }

    void nearlyFullDisk()
    {
        QFETCH(QString, writer);
        QFETCH(QString, fault);
        if (!m_ownMounts && fault.endsWith("full"))
            QSKIP("needs root for a mount namespace of its own");
        QVERIFY(SettingsFile::waitForWrites(Patience));
        const QString folder = QFileInfo(SettingsFile().fileName()).absolutePath();
        std::optional<SmallDisk> disk;
        if (fault.endsWith("full")) {
            disk.emplace(folder);
            QVERIFY(disk->mounted());
        }
        // Files of more than a page: the page left free holds a lock file, not a whole file.
        const QString notes(6000, QLatin1Char('n'));
        const auto writeNotes = [&] {
            for (const QString &application : {QCoreApplication::applicationName(), QStringLiteral("MotionSystem")})
                SettingsFile(application).setValue(QStringLiteral("notes"), notes);
            return SettingsFile::waitForWrites(Patience);
        };
        // Unreadable from the start: the writers load what they can of it. The lounge's rig
        // starts from a fresh installation (it clears the settings): there a run under another
        // account changes the file once the rig runs, and leaves it unreadable.
        const bool freshRig = writer == QLatin1String("lounge");
        std::optional<ostratest::Starved> unreadable;
        if (!freshRig) {
            QVERIFY(writeNotes());
            if (fault == "failing read")
                unreadable.emplace(fault);
        }

        WriterRig rig(writer);
        Writer &w = rig.w;
        QVERIFY(w.change);
        if (freshRig) {
            QVERIFY(writeNotes());
            if (fault == "failing read") {
                QFile edited(w.path);
                QVERIFY(edited.open(QIODevice::Append) && edited.write("; elsewhere\n") > 0);
                edited.close();
                unreadable.emplace(fault);
            }
        }
        const QByteArray before = bytesOf(w.path);
        QCOMPARE(w.change(1), QString(unreadable ? "failed" : "ok"));
        const QByteArray failing = bytesOf(w.path);
        QCOMPARE(failing == before, bool(unreadable));
        std::optional<ostratest::Starved> failingSync;
        if (disk)
            disk->fill(fault == "nearly full");
        else if (fault == "failing sync")
            failingSync.emplace(fault);
        QCOMPARE(w.change(2), QString("failed"));
        // Why, in the user's words, also where the disk refused the lock before the file.
        if (rig.settings && fault == "full")
            QVERIFY2(rig.settings->failure().endsWith("the disk is full"), qPrintable(rig.settings->failure()));
        QCOMPARE(bytesOf(w.path), failing);
        if (disk)
            disk->makeRoom();
        failingSync.reset();
        unreadable.reset();
        QCOMPARE(w.change(3), QString("ok"));
        w.stored.insert(QStringLiteral("notes"), notes);
        for (auto it = w.stored.cbegin(); it != w.stored.cend(); ++it)
            QCOMPARE(onDisk(w.path, it.key()), it.value());
        // The request itself says that the stop is not stored.
        if (writer == QLatin1String("lounge")) {
            QCOMPARE(rig.replies.at(1).value("success"), QJsonValue(false));
            const QString why = fault.endsWith("full") ? "the disk is full" : "the disk reported an error";
            QCOMPARE(rig.replies.at(1).value("message"), QJsonValue("Failed to save the race control state: " + why));
        }
    }

    // Another program writing the file through this store (as a tool would), or a hand edit,
    // changes it between this process's writes: what it wrote stays, only the keys this process
    // set go on top, and the writer runs on the file's values of the rest.
    void otherWritersKept_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QString>("other");
        for (const char *writer : {"lounge", "web panel"}) {
            QTest::addRow("%s, another copy", writer) << writer << "another copy";
            QTest::addRow("%s, hand edit", writer) << writer << "hand edit";
        }
        QTest::newRow("race control, hand edit") << "race control" << "hand edit";
        QTest::newRow("motion output, hand edit") << "motion output" << "hand edit";
    }

    void otherWritersKept()
    {
        QFETCH(QString, writer);
        QFETCH(QString, other);
        QVERIFY(SettingsFile::waitForWrites(Patience));
        const QString application = writer == "web panel" ? QStringLiteral("MotionSystem") : QCoreApplication::applicationName();
        QFile::remove(SettingsFile(application).fileName());
        WriterRig rig(writer);
        QVERIFY(rig.w.change);
        // Their change as lines of the file; what the writer's two changes store; what it applies
        // of theirs once it has read them.
        QVariantMap theirs;
        QByteArray lines;
        QVariantMap ours;
        std::function<QString()> applied;
        QString expected;
        if (writer == "lounge") {
            theirs = {{"lounge/speedCap", "true"}, {"lounge/speedCapPercent", "33"}};
            lines = "\n[lounge]\nspeedCap=true\nspeedCapPercent=33\n";
            ours = {{"lounge/pitLimiterPercent", "40"}};
            applied = [&] { return QString::number(rig.api->request("get_lounge_state").value("data")["speedCapPercent"].toInt()); };
            expected = "33";
        } else if (writer == "web panel") {
            theirs = {{"strokeMm", "250"}};
            lines = "\n[General]\nstrokeMm=250\n";
            ours = {{"intensity", "50"}};
            applied = [&] { return QString::number(rig.platform->settings().strokeMm); };
            expected = "250";
        } else if (writer == "race control") {
            theirs = {{"raceControl/included", "s9"}};
            lines = "\n[raceControl]\nincluded=s9\n";
            ours = {{"raceControl/watchdog", "false"}, {"raceControl/watchdogTimeoutMs", "2000"}};
            applied = [&] { return rig.race->included().join(','); };
            expected = "s9";
        } else {
            theirs = {{"motionTelemetry/enabled", "true"}};
            lines = "\n[motionTelemetry]\nenabled=true\n";
            ours = {{"motionTelemetry/port", "20002"}};
            applied = [&] { return QString(rig.output->isEnabled() ? "on" : "off"); };
            expected = "on";
        }
        if (other == "another copy") {
            QProcess copy;
            copy.setProcessChannelMode(QProcess::MergedChannels);
            QVERIFY(startOther(copy, "otherCopy",
                               {{"OSTRA_OTHER_COPY", writer}, {"OSTRA_OTHER_HOME", qEnvironmentVariable("HOME")},
                                {"OSTRA_OTHER_FILE", rig.w.path}}));
            QVERIFY(copy.waitForFinished(60000));
            QVERIFY2(copy.exitStatus() == QProcess::NormalExit && copy.exitCode() == 0, copy.readAll().constData());
        } else {
            // A line of the user's own, too.
            QFile file(rig.w.path);
            QVERIFY(file.open(QIODevice::Append));
            file.write(lines);
            file.write("[mine]\nkept=yes\n");
            theirs.insert("mine/kept", "yes");
        }
        // Two changes of other keys: the second must not undo theirs either.
        QCOMPARE(rig.w.change(1), QString("ok"));
        QCOMPARE(rig.w.change(2), QString("ok"));
        QVariantMap stored = theirs;
        stored.insert(ours);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            QCOMPARE(onDisk(rig.w.path, it.key()), it.value());
        const SettingsFile memory(application);
        for (auto it = theirs.cbegin(); it != theirs.cend(); ++it)
            QCOMPARE(memory.value(it.key()).toString(), it.value().toString());
        // What the writer applies is what the file holds.
        QCOMPARE(applied(), expected);
    }

    // A key a caller sets is written, also when it is what the program showed: the file, changed
    // meanwhile by a tool, holds the value set and the next start has it.
    void setKeyWritten_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::newRow("lounge") << "lounge";
        QTest::newRow("web panel") << "web panel";
    }

    void setKeyWritten()
    {
        QFETCH(QString, writer);
        QVERIFY(SettingsFile::waitForWrites(Patience));
        WriterRig rig(writer);
        QVERIFY(rig.w.change);
        const bool lounge = writer == QLatin1String("lounge");
        const QString key = lounge ? "lounge/speedCapPercent" : "intensity";
        const auto set42 = [&] {
            if (lounge)
                QCOMPARE(rig.api->request("set_lounge_speed_cap", json(R"({"enabled":true,"percent":42})")).value("data")["speedCapPercent"].toInt(), 42);
            else
                QCOMPARE(post(rig.panel->port(), "/cfg?i=42"), 200);
            QVERIFY(SettingsFile::waitForWrites(Patience));
        };
        set42();
        QSettings(rig.w.path, QSettings::IniFormat).setValue(key, 55);
        set42();
        QCOMPARE(onDisk(rig.w.path, key), QVariant("42"));
    }

    // Another program holding QSettings' lock on the file (a QSettings-based tool inside its read,
    // merge and rename, or one writing all the time) is waited for and never written past: a
    // change answered stored is in the file once the other has let go, beside what it wrote; one
    // that could not wait long enough is answered failed, and goes with the next write. One that
    // takes and lets go of its lock many times a second loses no change of either side, also
    // where its lock file stands unlocked a while after it is made and before it is removed.
    void otherProgramsLock_data()
    {
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("letGo");
        QTest::newRow("holding, lets go within the wait") << "holding" << "during the first change";
        QTest::newRow("holding past the wait") << "holding" << "after the first change";
        QTest::newRow("writing again and again") << "busy" << "after two changes";
        QTest::newRow("QLockFile cycling") << "cycling" << "after many changes";
        QTest::newRow("QLockFile's order, slow between its steps") << "slow cycling" << "after many changes";
    }

    void otherProgramsLock()
    {
        QFETCH(QString, other);
        QFETCH(QString, letGo);
        QVERIFY(SettingsFile::waitForWrites(Patience));
        QTest::failOnWarning(QRegularExpression("no longer runs"));
        WriterRig rig("lounge");
        QVERIFY(rig.w.change);
        QProcess program;
        QVERIFY(startOther(program, "lockHolder", {{"OSTRA_LOCK_HOLDER", other}, {"OSTRA_OTHER_FILE", rig.w.path}}));
        QByteArray said;
        QVERIFY2(QTest::qWaitFor([&] { return (said += program.readAllStandardOutput()).contains("holding\n"); }, Patience),
                 (said + program.readAllStandardError()).constData());
        const auto go = [&program] { program.write("go\n"); };
        if (letGo == "during the first change")
            QTimer::singleShot(300, &program, go);
        const QString first = rig.w.change(1);
        if (letGo == "after the first change")
            go();
        const QString second = rig.w.change(2);
        // Keys of their own, one change each, each answered once stored.
        QVariantMap many;
        SettingsFile own;
        QSignalSpy written(&own, &SettingsFile::written);
        for (int i = 0; letGo == "after many changes" && i < 40; ++i) {
            const QString key = QStringLiteral("ours/k%1").arg(i);
            own.setValue(key, i);
            many.insert(key, QString::number(i));
            QVERIFY(SettingsFile::waitForWrites(Patience));
            QVERIFY2(written.last().at(1).toBool(), qPrintable(own.failure()));
        }
        if (letGo == "after two changes" || letGo == "after many changes")
            go();
        QVERIFY(program.state() == QProcess::NotRunning || program.waitForFinished(Patience));
        QVERIFY2(program.exitCode() == 0, (said + program.readAll()).constData());
        if (other == "holding")
            QCOMPARE(first, QString(letGo == "during the first change" ? "ok" : "failed"));
        // Not the disk: a moment later it may go.
        if (first == "failed")
            QCOMPARE(rig.replies.at(0).value("message"),
                     QJsonValue("Failed to save the race control state: another program holds the file; try again in a moment"));
        if (other.endsWith("cycling"))
            QCOMPARE(first + second, QString("okok"));
        QCOMPARE(rig.w.change(3), QString("ok"));
        QVariantMap stored = rig.w.stored;
        stored.insert(many);
        stored.insert("other/kept", "yes");
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            QCOMPARE(onDisk(rig.w.path, it.key()), it.value());
    }

    // The other program of otherProgramsLock, writing in QSettings' order (the lock, the file
    // read, its own change merged, the whole file renamed into place): once, holding the lock
    // until told to go on, or again and again until told to stop: on a slow disk, through
    // QLockFile many times a second, or in QLockFile's steps with a pause after the lock file is
    // made and after it is let go, as on a busy machine. A cycling one counts its writes in the
    // file and fails when one went missing.
    void lockHolder()
    {
        const QString other = qEnvironmentVariable("OSTRA_LOCK_HOLDER");
        if (other.isEmpty())
            QSKIP("the other program of otherProgramsLock, started by it");
        const QString path = qEnvironmentVariable("OSTRA_OTHER_FILE");
        QDir().mkpath(QFileInfo(path).absolutePath());
        const auto told = [](int waitMs) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            return ::poll(&input, 1, waitMs) > 0;
        };
        const QByteArray lockName = QFile::encodeName(path + ".lock");
        // What QLockFile writes into its file, for the steps taken by hand.
        const QTemporaryDir scratch;
        QLockFile sample(scratch.filePath("sample.lock"));
        QVERIFY(sample.lock());
        const QByteArray content = bytesOf(scratch.filePath("sample.lock"));
        sample.unlock();
        constexpr useconds_t PauseUs = 3000;
        const bool slow = other == "slow cycling";
        for (int count = 0;; ++count) {
            QLockFile lock(path + ".lock");
            int fd = -1;
            if (slow) {
                while ((fd = ::open(lockName.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666)) < 0)
                    ::usleep(500);
                ::usleep(PauseUs);
                QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
                QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
            } else {
                // Taken again as soon as it is free.
                while (!lock.tryLock(0))
                    ::usleep(500);
            }
            QFile file(path);
            bool damaged = false;
            QVariantMap values = corvane::IniFormat::parsed(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), damaged);
            if (other.endsWith("cycling")) {
                QCOMPARE(values.value("other/count", 0).toInt(), count);
                values.insert("other/count", count + 1);
            }
            values.insert("other/kept", "yes");
            if (count == 0) {
                std::puts("holding");
                std::fflush(stdout);
            }
            const bool go = told(other == "busy" ? 100 : other == "holding" ? 60000 : 0);
            QSaveFile merged(path);
            QVERIFY(merged.open(QIODevice::WriteOnly));
            merged.write(corvane::IniFormat::text(values));
            QVERIFY(merged.commit());
            if (slow) {
                ::close(fd);
                ::usleep(PauseUs);
                ::unlink(lockName.constData());
            }
            lock.unlock();
            if (go)
                return;
            ::usleep(other == "busy" ? 1000 : 4000);
        }
    }

    // A lock file is judged as QLockFile judges it: one naming a program that ended, or older
    // than QLockFile's stale time, costs a moment at most: it is removed and the change stored,
    // also when its owner removes it first. One that may be a running program's (named by it, or
    // empty or garbled as while a program makes it) is waited for; what is no lock file fails the
    // change at once, saying why. One naming this process was left by an earlier run with its
    // number (killed in a write, in a container where numbers repeat): it costs a moment too.
    void leftLock_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("ageS");
        QTest::addColumn<bool>("removedMeanwhile"); // by its owner, while the writer removes it
        QTest::addColumn<QString>("failure"); // empty: stored
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        QTest::newRow("empty, made a moment ago") << QByteArray() << 0 << false << "another program holds";
        QTest::newRow("empty") << QByteArray() << 3600 << false << QString();
        QTest::newRow("garbled") << QByteArray("\x01\xffgarbage") << 60 << false << QString();
        QTest::newRow("naming a program that ended") << "ended\nqorostra\n" + host + "\n" << 0 << false << QString();
        QTest::newRow("naming a running program") << QByteArray("running") << 0 << false << "another program holds";
        QTest::newRow("naming a running program, old") << QByteArray("running") << 60 << false << QString();
        QTest::newRow("old, let go meanwhile") << QByteArray("running") << 60 << true << QString();
        QTest::newRow("naming this process") << QByteArray("this process") << 0 << false << QString();
        QTest::newRow("a folder") << QByteArray("folder") << 0 << false << "is a folder, not a lock file";
        QTest::newRow("a pipe") << QByteArray("pipe") << 0 << false << "is not a lock file";
    }

    void leftLock()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, ageS);
        QFETCH(bool, removedMeanwhile);
        QFETCH(QString, failure);
        QVERIFY(SettingsFile::waitForWrites(Patience));
        WriterRig rig("desktop");
        QVERIFY(rig.w.change);
        const QString lock = rig.w.path + ".lock";
        QVERIFY(QDir().mkpath(QFileInfo(lock).absolutePath()));
        // Whatever a row that failed left.
        QDir().rmdir(lock);
        QFile::remove(lock);
        QProcess running;
        if (content == "folder") {
            QVERIFY(QDir().mkpath(lock));
        } else if (content == "pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0600), 0);
        } else {
            if (content.startsWith("ended")) {
                QProcess ended;
                ended.start("true");
                QVERIFY(ended.waitForStarted());
                content.replace("ended", QByteArray::number(ended.processId()));
                QVERIFY(ended.waitForFinished());
            } else if (content == "running" || content == "this process") {
                // As QLockFile writes it for this process, or for a program running beside it.
                const bool beside = content == "running";
                const QTemporaryDir scratch;
                QLockFile real(scratch.filePath("real.lock"));
                QVERIFY(real.lock());
                content = bytesOf(scratch.filePath("real.lock"));
                if (beside) {
                    running.start("sleep", {"60"});
                    QVERIFY(running.waitForStarted());
                    QList<QByteArray> lines = content.split('\n');
                    lines[0] = QByteArray::number(running.processId());
                    lines[1] = "sleep";
                    content = lines.join('\n');
                }
            }
            QFile file(lock);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
            file.close();
            QVERIFY(file.open(QIODevice::ReadWrite)); // setFileTime wants it open
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-ageS), QFileDevice::FileModificationTime));
        }
        QSignalSpy written(rig.settings.get(), &SettingsFile::written);
        if (removedMeanwhile) {
            ostratest::HeldRenames removal(QFileInfo(lock).fileName(), Patience, ostratest::HeldRenames::Hold::Removals);
            rig.settings->setValue("ui/theme", "dark");
            QTRY_COMPARE(removal.waiting(), 1);
            // Past the held removal, as the owner's own.
            QCOMPARE(::unlinkat(AT_FDCWD, QFile::encodeName(lock).constData(), 0), 0);
        } else {
            rig.settings->setValue("ui/theme", "dark");
        }
        QVERIFY(SettingsFile::waitForWrites(Patience));
        QCOMPARE(written.size(), 1);
        QCOMPARE(written.first().at(1).toBool(), failure.isEmpty());
        QVERIFY(rig.settings->failure().contains(failure));
        QCOMPARE(QFileInfo::exists(lock), !failure.isEmpty());
        QDir().rmdir(lock);
        QFile::remove(lock);
        running.kill();
        running.waitForFinished();
    }

    // A settings file waiting for another program's lock holds no other file's write behind it.
    void otherFilesGoOn()
    {
        QVERIFY(SettingsFile::waitForWrites(Patience));
        SettingsFile settings;
        QLockFile held(settings.fileName() + ".lock");
        QVERIFY(held.lock());
        QSignalSpy settingsWritten(&settings, &SettingsFile::written);
        settings.setValue("ui/theme", "dark");
        const QString profile = QFileInfo(settings.fileName()).absolutePath() + "/other.json";
        QSignalSpy written(&corvane::FileWriter::shared(), &corvane::FileWriter::written);
        corvane::FileWriter::shared().write(profile, [](quint64) { return QByteArray("{}"); });
        QVERIFY(QTest::qWaitFor([&] { return !written.isEmpty() && written.last().at(0).toString() == profile; }, Patience));
        QVERIFY(settingsWritten.isEmpty());
        held.unlock();
        QVERIFY(settingsWritten.wait(Patience));
        QCOMPARE(settingsWritten.last().at(1).toBool(), true);
    }

    // The end of the run hands over a newer change of a key whose older one waits for another
    // program's lock, and that program lets go: the file's writes are done in turn, and the file
    // ends with the newer.
    void endOfRunBehindALock()
    {
        QVERIFY(SettingsFile::waitForWrites(Patience));
        SettingsFile settings;
        QLockFile held(settings.fileName() + ".lock");
        QVERIFY(held.lock());
        QSignalSpy written(&settings, &SettingsFile::written);
        const quint64 older = settings.setValue("ui/theme", "light");
        // Tried, and half-way to trying again when the flush below comes.
        QTest::qWait(5 * corvane::FileWriter::RetryMs / 2);
        const quint64 newer = settings.setValue("ui/theme", "dark");
        held.unlock();
        QVERIFY(corvane::FileWriter::shared().flush(Patience));
        QVERIFY(SettingsFile::waitForWrites(Patience));
        QCOMPARE(written.size(), 2);
        QCOMPARE(written.at(0).at(0).toULongLong(), older);
        QCOMPARE(written.at(1).at(0).toULongLong(), newer);
        QCOMPARE(onDisk(settings.fileName(), "ui/theme"), QVariant("dark"));
    }

    // A hand edit that lands while a write syncs its folder, after its rename, is read by the
    // next write rather than taken for that write's own file.
    void handEditBehindARename()
    {
        QVERIFY(SettingsFile::waitForWrites(Patience));
        SettingsFile settings;
        settings.setValue("ui/theme", "light");
        QVERIFY(SettingsFile::waitForWrites(Patience));
        const QString path = settings.fileName();
        {
            ostratest::HeldRenames slow(QFileInfo(path).absoluteDir().dirName(), Patience,
                                        ostratest::HeldRenames::Hold::FolderSyncs);
            settings.setValue("ui/theme", "dark");
            QTRY_COMPARE(slow.waiting(), 1);
            // As an editor saves: in place, without QSettings' lock.
            QFile edit(path);
            QVERIFY(edit.open(QIODevice::Append));
            edit.write("\n[handEdit]\nkept=yes\n");
        }
        QVERIFY(SettingsFile::waitForWrites(Patience));
        settings.setValue("ui/theme", "light");
        QVERIFY(SettingsFile::waitForWrites(Patience));
        QCOMPARE(onDisk(path, "handEdit/kept"), QVariant("yes"));
        QCOMPARE(settings.value("handEdit/kept"), QVariant("yes"));
    }

    // The other program of otherWritersKept: stores its change as the program does, and ends.
    void otherCopy()
    {
        const QString writer = qEnvironmentVariable("OSTRA_OTHER_COPY");
        if (writer.isEmpty())
            QSKIP("the other copy of otherWritersKept, started by it");
        if (writer == "lounge") {
            QCOMPARE(SettingsFile().fileName(), qEnvironmentVariable("OSTRA_OTHER_FILE"));
            corvane::CorvaneController controller;
            controller.setLoungeSpeedCap(true, 33);
        } else {
            QCOMPARE(SettingsFile(QStringLiteral("MotionSystem")).fileName(), qEnvironmentVariable("OSTRA_OTHER_FILE"));
            corvane::MotionSystemController platform;
            corvane::MotionSystemSettings settings = platform.settings();
            settings.strokeMm = 250;
            platform.applySettings(settings, {"strokeMm"});
        }
        QVERIFY(SettingsFile::waitForWrites(Patience));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestSettingsFile)
#include "tst_settingsfile.moc"
