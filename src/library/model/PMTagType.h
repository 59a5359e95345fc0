// The main controller's record of one tag name over the whole library: which values
// occur, which movies carry each one, how many movies carry the tag and whether its
// values are all numbers. Rebuilt with every library update.
#pragma once

#include <QtCore/QHash>
#include <QtCore/QString>
#include <QtCore/QStringList>

struct PMTagValue {
    QString value;                     // as first met
    QStringList associatedIdentifiers; // unique library IDs of the carriers, in visiting order
};

struct PMTagType {
    QString tag;                       // as typed on the first movie visited that carries it
    QHash<QString, PMTagValue> values; // by lower-case value
    qint64 counter = 0;                // movies that carry the tag
    bool nonNumeric = false;           // some value holds a character neither digit nor punctuation
};

// The tag names that may be imported from file metadata, in English.
QStringList PMImportableMetadataTagNames();
// The names chosen for import: the setting "Import Metadata: Names", or the built-in list.
QStringList PMImportMetadataTagNames();
