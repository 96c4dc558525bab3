#include "app/startup.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

#include "app/appversion.h"
#include "bridge/logrouter.h"
#include "platform/storage/filewriter.h"

namespace {

// Written once at start-up, before any other thread exists; only read afterwards.
QtMessageHandler g_previousHandler = nullptr;

} // namespace

void setApplicationIdentity(QApplication &app)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Qorvant"));
    QCoreApplication::setApplicationName(QLatin1String(AppDisplayName));
    app.setWindowIcon(QIcon(QStringLiteral(":/images/qorvant-logo.png")));
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
    const QString program = QCoreApplication::applicationFilePath();
    if (QProcess::startDetached(program, QCoreApplication::arguments().mid(1)))
        return true;
    std::fprintf(stderr, "Could not restart %s\n", qPrintable(program));
    return false;
}

int endRun(int exitCode, bool restart, int waitMs)
{
    corvane::FileWriter &writer = corvane::FileWriter::shared();
    const bool done = writer.flush(waitMs);
    const QStringList givenUp = done ? QStringList() : writer.giveUp();
    if (restart) {
        if (!givenUp.isEmpty()) {
            QStringList names;
            for (const QString &path : givenUp)
                names.append(QFileInfo(path).fileName());
            QMessageBox box(QMessageBox::Warning, QCoreApplication::translate("Startup", "Not saved"),
                            QCoreApplication::translate("Startup", "The disk did not finish in time. These files may not hold "
                                                                   "your last changes: %1.")
                                .arg(names.join(QStringLiteral(", "))),
                            QMessageBox::NoButton);
            box.setTextFormat(Qt::PlainText);
            box.setInformativeText(QCoreApplication::translate("Startup", "The OSTRA restarts with what these files hold."));
            box.addButton(QCoreApplication::translate("Startup", "Restart"), QMessageBox::AcceptRole);
            box.exec();
        }
        restartProgram();
    }
    if (done)
        return exitCode;
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
