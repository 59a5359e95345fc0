// The grid: laying out 100,000 tiles (uniform, waterfall, mosaic), the visible-tile query
// after a scroll, painting a 2560 x 1440 viewport of about 1,000 tiles from pictures in
// memory, and restoring a selection of 10,000 among 20,000 tiles.
//
// `bench_grid --gallery DIR` instead shows a library of 2,000 movies with pictures, stored
// through the image folders and loaded by the image loader, in a window, and saves a
// screenshot of every layout into DIR (run it under xvfb-run to look at the grid).
#include "images/NSImage+PMImageFiles.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Appearance.h"
#include "platform/Memory.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMPreviewViewToolTipPopover.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtCore/QElapsedTimer>
#include <QtCore/QRandomGenerator>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtGui/QPainter>
#include <QtCore/QMimeData>
#include <QtGui/QDrag>
#include <QtGui/QDropEvent>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QVBoxLayout>

#include <cstdio>

using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// Aspect ratios as a library has them: mostly wide frames, some old 4:3, some posters.
double ratioFor(int i)
{
    static const double ratios[] = {16.0 / 9.0, 2.39, 16.0 / 9.0, 4.0 / 3.0, 1.85, 16.0 / 9.0, 2.0 / 3.0, 16.0 / 9.0, 2.39, 1.0};
    return ratios[i % 10];
}

std::vector<double> ratios(std::size_t n)
{
    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = ratioFor(int(i * 7 % 13));
    return out;
}

PMGroupViewLayoutInput input(unsigned layout, std::size_t n)
{
    PMGroupViewLayoutInput in;
    in.layout = layout;
    in.movieRatios = ratios(n);
    in.subgroupCount = 12;
    in.baseWidth = 191;
    in.spacing = 8;
    in.canvas = QSizeF(2560, 1440);
    in.adjust = true;
    in.staticLabels = true;
    in.balanceRowHeight = PMIsMosaicLayout(layout);
    in.expansionPriority = PMIsMosaicLayout(layout) ? 0 : -1;
    return in;
}

void BM_Layout(benchmark::State& state)
{
    const PMGroupViewLayoutInput in = input(unsigned(state.range(0)), 100000);
    for (auto _ : state) {
        PMGroupViewLayoutResult r = PMGroupViewLayout(in);
        benchmark::DoNotOptimize(r.combinedHeight);
    }
    state.SetLabel(state.range(0) == 0 ? "uniform" : state.range(0) == 8 ? "waterfall" : "mosaic");
}
BENCHMARK(BM_Layout)->Arg(0)->Arg(8)->Arg(56)->Unit(benchmark::kMillisecond);

