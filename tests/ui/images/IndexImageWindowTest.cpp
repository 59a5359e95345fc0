// The index image window and the drag-source image view: typed values checked and stored,
// rebuilds coalesced, the window fitted to the screen, saving the sheet and its frames,
// the frame menu, and what a drag carries.
#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "images/ImagesTestSupport.h"
#include "images/NSImage+PMImageFiles.h"
#include "ui/images/PMDragSourceImageView.h"
#include "images/PMIndexImage.h"
#include "ui/images/PMIndexImageView.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/SavePanel.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QSemaphore>
#include <QtCore/QThreadPool>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtCore/QUrl>
#include <QtGui/QImageReader>
#include <QtTest/QTest>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>

using platform::DictionaryPtr;
using platform::ImagePtr;
using platform::Value;
using namespace PMIndexImageSettingsKeys;
namespace media = testsupport::media;
using namespace imagestest;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 30000)
{
    return testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return condition();
    }, timeoutMs);
}

QStringList menuTitles(QMenu* menu)
{
    QStringList titles;
    for (QAction* action : menu->actions())
        titles.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return titles;
}

class IndexImageWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        defaults().removeObjectForKey(defaultsKey);
        defaults().removeObjectForKey(QStringLiteral("PMIndexImageView: Silent Save Directory"));
        defaults().removeObjectForKey(QStringLiteral("PMIndexImageView: JPEG Compression Factor"));
        defaults().setBool(false, QStringLiteral("Cycle Through Index Image On Hover"));
        PMIndexImageViewSettings::resetIndexImageSettings();
        window.reset(PMIndexImageView::buildWindow(nullptr));
        view = window->findChild<PMIndexImageView*>();
        ASSERT_TRUE(view);
    }
    void TearDown() override
    {
        platform::setSavePanelHandler({});
        platform::setAlertHandler({});
        view->windowWillClose();
        window.reset();
        settle();
    }
    // Shows a record of the fixture movie with a small sheet, and waits for it.
    PMMovieRepresentationOriginalPtr showMovie(int frames = 4, int columns = 2)
    {
        const DictionaryPtr settings = PMIndexImageView::indexImageSettings();
        settings->setValue(numberOfImages, Value(frames));
        settings->setValue(maximumNumberOfColumns, Value(columns));
        settings->setValue(singleImageWidth, Value(100));
        view->awakeFromNib();
        auto record = recordFor(media::Fixtures().numbered());
        record->setDuration(3);
        view->setMovieRepresentation(record.get());
        EXPECT_TRUE(waitFor([&] { return view->image() != nullptr; }));
        return record;
    }
    std::unique_ptr<QWidget> window;
    PMIndexImageView* view = nullptr;
};

} // namespace

