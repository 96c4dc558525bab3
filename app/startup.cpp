#include "app/startup.h"

#include <QApplication>
#include <QEventLoop>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTranslator>
#include <QWidget>
#include <QtDebug>

#include <cstdio>

#include "app/appversion.h"
#include "app/endsignals.h"
#include "app/instancelock.h"
#include "bridge/logrouter.h"
#include "ostraui/brandlogo.h"
#include "ostraui/theme.h"
#include "platform/storage/filewriter.h"
#include "profiles/profilemanager.h"

namespace {

// Written once at start-up, before any other thread exists; only read afterwards.
QtMessageHandler g_previousHandler = nullptr;


// Set by restartProgram for the copy it starts, while this one is still ending.
constexpr char RestartMark[] = "OSTRA_RESTARTED";
// A holder killed while it was asked lets go of its lock a moment after its socket closes.
constexpr int GoneHolderWaitMs = 1000;

// Until the writer has done all it was handed, however long the disk takes: a stop the run ended
// in must be what the next run reads. A box says why the program has not ended yet; it has no
// button, as ending without the writes is not offered.
void waitForTheDisk(corvane::FileWriter &writer)
{
    QMessageBox box(QMessageBox::Information, QLatin1String(AppDisplayName),
                    QCoreApplication::translate("Startup", "Saving before the OSTRA ends…"), QMessageBox::NoButton);
    // Set, not only left empty, or the box adds an OK of its own.
    box.setStandardButtons(QMessageBox::NoButton);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(QCoreApplication::translate("Startup", "The disk is slow to take the last changes. The OSTRA "
                                                                  "ends as soon as they are saved."));
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    // A signal now ends nothing sooner: the last changes may hold the stop the car is in.
    takeEndSignalsWhileAlive(&box);
    QEventLoop loop;
    // Each job's end is reported in turn; the writer is done when its thread has nothing left.
    QObject::connect(&writer, &corvane::FileWriter::written, &loop, [&writer, &loop] {
        if (writer.flush(0))
            loop.quit();
    }, Qt::QueuedConnection);
    if (!writer.flush(0))
        loop.exec();
}

} // namespace

void setApplicationIdentity(QApplication &app)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Qorvant"));
    QCoreApplication::setApplicationName(QLatin1String(AppDisplayName));
    app.setWindowIcon(ostra::brandWindowIcon());
}

QString settingsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
           + QCoreApplication::organizationName();
}

QStringList programFolders()
{
    return {settingsFolder(), corvane::ProfileManager::folderPath()};
}

