// Drops on the source list, the grid and the list: which operation each drop gets, where
// it lands, and what the import does to the library.
#include "library/model/ModelFixture.h"

#include "common/MediaFixtures.h"
#include "library/model/PMPasteboard.h"
#include "platform/DelayedPerform.h"
#include "platform/FilePromises.h"
#include "platform/PropertyList.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMimeData>

#include <filesystem>
#include <memory>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::Value;
using Op = PMMainController::PMDragOperation;
using View = PMMainController::PMLibraryView;
using TableDrop = PMMainController::PMTableViewDropOperation;

namespace {

std::unique_ptr<QMimeData> pasteboardWithItems(std::initializer_list<Value> items)
{
    auto mime = std::make_unique<QMimeData>();
    auto array = Array::make();
    for (const Value& v : items)
        array->append(v);
    setLibraryItems(*mime, array, Value());
    return mime;
}

std::unique_ptr<QMimeData> pasteboardWithFiles(const QStringList& paths)
{
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    mime->setUrls(urls);
    return mime;
}

QStringList pathsOf(const ArrayPtr& items)
{
    QStringList paths;
    for (const Value& v : *items)
        if (PMMovieRepresentationPrototype* m = PMMovie(v))
            paths << m->path();
    return paths;
}

QStringList idsOf(const ArrayPtr& ids)
{
    QStringList result;
    if (ids)
        for (const Value& v : *ids)
            result << v.string();
    return result;
}

// One tiny movie made by ffmpeg, linked under many names.
QStringList linkedClips(const QString& folder, int count, const QString& stem = QStringLiteral("clip"))
{
    static QString tiny;
    if (tiny.isEmpty()) {
        tiny = testsupport::makeTempDir(QStringLiteral("tiny")) + QStringLiteral("/tiny.mp4");
        testsupport::media::runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("color=black:s=16x16:d=0.1"),
            QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), tiny});
    }
    QStringList paths;
    for (int n = 0; n < count; ++n) {
        const QString path = folder + QStringLiteral("/%1 %2.mp4").arg(stem).arg(n, 4, 10, QLatin1Char('0'));
        std::error_code error;
        std::filesystem::create_hard_link(tiny.toStdString(), path.toStdString(), error);
        EXPECT_FALSE(error) << error.message();
        paths << path;
    }
    return paths;
}

} // namespace

class DropTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        c().resetDropStateForTesting();
        for (const char* key : {"Move/Copy To Library", "Move/Copy To Library Mode", "Library Path"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
        platform::setPromisedFilesReceiver(nullptr);
    }
    void TearDown() override
    {
        c().resetDropStateForTesting();
        platform::setPromisedFilesReceiver(nullptr);
        ModelTest::TearDown();
    }
    static PMMainController& c() { return mainController(); }
    static Value v(const PMLibraryContainerPtr& x) { return Value(x); }
    static Value v(const PMMovieRepresentationOriginalPtr& x) { return Value(x); }

    // Movies section: A {a1, a2, a3}, B {b1}, loose; temporary storage: t1; smart groups
    // storage: playlist P (static, lists a1), smart group G, subdivision D (Genre Drama),
    // playlists folder F.
    void buildLibrary()
    {
        a1 = movie(QStringLiteral("a1"));
        a2 = movie(QStringLiteral("a2"));
        a3 = movie(QStringLiteral("a3"));
        b1 = movie(QStringLiteral("b1"));
        loose = movie(QStringLiteral("loose"));
        t1 = movie(QStringLiteral("t1"));
        A = folder(QStringLiteral("A"), {v(a1), v(a2), v(a3)});
        B = folder(QStringLiteral("B"), {v(b1)});
        movies = library({v(A), v(B), v(loose)});
        T = c().temporaryStorage();
        T->rawChildren()->append(v(t1));
        S = c().smartGroupStorage();
        P = folder(QStringLiteral("P"), {Value(a1->staticPlaylistProxy())});
        P->setValue(QStringLiteral("Static Proxies"), Value(Array::make({a1->uniqueLibraryID()})));
        G = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("G")}, {QStringLiteral("Smart"), true}});
        D = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("D")}, {QStringLiteral("Smart"), true}, {QStringLiteral("Subdivision"), true}});
        auto tag = platform::Dictionary::make();
        tag->setValue(QStringLiteral("Tag"), QStringLiteral("Genre"));
        tag->setValue(QStringLiteral("Values"), Value(Array::make({QStringLiteral("Drama")})));
        auto branch = platform::Dictionary::make();
        branch->setValue(QStringLiteral("genre"), Value(tag));
        D->setValue(QStringLiteral("Subdivision Branch"), Value(Array::make({Value(branch)})));
        F = folder(QStringLiteral("F"));
        F->setValue(QStringLiteral("Smart Playlists Folder"), true);
        for (const Value& x : {v(P), v(G), v(D), v(F)})
            S->rawChildren()->append(x);
        c().invalidateLibraryDependencies();
    }
    int rule(std::initializer_list<Value> items, const PMLibraryContainerPtr& parent, qsizetype index, View outline = View::None,
             PMLibraryContainerPtr* playlist = nullptr)
    {
        auto array = Array::make();
        for (const Value& x : items)
            array->append(x);
        return c().operationForDraggingLibraryItems(array, parent, index, outline, playlist);
    }

    PMMovieRepresentationOriginalPtr a1, a2, a3, b1, loose, t1;
    PMLibraryContainerPtr A, B, movies, T, S, P, G, D, F;
};