TEST(IndexImageFields, ValidatedValues)
{
    struct Case {
        long long typed, lower, expected;
    };
    const Case cases[] = {
        {0, -10000, 1},  {-50, -10000, -50}, {-20000, -10000, -10000}, {5000, 70, 1000}, {10, 70, 70},
        {0, 1, 1},       {2000, 1, 1000},    {-5, 0, 0},               {1000, 0, 1000},  {7, 0, 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PMIndexImageValidatedFieldValue(c.typed, c.lower), c.expected) << c.typed << " from " << c.lower;
}

TEST_F(IndexImageWindow, TypedValuesAreCheckedStoredAndShownASecondLater)
{
    struct Case {
        QLineEdit* field;
        QString key;
        QString typed;
        long long stored;
    };
    const Case cases[] = {
        {view->_numberOfColumnsField, maximumNumberOfColumns, QStringLiteral("0"), 1},
        {view->_numberOfColumnsField, maximumNumberOfColumns, QStringLiteral("-50"), -50},
        {view->_singleImageWidthField, singleImageWidth, QStringLiteral("5000"), 1000},
        {view->_singleImageWidthField, singleImageWidth, QStringLiteral("12"), 70},
        {view->_numberOfFramesField, numberOfImages, QStringLiteral("0"), 1},
        {view->_spacingField, spacing, QStringLiteral("-3"), 0},
        {view->_borderField, border, QStringLiteral("4000"), 1000},
    };
    for (const Case& c : cases) {
        c.field->clear();
        QTest::keyClicks(c.field, c.typed);
        EXPECT_EQ(PMIndexImageView::indexImageSettings()->value(c.key).toLongLong(), c.stored) << c.typed.toStdString();
        const QString expectedText = QString::number(c.stored);
        EXPECT_TRUE(waitFor([&] { return c.field->text() == expectedText; }, 5000)) << c.typed.toStdString();
    }
    // The stored settings follow every change.
    const Value stored = defaults().objectForKey(defaultsKey);
    ASSERT_TRUE(stored.isDictionary());
    EXPECT_EQ(stored.dictionary()->value(border).toLongLong(), 1000);

    // A user who types on is not interrupted by the correction of what was typed before.
    view->_singleImageWidthField->clear();
    QTest::keyClicks(view->_singleImageWidthField, QStringLiteral("5000"));
    view->_singleImageWidthField->clear();
    QTest::keyClicks(view->_singleImageWidthField, QStringLiteral("300"));
    QTest::qWait(1300);
    EXPECT_EQ(view->_singleImageWidthField->text(), QStringLiteral("300"));
    EXPECT_EQ(PMIndexImageView::indexImageSettings()->value(singleImageWidth).toLongLong(), 300);
}

TEST_F(IndexImageWindow, QuickChangesRebuildOnceAndAColourChangeAtOnce)
{
    auto record = showMovie();
    const ImagePtr first = view->image();
    const int before = view->updateCount();

    // Layout changes: one rebuild a second after the last, "Update" meanwhile.
    for (const char* typed : {"1", "12", "20"}) {
        view->_spacingField->setText(QString::fromLatin1(typed));
        view->controlTextDidChange(view->_spacingField);
    }
    EXPECT_TRUE(view->isUpdatePending());
    EXPECT_EQ(view->_saveButton->text(), QStringLiteral("Update"));
    EXPECT_EQ(view->updateCount(), before);
    ASSERT_TRUE(waitFor([&] { return view->image() != first; }));
    EXPECT_EQ(view->updateCount(), before + 1);
    EXPECT_EQ(view->_saveButton->text(), QStringLiteral("Save..."));
    EXPECT_GT(view->image()->size().width(), first->size().width());

    // The border colour of an idle record: at once.
    const ImagePtr second = view->image();
    view->_borderColorWell->setColor(QColor(255, 0, 0));
    view->changeSetting(view->_borderColorWell);
    EXPECT_FALSE(view->isUpdatePending());
    EXPECT_EQ(view->updateCount(), before + 2);
    ASSERT_TRUE(waitFor([&] { return view->image() != second; }));
    EXPECT_EQ(PMIndexImageView::indexImageSettings()->value(borderColor).string(), QStringLiteral("#ff0000"));
    // The 2-point border left of the first frame is red now.
    const QImage pixels = view->image()->pixels();
    const double ratio = pixels.width() / view->image()->size().width();
    const QRectF cell = indexImageWrappers(view->image()).at(0)->frame();
    const QColor border = pixels.pixelColor(int((cell.x() - 1) * ratio), int((view->image()->size().height() - cell.center().y()) * ratio));
    EXPECT_GT(border.red(), 200);
    EXPECT_LT(border.green(), 60);

    // Frames asked for twice within a second: the grab stops at the first, and one rebuild
    // follows the last.
    const int grabsBefore = view->updateCount();
    view->_numberOfFramesField->setText(QStringLiteral("6"));
    view->controlTextDidChange(view->_numberOfFramesField);
    view->_numberOfFramesField->setText(QStringLiteral("8"));
    view->controlTextDidChange(view->_numberOfFramesField);
    EXPECT_TRUE(view->isUpdatePending());
    ASSERT_TRUE(waitFor([&] { return view->image() && indexImageWrappers(view->image()).size() == 8u; }));
    EXPECT_EQ(view->updateCount(), grabsBefore + 1);
}

TEST(IndexImageWindowFrame, FitsTheScreen)
{
    struct Case {
        QSize chrome;
        QSizeF image;
        QRect screen;
        int minimumWidth;
        QRect expected;
    };
    const Case cases[] = {
        // Fits: its own size, centred across, a quarter of the free height above it.
        {{20, 60}, {800, 400}, {0, 0, 1600, 1000}, 300, {390, 135, 820, 460}},
        // Too wide for a small screen: the width fills it, the height scales along.
        {{20, 60}, {2000, 500}, {0, 0, 1020, 800}, 300, {0, 122, 1020, 310}},
        // Too tall: the height fills it and the width scales along, the frame kept.
        {{20, 60}, {1000, 2000}, {0, 0, 1600, 860}, 300, {590, 0, 420, 860}},
        // Both: first the width, then the height.
        {{20, 60}, {4000, 4000}, {100, 50, 620, 560}, 300, {150, 50, 520, 560}},
        // Small images keep the minimum width and height.
        {{20, 60}, {50, 20}, {0, 0, 1600, 1000}, 300, {650, 225, 300, 100}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PMIndexImageWindowFrame(c.chrome, c.image, c.screen, c.minimumWidth), c.expected) << c.image.width() << "×" << c.image.height();
}

TEST_F(IndexImageWindow, SavesTheSheetAndItsFramesWithoutReplacingAnything)
{
    auto record = showMovie();
    const QString folder = testsupport::makeTempDir(QStringLiteral("saved"));
    defaults().setObject(Value(folder), QStringLiteral("PMIndexImageView: Silent Save Directory"));
    view->setFilename(QStringLiteral("Numbered (Index)"));

    // Spacing above 0: PNG; saving again keeps the first file.
    view->saveWithModifiers(nullptr, Qt::NoModifier);
    view->saveWithModifiers(nullptr, Qt::NoModifier);
    QStringList files;
    waitFor([&] {
        files = QDir(folder).entryList(QDir::Files, QDir::Name);
        return files.size() >= 2;
    });
    ASSERT_EQ(files.size(), 2) << files.join(u',').toStdString();
    EXPECT_TRUE(files.contains(QStringLiteral("Numbered (Index).png")));
    const QImage saved(QDir(folder).filePath(QStringLiteral("Numbered (Index).png")));
    EXPECT_EQ(saved.size(), view->image()->pixels().size());

    // Spacing 0: JPEG with the class's factor.
    PMIndexImageView::indexImageSettings()->setValue(spacing, Value(0));
    view->saveWithModifiers(nullptr, Qt::NoModifier);
    EXPECT_TRUE(waitFor([&] { return QFileInfo::exists(QDir(folder).filePath(QStringLiteral("Numbered (Index).jpg"))); }));

    // Frame by frame, into a folder that exists already: a new folder beside it.
    PMIndexImageView::indexImageSettings()->setValue(spacing, Value(10));
    const QString chosen = QDir(folder).filePath(QStringLiteral("Frames"));
    QDir().mkpath(chosen);
    testsupport::writeFile(QDir(chosen).filePath(QStringLiteral("keep.txt")), "mine");
    platform::setSavePanelHandler([&](const platform::SavePanel& panel) {
        EXPECT_EQ(panel.title, QStringLiteral("Save Files"));
        return chosen;
    });
    view->saveWithModifiers(nullptr, Qt::AltModifier);
    EXPECT_EQ(testsupport::readFile(QDir(chosen).filePath(QStringLiteral("keep.txt"))), QByteArray("mine"));
    const QStringList folders = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    ASSERT_EQ(folders.size(), 2);
    const QString made = QDir(folder).filePath(folders.at(0) == QLatin1String("Frames") ? folders.at(1) : folders.at(0));
    const QStringList frames = QDir(made).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(frames.size(), 4) << frames.join(u',').toStdString();
    // Frames at 0.6, 1.2, 1.8 and 2.4 s of a 3 s movie (within the grab's tolerance).
    EXPECT_TRUE(frames.at(0).startsWith(QStringLiteral("1 — 0'0"))) << frames.at(0).toStdString();
    EXPECT_TRUE(frames.at(0).endsWith(QStringLiteral(".jpg"))) << frames.at(0).toStdString();
    const QImage frame(QDir(made).filePath(frames.at(0)));
    EXPECT_FALSE(frame.isNull());

    // A folder that cannot be written: an alert, and nothing claims success.
    // (A folder inside a plain file: no permission bits, which the superuser ignores.)
    const QString plain = testsupport::makeTempDir(QStringLiteral("locked")) + QStringLiteral("/plain");
    testsupport::writeFile(plain, "x");
    const QString locked = plain + QStringLiteral("/folder");
    defaults().setObject(Value(locked), QStringLiteral("PMIndexImageView: Silent Save Directory"));
    int alerts = 0;
    platform::setAlertHandler([&](const platform::Alert&) {
        ++alerts;
        return platform::AlertResponse{};
    });
    EXPECT_FALSE(view->saveImage(QStringLiteral("Numbered (Index)")));
    EXPECT_EQ(alerts, 1);
}

TEST_F(IndexImageWindow, SaveEncodesTheSheetOnAWorkerOnceForCopiesAndSaves)
{
    auto record = showMovie();
    const QString folder = testsupport::makeTempDir(QStringLiteral("worker"));
    defaults().setObject(Value(folder), QStringLiteral("PMIndexImageView: Silent Save Directory"));
    view->setFilename(QStringLiteral("Sheet"));
    int alerts = 0;
    platform::setAlertHandler([&](const platform::Alert&) {
        ++alerts;
        return platform::AlertResponse{};
    });

    // Every worker is held: a picture encoded on the main thread would be written before
    // the save returns; one encoded on a worker is written only once the workers go free.
    QThreadPool* pool = QThreadPool::globalInstance();
    QSemaphore started, release;
    const int workers = pool->maxThreadCount();
    for (int i = 0; i < workers; ++i)
        pool->start([&] {
            started.release();
            release.acquire();
        });
    ASSERT_TRUE(started.tryAcquire(workers, 30000));
    QPushButton* save = nullptr;
    for (QPushButton* button : window->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Save..."))
            save = button;
    ASSERT_TRUE(save);
    view->copy();
    save->click();
    save->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    release.release(workers);

    // Both saves end as valid PNG files of the whole sheet, neither over the other, with
    // nothing hidden left beside them; the clipboard has the same bytes.
    QStringList files;
    EXPECT_TRUE(waitFor([&] {
        files = QDir(folder).entryList(QDir::Files, QDir::Name);
        return files.size() >= 2;
    }));
    ASSERT_EQ(files, (QStringList{QStringLiteral("Sheet 1.png"), QStringLiteral("Sheet.png")}));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
    for (const QString& name : files) {
        QImageReader reader(QDir(folder).filePath(name));
        EXPECT_EQ(reader.format(), QByteArray("png"));
        EXPECT_EQ(reader.read().size(), view->image()->pixels().size());
    }
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("image/png")), testsupport::readFile(QDir(folder).filePath(files.at(1))));
    EXPECT_EQ(alerts, 0);
}

TEST_F(IndexImageWindow, TheFrameMenuTargetsTheFrameUnderThePointer)
{
    auto record = showMovie();
    window->resize(1200, 900);
    QCoreApplication::processEvents();
    const PMIndexImageWrappers frames = indexImageWrappers(view->image());
    ASSERT_EQ(frames.size(), 4u);
    const QRectF shown = view->imageRect();
    const double scale = view->image()->size().width() / shown.width();
    const double sheetHeight = view->image()->size().height();
    // The second frame: top right of the 2 × 2 sheet.
    const QRectF cell = frames.at(1)->frame();
    const QPoint inside = QPointF(shown.x() + (cell.center().x()) / scale, shown.y() + (sheetHeight - cell.center().y()) / scale).toPoint();
    int position = 0;
    EXPECT_EQ(view->wrapperAtPoint(inside, &position), frames.at(1));
    EXPECT_EQ(position, 2);

    std::unique_ptr<QMenu> menu = view->individualWrapperMenuForEvent(inside);
    ASSERT_TRUE(menu);
    EXPECT_FALSE(view->highlightRect().isEmpty());
    const QString time = frames.at(1)->timestampDescriptionIncludingMilliseconds(true);
    const QStringList titles = menuTitles(menu.get());
    EXPECT_EQ(titles.mid(0, 4), (QStringList{QStringLiteral("Use as Preview"), QStringLiteral("-"), QStringLiteral("Save..."), QStringLiteral("Copy")}));
    EXPECT_TRUE(titles.contains(QStringLiteral("Go to %1").arg(time))) << titles.join(u'|').toStdString();
    EXPECT_TRUE(titles.contains(QStringLiteral("Play %1 from %2").arg(record->displayName(), time))) << titles.join(u'|').toStdString();

    // The frame's save offers the movie's name with the frame's time.
    platform::SavePanel asked;
    platform::setSavePanelHandler([&](const platform::SavePanel& panel) {
        asked = panel;
        return QString();
    });
    for (QAction* action : menu->actions())
        if (action->text() == QLatin1String("Save..."))
            action->trigger();
    EXPECT_EQ(asked.proposedName, QStringLiteral("%1 (%2)").arg(record->displayNameWithExtension(false), QString(time).replace(u':', u'\'')));
    EXPECT_EQ(asked.allowedExtension, QStringLiteral("jpg"));
    // The ring goes with the menu.
    EXPECT_FALSE(view->highlightRect().isEmpty());
    menu.reset();
    QTRY_VERIFY(view->highlightRect().isEmpty());

    // The gap between frames, and outside the sheet: the view's own menu or none.
    const QPoint gap = QPointF(shown.x() + 1, shown.y() + 1).toPoint();
    EXPECT_FALSE(view->individualWrapperMenuForEvent(gap));
    EXPECT_FALSE(view->individualWrapperMenuForEvent(QPoint(0, 0)));
    std::unique_ptr<QMenu> imageMenu = view->menuForEvent(gap);
    ASSERT_TRUE(imageMenu);
    EXPECT_EQ(menuTitles(imageMenu.get()), (QStringList{QStringLiteral("Save..."), QStringLiteral("Copy")}));
}

TEST_F(IndexImageWindow, ClosingDropsTheFramesAndARecordThatCannotPlayShowsItsSavedFrames)
{
    auto record = showMovie();
    // The view keeps a proxy of its own, which holds the frames.
    ASSERT_TRUE(view->movieRepresentation());
    const std::shared_ptr<PMMovieRepresentationPrototype> shown = view->movieRepresentation()->sharedRecord();
    EXPECT_NE(shown.get(), record.get());
    EXPECT_TRUE(indexImageSettings(*shown));
    window->close();
    EXPECT_FALSE(indexImageSettings(*shown));
    EXPECT_FALSE(view->movieRepresentation());

    auto missing = recordFor(media::Fixtures().numbered());
    QDir().mkpath(missing->standardIndexImagesBasePath());
    for (const char* name : {"1 (1.00).jpg", "2 (2.00).jpg", "3 (3.00).jpg"})
        ASSERT_TRUE(picture(32, 18, Qt::green)->pixels().save(missing->standardIndexImagesBasePath() + u'/' + QString::fromLatin1(name), "JPEG"));
    QFile::remove(missing->path());
    missing->setMissing(true, false);
    ASSERT_FALSE(missing->canPlay());
    view->setMovieRepresentation(missing.get());
    ASSERT_TRUE(view->image());
    EXPECT_EQ(indexImageWrappers(view->image()).size(), 3u);
    EXPECT_FALSE(view->_numberOfFramesField->isEnabled());
    EXPECT_EQ(view->_numberOfFramesField->text(), QStringLiteral("3"));
}

// ---- The drag-source view

TEST(DragSourceImageView, DragImageSizes)
{
    struct Case {
        int w, h;
        QSizeF expected;
    };
    for (const Case& c : {Case{1200, 300, {600, 150}}, Case{300, 1200, {150, 600}}, Case{500, 400, {500, 400}}, Case{1000, 333, {600, 199}}}) {
        PMDragSourceImageView view;
        view.setImage(picture(c.w, c.h, Qt::blue));
        ASSERT_TRUE(view.dragImage());
        EXPECT_EQ(view.dragImage()->size(), c.expected) << c.w << "×" << c.h;
        EXPECT_NEAR(qAlpha(view.dragImage()->pixels().pixel(0, 0)), 128, 2) << "half opaque";
    }
}

TEST(DragSourceImageView, WhatADragCarries)
{
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("PMDragSourceImageView: JPEG Compression Factor"));
    PMDragSourceImageView view;
    view.resize(400, 300);
    view.setFilename(QStringLiteral("Sheet: one/two"));

    // A picture without a file: PNG, an empty source, and a PNG file written privately.
    view.setImage(picture(64, 32, Qt::red));
    std::unique_ptr<QMimeData> data(view.draggingPasteboard());
    ASSERT_TRUE(data);
    EXPECT_FALSE(QImage::fromData(data->data(QStringLiteral("image/png")), "PNG").isNull());
    EXPECT_TRUE(data->hasFormat(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType)));
    EXPECT_TRUE(data->data(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType)).isEmpty());
    ASSERT_EQ(data->urls().size(), 1);
    const QString written = data->urls().at(0).toLocalFile();
    EXPECT_TRUE(written.startsWith(PMDragSourceImageView::draggedFilesFolder() + u'/'));
    EXPECT_EQ(QFileInfo(written).suffix(), QStringLiteral("png"));
    EXPECT_FALSE(QFileInfo(written).fileName().contains(u'/'));
    EXPECT_EQ(QImage(written).size(), QSize(64, 32));
    // One encoding (on a worker) serves the data and the file.
    EXPECT_EQ(data->data(QStringLiteral("image/png")), testsupport::readFile(written));
    // Copied: the same picture as PNG, and as itself for a paste in the program.
    view.copy();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(copied);
    EXPECT_TRUE(copied->formats().contains(QStringLiteral("image/png")));
    EXPECT_EQ(QImage::fromData(copied->data(QStringLiteral("image/png")), "PNG").size(), QSize(64, 32));
    EXPECT_TRUE(copied->hasImage());
    EXPECT_EQ(QFileInfo(PMDragSourceImageView::draggedFilesFolder()).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);

    // A picture read from a TIFF file: the file itself, and its path under the own type.
    const QString tiff = testsupport::makeTempDir(QStringLiteral("tiff")) + QStringLiteral("/still.tiff");
    ASSERT_TRUE(picture(40, 30, Qt::green)->pixels().save(tiff, "TIFF"));
    ImagePtr read = PMImageWithContentsOfFile(tiff);
    ASSERT_TRUE(read);
    view.setImage(read);
    data.reset(view.draggingPasteboard());
    ASSERT_TRUE(data);
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(tiff)});
    EXPECT_EQ(QString::fromUtf8(data->data(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType))), tiff);

    // Saved into a folder: the source file's bytes under the view's name, then a free name.
    const QString folder = testsupport::makeTempDir(QStringLiteral("out"));
    QString name;
    ASSERT_TRUE(view.saveImage(nullptr, folder, QString(), &name));
    EXPECT_EQ(QFileInfo(name).suffix(), QStringLiteral("tiff"));
    EXPECT_EQ(testsupport::readFile(QDir(folder).filePath(name)), testsupport::readFile(tiff));
    QString second;
    ASSERT_TRUE(view.saveImage(nullptr, folder, QString(), &second));
    EXPECT_NE(second, name);

    // The drag rectangle keeps the pointer's place in the image.
    view.setImage(picture(100, 50, Qt::red));
    EXPECT_EQ(view.draggingSourceRectForEvent(QPoint(200, 150)), QRect(150, 125, 100, 50));
    view.setImage(picture(1000, 500, Qt::red));
    EXPECT_EQ(view.draggingSourceRectForEvent(QPoint(200, 150)), view.rect());
}

