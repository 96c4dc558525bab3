#include "fuzzhost.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>

#include "support/testenvironment.h"

namespace ostrafuzz {

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace

void initHost()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // Settings, profiles and sensors land in a temporary home that lives as long as the process,
    // in memory where there is a RAM folder: the profile store syncs every file it saves.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    static ostratest::TestEnvironment environment;
    qputenv("OSTRA_INPUT_BACKEND", "virtual");
    qputenv("OSTRA_MDNS_INTERFACES", "lo");
    static int argc = 1;
    static char name[] = "ostrafuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    ostratest::TestEnvironment::applyIdentity();
    if (qEnvironmentVariableIsEmpty("OSTRA_FUZZ_LOG"))
        qInstallMessageHandler(quiet);
}

void drainEvents()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

QList<QByteArray> pieces(const QByteArray &bytes, quint8 seed)
{
    QList<QByteArray> out;
    quint32 state = seed;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        state = state * 1103515245u + 12345u;
        const qsizetype length = 1 + qsizetype((state >> 16) % 64);
        out.append(bytes.mid(pos, length));
        pos += length;
    }
    return out;
}

QList<Record> records(const uint8_t *data, size_t size)
{
    QList<Record> out;
    size_t pos = 0;
    while (pos + 3 <= size) {
        Record r;
        r.kind = data[pos];
        const size_t length = size_t(data[pos + 1]) | (size_t(data[pos + 2]) << 8);
        pos += 3;
        const size_t take = std::min(length, size - pos);
        r.bytes = QByteArray(reinterpret_cast<const char *>(data + pos), qsizetype(take));
        pos += take;
        out.append(r);
    }
    return out;
}

QByteArray record(quint8 kind, const QByteArray &bytes)
{
    QByteArray out;
    out.append(char(kind));
    out.append(char(bytes.size() & 0xFF));
    out.append(char((bytes.size() >> 8) & 0xFF));
    out.append(bytes);
    return out;
}

} // namespace ostrafuzz