void BM_VisibleQueryAfterScroll(benchmark::State& state)
{
    const PMGroupViewLayoutResult r = PMGroupViewLayout(input(unsigned(state.range(0)), 100000));
    PMGroupViewVisibleIndex index;
    index.rebuild(r.movieFrames);
    std::vector<std::uint32_t> found;
    double top = 0;
    for (auto _ : state) {
        top = std::fmod(top + 7919.0, std::max(1.0, r.combinedHeight - 1440));
        index.tilesInRect(QRectF(0, top, 2560, 1440), found);
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["visible"] = double(found.size());
}
BENCHMARK(BM_VisibleQueryAfterScroll)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

std::vector<PMMovieRepresentationOriginalPtr> gRecords;

platform::ImagePtr pictureFor(int i, double ratio, int height)
{
    QImage image(int(height * ratio), height, QImage::Format_RGB32);
    const QColor base = QColor::fromHsv((i * 37) % 360, 90 + (i * 13) % 100, 110 + (i * 29) % 120);
    QPainter p(&image);
    QLinearGradient g(0, 0, image.width(), image.height());
    g.setColorAt(0, base.lighter(150));
    g.setColorAt(1, base.darker(220));
    p.fillRect(image.rect(), g);
    p.setPen(QColor(255, 255, 255, 60));
    for (int k = 0; k < 6; ++k)
        p.drawEllipse(QPointF(image.width() * (0.2 + 0.13 * k), image.height() * (0.3 + 0.08 * ((i + k) % 5))), image.height() / 5.0,
                      image.height() / 5.0);
    p.end();
    return platform::Image::make(std::move(image));
}

const char* kWords[] = {"Silent",  "River", "Winter", "Harbour", "Night",  "Glass",   "Garden", "Last",   "Summer", "Northern",
                        "Station", "Light", "Stone",  "Letters", "Echoes", "Morning", "Island", "Hidden", "Road",   "Mirror"};

QString titleFor(int i)
{
    const QString a = QString::fromLatin1(kWords[i % 20]);
    const QString b = QString::fromLatin1(kWords[(i / 20 + 7) % 20]);
    return (i % 3 ? QStringLiteral("The %1 %2 (%3)") : QStringLiteral("%1 of the %2 (%3)")).arg(a, b).arg(1950 + (i * 7) % 74);
}

PMLibraryContainerPtr makeLibrary(const QString& home, int count, bool store, int subgroups)
{
    const QString dir = home + QStringLiteral("/movies");
    QDir().mkpath(dir);
    auto group = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Movies")}});
    for (int g = 0; g < subgroups; ++g)
        group->rawChildren()->append(Value(PMLibraryContainer::make({{QStringLiteral("Name"), QString::fromLatin1(kWords[g % 20]) + QStringLiteral(" Collection")}})));
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    const QString posters = mainController().posterImageDirectoryPath();
    for (int i = 0; i < count; ++i) {
        auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QLatin1Char('/') + titleFor(i) + QStringLiteral(".mp4"));
        const double ratio = ratioFor(i);
        const platform::ImagePtr picture = pictureFor(i, ratio, store ? 240 : 160);
        record->setThumbnailSizeDescription(QStringLiteral("{%1, %2}").arg(picture->pixels().width()).arg(picture->pixels().height()));
        if (store) {
            const QString id = record->uniqueLibraryID();
            loader.savePosterImage(picture, *record);
            loader.saveUnderscorePosterImageJPEGRepresentation(underscoreImageJPEGRepresentation(picture), posters + QStringLiteral("/_/") + id, id,
                                                               loader.imageGeneration(false, id));
        } else {
            record->setPosterImage(picture);
        }
        group->rawChildren()->append(Value(record));
        gRecords.push_back(record);
    }
    if (store)
        loader.waitForSaveQueue();
    return group;
}

void fillGrid(PMGroupView& grid, const PMLibraryContainerPtr& group)
{
    grid.clear();
    grid.setRepresentedGroup(group);
    for (const Value& v : *group->rawChildren())
        grid.addItem(v);
    grid.tileWithAdjustedSize(true, false, false);
}

PMLibraryContainerPtr gPaintLibrary;

// A first paint asks for the blurred backdrops of posters in wide tiles; they are made once
// per picture on other threads. Measured are the paints after that.
void warmUp(PMGroupView& grid, QImage& surface)
{
    for (int round = 0; round < 2; ++round) {
        QPainter painter(&surface);
        painter.translate(0, -grid.visibleRect().top());
        grid.paintVisible(painter, grid.visibleRect());
        painter.end();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1500) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
    }
}

