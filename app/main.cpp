#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include <memory>

#include "app/endsignals.h"
#include "app/instancelock.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "bridge/corvanecontroller.h"
#include "ostraui/theme.h"
#include "platform/process/descriptorlimit.h"
#include "profiles/profilemanager.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    setApplicationIdentity(app);
    // Before anything reads or writes the program's files, the theme's setting included.
    InstanceLock lock(programFolders());
    if (!holdProgramFolders(lock, RestartWaitMs))
        return 1;
    // Before any widget exists, so fonts, palette and stylesheet reach everything built later.
    ostra::installTheme(app);
    installLogRouting();
    // Connections from the network must not leave the profiles without a descriptor to save with.
    corvane::DescriptorLimit::raiseToHardLimit();
    QTranslator translator;
    installTranslator(translator, QLocale::system().uiLanguages());

    auto window = std::make_unique<MainWindow>();
    window->show();
    closeOnEndSignals(window.get());
    answerSecondStarts(lock, window.get());
    tellWhenUnguarded(lock, window.get());
    // Only scheduled here: the event loop runs the snapshots and quits at their end.
    const QString snapshotDir = snapshotDirectory();
    if (!snapshotDir.isEmpty())
        window->captureSnapshots(snapshotDir);
    const int exitCode = app.exec();
    const bool restart = window->restartRequested();
    const corvane::ProfileManager::FileNames fileNames = window->controller()->profileManager()->fileNames();
    window.reset();
    // What the run changed last (profiles, settings, a stop) reaches the disk before the next
    // run, or the restart, reads it.
    return endRun(exitCode, restart, fileNames);
}
