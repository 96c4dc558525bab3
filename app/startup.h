#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "profiles/profilemanager.h"

class InstanceLock;
class QApplication;
class QTranslator;
class QWidget;

// The steps of the program's start, one function each, so a test can take them one by one.

// Organisation and application names (which also name the settings store) and the window icon.
void setApplicationIdentity(QApplication &app);
// The folder of the program's settings files, where QSettings keeps them, found without reading
// any of them.
QString settingsFolder();
// The folders one copy of the program keeps to itself: the settings folder and the profile store.
QStringList programFolders();
// How long a copy started by restartProgram waits for the old copy to end.
constexpr int RestartWaitMs = 5000;
// Holds the folders of the program's files (the settings folder, the profile store) for the run,
// before anything reads or writes them: two copies would each write their own lists over the
// other's. While another copy holds one, a copy started by restartProgram waits up to
// `restartWaitMs` for it to end. Past that, or at any other start, the copy that holds it is asked
// to come forward and the user is told: false, and this run ends without touching a file.
bool holdProgramFolders(InstanceLock &lock, int restartWaitMs);
// Brings `window` forward whenever a second start asks.
void answerSecondStarts(InstanceLock &lock, QWidget *window);
// Tells the user, in a box over `window`, when a folder could not be held: a second copy that
// shares only such folders would not be kept out, and what would lock them again.
void tellWhenUnguarded(const InstanceLock &lock, QWidget *window);
// Creates the log router on this (the GUI) thread and routes every log message through it,
// keeping the handler installed before for Qt's ordinary output.
void installLogRouting();
// Sends one message to the log router, then to the handler that was installed before.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
// Installs the first translation found for the given UI languages; false when none loads.
bool installTranslator(QTranslator &translator, const QStringList &uiLanguages);
// The folder snapshot mode writes to (QOROSTRA_SNAPSHOT_DIR); empty when unset or empty, since an
// empty folder would put the pictures in the root folder.
QString snapshotDirectory();
// Starts the program again as a new process with this run's arguments; called once the old window
// has let go of the API port, the serial ports and the controllers. The new copy waits for this
// one's end before it takes the folders. Says on stderr when it fails.
bool restartProgram();
// Ends a run once its window is gone: everything the run handed to the writer reaches the disk
// first, however long that takes, while a box says the program waits for it; then a restart (when
// asked, and no end signal came) starts the next copy, which reads it, having told the user which
// files may not hold their last changes (those whose last write failed), by the names `fileNames`
// gives them, leaving out those that hold nothing the user has. Returns `exitCode`.
int endRun(int exitCode, bool restart, const corvane::ProfileManager::FileNames &fileNames = {});
