// The rules that decide which files and folders may become library items and which
// folders are descended into: negligible names, ignored suffixes, movie-sequence folders,
// network and system paths, the user's blacklist of paths and whitelist of extensions, and
// packages (folders that count as one item).
#pragma once

#include "foundation/NSString+PMHelpManagerMatching.h"

#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <vector>

#include <functional>
#include <optional>

// Names beginning with ".", "_ds_store", "desktop db", "desktop df", and names ending with
// a carriage return (the folder-icon file). The first form expects a lower-cased name.
bool isNegligibleLowercaseFilename(const QString& lowercaseName);
bool isNegligibleFilename(const QString& name);
// YES for a negligible name or one with an ignored suffix (".library", ".libraryindex",
// ".pellislibrary", ".quentorlibrary", ".srt", ".sub"). Otherwise NO, and `getIsSequence`,
// when given, tells whether the name has a movie-sequence suffix (".mseq",
// ".moviesequence", ".pms", ".qms"); for an ignored name it is left as it was.
bool isTabooFilenameOrSequence(QStringView name, bool* getIsSequence = nullptr);
// "Network", "Network/", "/Network", "/Network/".
bool isNetworkPath(const QString& path);
// System folders that never hold library items and are never descended into.
bool isTabooSystemPath(const QString& path);
// Whether the path matches an entry of the user default "Blacklist" ("~" expanded).
bool isBlacklistedPath(const QString& path);
// Entries of "Blacklist" are patterns ("*" a wildcard, letter case ignored), as users write
// them, or literal paths, as the program adds them: "=" followed by the path ("~" allowed),
// which matches that one path exactly. (A pattern that begins with "=" matched no absolute
// path, so no stored pattern changes its meaning.)
QString blacklistEntryForPath(const QString& path);
bool matchesBlacklistEntry(const QString& path, const QString& entry);
// A blacklist prepared once for many paths (a crawl, a batch of additions): literal paths
// and patterns without "*" are looked up in hash sets, only the wildcard patterns are
// tried one by one. It answers as matchesBlacklistEntry does for each entry.
class PMBlacklistMatcher {
public:
    explicit PMBlacklistMatcher(const QStringList& entries);
    // The entries of the user default "Blacklist" as they are now.
    static PMBlacklistMatcher fromUserDefaults();
    bool matches(const QString& path) const;
    bool isEmpty() const { return m_literalPaths.isEmpty() && m_caselessPaths.isEmpty() && m_wildcards.empty(); }

private:
    QSet<QString> m_literalPaths;  // "=" entries, expanded and precomposed
    QSet<QString> m_caselessPaths; // patterns without "*", expanded and case-folded
    std::vector<PMWildcardPattern> m_wildcards;
};
// Whether the name's extension is allowed by the user default "Whitelist" (an empty or
// missing list allows everything; a folder that is not a package is always allowed).
bool isWhitelistedFilename(const QString& nameOrPath);
// The path exists and is a folder (a package too), following a symbolic link.
bool isFolderPath(const QString& path);
// A folder that counts as one item: movie-sequence folders, bundles of other programs,
// and "AVCHD"/"BDMV" disc folders unless "Ignore AVCHD Bundles" is set.
bool isPackagePath(const QString& path);
// "gif", "png" or "webp", exactly.
bool isAnimatedImagePathExtension(const QString& extension);
// The lower-cased extension of the path is an animated-image extension.
bool isAnimatedImageURL(const QString& path);
// Equality ignoring case; NO against nothing.
bool hasSameLowercaseStringAsString(const QString& string, const QString& other);

// The full path of the folder entry `name` in `basePath` (or the name alone without a base)
// when it may become a library item or be descended into; nothing otherwise. Sets
// `isSequence` from the name when given.
// A crawl passes the blacklist it prepared; without one the user default is read.
std::optional<QString> itemPathWithBasePath(const QString& name, const QString& basePath, bool* isSequence, bool checkWhitelist,
                                            bool checkBlacklist, const PMBlacklistMatcher* blacklist = nullptr);

// How sequence parts are ordered: a comparison of two names (negative, 0, positive). The
// library's sort engine installs its own; until then names compare with numbers in them
// read as numbers ("Trip 2" before "Trip 10").
using PMNameComparison = std::function<int(const QString&, const QString&)>;
void setSequencePartNameComparison(PMNameComparison comparison);
// The ordered paths of the parts of a movie-sequence folder; nothing when the path is not a
// package; empty when the folder has no sequence suffix.
std::optional<QStringList> sequencePaths(const QString& folderPath);