TEST_F(DropTest, ExternalDropsAreLinkedUnlessMovedOrCopiedToTheLibrary)
{
    struct Case {
        Value moveCopy, mode;
        int expected;
    } cases[] = {{Value(), Value(), Op::PMDragOperationLink}, {false, 1, Op::PMDragOperationLink}, {true, 1, Op::PMDragOperationCopy},
                 {true, 0, Op::PMDragOperationMove}, {true, 2, Op::PMDragOperationMove}};
    for (const Case& k : cases) {
        setDefault(QStringLiteral("Move/Copy To Library"), k.moveCopy);
        setDefault(QStringLiteral("Move/Copy To Library Mode"), k.mode);
        EXPECT_EQ(c().externalDragOperation(), k.expected) << k.moveCopy.description().toStdString() << " " << k.mode.description().toStdString();
    }
}

TEST_F(DropTest, ExternalDropsAreAcceptedOnLibraryAndTemporaryContainersAndSubdivisionsOnly)
{
    buildLibrary();
    const QStringList files = {QStringLiteral("text/uri-list")};
    struct Case {
        PMLibraryContainerPtr parent;
        QStringList types;
        long long strictness;
        bool expected;
        const char* what;
    } cases[] = {
        {A, files, 0, true, "library folder"},
        {T, files, 0, true, "temporary storage"},
        {nullptr, files, 0, true, "no parent"},
        {c().downloadStorage(), files, 0, false, "downloads storage"},
        {P, files, 0, false, "static playlist"},
        {D, files, 0, true, "subdivision"},
        {G, files, 0, false, "smart group"},
        {G, files, -1, true, "smart group, lenient"},
        {D, files, 1, false, "subdivision, strict"},
        {A, {QStringLiteral("text/plain")}, 0, false, "plain text"},
        {A, {platform::filesPromisePasteboardType()}, 0, true, "file promise"},
        {A, {PMMainController::trackListPasteboardType()}, 0, true, "track list"},
        {A, {QStringLiteral("text/uri-list"), PMMainController::imageViewSourcePasteboardType()}, 0, false, "image view drag"},
    };
    for (const Case& k : cases) {
        setDefault(QStringLiteral("Drag & Drop Strictness"), k.strictness);
        EXPECT_EQ(c().shouldDragExternalItemsWithTypes(k.types, k.parent), k.expected) << k.what;
    }
}

TEST_F(DropTest, ImageViewDragsAreRefusedOnEveryView)
{
    buildLibrary();
    auto mime = pasteboardWithFiles({QStringLiteral("/tmp/x.mov")});
    mime->setData(PMMainController::imageViewSourcePasteboardType(), QByteArray());
    const PMMainController::PMDraggingInfo info{mime.get(), View::None};
    c()._groupItemsParent = A;
    EXPECT_EQ(c().validateGroupViewDrop(info), 0);
    qsizetype row = 1;
    TableDrop op = TableDrop::Above;
    EXPECT_EQ(c().tableView(PMMainController::groupList, info, &row, &op), 0);
    PMLibraryContainerPtr item = A;
    qsizetype child = -1;
    EXPECT_EQ(c().outlineView(PMMainController::libraryList, info, &item, &child), 0);
    EXPECT_EQ(c()._draggingDestinationDropOnRow, -1);
}

