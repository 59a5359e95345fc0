#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <sys/stat.h>

using namespace platform;
using namespace testsupport;

namespace {

QString q(const char* s)
{
    return QString::fromUtf8(s);
}

ArrayPtr strings(std::initializer_list<const char*> list)
{
    ArrayPtr array = Array::make();
    for (const char* s : list)
        array->append(Value(q(s)));
    return array;
}

// Settings of one test, removed at its end.
class LibraryFiles : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const char* key : {"Whitelist", "Blacklist", "Ignore AVCHD Bundles", "Show File Extensions"})
            UserDefaults::standard().removeObjectForKey(q(key));
        setMountInfoPath({});
        clearSimplifiedExternalVolumesCache();
    }
    // A mount table where only the given volumes (below /media/<user>) are mounted.
    void mountOnly(const QStringList& volumeNames)
    {
        QByteArray table = "21 1 8:1 / / rw - ext4 /dev/vda rw\n";
        int id = 30;
        for (const QString& name : volumeNames)
            table += QByteArray::number(id++) + " 21 8:17 / " + (media() + u'/' + name).toUtf8().replace(" ", "\\040") + " rw - vfat /dev/sdx rw\n";
        const QString file = makeTempDir(QStringLiteral("mounts")) + QStringLiteral("/mountinfo");
        writeFile(file, table);
        setMountInfoPath(file);
        clearSimplifiedExternalVolumesCache();
    }
    static QString media() { return volumeParentFolders().first(); }
};

} // namespace

