#include <benchmark/benchmark.h>

#include <QRandomGenerator>

#include <array>

#include "bridge/crsfprotocol.h"

using corvane::CrsfProtocol;

namespace {

std::array<qint32, 16> someChannels(int tick)
{
    std::array<qint32, 16> channels;
    for (int i = 0; i < 16; ++i)
        channels[size_t(i)] = (172 + tick * 7 + i * 97) % 2048;
    return channels;
}

// What a transmitter sends back: telemetry frames with some line noise between them.
QByteArray telemetryStream(int frames)
{
    QRandomGenerator rng(7);
    QByteArray stream;
    for (int i = 0; i < frames; ++i) {
        QByteArray payload(10 + int(rng.bounded(20)), '\0');
        for (char &c : payload)
            c = char(rng.bounded(256));
        stream += CrsfProtocol::buildFrame(0x29, 0xEA, 0xEE, payload);
        if (i % 4 == 0)
            stream += "ok\r\n";
    }
    return stream;
}

void BM_BuildRcChannelsFrame(benchmark::State &state)
{
    int tick = 0;
    for (auto _ : state) {
        QByteArray frame = CrsfProtocol::buildRcChannelsFrame(someChannels(tick++));
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(state.iterations() * CrsfProtocol::RcChannelsFrameSize);
}
BENCHMARK(BM_BuildRcChannelsFrame);

void BM_BuildRcChannelsFrameInPlace(benchmark::State &state)
{
    char frame[CrsfProtocol::RcChannelsFrameSize];
    int tick = 0;
    for (auto _ : state) {
        CrsfProtocol::buildRcChannelsFrame(someChannels(tick++), frame);
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(state.iterations() * CrsfProtocol::RcChannelsFrameSize);
}
BENCHMARK(BM_BuildRcChannelsFrameInPlace);

// Bytes per second through the parser, for the chunk sizes a serial read delivers.
void BM_Feed(benchmark::State &state)
{
    const QByteArray stream = telemetryStream(2000);
    const qsizetype chunk = state.range(0);
    CrsfProtocol codec;
    qint64 frames = 0;
    QObject::connect(&codec, &CrsfProtocol::frameReceived, [&frames] { ++frames; });
    for (auto _ : state) {
        for (qsizetype at = 0; at < stream.size(); at += chunk)
            codec.feed(stream.mid(at, chunk));
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Feed)->Arg(1)->Arg(64)->Arg(4096);

// Pure noise: the worst case, where every byte is a candidate to be tried and dropped.
void BM_FeedNoise(benchmark::State &state)
{
    QRandomGenerator rng(11);
    QByteArray noise(64 * 1024, '\0');
    for (char &c : noise)
        c = char(rng.bounded(256));
    CrsfProtocol codec;
    for (auto _ : state)
        codec.feed(noise);
    state.SetBytesProcessed(state.iterations() * noise.size());
}
BENCHMARK(BM_FeedNoise);

} // namespace

BENCHMARK_MAIN();