// The table of operations for library items dragged inside the program.
TEST_F(DropTest, OperationsForDraggedLibraryItems)
{
    buildLibrary();
    const Value proxyOfB1(b1->proxy());
    B->rawChildren()->append(proxyOfB1);
    c().invalidateLibraryDependencies();
    struct Case {
        std::vector<Value> items;
        PMLibraryContainerPtr parent;
        qsizetype index;
        View outline;
        const char* preventProxies;
        long long displayMode;
        int expected;
        const char* what;
    };
    const Case cases[] = {
        {{v(a2)}, A, 1, View::None, nullptr, 0, 0, "just before itself"},
        {{v(a2)}, A, 2, View::None, nullptr, 0, 0, "just after itself"},
        {{v(a2)}, A, 0, View::None, nullptr, 0, Op::PMDragOperationMove, "to the front of its parent"},
        {{v(a2)}, A, -1, View::None, nullptr, 0, 0, "on its own parent"},
        {{v(a2), v(b1)}, A, -1, View::None, nullptr, 0, Op::PMDragOperationMove, "on the parent of some"},
        {{v(b1)}, A, -1, View::None, nullptr, 0, Op::PMDragOperationMove, "to another folder"},
        {{v(t1)}, A, -1, View::None, nullptr, 0, Op::PMDragOperationMove, "out of the temporary storage"},
        {{proxyOfB1}, A, -1, View::None, nullptr, 0, Op::PMDragOperationMove, "a proxy"},
        {{proxyOfB1}, A, -1, View::None, "yes", 0, 0, "a proxy, prevented"},
        {{v(b1)}, P, -1, View::None, nullptr, 0, Op::PMDragOperationCopy, "into a static playlist"},
        {{v(b1)}, S, 0, View::None, nullptr, 0, 0, "between the smart groups"},
        {{v(b1)}, G, -1, View::None, nullptr, 0, 0, "on a smart group"},
        {{v(b1)}, D, -1, View::None, nullptr, 0, Op::PMDragOperationMove, "on a subdivision"},
        {{v(b1)}, nullptr, -1, View::None, nullptr, 0, 0, "nowhere"},
        {{v(b1)}, A, 1, View::LibraryList, nullptr, 0, 0, "between source-list children, mode 0"},
        {{v(b1)}, A, 1, View::LibraryList, nullptr, 1, Op::PMDragOperationMove, "between source-list children, mode 1"},
        {{v(a1)}, T, 1, View::LibraryList, nullptr, 0, Op::PMDragOperationMove, "between temporary children, mode 0"},
        {{v(a1)}, T, 1, View::LibraryList, nullptr, 2, 0, "between temporary children, mode 2"},
        {{v(B)}, A, -1, View::None, nullptr, 0, Op::PMDragOperationMove, "a folder into a folder"},
        {{v(A)}, A, -1, View::None, nullptr, 0, 0, "a folder into itself"},
        {{v(movies)}, A, -1, View::None, nullptr, 0, 0, "the movies section"},
        {{v(T)}, A, -1, View::None, nullptr, 0, 0, "a storage"},
        {{v(B)}, P, -1, View::None, nullptr, 0, 0, "a folder with movies into the smart groups"},
        {{v(G)}, F, -1, View::None, nullptr, 0, Op::PMDragOperationMove, "a smart group into a playlists folder"},
        {{v(G)}, A, -1, View::None, nullptr, 0, 0, "a smart group into the library"},
        {{v(D)}, F, -1, View::None, nullptr, 0, 0, "a subdivision"},
    };
    for (const Case& k : cases) {
        setDefault(QStringLiteral("Prevent Moving Of Originals Via Proxy"), k.preventProxies ? Value(true) : Value());
        setDefault(QStringLiteral("Source List Display Mode"), k.displayMode);
        auto items = Array::make();
        for (const Value& x : k.items)
            items->append(x);
        EXPECT_EQ(c().operationForDraggingLibraryItems(items, k.parent, k.index, k.outline, nullptr), k.expected) << k.what;
    }
    // Drops on the "Smart Groups" row make a playlist there.
    PMLibraryContainerPtr playlist;
    EXPECT_EQ(rule({v(a1)}, S, -1, View::LibraryList, &playlist), Op::PMDragOperationCopy);
    EXPECT_EQ(playlist, S);
    playlist = nullptr;
    EXPECT_EQ(rule({v(a1)}, nullptr, -1, View::None, &playlist), Op::PMDragOperationCopy);
    EXPECT_EQ(playlist, S);
    EXPECT_EQ(rule({}, A, -1), 0);
}

TEST_F(DropTest, RawDropIndexFollowsTheDisplayedChildren)
{
    const auto x = movie(QStringLiteral("x")), y = movie(QStringLiteral("y")), z = movie(QStringLiteral("z")), w = movie(QStringLiteral("w"));
    const ArrayPtr raw = Array::make({v(x), v(y), v(z)});
    const ArrayPtr shown = Array::make({v(z), v(x)});
    EXPECT_EQ(PMMainController::dropIndexInRawArray(raw, -3, shown), 0);
    EXPECT_EQ(PMMainController::dropIndexInRawArray(raw, 0, shown), 2);
    EXPECT_EQ(PMMainController::dropIndexInRawArray(raw, 1, shown), 0);
    EXPECT_EQ(PMMainController::dropIndexInRawArray(raw, 2, shown), 3);
    EXPECT_EQ(PMMainController::dropIndexInRawArray(raw, 0, Array::make({v(w)})), 0);
}

// 1,000 files dropped on the grid: each once and in order; again: nothing new; a drag
// that fails part-way through its items changes nothing.
TEST_F(DropTest, ThousandFilesAreAddedOnceInOrder)
{
    buildLibrary();
    const QString dir = testsupport::makeTempDir(QStringLiteral("thousand"));
    const QStringList files = linkedClips(dir, 1000);
    QStringList shuffled = files;
    std::reverse(shuffled.begin(), shuffled.end());
    const PMLibraryContainerPtr target = folder(QStringLiteral("Target"));
    movies->rawChildren()->append(v(target));
    c().invalidateLibraryDependencies();
    c()._groupItemsParent = target;

    auto mime = pasteboardWithFiles(shuffled);
    const PMMainController::PMDraggingInfo info{mime.get(), View::None};
    EXPECT_EQ(c().validateGroupViewDrop(info), Op::PMDragOperationLink);
    ASSERT_TRUE(c().acceptGroupViewDrop(info));
    EXPECT_EQ(pathsOf(target->rawChildren()), files);
    EXPECT_EQ(c()._nonLibraryFilesCheckSuppressionLevel, 0);

    auto again = pasteboardWithFiles(files);
    c().acceptGroupViewDrop({again.get(), View::None});
    EXPECT_EQ(pathsOf(target->rawChildren()), files);
    EXPECT_EQ(c()._nonProxyRawMovieRepresentationsByPath.size(), 1000 + 6);

    // Every record and, in the middle, the movies section, which may not move.
    auto dragged = Array::make();
    for (const Value& x : *target->rawChildren())
        dragged->append(x);
    dragged->insert(500, v(movies));
    auto internal = std::make_unique<QMimeData>();
    setLibraryItems(*internal, dragged, Value());
    const PMMainController::PMDraggingInfo internalInfo{internal.get(), View::GroupView};
    EXPECT_FALSE(c().dropFileURLs({}, &internalInfo, -1, B->rawChildren(), B, true));
    EXPECT_EQ(pathsOf(target->rawChildren()), files);
    EXPECT_EQ(names(B->rawChildren()), QStringList({QStringLiteral("b1")}));
    EXPECT_EQ(c()._nonLibraryFilesCheckSuppressionLevel, 0);
}