void BM_PaintViewport(benchmark::State& state)
{
    PMGroupView grid;
    defaults().setDouble(60, QStringLiteral("Preview Width"));
    grid.resize(2560, 1440);
    grid.show();
    QCoreApplication::processEvents();
    fillGrid(grid, gPaintLibrary);
    QImage surface(2560, 1440, QImage::Format_ARGB32_Premultiplied);
    grid.verticalScrollBar()->setValue(1000);
    warmUp(grid, surface);
    const bool fresh = state.range(0) == 1;
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            for (const PMGroupViewItemProxyPtr& proxy : grid.proxies())
                if (proxy->view)
                    proxy->view->invalidateDrawing();
            state.ResumeTiming();
        }
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.translate(0, -grid.visibleRect().top());
        grid.paintVisible(painter, grid.visibleRect());
    }
    state.counters["tiles"] = grid.paintedTileCount();
    defaults().removeObjectForKey(QStringLiteral("Preview Width"));
}
// Argument 0: the tiles' drawings are kept (scrolling, animating); 1: every tile drawn anew.
BENCHMARK(BM_PaintViewport)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// About 1,000 movie tiles 150 points wide with pictures, labels below, ratings and a few
// selection rings, every tile drawn anew, at the screen's pixel ratio (QT_SCALE_FACTOR=2
// for a high-density screen).
void BM_PaintMovieTiles(benchmark::State& state)
{
    for (std::size_t i = 0; i < gRecords.size(); ++i)
        gRecords[i]->setRating(double(i % 6));
    PMGroupView grid;
    defaults().setDouble(150, QStringLiteral("Preview Width"));
    defaults().setDouble(8, QStringLiteral("Preview Spacing"));
    grid.resize(4000, 4200);
    grid.show();
    QCoreApplication::processEvents();
    fillGrid(grid, gPaintLibrary);
    std::vector<PMGroupViewItemProxyPtr> selected;
    for (std::size_t i = 0; i < grid.movieProxies().size(); i += 10)
        selected.push_back(grid.movieProxies()[i]);
    grid.selectItems(nullptr, selected, {}, true, false, false, false);
    const double dpr = grid.devicePixelRatioF();
    QImage surface(QSize(4000, 4200) * dpr, QImage::Format_ARGB32_Premultiplied);
    surface.setDevicePixelRatio(dpr);
    warmUp(grid, surface);
    const bool arriving = state.range(0) == 1;
    const bool kept = state.range(0) == 2;
    for (auto _ : state) {
        state.PauseTiming();
        for (const PMGroupViewItemProxyPtr& proxy : grid.proxies())
            if (proxy->view && !kept) {
                if (arriving)
                    proxy->view->discardDrawing();
                else
                    proxy->view->invalidateDrawing();
            }
        state.ResumeTiming();
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing, true);
        grid.paintVisible(painter, grid.visibleRect());
    }
    state.counters["tiles"] = grid.paintedTileCount();
    state.counters["dpr"] = dpr;
    defaults().removeObjectForKey(QStringLiteral("Preview Width"));
    defaults().removeObjectForKey(QStringLiteral("Preview Spacing"));
}
// Argument 0: every tile drawn anew into its own buffer (what it shows changed); 1: every
// tile drawn into a buffer from the pool, as tiles arriving on screen are; 2: every tile
// from its kept drawing (a repaint where nothing changed).
BENCHMARK(BM_PaintMovieTiles)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// A hover frame changes: one tile of a full viewport is drawn anew from another picture and
// its area repainted, its neighbours' edges from their kept drawings.
void BM_HoverFrameChange(benchmark::State& state)
{
    PMGroupView grid;
    defaults().setDouble(150, QStringLiteral("Preview Width"));
    grid.resize(1600, 1000);
    grid.show();
    QCoreApplication::processEvents();
    fillGrid(grid, gPaintLibrary);
    QImage surface(1600, 1000, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&surface);
        grid.paintVisible(painter, grid.visibleRect());
    }
    const PMGroupViewItemProxyPtr tile = grid.movieProxies()[3];
    for (auto _ : state) {
        tile->view->invalidateDrawing(); // what a new frame index does to the tile's kept drawing
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing, true);
        // The hover repaints the tile's area only.
        grid.paintVisible(painter, grid.visibleRect(), tile->view->shownFrame.adjusted(-2, -2, 2, 2));
    }
    defaults().removeObjectForKey(QStringLiteral("Preview Width"));
}
BENCHMARK(BM_HoverFrameChange)->Unit(benchmark::kMicrosecond);

