// What every benchmark program shares: a throw-away home, so the user's own settings and
// library are never touched, and a Qt application object.
#pragma once

#include "platform/Memory.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QString>
#include <QtCore/QTemporaryDir>

#include <benchmark/benchmark.h>

#include <functional>

namespace benchsupport {

// Runs the registered benchmarks; `prepare` gets the home folder before they start.
inline int runBenchmarks(int argc, char** argv, const std::function<void(const QString& home)>& prepare = {})
{
    platform::prepareAllocator();
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    QCoreApplication app(argc, argv);
    if (prepare)
        prepare(home.path());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace benchsupport