TEST_F(DropTest, OpenPanelAddPlacesNewFilesAndTakesThemOutOfTheTemporaryStorage)
{
    buildLibrary();
    const QString dir = testsupport::makeTempDir(QStringLiteral("add"));
    const QStringList files = linkedClips(dir, 3, QStringLiteral("add"));
    // The second file sits in the temporary storage already (twice).
    const auto inTemporary = PMMovieRepresentationOriginal::movieRepresentationWithPath(files[1]);
    T->rawChildren()->append(v(inTemporary));
    const auto folderInTemporary = folder(QStringLiteral("T sub"), {Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(files[1]))});
    T->rawChildren()->append(v(folderInTemporary));
    c().invalidateLibraryDependencies();

    QList<QUrl> urls;
    for (const QString& f : files)
        urls << QUrl::fromLocalFile(f);
    ASSERT_TRUE(c().dropFileURLs(urls, nullptr, 1, A->rawChildren(), A, false));
    EXPECT_EQ(names(A->rawChildren()).first(), QStringLiteral("a1"));
    // The new files first, then the one that leaves the temporary storage, with its record.
    EXPECT_EQ(pathsOf(A->rawChildren()).mid(1, 3), QStringList({files[0], files[2], files[1]}));
    EXPECT_TRUE(PMIsSameItem(A->rawChildren()->at(3), v(inTemporary)));
    EXPECT_EQ(names(T->rawChildren()), QStringList({QStringLiteral("t1"), QStringLiteral("T sub")}));
    EXPECT_TRUE(folderInTemporary->rawChildren()->isEmpty());

    // Known files only: nothing new, and the "Add" fails.
    EXPECT_FALSE(c().dropFileURLs(urls, nullptr, -1, A->rawChildren(), A, false));
    EXPECT_EQ(A->rawChildren()->count(), 6);
}

TEST_F(DropTest, FilesOnASubdivisionGoToTheDownloadsWithItsTags)
{
    buildLibrary();
    const QString dir = testsupport::makeTempDir(QStringLiteral("sub"));
    const QStringList files = linkedClips(dir, 2, QStringLiteral("sub"));
    c()._groupItemsParent = D;
    auto mime = pasteboardWithFiles(files);
    const PMMainController::PMDraggingInfo info{mime.get(), View::None};
    EXPECT_EQ(c().validateGroupViewDrop(info), Op::PMDragOperationLink);
    ASSERT_TRUE(c().acceptGroupViewDrop(info));
    const ArrayPtr downloads = c().downloadsContainer()->rawChildren();
    ASSERT_GE(downloads->count(), 2);
    for (qsizetype n = downloads->count() - 2; n < downloads->count(); ++n) {
        PMMovieRepresentationPrototype* m = PMMovie(downloads->at(n));
        ASSERT_TRUE(m);
        EXPECT_TRUE(m->valuesByLowercaseValueForTag(QStringLiteral("Genre"))->contains(QStringLiteral("drama")));
    }
    c()._groupItemsParent = G;
    EXPECT_EQ(c().validateGroupViewDrop(info), 0);

    // Library items dropped on the shown subdivision take its tags and stay where they are.
    c()._groupItemsParent = D;
    auto internal = pasteboardWithItems({v(a2)});
    const PMMainController::PMDraggingInfo internalInfo{internal.get(), View::GroupView};
    EXPECT_EQ(c().validateGroupViewDrop(internalInfo), Op::PMDragOperationMove);
    ASSERT_TRUE(c().acceptGroupViewDrop(internalInfo));
    EXPECT_TRUE(a2->valuesByLowercaseValueForTag(QStringLiteral("Genre"))->contains(QStringLiteral("drama")));
    EXPECT_EQ(A->rawChildren()->count(), 3);
}

TEST_F(DropTest, FoldersBecomeContainers)
{
    buildLibrary();
    const QString dir = testsupport::makeTempDir(QStringLiteral("outer"));
    QDir().mkpath(dir + QStringLiteral("/Season"));
    linkedClips(dir + QStringLiteral("/Season"), 2, QStringLiteral("episode"));
    auto mime = pasteboardWithFiles({dir + QStringLiteral("/Season")});
    const PMMainController::PMDraggingInfo info{mime.get(), View::None};
    ASSERT_TRUE(c().dropFileURLs({}, &info, -1, B->rawChildren(), B, true));
    ASSERT_EQ(B->rawChildren()->count(), 2);
    PMLibraryContainer* season = PMContainer(B->rawChildren()->at(1));
    ASSERT_TRUE(season);
    EXPECT_EQ(season->value(QStringLiteral("Name")).string(), QStringLiteral("Season"));
    EXPECT_EQ(season->rawChildren()->count(), 2);
}