void BM_RestoreSelection(benchmark::State& state)
{
    PMGroupView grid;
    grid.resize(1200, 800);
    auto group = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Big")}});
    std::vector<PMMovieRepresentationOriginalPtr> records;
    QStringList ids;
    for (int i = 0; i < 20000; ++i) {
        auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/nowhere/%1.mp4").arg(i));
        records.push_back(record);
        group->rawChildren()->append(Value(record));
        if (i % 2 == 0)
            ids << QString(record->uniqueLibraryID().toUtf8()); // stored IDs: equal strings, not the same objects
    }
    fillGrid(grid, group);
    for (auto _ : state) {
        grid.selectItemsWithIDs(ids);
        benchmark::DoNotOptimize(grid.proxies().front()->selected);
    }
    if (grid.selectedItems()->count() != 10000)
        state.SkipWithError("the selection was not restored");
}
BENCHMARK(BM_RestoreSelection)->Unit(benchmark::kMillisecond);

// ---- Pointer work over a grid of 100,000 movies: a drag of one tile moving over the grid
// (argument 0: within one tile, 1: onto another tile at every step), entering the grid with
// a drag, a Ctrl press on a tile, and a rubber-band step. Each is main-thread time of one
// event; none should grow with the library.

PMLibraryContainerPtr gPointerLibrary;

PMLibraryContainerPtr pointerLibrary()
{
    if (gPointerLibrary)
        return gPointerLibrary;
    PMMainController& c = mainController();
    c.resetForTesting();
    c.resetDropStateForTesting();
    defaults().setBool(true, QStringLiteral("Automatically Toggle Manual Sorting"));
    gPointerLibrary = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Pointer")}});
    for (int i = 0; i < 100000; ++i) {
        auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/nowhere/pointer/%1.mp4").arg(i));
        record->setThumbnailSizeDescription(QStringLiteral("{%1, 100}").arg(int(ratioFor(i) * 100)));
        gPointerLibrary->rawChildren()->append(Value(record));
    }
    c.pellisSourceStorageSection()->rawChildren()->append(Value(gPointerLibrary));
    c.invalidateLibraryDependencies();
    c._groupItemsParent = gPointerLibrary;
    return gPointerLibrary;
}

QPoint viewportCentre(const PMGroupView& grid, std::size_t movieIndex)
{
    const QRectF frame = grid.movieProxies()[movieIndex]->frame;
    return (frame.center() - QPointF(0, grid.verticalScrollBar()->value())).toPoint();
}

void BM_DragStepOverGrid(benchmark::State& state)
{
    const bool crossing = state.range(0) == 1;
    PMGroupView grid;
    grid.resize(1600, 1000);
    fillGrid(grid, pointerLibrary());
    grid.show();
    QCoreApplication::processEvents();
    double enterMs = 0;
    grid.dragRunner = [&](QDrag& drag, Qt::DropActions offered, Qt::DropAction) {
        QMimeData* mime = drag.mimeData();
        const QPoint a = viewportCentre(grid, 3), b = viewportCentre(grid, 9);
        QElapsedTimer timer;
        timer.start();
        QDragEnterEvent enter(a, offered, mime, Qt::LeftButton, {});
        QApplication::sendEvent(grid.viewport(), &enter);
        enterMs = timer.nsecsElapsed() / 1e6;
        int step = 0;
        for (auto _ : state) {
            ++step;
            const QPoint at = crossing ? ((step % 2) ? b : a) : a + QPoint(step % 7 - 3, step % 5 - 2);
            QDragMoveEvent move(at, offered, mime, Qt::LeftButton, {});
            QApplication::sendEvent(grid.viewport(), &move);
            if (!move.isAccepted())
                state.SkipWithError("the grid refused its own tile");
        }
        QDragLeaveEvent leave;
        QApplication::sendEvent(grid.viewport(), &leave);
        return Qt::IgnoreAction;
    };
    std::vector<PMGroupViewItemProxyPtr> proxies{grid.movieProxies()[0]};
    auto items = platform::Array::make();
    items->append(proxies.front()->selectedItem());
    if (!grid.moveItems(items, proxies, proxies.front()->frame.center()))
        state.SkipWithError("no drag started");
    state.counters["enter_ms"] = enterMs;
    state.SetLabel(crossing ? "onto another tile" : "within one tile");
}
BENCHMARK(BM_DragStepOverGrid)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void sendMouse(PMGroupView& grid, QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers)
{
    QMouseEvent event(type, QPointF(at), grid.viewport()->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, modifiers);
    QApplication::sendEvent(grid.viewport(), &event);
}

