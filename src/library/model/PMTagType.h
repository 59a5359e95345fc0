// The main controller's record of one tag name over the whole library: which values
// occur, which movies carry each one, how many movies carry the tag and whether its
// values are all numbers. Rebuilt with every library update.
#pragma once

#include <QtCore/QHash>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <vector>

struct PMTagValue {
    QString value;                     // as first met
    QStringList associatedIdentifiers; // unique library IDs of the carriers, in visiting order
};

// One movie's share of the tag types, worked out once per change of its tags: for each of
// its tags the lower-case name, the name as typed, the values (the whole text for "notes",
// the CSV fields otherwise) with their lower-case forms, and whether a value holds a
// character that is neither a digit nor punctuation.
struct PMTagTypeShare {
    struct Tag {
        QString key;
        QString tag;
        QStringList values;
        QStringList lowercaseValues;
        bool nonNumeric = false;
        // Numbers standing for the lower-case tag name and for each lower-case value of it,
        // the same for every movie (`PMTagTypeSlot`, `PMTagValueSlot`).
        qsizetype keySlot = 0;
        std::vector<qsizetype> valueSlots;
    };
    std::vector<Tag> tags;
};

// The number that stands for a lower-case tag name, and for a lower-case value of the tag
// with that number: given out once per process, from 0 up.
qsizetype PMTagTypeSlot(const QString& lowercaseTag);
qsizetype PMTagValueSlot(qsizetype tagSlot, const QString& lowercaseValue);
// Both for one tag of a movie at once: the tag's number, and one for each value appended
// to `valueSlots`.
qsizetype PMTagSlots(const QString& lowercaseTag, const QStringList& lowercaseValues, std::vector<qsizetype>& valueSlots);

// Neither a decimal digit nor punctuation: "1.5" and "2001-10" are numbers, "12a" is not.
bool PMContainsNonNumericCharacter(const QString& text);

struct PMTagType {
    QString tag;                       // as typed on the first movie visited that carries it
    QHash<QString, PMTagValue> values; // by lower-case value
    qint64 counter = 0;                // movies that carry the tag
    bool nonNumeric = false;           // some value holds a character neither digit nor punctuation
};

// While one of these lives (on the main thread), asking a record for its tags starts no
// first read of its file's metadata: a library loaded at start-up asks every record, and
// its files are all looked at in one background job once the window shows instead.
class PMDeferredFirstMetadataReads {
public:
    PMDeferredFirstMetadataReads();
    ~PMDeferredFirstMetadataReads();
    PMDeferredFirstMetadataReads(const PMDeferredFirstMetadataReads&) = delete;
    PMDeferredFirstMetadataReads& operator=(const PMDeferredFirstMetadataReads&) = delete;
};

// The tag names that may be imported from file metadata, in English.
QStringList PMImportableMetadataTagNames();
// The names chosen for import: the setting "Import Metadata: Names", or the built-in list.
QStringList PMImportMetadataTagNames();
