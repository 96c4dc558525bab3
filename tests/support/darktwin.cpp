#include "support/darktwin.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include "support/testenvironment.h"

namespace ostratest {

bool runDarkTwin(const QString &sub, const QStringList &testFunctions)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QOROSTRA_THEME"), QStringLiteral("dark"));
    env.insert(QStringLiteral("OSTRA_ARTEFACT_DIR"), QFileInfo(artefactDir(sub)).absolutePath());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), testFunctions);
    return child.waitForFinished(120000) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

} // namespace ostratest
