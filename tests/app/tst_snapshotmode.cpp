#include <QApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "app/mainwindow.h"
#include "support/testenvironment.h"

namespace {

const QStringList PageFiles = {
    "00-dashboard.png",      "01-vehicles.png", "02-rc-car.png", "03-rc-heli.png", "04-motion-chooser.png",
    "05-motion-panel.png",   "06-race-control.png", "07-info.png", "08-sidebar-collapsed.png",
};

const QStringList DialogFiles = {
    "09-dlg-axis.png",          "10-dlg-drive.png",       "11-dlg-buttons.png",     "12-dlg-led.png",
    "13-dlg-transmission.png",  "14-dlg-ffb.png",         "15-dlg-motion-output.png", "16-dlg-radio-cal.png",
    "17-dlg-pedal-verify.png",  "18-dlg-onboarding.png",  "19-dlg-fw-receiver.png", "20-dlg-fw-receiver-v4.png",
    "21-dlg-fw-soc-v2.png",     "22-dlg-web-status.png",  "23-dlg-profiles.png",    "24-dlg-disclaimer.png",
    "25-dlg-heli-config.png",   "26-dlg-heli-fly.png",    "27-dlg-heli-curves.png", "28-dlg-heli-arming.png",
    "29-dlg-dash-settings.png", "30-dlg-motion-web.png",  "31-dlg-msgbox.png",
};

// The program serves the mobile-app API on a fixed port; in a network namespace of its own it
// takes none of this machine's, so several runs can go at once.
bool privateNetworkAvailable()
{
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("--net"), QStringLiteral("true")});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

// The program as a user starts it, offscreen, with a home of its own and the given snapshot
// variables (a null value leaves one unset).
class ProgramRun
{
public:
    ProgramRun(const QString &snapshotDir, const QString &size, const QString &dialogs)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString home = m_home.path();
        QDir(home).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(home + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("XDG_DATA_HOME", home + "/.local/share");
        env.insert("XDG_CACHE_HOME", home + "/.cache");
        env.insert("XDG_RUNTIME_DIR", home + "/runtime");
        // A full-HD screen as most users have: the default offscreen one is 800 x 800, and a shown
        // dialog takes at most two thirds of its screen.
        QFile screen(home + "/screen.json");
        if (screen.open(QIODevice::WriteOnly))
            screen.write(R"({"screens": [{"name": "Desktop", "x": 0, "y": 0, "width": 1920, "height": 1080,)"
                         R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        screen.close();
        env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.fileName());
        env.insert("OSTRA_INPUT_BACKEND", "virtual");
        const std::pair<const char *, QString> snapshot[] = {
            {"QOROSTRA_SNAPSHOT_DIR", snapshotDir}, {"QOROSTRA_SNAPSHOT_SIZE", size}, {"QOROSTRA_SNAPSHOT_DIALOGS", dialogs}};
        for (const auto &[name, value] : snapshot) {
            env.remove(name);
            if (!value.isNull())
                env.insert(name, value);
        }
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(home);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        if (privateNetworkAvailable())
            m_process.start(QStringLiteral("unshare"),
                            {QStringLiteral("--net"), QStringLiteral("sh"), QStringLiteral("-c"),
                             QStringLiteral("ip link set lo up 2>/dev/null; exec \"$0\""),
                             QStringLiteral(QOROSTRA_PROGRAM)});
        else
            m_process.start(QStringLiteral(QOROSTRA_PROGRAM));
    }

    ~ProgramRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    QProcess &process() { return m_process; }
    QString homePath() const { return m_home.path(); }
    // True when it ended by itself with exit code 0 within the time.
    bool finishedCleanly(int timeoutMs)
    {
        return m_process.waitForFinished(timeoutMs) && m_process.exitStatus() == QProcess::NormalExit
               && m_process.exitCode() == 0;
    }
    QString output() { return QString::fromLocal8Bit(m_process.readAll()); }

private:
    QTemporaryDir m_home;
    QProcess m_process;
};

