#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include <memory>

#include "app/mainwindow.h"
#include "app/startup.h"
#include "ostraui/theme.h"
#include "platform/process/descriptorlimit.h"
#include "platform/storage/filewriter.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    setApplicationIdentity(app);
    // Before any widget exists, so fonts, palette and stylesheet reach everything built later.
    ostra::installTheme(app);
    installLogRouting();
    // Connections from the network must not leave the profiles without a descriptor to save with.
    corvane::DescriptorLimit::raiseToHardLimit();
    QTranslator translator;
    installTranslator(translator, QLocale::system().uiLanguages());

    auto window = std::make_unique<MainWindow>();
    window->show();
    // Only scheduled here: the event loop runs the snapshots and quits at their end.
    const QString snapshotDir = snapshotDirectory();
    if (!snapshotDir.isEmpty())
        window->captureSnapshots(snapshotDir);
    const int exitCode = app.exec();
    const bool restart = window->restartRequested();
    window.reset();
    // What the run changed last (profiles, settings) reaches the disk before the next run, or the
    // restart, reads it; a disk that does not answer holds the end only so long.
    return endRun(exitCode, restart, corvane::FileWriter::QuitWaitMs);
}
