#include "support/darktwin.h"

#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace ostratest {

bool runDarkTwin(const QString &sub, const QStringList &functions)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QOROSTRA_THEME"), QStringLiteral("dark"));
    env.insert(QStringLiteral("OSTRA_ARTEFACT_DIR"), QFileInfo(artefactDir(sub)).absolutePath());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), functions);
    return child.waitForFinished(120000) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

} // namespace ostratest