QStringList writtenFiles(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestSnapshotMode : public QObject
{
    Q_OBJECT

private slots:
    // Pages only: nine pictures at the asked size in a folder made on the way, then a clean exit.
    void pagesRun()
    {
        QTemporaryDir out;
        const QString dir = out.path() + "/not/yet/there";
        ProgramRun run(dir, QStringLiteral("1600x1000"), QString());
        QVERIFY2(run.finishedCleanly(90000), qPrintable(run.output()));
        QCOMPARE(writtenFiles(dir), PageFiles);
        for (const QString &file : PageFiles) {
            const QImage image(dir + "/" + file);
            QCOMPARE(image.size(), QSize(1600, 1000));
        }
        // The car page again, its sidebar collapsed this time.
        QVERIFY(QImage(dir + "/08-sidebar-collapsed.png") != QImage(dir + "/02-rc-car.png"));
    }

    // An empty folder would put the pictures in the root folder: the program runs as usual.
    void emptyFolderRunsNormally()
    {
        const QString rootPicture = QDir::rootPath() + PageFiles.first();
        QVERIFY2(!QFile::exists(rootPicture), "left over from an earlier run");
        ProgramRun run(QStringLiteral(""), QString(), QStringLiteral(""));
        QVERIFY(run.process().waitForStarted(10000));
        // The first page is saved 1.7 s after the start and the run would quit at 12.9 s.
        QTest::qWait(4000);
        QCOMPARE(run.process().state(), QProcess::Running);
        QVERIFY(!QFile::exists(rootPicture));
        QCOMPARE(writtenFiles(run.homePath()), QStringList{"screen.json"});
    }

    // Only two positive whole numbers around one "x", neither above 16384, size the window.
    void windowSize_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("applied");
        QTest::newRow("1600x1000") << "1600x1000" << true;
        QTest::newRow("no height") << "1600x" << false;
        QTest::newRow("no width") << "x1000" << false;
        QTest::newRow("zero width") << "0x900" << false;
        QTest::newRow("negative height") << "1600x-900" << false;
        QTest::newRow("three parts") << "1600x1000x2" << false;
        QTest::newRow("not numbers") << "widexhigh" << false;
        QTest::newRow("width above 16384") << "16385x900" << false;
        QTest::newRow("height above 16384") << "1600x100000" << false;
    }

    void windowSize()
    {
        QFETCH(QString, value);
        QFETCH(bool, applied);
        QTemporaryDir out;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize before = window.size();
        QVERIFY(before != QSize(1600, 1000));
        qputenv("QOROSTRA_SNAPSHOT_SIZE", value.toUtf8());
        window.captureSnapshots(out.path());
        qunsetenv("QOROSTRA_SNAPSHOT_SIZE");
        QCOMPARE(window.size(), applied ? QSize(1600, 1000) : before);
    }

    // Every page and all 23 dialogs in the theme of QOROSTRA_THEME, kept for a person to look at.
    void dialogRun()
    {
        if (!privateNetworkAvailable())
            QSKIP("no network namespace here (needs root and unshare): the program would take this machine's API port");
        const QString theme = qEnvironmentVariable("QOROSTRA_THEME", QStringLiteral("light"));
        const QString dir = ostratest::artefactDir("app") + "/snapshots-" + theme;
        QVERIFY(QDir(dir).removeRecursively());
        ProgramRun run(dir, QString(), QStringLiteral(""));
        QVERIFY2(run.finishedCleanly(150000), qPrintable(run.output()));
        QCOMPARE(writtenFiles(dir), PageFiles + DialogFiles);
        for (const QString &file : DialogFiles)
            QVERIFY2(!QImage(dir + "/" + file).isNull(), qPrintable(file));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestSnapshotMode)
#include "tst_snapshotmode.moc"
