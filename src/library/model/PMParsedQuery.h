// A search text turned into what the matcher works on: identifiers of a multiple
// selection the search is limited to ("&="), identifiers that filter the items ("=="),
// duplicate-search keys ("?=") and the ordinary terms, each with its alternatives ("||")
// and their negation ("-"). The three special token kinds are parsed strictly (a malformed
// one rejects the whole text); ordinary terms never fail.
#pragma once

#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <cstdint>
#include <memory>

class PMParsedQueryAlternative {
public:
    // One alternative of a term: a leading "-" negates it (unless it is all there is), and
    // then a text of at least three characters in double quotes loses its quotes.
    static PMParsedQueryAlternative queryAlternativeWithString(const QString& string);

    QString string;
    bool negate = false;
};

class PMParsedQuery;
using PMParsedQueryPtr = std::shared_ptr<const PMParsedQuery>;

class PMParsedQuery {
public:
    // Null when the text is empty, a special token is malformed, or nothing was found.
    static PMParsedQueryPtr parsedQuery(const QString& query);

    // Duplicate-search criteria of a lower-case key.
    enum DuplicateCriterion : long long {
        DuplicateName = 0,
        DuplicateLocation = 1,
        DuplicateImageHash = 2,
        DuplicateFileSize = 3,
        DuplicateDuration = 4,
        DuplicateTag = 5,
        DuplicateUnknown = -1,
    };
    static long long criterionForDuplicateQueryComponent(const QString& lowercaseKey);
    // The resolution of an image-hash key: the whole number after "dhash" when it is at
    // least 1, else 7.
    static long long imageHashResolutionForDuplicateQueryComponent(const QString& lowercaseKey);

    // Empty where the text gave no entry.
    QStringList multipleSelectionIdentifierComponents; // percent-decoded unique library IDs
    QStringList filterIdentifierComponents;            // unique library IDs and series ID prefixes
    QStringList duplicateComponents;                   // lower-case keys
    QList<QList<PMParsedQueryAlternative>> regularComponentAlternativeCollections;
};
