#pragma once

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: one application object with a fresh home for the whole run,
// the program's log silenced (it would cost more than the parsing), and two ways of cutting an
// input into the pieces a device or a folder would deliver.
namespace ostrafuzz {

// Creates the application and the fresh home once; later calls do nothing.
void initHost();

// Runs queued events (replies, deferred deletes) without waiting for any.
void drainEvents();

// Held for one input: at its end the input finishes as a turn of the program's event loop does
// (what was handed to the file writer is done, and the writer's reports, posted to this thread,
// are delivered), so that nothing an input leaves waiting piles up under the next. The heap the
// inputs leave behind is counted: when it grows with their number the run stops as a crash.
class Turn
{
public:
    Turn();
    ~Turn();
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;

private:
    qint64 m_heapBefore = 0;
};

// Cuts `bytes` into pieces of 1..64 bytes whose lengths follow `seed`, as a serial line hands
// over whatever has arrived.
QList<QByteArray> pieces(const QByteArray &bytes, quint8 seed);

// One record of a structured input: a kind byte, a little-endian 16-bit length and that many
// bytes (fewer at the end of the input).
struct Record
{
    quint8 kind = 0;
    QByteArray bytes;
};
QList<Record> records(const uint8_t *data, size_t size);
QByteArray record(quint8 kind, const QByteArray &bytes);

} // namespace ostrafuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
