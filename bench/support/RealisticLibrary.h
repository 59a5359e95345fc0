// A library like a user's, for the scale benchmarks and for running the program itself on
// one: movies with names of one to four words (accents and CJK among them, one in seven an
// animated GIF), half of them rated, 40% played, 60% with genres, 30% with a year, 10% with
// notes full of quotes, commas and line breaks, a few turned or cropped; in folders of 50
// (or all in one folder), each folder sorted by name, rating or date; and smart groups: one
// with no criteria (every movie) and a few by rating and genre.
//
// The movies' files are either all present (empty files, made under the media folder) or all
// absent (their paths point into a volume that is not mounted, as a drive not plugged in).
// The same seed gives the same library.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

class PMMainController;

namespace benchsupport {

struct RealisticLibraryOptions {
    int movies = 100000;
    // Folders of the movies section; 1 (or less) puts every movie into one folder.
    int folders = 2000;
    // Whether the movies' files exist (empty files under `mediaFolder`, made when missing).
    bool present = true;
    // Where present files are made; absent files are given paths under a volume that is not there.
    QString mediaFolder;
    unsigned seed = 59;
};

struct RealisticLibraryFigures {
    int movies = 0;
    int folders = 0;
    int smartGroups = 0;
    int rated = 0;
    int played = 0;
    int withGenres = 0;
    int withYear = 0;
    int withNotes = 0;
    int rotated = 0;
    int cropped = 0;
    int gifs = 0;
    // The name of the largest folder (in the sidebar, under the movies section).
    QString largestFolder;
    QString summary() const;
};

// The mount point that absent movies' paths start with; nothing is ever made there.
QString absentVolumePath();

// Fills the controller's library with such movies, folders and smart groups (the movies
// section and the smart group storage, both emptied first) and brings what depends on the
// library up to date. Present files are made first (that takes a few seconds for 100,000).
// Answers an empty error text, or what went wrong.
QString populateRealisticLibrary(PMMainController& controller, const RealisticLibraryOptions& options, RealisticLibraryFigures* figures = nullptr);

// Every movie of the movies section, folder by folder (what a benchmark selects).
platform::ArrayPtr realisticLibraryMovies(PMMainController& controller);

// Whether the benchmarks use the older library of plainly named movies instead
// (PELLIS_BENCH_LIBRARY=plain in the environment).
bool plainBenchLibraryAsked();

// Writes such a library for the program itself: its settings (under $HOME and
// $XDG_CONFIG_HOME, which the caller has pointed at the home before the application object
// was made) naming `libraryFolder` as the library, and the library's own index there,
// written by the program's save. The media folder defaults to "Media" beside the library folder
// (outside it, so that nothing the program does to its own folder touches the movies).
QString writeRealisticLibrary(const QString& libraryFolder, RealisticLibraryOptions options, RealisticLibraryFigures* figures = nullptr);

} // namespace benchsupport