bool holdProgramFolders(InstanceLock &lock, int restartWaitMs)
{
    const bool restarted = qEnvironmentVariableIsSet(RestartMark);
    qunsetenv(RestartMark);
    if (lock.acquire(restarted ? restartWaitMs : 0))
        return true;
    const QByteArray answer = lock.askHolder();
    // No answer: the holder may have ended while it was asked (killed, or at the end of its run).
    if (answer.isEmpty() && lock.acquire(GoneHolderWaitMs))
        return true;
    std::fprintf(stderr, "%s is already running for these settings or profiles; this start ends.\n", AppDisplayName);
    // In the colours of the window that came forward; the settings that name them are not read.
    ostra::installTheme(*qApp, answer.isEmpty() ? qgetenv("QOROSTRA_THEME") == "dark" : answer == "dark");
    QMessageBox box(QMessageBox::Information, QLatin1String(AppDisplayName),
                    QCoreApplication::translate("Startup", "The OSTRA is already running."), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(answer.isEmpty()
                               ? QCoreApplication::translate("Startup", "Use the window that is open. Two copies would "
                                                                        "write over each other's profiles and settings.")
                               : QCoreApplication::translate("Startup", "Its window is in front now. Two copies would "
                                                                        "write over each other's profiles and settings."));
    box.exec();
    return false;
}

void answerSecondStarts(InstanceLock &lock, QWidget *window)
{
    // The lock outlives the window: a start while this copy ends (its last box open) finds no
    // window to bring forward.
    lock.listen([window = QPointer<QWidget>(window)] {
        if (!window)
            return QByteArray();
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
        return ostra::isDarkTheme() ? QByteArrayLiteral("dark") : QByteArrayLiteral("light");
    });
}

void tellWhenUnguarded(const InstanceLock &lock, QWidget *window)
{
    const QStringList files = lock.unguarded();
    if (files.isEmpty())
        return;
    // A copy that shares a folder still held is kept out by that folder's lock.
    const QStringList locked = lock.lockedFolders();
    const QString said = locked.isEmpty()
                             ? QCoreApplication::translate("Startup", "Another copy of the OSTRA would not be kept out.")
                             : QCoreApplication::translate("Startup", "Another copy of the OSTRA is kept out only if it "
                                                                      "uses %1 too.")
                                   .arg(locked.join(QStringLiteral(", ")));
    QString details = QCoreApplication::translate("Startup", "This run cannot lock %1.").arg(files.join(QStringLiteral(", ")))
                      + QLatin1Char(' ')
                      + (locked.isEmpty()
                             ? QCoreApplication::translate("Startup", "Two copies would write over each other's profiles "
                                                                      "and settings: start no second copy while this one runs.")
                             : QCoreApplication::translate("Startup", "A second copy that uses it but not %1 would write "
                                                                      "over this one's profiles or settings: start none "
                                                                      "while this one runs.")
                                   .arg(locked.join(QStringLiteral(", "))));
    const QStringList remedies = lock.remedies();
    if (!remedies.isEmpty())
        details += QStringLiteral("\n\n")
                   + QCoreApplication::translate("Startup", "To lock it again, close the OSTRA first. %1")
                         .arg(remedies.join(QLatin1Char(' ')));
    auto *box = new QMessageBox(QMessageBox::Warning, QLatin1String(AppDisplayName), said, QMessageBox::Ok, window);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(details);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void installLogRouting()
{
    corvane::LogRouter::instance();
    g_previousHandler = qInstallMessageHandler(logMessageHandler);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Null only once the router is gone at process exit.
    if (corvane::LogRouter *router = corvane::LogRouter::instance())
        router->post(int(type), message);
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

bool installTranslator(QTranslator &translator, const QStringList &uiLanguages)
{
    for (const QString &tag : uiLanguages) {
        const QString baseName = QStringLiteral("qorostra_") + QLocale(tag).name();
        if (translator.load(QStringLiteral(":/i18n/") + baseName)) {
            QCoreApplication::installTranslator(&translator);
            return true;
        }
    }
    return false;
}

QString snapshotDirectory()
{
    return qEnvironmentVariable("QOROSTRA_SNAPSHOT_DIR");
}

bool restartProgram()
{
    QProcess process;
    process.setProgram(QCoreApplication::applicationFilePath());
    process.setArguments(QCoreApplication::arguments().mid(1));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(RestartMark), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    if (process.startDetached())
        return true;
    std::fprintf(stderr, "Could not restart %s\n", qPrintable(process.program()));
    return false;
}

int endRun(int exitCode, bool restart, const corvane::ProfileManager::FileNames &fileNames)
{
    corvane::FileWriter &writer = corvane::FileWriter::shared();
    if (!writer.flush(0))
        waitForTheDisk(writer);
    if (!restart)
        return exitCode;
    if (!takeEndSignals()) {
        QStringList names;
        for (const QString &path : writer.failedFiles()) {
            const QString name = fileNames.of(path);
            if (!name.isEmpty() && !names.contains(name))
                names.append(name);
        }
        if (!names.isEmpty()) {
            QMessageBox box(QMessageBox::Warning, QCoreApplication::translate("Startup", "Not saved"),
                            QCoreApplication::translate("Startup", "Some files could not be saved.") + QLatin1Char(' ')
                                + QCoreApplication::translate("Startup", "These files may not hold your last changes: %1.")
                                      .arg(names.join(QStringLiteral(", "))),
                            QMessageBox::NoButton);
            box.setTextFormat(Qt::PlainText);
            box.setInformativeText(QCoreApplication::translate("Startup", "The OSTRA restarts with what these files hold."));
            box.addButton(QCoreApplication::translate("Startup", "Restart"), QMessageBox::AcceptRole);
            // Nobody may be there to press it.
            takeEndSignalsWhileAlive(&box, [&box] { box.done(QMessageBox::Cancel); });
            box.exec();
        }
    }
    if (takeEndSignals())
        qInfo().noquote() << "Startup: ended by a signal; the restart is left out.";
    else
        restartProgram();
    return exitCode;
}