TEST_F(DropTest, OtherSourcesTrackListsPlainURLsAndPromises)
{
    buildLibrary();
    const QString dir = testsupport::makeTempDir(QStringLiteral("sources"));
    const QStringList files = linkedClips(dir, 2, QStringLiteral("track"));

    // The music application's track list.
    auto tracks = platform::Dictionary::make();
    for (int n = 0; n < 2; ++n) {
        auto track = platform::Dictionary::make();
        track->setValue(QStringLiteral("Location"), QUrl::fromLocalFile(files[n]).toString());
        tracks->setValue(QString::number(n), Value(track));
    }
    auto bad = platform::Dictionary::make();
    bad->setValue(QStringLiteral("Location"), 42);
    tracks->setValue(QStringLiteral("bad"), Value(bad));
    auto root = platform::Dictionary::make();
    root->setValue(QStringLiteral("Tracks"), Value(tracks));
    QMimeData trackList;
    trackList.setData(PMMainController::trackListPasteboardType(), platform::writeXMLPropertyList(Value(root)));
    const PMMainController::PMDraggingInfo trackInfo{&trackList, View::None};
    EXPECT_EQ(PMMainController::trackListLocations(trackList.data(PMMainController::trackListPasteboardType())).size(), 2);
    ASSERT_TRUE(c().dropFileURLs({}, &trackInfo, -1, B->rawChildren(), B, true));
    EXPECT_EQ(pathsOf(B->rawChildren()).mid(1), files);
    QMimeData garbage;
    garbage.setData(PMMainController::trackListPasteboardType(), QByteArray("bplist00garbage"));
    const PMMainController::PMDraggingInfo garbageInfo{&garbage, View::None};
    EXPECT_FALSE(c().dropFileURLs({}, &garbageInfo, -1, B->rawChildren(), B, true));

    // A web address.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/a%20clip.mp4"))});
    const PMMainController::PMDraggingInfo webInfo{&web, View::None};
    ASSERT_TRUE(c().dropFileURLs({}, &webInfo, -1, A->rawChildren(), A, true));
    EXPECT_EQ(PMMovie(A->rawChildren()->at(3))->URL(), QUrl(QStringLiteral("https://example.org/a%20clip.mp4")));

    for (const char* refused : {"javascript:alert(1)", "smb://server/share/a.mp4"}) {
        QMimeData other;
        other.setUrls({QUrl(QString::fromUtf8(refused))});
        const PMMainController::PMDraggingInfo otherInfo{&other, View::None};
        EXPECT_FALSE(c().dropFileURLs({}, &otherInfo, -1, A->rawChildren(), A, true)) << refused;
    }
    EXPECT_EQ(A->rawChildren()->count(), 4);

    // Promised files: written into the temporary storage folder; names that would leave
    // it are refused; a web location is no promise.
    QStringList offered;
    platform::setPromisedFilesReceiver([&](const QMimeData&, const QString& destination) {
        linkedClips(destination, 1, QStringLiteral("promised"));
        return QStringList{QStringLiteral("promised 0000.mp4"), QStringLiteral("../escape.mp4"), QStringLiteral(".."), QStringLiteral("a/b.mp4")};
    });
    QMimeData promise;
    promise.setData(platform::filesPromisePasteboardType(), QByteArray("<array><string>mp4</string></array>"));
    const PMMainController::PMDraggingInfo promiseInfo{&promise, View::None};
    testsupport::LogCapture log;
    ASSERT_TRUE(c().dropFileURLs({}, &promiseInfo, -1, T->rawChildren(), T, true));
    const QString promised = PMMovie(T->rawChildren()->values().back())->path();
    EXPECT_TRUE(promised.startsWith(c().temporaryStoragePathByCreatingIfNecessary(false) + u'/'));
    EXPECT_TRUE(promised.endsWith(QStringLiteral("/promised 0000.mp4")));
    EXPECT_EQ(log.lines().filter(QStringLiteral("refusing promised file name")).count(), 3);
    QMimeData webloc;
    webloc.setData(platform::filesPromisePasteboardType(), QByteArray("<array><string>webloc</string></array>"));
    const PMMainController::PMDraggingInfo weblocInfo{&webloc, View::None};
    EXPECT_FALSE(c().dropFileURLs({}, &weblocInfo, -1, T->rawChildren(), T, true));
}

// A drag that offers a web address and promised files: the address, unless the user
// prefers the promised files.
TEST_F(DropTest, PromisedFilesWinOverAURLOnlyWhenPreferred)
{
    buildLibrary();
    int promisesKept = 0;
    platform::setPromisedFilesReceiver([&](const QMimeData&, const QString& destination) {
        ++promisesKept;
        linkedClips(destination, 1, QStringLiteral("kept"));
        return QStringList{QStringLiteral("kept 0000.mp4")};
    });
    QMimeData both;
    both.setUrls({QUrl(QStringLiteral("https://example.org/offered.mp4"))});
    both.setData(platform::filesPromisePasteboardType(), QByteArray("<array><string>mp4</string></array>"));
    const PMMainController::PMDraggingInfo info{&both, View::None};
    for (const bool prefer : {false, true}) {
        SCOPED_TRACE(prefer ? "promised files preferred" : "the URL first");
        setDefault(QStringLiteral("Prefer Promised Files Over URLs"), prefer);
        const qsizetype before = T->rawChildren()->count();
        promisesKept = 0;
        ASSERT_TRUE(c().dropFileURLs({}, &info, -1, T->rawChildren(), T, true));
        ASSERT_EQ(T->rawChildren()->count(), before + 1);
        PMMovieRepresentationPrototype* added = PMMovie(T->rawChildren()->values().back());
        ASSERT_TRUE(added);
        if (prefer) {
            EXPECT_EQ(promisesKept, 1);
            EXPECT_TRUE(added->path().endsWith(QStringLiteral("/kept 0000.mp4"))) << added->path().toStdString();
        } else {
            EXPECT_EQ(promisesKept, 0);
            EXPECT_EQ(added->URL(), QUrl(QStringLiteral("https://example.org/offered.mp4")));
        }
    }
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Prefer Promised Files Over URLs"));
}