TEST_F(LibraryFiles, RulesForFolderEntries)
{
    const QString base = makeTempDir(QStringLiteral("library"));
    QDir().mkpath(base + q("/Extras"));
    QDir().mkpath(base + q("/Movie.rtfd"));
    QDir().mkpath(base + q("/Holiday.mseq"));
    UserDefaults::standard().setObject(Value(strings({"mov", ".mp4", "."})), q("Whitelist"));

    const struct {
        const char* name;
        bool accepted;
        bool sequence;
    } cases[] = {
        {"Movie.MOV", true, false},
        {"clip.mp4", true, false},
        {"Movie.avi", false, false},
        {"Extras", true, false},          // a folder to descend into
        {"Movie.rtfd", false, false},     // a package of another kind
        {"Holiday.mseq", false, true},    // a package, not whitelisted; still a sequence by name
        {"noextension", false, false},
        {".DS_Store", false, false},
        {"Icon\r", false, false},
        {"Pellis.library", false, false},
        {"notes.SRT", false, false},
        {"clip.sub", false, false},
        {"_DS_Store", false, false},
        {"Desktop DB", false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        bool sequence = false;
        const std::optional<QString> path = itemPathWithBasePath(q(c.name), base, &sequence, true, true);
        EXPECT_EQ(path.has_value(), c.accepted) << c.name;
        if (path) {
            EXPECT_EQ(*path, base + u'/' + q(c.name));
        }
        EXPECT_EQ(sequence, c.sequence) << c.name;
    }
    // Without the whitelist check, and with an empty whitelist, every name the other rules allow.
    EXPECT_TRUE(itemPathWithBasePath(q("Movie.avi"), base, nullptr, false, true).has_value());
    EXPECT_TRUE(itemPathWithBasePath(q("Holiday.mseq"), base, nullptr, false, false).has_value());
    UserDefaults::standard().setObject(Value(Array::make()), q("Whitelist"));
    EXPECT_TRUE(itemPathWithBasePath(q("Movie.avi"), base, nullptr, true, true).has_value());
    EXPECT_FALSE(itemPathWithBasePath(q("notes.srt"), base, nullptr, true, true).has_value());
    // "*" lets a name without extension through.
    UserDefaults::standard().setObject(Value(strings({"*"})), q("Whitelist"));
    EXPECT_TRUE(isWhitelistedFilename(q("noextension")));

    // Network and system paths, the Linux folders of the kernel included.
    for (const char* path : {"Network", "/Network/"})
        EXPECT_TRUE(isNetworkPath(q(path))) << path;
    EXPECT_FALSE(isNetworkPath(q("/Network/x")));
    for (const char* name : {"tmp", "proc", "sys", "dev", "run", "boot", "snap", "etc"})
        EXPECT_FALSE(itemPathWithBasePath(q(name), q("/"), nullptr, false, false).has_value()) << name;
    EXPECT_TRUE(itemPathWithBasePath(q("home"), q("/"), nullptr, false, false).has_value());
    EXPECT_FALSE(isTabooSystemPath(q("/TMP")));

    EXPECT_TRUE(isAnimatedImageURL(q("/a/b.GIF")));
    EXPECT_FALSE(isAnimatedImagePathExtension(q("GIF")));
    EXPECT_FALSE(isAnimatedImageURL(q("/a/b.jpg")));
    EXPECT_TRUE(hasSameLowercaseStringAsString(q("Movie"), q("mOVIE")));
    EXPECT_FALSE(hasSameLowercaseStringAsString(q("Movie"), QString()));
}

TEST_F(LibraryFiles, Blacklist)
{
    UserDefaults::standard().setObject(Value(strings({"~/Movies/Private*", "/data/Exact.mov"})), q("Blacklist"));
    const QString home = QDir::homePath();
    EXPECT_TRUE(isBlacklistedPath(home + q("/Movies/Private Stuff/a.mov")));
    EXPECT_TRUE(isBlacklistedPath(home + q("/Movies/Private Stuff")));
    EXPECT_FALSE(isBlacklistedPath(home + q("/Movies/Public/a.mov")));
    EXPECT_TRUE(isBlacklistedPath(q("/data/Exact.mov")));
    EXPECT_TRUE(isBlacklistedPath(q("/DATA/exact.MOV")));
    EXPECT_FALSE(isBlacklistedPath(q("/data/Exact.mov.part")));
    // Literal entries, as the program adds them: that one path, letter case and "*" included.
    UserDefaults::standard().setObject(Value(strings({"=~/Movies/Kept*.mov", "=/data/Exact.mov", "~/Movies/Private*"})), q("Blacklist"));
    EXPECT_TRUE(isBlacklistedPath(home + q("/Movies/Kept*.mov")));
    EXPECT_FALSE(isBlacklistedPath(home + q("/Movies/Kept 2.mov")));
    EXPECT_FALSE(isBlacklistedPath(home + q("/movies/kept*.mov")));
    EXPECT_TRUE(isBlacklistedPath(q("/data/Exact.mov")));
    EXPECT_FALSE(isBlacklistedPath(q("/DATA/exact.MOV")));
    EXPECT_EQ(blacklistEntryForPath(home + q("/Movies/a.mov")), q("=~/Movies/a.mov"));
    EXPECT_FALSE(itemPathWithBasePath(q("Private Stuff"), home + q("/Movies"), nullptr, false, true).has_value());
    EXPECT_TRUE(itemPathWithBasePath(q("Private Stuff"), home + q("/Movies"), nullptr, false, false).has_value());
}

TEST_F(LibraryFiles, PackagesAndSequences)
{
    const QString base = makeTempDir(QStringLiteral("seq"));
    const QString trip = base + q("/Trip.mseq");
    writeFile(trip + q("/Trip 10.mov"), "10");
    writeFile(trip + q("/Trip 2.mov"), "2");
    writeFile(trip + q("/.DS_Store"), "");
    QDir().mkpath(trip + q("/Extras"));
    ASSERT_TRUE(QFile::link(trip + q("/loop.mov"), trip + q("/loop.mov"))); // a link to itself
    const std::optional<QStringList> parts = sequencePaths(trip);
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->join(u'|').toStdString(), (trip + q("/Trip 2.mov|") + trip + q("/Trip 10.mov")).toStdString());

    QDir().mkpath(base + q("/Notes.rtfd"));
    EXPECT_EQ(sequencePaths(base + q("/Notes.rtfd")).value_or(QStringList{q("x")}), QStringList());
    EXPECT_FALSE(sequencePaths(base).has_value());          // a plain folder
    EXPECT_FALSE(sequencePaths(trip + q("/Trip 2.mov")).has_value());
    EXPECT_FALSE(isFolderPath(trip + q("/loop.mov")));

    // The library's own order, once installed, decides.
    setSequencePartNameComparison([](const QString& a, const QString& b) { return QString::compare(b, a); });
    EXPECT_EQ(sequencePaths(trip)->value(0), trip + q("/Trip 2.mov"));
    setSequencePartNameComparison([](const QString& a, const QString& b) { return QString::compare(a, b); });
    EXPECT_EQ(sequencePaths(trip)->value(0), trip + q("/Trip 10.mov"));
    setSequencePartNameComparison(nullptr);

    QDir().mkpath(base + q("/AVCHD"));
    EXPECT_TRUE(isPackagePath(base + q("/AVCHD")));
    UserDefaults::standard().setBool(true, q("Ignore AVCHD Bundles"));
    EXPECT_FALSE(isPackagePath(base + q("/AVCHD")));
    EXPECT_TRUE(isPackagePath(trip));
    EXPECT_FALSE(isPackagePath(trip + q("/Trip 2.mov")));
}