// Argument 0: a Ctrl press and its release on a tile; 1: a rubber-band step while the
// press (with Ctrl) is held.
void BM_PointerOnGrid(benchmark::State& state)
{
    const bool band = state.range(0) == 1;
    PMGroupView grid;
    grid.resize(1600, 1000);
    fillGrid(grid, pointerLibrary());
    grid.show();
    QCoreApplication::processEvents();
    // A selection of 10 tiles to keep.
    std::vector<PMGroupViewItemProxyPtr> selected(grid.movieProxies().begin() + 20, grid.movieProxies().begin() + 30);
    grid.selectItems(nullptr, selected, {}, true, false, false, false);
    const QPoint a = viewportCentre(grid, 3), b = viewportCentre(grid, 14);
    if (band)
        sendMouse(grid, QEvent::MouseButtonPress, a, Qt::ControlModifier);
    int step = 0;
    for (auto _ : state) {
        if (band) {
            sendMouse(grid, QEvent::MouseMove, (++step % 2) ? b : a + QPoint(5, 5), Qt::ControlModifier);
        } else {
            sendMouse(grid, QEvent::MouseButtonPress, a, Qt::ControlModifier);
            sendMouse(grid, QEvent::MouseButtonRelease, a, Qt::ControlModifier);
        }
    }
    if (band)
        sendMouse(grid, QEvent::MouseButtonRelease, a, Qt::ControlModifier);
    state.SetLabel(band ? "rubber-band step" : "Ctrl press and release");
}
BENCHMARK(BM_PointerOnGrid)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A refill of the grid of 100,000 movies and its tiling, as the window's refresh does it,
// and the proxies of the content before let go (as they are a second later).
// Argument 0: the content alternates between all the movies and 45,000 of them (a search
// typed and taken back); 1: the same 100,000 again (a refresh that changed no content).
void BM_GridRefill(benchmark::State& state)
{
    const bool same = state.range(0) == 1;
    PMGroupView grid;
    grid.resize(1600, 1000);
    const PMLibraryContainerPtr group = pointerLibrary();
    const std::vector<Value> all(group->rawChildren()->begin(), group->rawChildren()->end());
    std::vector<Value> some;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (i % 20 < 9)
            some.push_back(all[i]);
    grid.setItems(group, all);
    grid.tileWithAdjustedSize(true, true, true);
    grid.show();
    QCoreApplication::processEvents();
    bool full = true;
    for (auto _ : state) {
        full = same || !full;
        grid.setItems(group, full ? all : some);
        grid.tileWithAdjustedSize(true, true, true);
        grid.clearProxyDump();
        benchmark::DoNotOptimize(grid.shownProxies().size());
    }
    state.SetLabel(same ? "same content" : "100,000 and 45,000 in turn");
}
BENCHMARK(BM_GridRefill)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (loader.loadQueue().operationCount() == 0 && t.elapsed() > 400)
            break;
        QThread::msleep(5);
    }
    QCoreApplication::processEvents();
}