TEST_F(DropTest, InternalDropOnTheParentLeavesItsChildrenInPlace)
{
    buildLibrary();
    auto mime = pasteboardWithItems({v(a3), v(b1), v(a1)});
    c()._groupItemsParent = A;
    const PMMainController::PMDraggingInfo info{mime.get(), View::GroupView};
    EXPECT_EQ(c().validateGroupViewDrop(info), Op::PMDragOperationMove);
    ASSERT_TRUE(c().acceptGroupViewDrop(info));
    EXPECT_EQ(names(A->rawChildren()), QStringList({QStringLiteral("a1"), QStringLiteral("a2"), QStringLiteral("a3"), QStringLiteral("b1")}));
    EXPECT_TRUE(B->rawChildren()->isEmpty());
    // All of them are there now: refused, and a forced import changes nothing.
    auto same = pasteboardWithItems({v(a3), v(b1)});
    const PMMainController::PMDraggingInfo sameInfo{same.get(), View::GroupView};
    EXPECT_EQ(c().validateGroupViewDrop(sameInfo), 0);
    EXPECT_FALSE(c().acceptGroupViewDrop(sameInfo));
}

TEST_F(DropTest, MoviesOnTheSmartGroupsRowMakeANamedPlaylist)
{
    buildLibrary();
    const auto s1 = movie(QStringLiteral("Holiday 2019 part 1")), s2 = movie(QStringLiteral("Holiday 2019 part 2"));
    B->rawChildren()->append(v(s1));
    B->rawChildren()->append(v(s2));
    c().invalidateLibraryDependencies();
    // The window's source list, where the new playlist's name is edited.
    PMMovieOutlineView list(c());
    list.expandAll();

    struct Case {
        std::vector<Value> items;
        QString name;
    } cases[] = {{{v(s1), v(s2)}, QStringLiteral("Holiday 2019")}, {{v(a1), v(b1)}, QStringLiteral("Untitled Playlist")}};
    for (const Case& k : cases) {
        auto dragged = Array::make();
        for (const Value& x : k.items)
            dragged->append(x);
        QMimeData mime;
        setLibraryItems(mime, dragged, Value());
        const PMMainController::PMDraggingInfo info{&mime, View::LibraryList};
        PMLibraryContainerPtr item = S;
        qsizetype child = -1;
        EXPECT_EQ(c().outlineView(PMMainController::libraryList, info, &item, &child), Op::PMDragOperationCopy);
        EXPECT_EQ(item, S);
        EXPECT_GE(c()._draggingDestinationDropOnRow, 0);
        EXPECT_EQ(c()._draggingDestinationDropOnRow, list.rowForItem(Value(S)));
        const qsizetype before = S->rawChildren()->count();
        ASSERT_TRUE(c().outlineView(PMMainController::libraryList, info, S, -1));
        ASSERT_EQ(S->rawChildren()->count(), before + 1);
        PMLibraryContainer* playlist = PMContainer(S->rawChildren()->values().back());
        EXPECT_EQ(playlist->value(QStringLiteral("Name")).string(), k.name);
        QStringList ids;
        for (const Value& x : k.items)
            ids << PMItem(x)->uniqueLibraryID();
        std::sort(ids.begin(), ids.end());
        QStringList stored = idsOf(playlist->value(QStringLiteral("Static Proxies")).array());
        std::sort(stored.begin(), stored.end());
        EXPECT_EQ(stored, ids);
        // The name is put into editing after the drop has returned.
        EXPECT_FALSE(list.isEditing());
        QCoreApplication::processEvents();
        EXPECT_TRUE(list.isEditing());
        EXPECT_TRUE(PMIsSameItem(list.itemForIndex(list.currentIndex()), S->rawChildren()->values().back()));
    }
}

TEST_F(DropTest, StaticPlaylistsGetProxiesOnceAndKeepTheirOrder)
{
    buildLibrary();
    const QString ghost = QStringLiteral("00000000-0000-0000-0000-00000000DEAD");
    P->setValue(QStringLiteral("Static Proxies"), Value(Array::make({a1->uniqueLibraryID(), ghost})));
    c()._groupItemsParent = P;
    auto mime = pasteboardWithItems({v(b1), v(a1), v(a2)});
    const PMMainController::PMDraggingInfo info{mime.get(), View::GroupView};
    EXPECT_EQ(c().validateGroupViewDrop(info), Op::PMDragOperationCopy);
    ASSERT_TRUE(c().acceptGroupViewDrop(info));
    // The originals stay where they were; the playlist lists each movie once.
    EXPECT_EQ(names(B->rawChildren()), QStringList({QStringLiteral("b1")}));
    EXPECT_EQ(A->rawChildren()->count(), 3);
    const QStringList expected = {a1->uniqueLibraryID(), b1->uniqueLibraryID(), a2->uniqueLibraryID(), ghost};
    EXPECT_EQ(idsOf(P->value(QStringLiteral("Static Proxies")).array()), expected);
    ASSERT_EQ(P->rawChildren()->count(), 3);
    EXPECT_TRUE(PMItem(P->rawChildren()->at(1))->isStaticPlaylistProxy());

    // Reordering inside the playlist moves the entry and rewrites the list.
    const Value last = P->rawChildren()->at(2);
    auto reorder = pasteboardWithItems({last});
    const PMMainController::PMDraggingInfo reorderInfo{reorder.get(), View::GroupView};
    ASSERT_TRUE(c().dropFileURLs({}, &reorderInfo, 0, P->rawChildren(), P, false));
    const QStringList reordered = {a2->uniqueLibraryID(), a1->uniqueLibraryID(), b1->uniqueLibraryID(), ghost};
    EXPECT_EQ(idsOf(P->value(QStringLiteral("Static Proxies")).array()), reordered);
    EXPECT_EQ(P->rawChildren()->count(), 3);
}