TEST_F(LibraryFiles, VolumesAndReadablePaths)
{
    const QString m = media();
    const struct {
        QString path;
        QString volume;
        QString withoutSuffix;
    } cases[] = {
        {m + q("/Disk/a.mov"), m + q("/Disk"), m + q("/Disk/a.mov")},
        {m + q("/Disk"), m + q("/Disk"), m + q("/Disk")},
        {m + q("/My Disk 2/a.mov"), m + q("/My Disk 2"), m + q("/My Disk/a.mov")},
        {m + q("/Disk2/a.mov"), m + q("/Disk2"), m + q("/Disk2/a.mov")},
        {m, q("/"), m},
        {q("/home/me/Disk 2/a.mov"), q("/"), q("/home/me/Disk 2/a.mov")},
        {q("/mnt/Net/a.mov"), q("/mnt/Net"), q("/mnt/Net/a.mov")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(volumePathOrSlash(c.path), c.volume) << c.path.toStdString();
        EXPECT_EQ(pathByDeletingNumericVolumeSuffix(c.path), c.withoutSuffix) << c.path.toStdString();
    }

    // Not mounted, mounted with the file gone, and a file gone from the system volume.
    mountOnly({});
    EXPECT_EQ(readablePathRepresentation(m + q("/Disk/Movies/a.mov")), q("Disk ▸ Movies ▸ a.mov — Not Available"));
    EXPECT_EQ(missingVolumeDescription(m + q("/Disk/Movies/a.mov")), q("Not Available: Disk"));
    mountOnly({q("Disk")});
    EXPECT_EQ(readablePathRepresentation(m + q("/Disk/Movies/a.mov")), q("Disk ▸ Movies ▸ a.mov — Missing"));
    EXPECT_EQ(readablePathRepresentationIndicatingAvailability(m + q("/Disk/Movies/a.mov"), false), q("Disk ▸ Movies ▸ a.mov"));
    const QString dir = makeTempDir(QStringLiteral("readable"));
    EXPECT_EQ(readablePathRepresentation(dir + q("/gone.mov")), dir + q("/gone.mov — Missing"));

    // An existing file, whole and below a base folder.
    writeFile(dir + q("/Movies/Drama/a.mov"), "a");
    const QStringList all = pathComponentsRelativeToPath(dir + q("/Movies/Drama/a.mov"), QString(), true);
    EXPECT_EQ(all.mid(all.size() - 3), (QStringList{q("Movies"), q("Drama"), q("a.mov")}));
    EXPECT_EQ(pathComponentsRelativeToPath(dir + q("/Movies/Drama/a.mov"), dir, true), (QStringList{q("Movies"), q("Drama"), q("a.mov")}));
    EXPECT_EQ(pathComponentsRelativeToPath(dir + q("/Movies/Drama/a.mov"), dir, false), (QStringList{q("Movies"), q("Drama")}));
    EXPECT_EQ(readablePathRepresentationRelativeToPath(dir + q("/Movies/Drama/a.mov"), dir + q("/Movies"), true, true), q("Drama ▸ a.mov"));
    // A base that is not above the path changes nothing (the components are not cut blindly).
    writeFile(dir + q("/Other/x/y/z/b.mov"), "b");
    EXPECT_EQ(pathComponentsRelativeToPath(dir + q("/Movies/Drama/a.mov"), dir + q("/Other/x/y/z"), true), all);
}

TEST_F(LibraryFiles, PathContainment)
{
    const struct {
        const char* path;
        const char* other;
        bool child;
    } cases[] = {
        {"/A/B/c.mov", "/A/B", true},
        {"/A/B/c.mov", "/A/B/", true},
        {"/A/B", "/A/B", true},
        {"/A/B/c.mov", "/a/b", false}, // exact: Linux names differ by case
        {"/A/Bc/c.mov", "/A/B", false},
        {"/Lib", "/Library2", false},
        {"/Library2/x", "/Lib", false},
        {"/anything", "/", true},
        {"/A", "", false},
        {"/Caf\u00e9/x", "/Cafe\u0301", true}, // the same name, composed and decomposed
    };
    for (const auto& c : cases)
        EXPECT_EQ(isEqualToOrChildOfPath(q(c.path), q(c.other)), c.child) << c.path << " in " << c.other;
    EXPECT_TRUE(isEqualToOrChildOrParentOfPath(q("/A"), q("/A/B")));
    EXPECT_FALSE(isEqualToOrChildOrParentOfPath(q("/A/C"), q("/A/B")));
}

TEST_F(LibraryFiles, FoldersAreMadeAndRemovedCarefully)
{
    const QString dir = makeTempDir(QStringLiteral("folders"));
    EXPECT_TRUE(checkFolderPathAndCreateIfNecessary(dir + q("/a/b/c")));
    EXPECT_TRUE(QFileInfo(dir + q("/a/b/c")).isDir());
    EXPECT_TRUE(checkFolderPathAndCreateIfNecessary(dir + q("/a/b/c")));
    EXPECT_TRUE(checkFolderPathAndCreateIfNecessary(q("~/made/by/tilde")));
    EXPECT_TRUE(QFileInfo(QDir::homePath() + q("/made/by/tilde")).isDir());
    writeFile(dir + q("/file"), "f");
    EXPECT_FALSE(checkFolderPathAndCreateIfNecessary(dir + q("/file")));
    // Never on a volume that is not mounted: that would fill the empty mount point.
    mountOnly({});
    EXPECT_FALSE(checkFolderPathAndCreateIfNecessary(media() + q("/Gone/Movies")));
    EXPECT_FALSE(QFileInfo::exists(media() + q("/Gone")));

    const struct {
        QStringList files;
        bool removed;
    } folders[] = {
        {{}, true},
        {{q(".DS_Store"), q("._Movie.mov"), q("Thumbs.db"), q("desktop.ini"), q("Icon\r"), q(".directory")}, true},
        {{q(".DS_Store"), q(".hidden-notes")}, false}, // hidden content that is not clutter stays
        {{q("Movie.mov")}, false},
        {{q("sub/.DS_Store")}, false},
    };
    int i = 0;
    for (const auto& f : folders) {
        const QString folder = dir + q("/v") + QString::number(i++);
        QDir().mkpath(folder);
        for (const QString& name : f.files)
            writeFile(folder + u'/' + name, "x");
        EXPECT_EQ(removeFolderIfVirtuallyEmpty(folder), f.removed) << f.files.join(u',').toStdString();
        EXPECT_EQ(QFileInfo::exists(folder), !f.removed);
        if (!f.removed) {
            for (const QString& name : f.files)
                EXPECT_TRUE(QFileInfo::exists(folder + u'/' + name)) << name.toStdString();
        }
    }
    // A link to an empty folder is no folder to remove; nor is a file.
    QDir().mkpath(dir + q("/empty"));
    ASSERT_TRUE(QFile::link(dir + q("/empty"), dir + q("/link")));
    EXPECT_FALSE(removeFolderIfVirtuallyEmpty(dir + q("/link")));
    EXPECT_FALSE(removeFolderIfVirtuallyEmpty(dir + q("/file")));
    EXPECT_TRUE(QFileInfo(dir + q("/empty")).isDir());

    // Removing items: a link goes, not what it points to; nothing there is NO.
    writeFile(dir + q("/empty/keep.mov"), "k");
    EXPECT_TRUE(removeItemAtPath(dir + q("/link")));
    EXPECT_TRUE(QFileInfo::exists(dir + q("/empty/keep.mov")));
    EXPECT_TRUE(removeItemAtPath(dir + q("/a")));
    EXPECT_FALSE(QFileInfo::exists(dir + q("/a")));
    EXPECT_FALSE(removeItemAtPath(dir + q("/a")));
    EXPECT_FALSE(removeItemAtPath(QString()));
    EXPECT_TRUE(removeItemAtAbbreviatedPath(q("~/made")));
    EXPECT_FALSE(QFileInfo::exists(QDir::homePath() + q("/made")));
}

TEST_F(LibraryFiles, DatesAndExistence)
{
    const QString dir = makeTempDir(QStringLiteral("dates"));
    writeFile(dir + q("/a.mov"), "a");
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1500000000250, Qt::UTC);
    {
        QFile f(dir + q("/a.mov"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    }
    const std::optional<Date> modified = modificationDateFromPath(dir + q("/a.mov"));
    ASSERT_TRUE(modified.has_value());
    EXPECT_DOUBLE_EQ(modified->secondsSince1970, 1500000000.25);
    std::optional<Date> actual;
    EXPECT_TRUE(hasModificationDate(dir + q("/a.mov"), Date{1500000000.25}, &actual));
    EXPECT_FALSE(hasModificationDate(dir + q("/a.mov"), Date{1500000000.0}, &actual));
    EXPECT_EQ(actual->secondsSince1970, 1500000000.25);
    EXPECT_FALSE(hasModificationDate(dir + q("/a.mov"), std::nullopt));
    EXPECT_TRUE(creationDateFromPath(dir + q("/a.mov")).has_value());
    EXPECT_FALSE(creationDateFromPath(dir + q("/none")).has_value());
    EXPECT_FALSE(modificationDateFromPath(QString()).has_value());

    // The system volume is always asked directly.
    EXPECT_TRUE(fileExistsAtPath(dir + q("/a.mov"), true));
    EXPECT_FALSE(fileExistsAtPath(dir + q("/none"), true));
    // External volumes: with the simplified cache a present volume answers for its files.
    const QString m = media();
    mountOnly({q("Disk")});
    EXPECT_TRUE(fileExistsAtPath(m + q("/Disk/Movies/a.mov"), true));
    EXPECT_FALSE(fileExistsAtPath(m + q("/Disk/Movies/b.mov"), false)); // asked of the disk: not there
    EXPECT_FALSE(fileExistsAtPath(m + q("/Other/a.mov"), true));
    // Answers last until the cache is dropped at the next mount or unmount.
    mountOnly({q("Disk"), q("Other")});
    EXPECT_TRUE(fileExistsAtPath(m + q("/Disk/Movies/a.mov"), true));
    EXPECT_TRUE(fileExistsAtPath(m + q("/Other/a.mov"), true));
    EXPECT_FALSE(fileExistsAtPath(QString(), true));
}

TEST_F(LibraryFiles, FileNamesThatNeverBecomeItems)
{
    const struct {
        const char* name;
        bool taboo;
        bool sequence;
    } cases[] = {
        {".hidden.mov", true, false},    {"Desktop DB", true, false},      {"_DS_Store", true, false},
        {"Film.SRT", true, false},       {"Old.Library", true, false},     {"x.PellisLibrary", true, false},
        {"name\r", true, false},         {"Movie.mov", false, false},      {"Clip.MSEQ", false, true},
        {"Clip.moviesequence", false, true}, {"Ωmega.mov", false, false}, {"ÉTÉ.SRT", true, false},
        {"Été.Mseq", false, true},       {"Desktop DB2", false, false},    {"srt", false, false},
        {"a.b.Sub", true, false},        {"x.srt.mov", false, false},      {"a.mylibrary", false, false},
        {"Film.srt ", false, false},     {"Film.libraryindex", true, false}, {"x.pms.qms", false, true},
    };
    for (const auto& c : cases) {
        bool sequence = false;
        EXPECT_EQ(isTabooFilenameOrSequence(q(c.name), &sequence), c.taboo) << c.name;
        if (!c.taboo) {
            EXPECT_EQ(sequence, c.sequence) << c.name;
        }
    }
}

TEST_F(LibraryFiles, ExistenceProbeAnswersAsLstatDoes)
{
    const QString dir = makeTempDir(QStringLiteral("probe"));
    // Enough files in one folder for its names to be read at once, a few in another, a
    // name that is not ASCII, a dangling link (which exists as a link) and a file that
    // stands where a folder is expected.
    for (int i = 0; i < 30; ++i)
        writeFile(dir + QStringLiteral("/many/f%1.mov").arg(i), "x");
    writeFile(dir + q("/many/Été à Paris.mov"), "x");
    writeFile(dir + q("/few/a.mov"), "x");
    ASSERT_TRUE(QFile::link(dir + q("/nowhere"), dir + q("/few/link.mov")));
    QStringList paths;
    for (int i = 0; i < 40; ++i)
        paths << dir + QStringLiteral("/many/f%1.mov").arg(i); // the last ten are missing
    paths << dir + q("/many/Été à Paris.mov") << dir + q("/many/été à paris.mov") << dir + q("/few/a.mov") << dir + q("/few/link.mov")
          << dir + q("/few/b.mov") << dir + q("/many/f3.mov") << dir + q("/gone/a.mov") << dir + q("/gone/b.mov")
          << dir + q("/few/a.mov/inside") << dir + q("/few/../few/a.mov") << dir + q("//few/a.mov") << dir + q("/few") << q("/")
          << dir + q("/many/f1.mov");
    PMFileExistenceProbe probe;
    for (const QString& path : paths) {
        struct stat st;
        const bool expected = ::lstat(QFile::encodeName(path).constData(), &st) == 0;
        EXPECT_EQ(probe.exists(path), expected) << qPrintable(path);
    }
}
