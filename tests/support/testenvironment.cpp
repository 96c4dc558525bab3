#include "support/testenvironment.h"

#include <QDir>

#include <csignal>

#include "platform/storage/filewriter.h"

namespace ostratest {

TestEnvironment::TestEnvironment()
{
    // As a shell starts the program: what the program does with the signal of a file-size limit
    // is its own.
    std::signal(SIGXFSZ, SIG_DFL);
    // The shared writer is made first, so that an environment kept in a static ends before it.
    corvane::FileWriter::shared();
    const QByteArray home = m_home.path().toLocal8Bit();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_RUNTIME_DIR", home + "/.runtime");
    QDir(m_home.path()).mkpath(".runtime");
    QFile::setPermissions(m_home.path() + "/.runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("TZ", "UTC");
    tzset();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Tests play their game controllers themselves, also when started outside ctest.
    if (qEnvironmentVariableIsEmpty("OSTRA_INPUT_BACKEND"))
        qputenv("OSTRA_INPUT_BACKEND", "virtual");
    QStandardPaths::setTestModeEnabled(true);
}

TestEnvironment::~TestEnvironment()
{
    // The stores' last writes land before the home goes, not in a folder they would make again.
    corvane::FileWriter::shared().flush(10000);
}

void TestEnvironment::applyIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Qorvant"));
    QCoreApplication::setApplicationName(QStringLiteral("Qorvant OSTRA"));
}

QString artefactDir(const QString &sub)
{
    const QString base = qEnvironmentVariableIsSet("OSTRA_ARTEFACT_DIR")
                             ? qEnvironmentVariable("OSTRA_ARTEFACT_DIR")
                             : QCoreApplication::applicationDirPath() + QStringLiteral("/artefacts");
    const QString path = base + QLatin1Char('/') + sub;
    QDir().mkpath(path);
    return path;
}

} // namespace ostratest