int gallery(const QString& home, const QString& out)
{
    QDir().mkpath(out);
    mainController().registerDefaultSettings();
    defaults().setBool(false, QStringLiteral("Cycle Through Index Image On Hover"));
    const PMLibraryContainerPtr group = makeLibrary(home, 2000, true, 5);
    for (std::size_t i = 0; i < gRecords.size(); ++i) {
        gRecords[i]->uncacheCoverImageAndPosterImage();
        // Some ratings, and now and then a file or a whole volume gone.
        if (i % 3 == 0)
            gRecords[i]->setRating(double(1 + i % 5));
        if (i % 11 == 4)
            gRecords[i]->setMissing(true, i % 22 == 15);
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("Grid"));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* grid = new PMGroupView(&window);
    layout->addWidget(grid);
    window.resize(1400, 900);
    window.show();
    struct Shot {
        const char* name;
        int layout;
        bool hoverHeaders;
        double spacing;
    } shots[] = {{"uniform-default-spacing", 0, false, 0}, {"uniform", 0, false, 8},        {"scale-to-fit", 3, false, 8},
                 {"waterfall", 8, false, 8},              {"variable-height", 24, false, 8}, {"mosaic", 56, true, 8}};
    for (const Shot& shot : shots) {
        defaults().setDouble(shot.spacing, QStringLiteral("Preview Spacing"));
        defaults().setInteger(shot.layout, QStringLiteral("Preview Layout"));
        defaults().setBool(shot.hoverHeaders, QStringLiteral("Hover Preview Headers"));
        fillGrid(*grid, group);
        grid->verticalScrollBar()->setValue(0);
        settle(8000);
        // A selection: a click, then Shift-Right twice.
        if (!grid->movieProxies().empty()) {
            grid->selectItems(nullptr, {grid->movieProxies()[1]}, {}, true, false, false, false);
            grid->moveSelection(Qt::Key_Right, true);
            grid->moveSelection(Qt::Key_Right, true);
        }
        settle(300);
        window.grab().save(out + QStringLiteral("/grid-%1.png").arg(QString::fromLatin1(shot.name)));
        std::printf("%s: %u columns, %zu tiles, content %.0f high\n", shot.name, grid->numberOfColumns(), grid->proxies().size(),
                    grid->lastLayout().combinedHeight);
    }
    // The tiles with their labels below, light and dark, with a hovered tile.
    defaults().setDouble(8, QStringLiteral("Preview Spacing"));
    defaults().setDouble(220, QStringLiteral("Preview Width"));
    defaults().setInteger(0, QStringLiteral("Preview Layout"));
    defaults().setBool(false, QStringLiteral("Hover Preview Headers"));
    for (const bool dark : {false, true}) {
        platform::AppearanceSource::shared().setDarkForTesting(dark);
        QApplication::setPalette(dark ? QPalette(QColor(50, 50, 50)) : QPalette(QColor(239, 239, 239)));
        fillGrid(*grid, group);
        grid->verticalScrollBar()->setValue(0);
        settle(8000);
        grid->selectItems(nullptr, {grid->movieProxies()[1]}, {}, true, false, false, false);
        const PMGroupViewItemProxyPtr hovered = grid->movieProxies()[6];
        if (hovered->view) {
            hovered->view->hovering = true;
            grid->updateHover(hovered.get(), hovered->frame.center() - QPointF(0, 30));
        }
        grid->viewport()->update();
        settle(300);
        window.grab().save(out + QStringLiteral("/tiles-%1.png").arg(dark ? QStringLiteral("dark") : QStringLiteral("light")));
        // The pointer on a tile's name band: the menu button and the stars to set a rating.
        const PMGroupViewItemProxyPtr banded = grid->movieProxies()[2];
        if (banded->view) {
            hovered->view->hovering = false;
            banded->view->hovering = true;
            grid->updateHover(banded.get(), QPointF(banded->frame.center().x(), banded->frame.top() + 8));
        }
        grid->viewport()->update();
        settle(300);
        window.grab().save(out + QStringLiteral("/tile-band-hovered-%1.png").arg(dark ? QStringLiteral("dark") : QStringLiteral("light")));
        grid->updateHover(nullptr, QPointF());
    }
    // A hovered tile of a real movie, in the middle of its frames, and the popover that
    // describes the tile under the pointer.
    {
        const QString path = gRecords[7]->path();
        QFile::remove(path);
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                                QStringLiteral("-i"), QStringLiteral("testsrc2=size=320x180:rate=10:duration=20"),
                                                QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), path});
        ffmpeg.waitForFinished(60000);
        gRecords[7]->setMissing(false, false);
        double now = 0;
        grid->hoverClock = [&now] { return now; };
        defaults().setBool(true, QStringLiteral("Cycle Through Index Image On Hover"));
        fillGrid(*grid, group);
        grid->verticalScrollBar()->setValue(0);
        settle(4000);
        const PMGroupViewItemProxyPtr hovered = grid->movieProxies()[7];
        hovered->view->hovering = true;
        const QPointF centre = hovered->frame.center() - QPointF(0, 30);
        grid->updateHover(hovered.get(), centre);
        now = 2.0;
        grid->advanceHover();
        QElapsedTimer wait;
        wait.start();
        while (hovered->view->hover.state() == PMMovieTileHover::Fetching && wait.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (int step = 0; step < 4; ++step) {
            now += 1.0;
            grid->advanceHover();
        }
        grid->viewport()->update();
        settle(300);
        std::printf("hovered tile: hover-frame state %lld\n", static_cast<long long>(hovered->view->hover.state()));
        window.grab().save(out + QStringLiteral("/tile-cycling.png"));
        // The popover after the tooltip delay, over a group tile whose name is too long.
        grid->updateHover(nullptr, QPointF());
        settle(300);
        const PMGroupViewItemProxyPtr subgroup = grid->groupProxies()[0];
        subgroup->view->hovering = true;
        grid->updateHover(subgroup.get(), subgroup->frame.center());
        const PMGroupViewItemProxyPtr movieTile = grid->movieProxies()[8];
        grid->updateHover(movieTile.get(), movieTile->frame.center());
        QElapsedTimer delay;
        delay.start();
        while (delay.elapsed() < PMPreviewViewToolTipPopover::delayMilliseconds() + 500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (QScreen* screen = QGuiApplication::primaryScreen())
            screen->grabWindow(0).save(out + QStringLiteral("/popover.png"));
        std::printf("popover: %s\n", qPrintable(PMPreviewViewToolTipPopover::shared().text().replace(QLatin1Char('\n'), QStringLiteral(" / "))));
        grid->updateHover(nullptr, QPointF());
        grid->hoverClock = nullptr;
    }
    platform::AppearanceSource::shared().setDarkForTesting(std::nullopt);
    defaults().removeObjectForKey(QStringLiteral("Preview Width"));
    // After a scroll into the middle.
    defaults().setInteger(0, QStringLiteral("Preview Layout"));
    defaults().setBool(false, QStringLiteral("Hover Preview Headers"));
    fillGrid(*grid, group);
    grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum() / 2);
    settle(8000);
    window.grab().save(out + QStringLiteral("/grid-scrolled.png"));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    platform::prepareAllocator();
    QString galleryDir;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--gallery" && i + 1 < argc)
            galleryDir = QString::fromLocal8Bit(argv[i + 1]);
    if (galleryDir.isEmpty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/.local/share")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toUtf8());
    QApplication app(argc, argv);
    if (!galleryDir.isEmpty())
        return gallery(home.path(), galleryDir);
    gPaintLibrary = makeLibrary(home.path(), 1500, false, 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gPaintLibrary.reset();
    gPointerLibrary.reset();
    gRecords.clear();
    return 0;
}