TEST(DragSourceImageView, JPEGOrPNGByTheClassFactor)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("factor"));
    const ImagePtr image = picture(80, 60, Qt::darkCyan);
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("PMDragSourceImageView: JPEG Compression Factor"));
    EXPECT_EQ(PMDragSourceImageView::JPEGCompressionFactor(QStringLiteral("PMDragSourceImageView")), -1.0);
    QString name;
    ASSERT_TRUE(PMDragSourceImageView::saveImage(image, -1, folder, QStringLiteral("a"), &name, nullptr, QStringLiteral("PMDragSourceImageView")));
    EXPECT_EQ(name, QStringLiteral("a.png"));
    platform::UserDefaults::standard().setDouble(0.8, QStringLiteral("PMDragSourceImageView: JPEG Compression Factor"));
    EXPECT_DOUBLE_EQ(PMDragSourceImageView::JPEGCompressionFactor(QStringLiteral("PMDragSourceImageView")), 0.8);
    PMDragSourceImageView view;
    view.setImage(image);
    ASSERT_TRUE(view.saveImage(nullptr, folder, QStringLiteral("b"), &name));
    EXPECT_EQ(name, QStringLiteral("b.jpg"));
    EXPECT_EQ(QImageReader(QDir(folder).filePath(name)).format(), QByteArray("jpeg"));
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("PMDragSourceImageView: JPEG Compression Factor"));
    // The index image view registers 0.95 for itself.
    PMIndexImageView::load();
    EXPECT_DOUBLE_EQ(PMDragSourceImageView::JPEGCompressionFactor(QStringLiteral("PMIndexImageView")), 0.95);
}

