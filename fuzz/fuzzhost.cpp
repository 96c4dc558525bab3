#include "fuzzhost.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSTRA_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define OSTRA_FUZZ_ASAN 1
#endif
#ifdef OSTRA_FUZZ_ASAN
// Both sanitizer runtimes have it, but GCC installs no header that declares it.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#else
#include <malloc.h>
#endif

#include "platform/storage/filewriter.h"
#include "support/testenvironment.h"

namespace ostrafuzz {

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

// The heap the program holds now, freed blocks not counted (the sanitizer keeps those a while).
qint64 heapInUse()
{
#ifdef OSTRA_FUZZ_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

// The first inputs fill what is made once (Qt's caches, the writer's thread); after them, what
// the inputs keep may not grow by more than this per input on average. Checked often enough
// that the few seconds CI fuzzes each target find an input that leaves tens of kB behind.
constexpr int WarmUpInputs = 64;
constexpr int CheckEveryInputs = 64;
constexpr qint64 MaxKeptPerInput = 2048;

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

Turn::Turn()
    : m_heapBefore(heapInUse())
{
}

Turn::~Turn()
{
    corvane::FileWriter &writer = corvane::FileWriter::shared();
    // A report may hand the next job of its file over.
    for (int round = 0; round < 16; ++round) {
        writer.flush(corvane::FileWriter::QuitWaitMs);
        drainEvents();
        if (writer.isIdle())
            break;
    }
    static qint64 inputs = 0;
    static qint64 kept = 0;
    if (++inputs <= WarmUpInputs)
        return;
    kept += heapInUse() - m_heapBefore;
    const qint64 counted = inputs - WarmUpInputs;
    if (counted % CheckEveryInputs == 0 && kept > MaxKeptPerInput * counted) {
        std::fprintf(stderr, "ostrafuzz: the inputs keep %lld bytes each on average (%lld inputs), at most %lld allowed\n",
                     kept / counted, counted, MaxKeptPerInput);
        std::abort();
    }
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
