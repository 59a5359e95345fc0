// Writes a library like a user's into a fresh home, for running the program itself on it:
//
//   bench_makelibrary --home DIR [--movies N] [--folders F] [--absent] [--seed S]
//
// DIR gets the program's settings (DIR/.config) naming DIR/Library as the library, the
// library's index there (written by the program's own save) and, unless --absent, the
// movies' files as empty files under DIR/Media. With --absent the movies' paths point into
// a drive that is not plugged in. Defaults: 100,000 movies in 2,000 folders (--folders 1
// puts them all into one folder). Then run the program with HOME=DIR and XDG_CONFIG_HOME=DIR/.config.
#include "support/RealisticLibrary.h"

#include "platform/Memory.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFileInfo>
#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    platform::prepareAllocator();
    benchsupport::RealisticLibraryOptions options;
    QString home;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--home" && hasValue)
            home = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--movies" && hasValue)
            options.movies = std::atoi(argv[++i]);
        else if (a == "--folders" && hasValue)
            options.folders = std::atoi(argv[++i]);
        else if (a == "--seed" && hasValue)
            options.seed = unsigned(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--absent")
            options.present = false;
        else {
            std::fprintf(stderr, "usage: %s --home DIR [--movies N] [--folders F] [--absent] [--seed S]\n", argv[0]);
            return 2;
        }
    }
    if (home.isEmpty() || options.movies < 0) {
        std::fprintf(stderr, "usage: %s --home DIR [--movies N] [--folders F] [--absent] [--seed S]\n", argv[0]);
        return 2;
    }
    home = QFileInfo(home).absoluteFilePath();
    if (QFileInfo::exists(home + QStringLiteral("/Library")) && !QDir(home + QStringLiteral("/Library")).isEmpty()) {
        std::fprintf(stderr, "%s/Library is not empty: give a fresh home\n", qPrintable(home));
        return 1;
    }
    QDir().mkpath(home + QStringLiteral("/.config"));
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellis"));
    QElapsedTimer timer;
    timer.start();
    benchsupport::RealisticLibraryFigures figures;
    const QString error = benchsupport::writeRealisticLibrary(home + QStringLiteral("/Library"), options, &figures);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "bench_makelibrary: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s (files %s), written in %.1f s\nrun: HOME=%s XDG_CONFIG_HOME=%s/.config build/bin/Pellis\n", qPrintable(figures.summary()),
                options.present ? "present" : "absent", timer.elapsed() / 1000.0, qPrintable(home), qPrintable(home));
    std::fflush(stdout);
    // No quit sequence: what was written stays as written.
    std::_Exit(0);
}