TEST(DragSourceImageView, DropsRememberASingleSourceFile)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("drops"));
    const QString one = dir + QStringLiteral("/one.png"), two = dir + QStringLiteral("/two.png");
    ASSERT_TRUE(picture(20, 20, Qt::red)->pixels().save(one));
    ASSERT_TRUE(picture(20, 20, Qt::blue)->pixels().save(two));
    PMDragSourceImageView view;
    view.setAcceptsImageDrops(true);

    QMimeData single;
    single.setUrls({QUrl::fromLocalFile(one)});
    ASSERT_TRUE(view.concludeDragOperation(single));
    EXPECT_EQ(view.image()->associatedSourcePath, one);

    QMimeData several;
    several.setUrls({QUrl::fromLocalFile(one), QUrl::fromLocalFile(two)});
    ASSERT_TRUE(view.concludeDragOperation(several));
    EXPECT_TRUE(view.image()->associatedSourcePath.isEmpty());

    // Another view's drag: its picture, and the source it names.
    QMimeData own;
    own.setData(QStringLiteral("image/png"), PNGRepresentation(picture(10, 10, Qt::green)));
    own.setData(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType), two.toUtf8());
    ASSERT_TRUE(view.concludeDragOperation(own));
    EXPECT_EQ(view.image()->associatedSourcePath, two);
    EXPECT_EQ(view.image()->pixels().size(), QSize(10, 10));

    QMimeData text;
    text.setText(QStringLiteral("hello"));
    EXPECT_FALSE(view.concludeDragOperation(text));
}
