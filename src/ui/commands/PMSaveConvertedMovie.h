// "Save as Movie...": the movie made of an animated image, kept where the user says.
#pragma once

#include <QtCore/QString>

// Asks where to save (proposing `name`) and copies the converted movie there. The copy is
// made under a hidden temporary name beside the destination and renamed into place, so
// that a save stopped at any moment leaves no half movie under a name the user sees; a
// file the user did not agree to replace is never replaced. A failure says so in an alert.
void PMSaveConvertedMovie(const QString& converted, const QString& name);