TEST_F(DropTest, ListDropsLandAtTheRowsRawIndex)
{
    buildLibrary();
    ASSERT_TRUE(c().selectLibraryItem(v(A))); // the shown container, through every refresh
    ASSERT_EQ(c()._groupItemsParent, A);
    c()._groupMovieItems = Array::make({v(a1), v(a2), v(a3)});
    auto mime = pasteboardWithItems({v(b1)});
    const PMMainController::PMDraggingInfo info{mime.get(), View::GroupList};

    // "On" a row: a drop on the whole list, appended.
    qsizetype row = 1;
    TableDrop op = TableDrop::On;
    EXPECT_EQ(c().tableView(PMMainController::groupList, info, &row, &op), 0);
    ASSERT_TRUE(c().tableView(PMMainController::groupList, info, 1, TableDrop::On));
    EXPECT_EQ(names(A->rawChildren()), QStringList({QStringLiteral("a1"), QStringLiteral("a2"), QStringLiteral("a3"), QStringLiteral("b1")}));

    // Above row 1 of an ascending list: between a1 and a2.
    auto second = pasteboardWithItems({v(loose)});
    const PMMainController::PMDraggingInfo secondInfo{second.get(), View::GroupList};
    row = 1;
    op = TableDrop::Above;
    EXPECT_EQ(c().tableView(PMMainController::groupList, secondInfo, &row, &op), Op::PMDragOperationMove);
    ASSERT_TRUE(c().tableView(PMMainController::groupList, secondInfo, 1, TableDrop::Above));
    EXPECT_EQ(names(A->rawChildren()).mid(0, 3), QStringList({QStringLiteral("a1"), QStringLiteral("loose"), QStringLiteral("a2")}));

    // A descending list shows b1 a3 a2 loose a1: above its row 1 lies between b1 and a3.
    c()._groupListSortsDescending = true;
    c()._groupMovieItems = Array::make();
    for (qsizetype n = A->rawChildren()->count() - 1; n >= 0; --n)
        c()._groupMovieItems->append(A->rawChildren()->at(n));
    const auto fresh = movie(QStringLiteral("fresh"));
    B->rawChildren()->append(v(fresh));
    c().invalidateLibraryDependencies();
    auto third = pasteboardWithItems({v(fresh)});
    const PMMainController::PMDraggingInfo thirdInfo{third.get(), View::GroupList};
    ASSERT_TRUE(c().tableView(PMMainController::groupList, thirdInfo, 1, TableDrop::Above));
    EXPECT_EQ(names(A->rawChildren()),
              QStringList({QStringLiteral("a1"), QStringLiteral("loose"), QStringLiteral("a2"), QStringLiteral("a3"), QStringLiteral("fresh"), QStringLiteral("b1")}));
}

TEST_F(DropTest, ValidationLeavesSortingAloneAndTheDropSwitchesToManual)
{
    buildLibrary();
    A->setSortCriterion(kGroupListName, false, true);
    c()._groupItemsParent = A;
    c()._groupMovieItems = A->sortedChildren();
    auto mime = pasteboardWithItems({v(b1)});
    const PMMainController::PMDraggingInfo info{mime.get(), View::GroupList};
    qsizetype row = 1;
    TableDrop op = TableDrop::Above;
    EXPECT_EQ(c().tableView(PMMainController::groupList, info, &row, &op), Op::PMDragOperationMove);
    EXPECT_EQ(A->primarySortCriterionFromCSVString(nullptr, nullptr, true), kGroupListName);
    ASSERT_TRUE(c().tableView(PMMainController::groupList, info, 1, TableDrop::Above));
    EXPECT_EQ(A->primarySortCriterionFromCSVString(nullptr, nullptr, true), kGroupListIndex);
    EXPECT_EQ(names(A->rawChildren()), QStringList({QStringLiteral("a1"), QStringLiteral("b1"), QStringLiteral("a2"), QStringLiteral("a3")}));
}

TEST_F(DropTest, SourceListRedirectsToTheMoviesSectionAndHighlightsTheTarget)
{
    buildLibrary();
    const QString dir = testsupport::makeTempDir(QStringLiteral("redirect"));
    auto mime = pasteboardWithFiles(linkedClips(dir, 1, QStringLiteral("redirect")));
    const PMMainController::PMDraggingInfo info{mime.get(), View::None};
    PMLibraryContainerPtr item = c().sourceStorage();
    qsizetype child = 0;
    EXPECT_EQ(c().outlineView(PMMainController::libraryList, info, &item, &child), Op::PMDragOperationLink);
    EXPECT_EQ(item, movies);
    EXPECT_EQ(child, -1);
    EXPECT_EQ(c()._draggingDestinationDropOnRow, c().libraryListRowForItem(v(movies)));
    // The empty area takes files into the movies section too.
    item = nullptr;
    child = -1;
    EXPECT_EQ(c().outlineView(PMMainController::libraryList, info, &item, &child), Op::PMDragOperationLink);
    EXPECT_EQ(item, movies);
    item = nullptr;
    child = 2;
    EXPECT_EQ(c().outlineView(PMMainController::libraryList, info, &item, &child), 0);
    ASSERT_TRUE(c().outlineView(PMMainController::libraryList, info, movies, -1));
    EXPECT_EQ(movies->rawChildren()->count(), 4);
}

