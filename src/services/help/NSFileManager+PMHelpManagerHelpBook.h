// Finding the language folder of the help book.
#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>

// The folders tried below a book folder, in order: for each of the user's languages
// (QLocale::uiLanguages order) its tag as given ("de-CH"), with an underscore ("de_CH"),
// its language alone ("de") and its English name ("German"); then "en" and "English";
// then "" (the book folder itself). No repeats.
QStringList helpManagerLanguageFolderCandidates(const QStringList& uiLanguages);

// The first existing folder `insideDirectory/directory/candidate` for the candidates of
// the user's languages (computed once per process), or of the languages given; empty when
// there is none or an argument is empty.
QString localizedPathToDirectory(const QString& directory, const QString& insideDirectory);
QString localizedPathToDirectory(const QString& directory, const QString& insideDirectory, const QStringList& candidates);
