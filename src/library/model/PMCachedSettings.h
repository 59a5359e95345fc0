// Settings read once into process-wide flags and read from there instead of the user
// defaults: at launch, and each time a library is loaded.
#pragma once

#include <atomic>

struct PMCachedSettings {
    static std::atomic<bool> determineFuzzyOldestDate;               // at launch
    static std::atomic<bool> convertAnimatedImagesToMovies;          // at launch, and by the preferences
    static std::atomic<bool> determineFuzzyOldestDateUseCreationDate; // at library load
    static std::atomic<bool> determineFuzzyNewestDateUseSortingContext; // at library load
    static std::atomic<bool> determineNamesAutomatically;            // at library load, and by the preferences
};
