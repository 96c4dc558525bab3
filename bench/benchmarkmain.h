#pragma once

#include <benchmark/benchmark.h>

#include "support/testenvironment.h"

// Keeps the program's log lines out of what a benchmark times and prints: they still reach a
// handler, which drops them.
inline void silenceLogs()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

// Runs the registered benchmarks inside an application of type App, in a fresh temporary home
// with the virtual game controllers, so a run never touches the user's profiles or settings.
template<typename App>
int runBenchmarks(int argc, char **argv)
{
    ostratest::TestEnvironment environment;
    App app(argc, argv);
    ostratest::TestEnvironment::applyIdentity();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