TEST_F(DropTest, TransfersIntoTheLibraryFolderRunAfterTheDrop)
{
    buildLibrary();
    const QString libraryFolder = testsupport::makeTempDir(QStringLiteral("library"));
    const QString outside = testsupport::makeTempDir(QStringLiteral("outside"));
    setDefault(QStringLiteral("Library Path"), libraryFolder);
    testsupport::writeFile(outside + QStringLiteral("/t1.mov"), "t1 movie");
    t1->setURL(QUrl::fromLocalFile(outside + QStringLiteral("/t1.mov")));
    t1->setMissing(false, false);
    setDefault(QStringLiteral("Move/Copy To Library"), true);
    setDefault(QStringLiteral("Move/Copy To Library Mode"), 1);
    bool sheetShown = false;
    c()._dropWindow.progressSheet = [&](bool show) { sheetShown = sheetShown || show; };
    // t1 leaves the temporary storage for a library folder: its file is copied in.
    auto mime = pasteboardWithItems({v(t1)});
    const PMMainController::PMDraggingInfo info{mime.get(), View::LibraryList};
    c()._libraryIsLoaded = true;
    const int savesBefore = c()._numberOfLibrarySaves;
    ASSERT_TRUE(c().dropFileURLs({}, &info, -1, A->rawChildren(), A, true));
    EXPECT_EQ(names(A->rawChildren()).last(), QStringLiteral("t1"));
    EXPECT_TRUE(t1->isMoving());
    EXPECT_TRUE(sheetShown);
    EXPECT_EQ(PMMainController::layoutCounter(), 1);
    EXPECT_EQ(c()._nonLibraryFilesCheckSuppressionLevel, 1);

    ASSERT_TRUE(testsupport::waitUntil([&] { return c()._nonLibraryFilesCheckSuppressionLevel == 0; }));
    EXPECT_EQ(t1->path(), libraryFolder + QStringLiteral("/A/t1.mov"));
    EXPECT_EQ(testsupport::readFile(t1->path()), QByteArray("t1 movie"));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/t1.mov"))); // copied, not moved
    EXPECT_FALSE(t1->isMoving());
    EXPECT_FALSE(c()._progressSheetIsVisible);
    EXPECT_EQ(PMMainController::layoutCounter(), 0);
    EXPECT_EQ(c()._numberOfLibrarySaves, savesBefore + 1);
}

TEST_F(DropTest, AMissingFileIsNotTransferred)
{
    buildLibrary();
    setDefault(QStringLiteral("Move/Copy To Library"), true);
    auto mime = pasteboardWithItems({v(t1)});
    const PMMainController::PMDraggingInfo info{mime.get(), View::LibraryList};
    platform::cancelPreviousPerformRequests(&c());
    ASSERT_TRUE(c().dropFileURLs({}, &info, -1, A->rawChildren(), A, true));
    EXPECT_FALSE(t1->isMoving());
    EXPECT_EQ(PMMainController::layoutCounter(), 0);
    EXPECT_EQ(c()._nonLibraryFilesCheckSuppressionLevel, 0);
    // The record moved into A, its file stayed where it was, and a save is on its way.
    EXPECT_EQ(names(A->rawChildren()), (QStringList{"a1", "a2", "a3", "t1"}));
    EXPECT_FALSE(names(T->rawChildren()).contains(QStringLiteral("t1")));
    EXPECT_EQ(t1->path(), QStringLiteral("/media/test/Movies/t1.mov"));
    EXPECT_TRUE(platform::hasPendingPerformRequest(&c(), QStringLiteral("saveLibrary"), Value()));
    platform::cancelPreviousPerformRequests(&c());
}

TEST_F(DropTest, ListDragsWriteTheRowsUnlessInTheRatingColumn)
{
    buildLibrary();
    c()._groupMovieItems = Array::make({v(a1), v(a2), v(a3)});
    QMimeData mime;
    ASSERT_TRUE(c().tableView(PMMainController::groupList, QList<qsizetype>{2, 0}, mime));
    EXPECT_EQ(names(libraryItems(mime)), QStringList({QStringLiteral("a3"), QStringLiteral("a1")}));
    c()._dropWindow.groupListColumnOfCurrentEvent = [] { return QStringLiteral("GroupListRating"); };
    QMimeData rating;
    EXPECT_FALSE(c().tableView(PMMainController::groupList, QList<qsizetype>{0}, rating));
    // The source list drags what may be dragged.
    QMimeData outline;
    EXPECT_TRUE(c().outlineView(PMMainController::libraryList, Array::make({v(A), v(b1)}), outline));
    EXPECT_FALSE(c().outlineView(PMMainController::libraryList, Array::make({v(movies)}), outline));
    EXPECT_FALSE(c().outlineView(PMMainController::libraryList, Array::make(), outline));
}
