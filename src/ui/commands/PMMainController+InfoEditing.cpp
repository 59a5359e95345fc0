// The info panel: opened on the movies a command acts on (one movie's name, place,
// pictures and application, or the batch rename of several), stepped through the pool of
// movies around one, and applied in one go by OK or by a step. Cancel forgets every edit.
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMLog.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/maintenance/PMExtendedRegularExpression.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Applications.h"
#include "platform/Format.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMInfoPanel.h"
#include "ui/commands/PMInfoTagEditorView.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/kit/PMRatingView.h"
#include "ui/library_window/PMAutoCompleteTableView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QAction>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStackedWidget>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QTextEdit>

#include <algorithm>
#include <cmath>
#include <optional>

using platform::Array;
using platform::ArrayPtr;
using platform::ImagePtr;
using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

bool namesAreAutomatic()
{
    return PMCachedSettings::determineNamesAutomatically;
}

PMMovieRepresentationPrototype* singleMovie(const ArrayPtr& movies)
{
    return movies && movies->count() == 1 ? PMMovie(movies->at(0)) : nullptr;
}

// Whether the picture was read from the file whose path without extension is `basePath`.
bool comesFromFile(const ImagePtr& image, const QString& basePath)
{
    if (!image || image->associatedSourcePath.isEmpty() || basePath.isEmpty())
        return false;
    const QFileInfo source(image->associatedSourcePath);
    return source.path() + u'/' + source.completeBaseName() == basePath;
}

// A copy of the picture that owes nothing to a file: written from its pixels.
ImagePtr detachedFromFile(const ImagePtr& image)
{
    if (!image)
        return nullptr;
    auto copy = std::make_shared<platform::Image>(*image);
    copy->associatedSourcePath.clear();
    return copy;
}

// The picture as the movie's stored picture at `basePath` (JPEG or TIFF): a drag out of the
// well carries that file, and putting it back where it came from is no change.
ImagePtr withStoredSource(const ImagePtr& image, const QString& basePath)
{
    if (!image || !image->associatedSourcePath.isEmpty())
        return image;
    for (const char* extension : {".jpg", ".tiff"}) {
        const QString path = basePath + QLatin1String(extension);
        if (QFileInfo(path).isFile()) {
            auto annotated = std::make_shared<platform::Image>(*image);
            annotated->associatedSourcePath = path;
            return annotated;
        }
    }
    return image;
}

// A name typed into the name field: no control characters (a pasted line break would end
// up in a file name), no white space around it.
QString cleanTypedName(const QString& text)
{
    QString name = text;
    for (QChar& ch : name)
        if (ch.category() == QChar::Other_Control)
            ch = u' ';
    return name.trimmed();
}

} // namespace

// ---- State

ArrayPtr PMMainController::nonProxyInfoMovieRepresentations()
{
    if (!_nonProxyInfoMovieRepresentations) {
        _nonProxyInfoMovieRepresentations = Array::make();
        if (_infoMovieRepresentations)
            for (const Value& v : *_infoMovieRepresentations)
                if (PMMovieRepresentationPrototype* movie = PMMovie(v))
                    _nonProxyInfoMovieRepresentations->append(movie->nonProxySelf());
    }
    return _nonProxyInfoMovieRepresentations;
}

bool PMMainController::infoShowsRenamingView() const
{
    return _infoPanel && _infoPanel->infoSingleMultipleTabView->currentIndex() == 1;
}

// ---- Opening

bool PMMainController::loadInfoPanel()
{
    if (_infoPanel)
        return true;
    auto* panel = new PMInfoPanel(*this, mainWindow());
    _infoPanel = panel;
    infoWindow = panel;
    // The tag editor made itself the controller's tag list, property list and delete
    // button.
    infoBatchRenameList = panel->infoBatchRenameList;
    infoBatchRenameSwitch = panel->infoBatchRenameSwitch;
    // The batch-rename action chosen last time, else the first.
    const qint64 action = defaults().integerForKey(prefs::keys::BatchRenameAction4521);
    const int index = std::max(0, panel->infoBatchRenameActionSelector->findData(int(action)));
    panel->infoBatchRenameActionSelector->setCurrentIndex(index);
    panel->infoBatchRenameOptionsTabView->setCurrentIndex(panel->infoBatchRenameActionSelector->itemData(index).toInt());
    _menuValidation.infoPanelTabIndex = [this]() -> int {
        if (!_infoPanel || !_infoPanel->isVisible())
            return -1;
        return _infoPanel->infoSingleMultipleTabView->currentIndex();
    };
    return true;
}

void PMMainController::showMovieInfo(QObject* sender)
{
    auto* item = qobject_cast<QAction*>(sender);
    if (_infoPanel && _infoPanel->isVisible()) {
        if (!item)
            return;
        const int chapter = int(std::max<qint64>(0, platform::menuItemTag(item)) % 10);
        if (chapter != _infoPanel->infoChapterSelector->currentIndex())
            infoSelectChapter(chapter);
        else if (!namesAreAutomatic() && _infoPanel->infoBatchRenameSwitch->isVisibleTo(_infoPanel)
                 && _infoPanel->infoBatchRenameSwitch->isEnabled())
            _infoPanel->infoBatchRenameSwitch->click();
        return;
    }

    ArrayPtr pool;
    const ArrayPtr resolved = cachedInfoMovieRepresentationsSorted(true, sender, &pool);
    ArrayPtr movies = Array::make();
    bool online = false;
    for (const Value& v : resolved ? *resolved : Array()) {
        if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
            online = online || movie->isOnlineItem();
            movies->append(v);
        } else if (PMLibraryContainer* container = PMContainer(v); container && container->isOnlineItem()) {
            online = true;
        }
    }
    if (online || movies->isEmpty()) {
        platform::beep();
        return;
    }
    if (movies->count() == 1 && !pool)
        pool = sortedSiblingsOfLibraryItem(movies->at(0));
    if (!loadInfoPanel()) {
        PMLog("cannot load <Meta.nib>");
        platform::beep();
        return;
    }
    PMInfoPanel& panel = *_infoPanel;
    if (defaults().objectForKey(prefs::keys::BatchRenameDefaultDigits).isNumber()) {
        const int digits = int(defaults().integerForKey(prefs::keys::BatchRenameDefaultDigits));
        if (digits >= 0 && digits < panel.infoBatchRenameNDigitsSelector->count())
            panel.infoBatchRenameNDigitsSelector->setCurrentIndex(digits);
    }
    // The sender's tag: the chapter in its last digit; 10 to 19 ask for the renaming view.
    const qint64 tag = item ? std::max<qint64>(0, platform::menuItemTag(item)) : 0;
    prepareInfoWithChapter(int(tag % 10), movies, pool, tag >= 10 && tag <= 19);
    // Every other window waits until OK or Cancel. (QDialog::open() would make it
    // window-modal whatever was set.)
    panel.setWindowModality(Qt::ApplicationModal);
    panel.setResult(0);
    panel.show();
    panel.raise();
    panel.activateWindow();
}

void PMMainController::infoSelectChapter(int chapter)
{
    if (!_infoPanel)
        return;
    PMInfoPanel& panel = *_infoPanel;
    chapter = std::clamp(chapter, 0, panel.chapterView->count() - 1);
    const bool renaming = panel.infoSingleMultipleTabView->currentIndex() == 1;
    if (renaming && panel.infoChapterSelector->currentIndex() == 1 && chapter != 1)
        _infoSwitchedAwayFromRenaming = true;
    else if (chapter == 1)
        _infoSwitchedAwayFromRenaming = false;
    panel.infoChapterSelector->setCurrentIndex(chapter);
    panel.chapterView->setCurrentIndex(chapter);
    // Batch-rename fields hold the state of the chapter shown last; nothing else changes.
}

// ---- Preparing

namespace {

// What the names of the movies begin with alike, the batch rename's suggested prefix.
QString commonNamePrefix(const Array& movies)
{
    QStringList names;
    for (const Value& v : movies)
        if (PMMovieRepresentationPrototype* m = PMMovie(v))
            names << m->displayName();
    QString prefix = names.isEmpty() ? QString() : names.first();
    for (const QString& name : std::as_const(names)) {
        qsizetype i = 0;
        while (i < prefix.size() && i < name.size() && prefix.at(i) == name.at(i))
            ++i;
        // Never half a character: names that differ only in the second half of a
        // surrogate pair (two emoji) share nothing of it.
        if (i > 0 && prefix.at(i - 1).isHighSurrogate())
            --i;
        prefix.truncate(i);
    }
    return prefix.trimmed();
}

// Where the movie's file is: a link that shows it, or why there is none.
void showInfoLocation(QLabel* field, PMMovieRepresentationPrototype& movie)
{
    const QString path = movie.path();
    if (path.isEmpty()) {
        field->clear();
        field->setToolTip(QString());
    } else if (movie.isMissing()) {
        field->setText((movie.isMissingVolume() ? missingVolumeDescription(path) : localized("Missing")).toHtmlEscaped());
        field->setToolTip(movie.locationKey());
    } else {
        field->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                           .arg(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                localized("Show in File Manager").toHtmlEscaped()));
        field->setToolTip(movie.readableLocation());
    }
}

// The applications that open the file, sorted by title, after the first entry; the one
// they all open with chosen.
void fillApplicationSelector(QComboBox* selector, const platform::DictionaryPtr& applications, const QString& commonDefault)
{
    while (selector->count() > 1)
        selector->removeItem(selector->count() - 1);
    if (applications && !applications->isEmpty()) {
        QStringList titles = applications->keys();
        std::sort(titles.begin(), titles.end(), [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; });
        selector->insertSeparator(selector->count());
        for (const QString& title : std::as_const(titles)) {
            const QString applicationPath = applications->value(title).string();
            platform::DesktopApplication entry;
            QIcon icon;
            if (platform::readDesktopEntry(applicationPath, QFileInfo(applicationPath).fileName(), &entry))
                icon = entry.icon.startsWith(u'/') ? QIcon(entry.icon) : QIcon::fromTheme(entry.icon);
            selector->addItem(icon, title, applicationPath);
        }
    }
    const int selected = commonDefault.isEmpty() ? -1 : selector->findData(commonDefault);
    selector->setCurrentIndex(selected > 0 ? selected : 0);
}

} // namespace

void PMMainController::prepareInfoWithChapter(int withChapter, const ArrayPtr& forMovieRepresentations, const ArrayPtr& pool, bool renameRegardless)
{
    if (!_infoPanel)
        return;
    PMInfoPanel& panel = *_infoPanel;
    const bool automatic = namesAreAutomatic();
    _infoMovieRepresentations = forMovieRepresentations ? forMovieRepresentations : Array::make();
    _nonProxyInfoMovieRepresentations = nullptr;
    const qsizetype count = _infoMovieRepresentations->count();
    PMMovieRepresentationPrototype* movie = !renameRegardless ? singleMovie(_infoMovieRepresentations) : nullptr;
    const bool single = movie != nullptr;
    _infoSwitchedAwayFromRenaming = false;
    _infoRatingTouched = false;

    if (!single) {
        panel.infoLocationField->clear();
        panel.infoSizeField->clear();
        panel.infoMultipleItemsSizeField->setText(durationAndMovieFileSizeDescription(*_infoMovieRepresentations));
        panel.infoMultipleItemsSizeField->show();
        panel.infoBatchRenameSwitch->setEnabled(!automatic);
        panel.infoBatchRenameSwitch->setChecked(withChapter == 1 && !automatic);
        const Value storedPrefix = defaults().objectForKey(prefs::keys::BatchRenameSequencePrefix);
        if (storedPrefix.isString() && !storedPrefix.string().isEmpty()) {
            panel.infoBatchRenameNPrefixField->setText(storedPrefix.string());
        } else {
            const QString prefix = commonNamePrefix(*_infoMovieRepresentations);
            if (count >= 2 && !prefix.isEmpty())
                panel.infoBatchRenameNPrefixField->setText(prefix + u' ');
            else if (storedPrefix.isString())
                panel.infoBatchRenameNPrefixField->setText(storedPrefix.string());
        }
        const Value storedSuffix = defaults().objectForKey(prefs::keys::BatchRenameSequenceSuffix);
        if (storedSuffix.isString())
            panel.infoBatchRenameNSuffixField->setText(storedSuffix.string());
        const bool fallsBack = defaults().boolForKey(prefs::keys::BatchRenameSequencesFallBackToPrefixIdentifier);
        panel.infoBatchRenameNIdentifierField->setPlaceholderText(fallsBack ? localized("Prefix") : QString());
        readInfoBatchRenameFields();
        panel.infoPreviousButton->hide();
        panel.infoPreviousButton->setEnabled(false);
        panel.infoNextButton->hide();
        panel.infoNextButton->setEnabled(false);
        panel.setWindowTitle(platform::format(localized("%@ files"), QString::number(count)));
        panel.setWindowFilePath(QString());
    } else {
        // The pool stays while stepping; a new one keeps only its movies, two at least.
        if (!_infoMovieRepresentationsPool) {
            auto movies = Array::make();
            for (const Value& v : pool ? *pool : Array())
                if (PMMovie(v))
                    movies->append(v);
            _infoMovieRepresentationsPool = movies->count() >= 2 ? movies : nullptr;
        }
        const bool stepping = bool(_infoMovieRepresentationsPool);
        panel.infoPreviousButton->setVisible(stepping);
        panel.infoPreviousButton->setEnabled(stepping);
        panel.infoNextButton->setVisible(stepping);
        panel.infoNextButton->setEnabled(stepping);
        panel.infoNameField->setText(movie->displayName());
        panel.shownName = panel.infoNameField->text();
        panel.infoNameField->setReadOnly(automatic);
        const QString path = movie->path();
        showInfoLocation(panel.infoLocationField, *movie);
        panel.infoSizeField->setText(movie->fileMetaDataDescriptionForToolTip(false));
        panel.infoMultipleItemsSizeField->clear();
        panel.infoMultipleItemsSizeField->hide();

        // The pictures arrive later; only while the panel still shows this very movie.
        panel.infoCoverImageWell->setImage(nullptr);
        panel.infoPreviewImageWell->setImage(nullptr);
        const Value shown = movie->nonProxySelf();
        const QString name = movie->displayNameWithExtension(true);
        const bool stillImage = movie->isConsideredStillImage();
        QPointer<PMInfoPanel> guarded = _infoPanel;
        PMMovieRepresentationImageLoader::defaultLoader().loadCoverImageAndPosterImageForMovieRepresentation(
            *movie, false, QSizeF(0, 0), QRectF(), platform::Operation::Priority::High,
            [this, guarded, shown, name, stillImage](const ImagePtr& cover, const ImagePtr& preview) {
                PMMovieRepresentationPrototype* current = singleMovie(_infoMovieRepresentations);
                if (!guarded || !guarded->isVisible() || !current || current->nonProxySelf().objectPointer() != shown.objectPointer()
                    || infoShowsRenamingView())
                    return;
                // A picture the user has put in meanwhile stays.
                if (cover && guarded->infoCoverImageWell->changeMark() == 0) {
                    guarded->infoCoverImageWell->setImage(withStoredSource(cover, current->coverImageBasePath()));
                    guarded->infoCoverImageWell->setFilename(platform::format(localized("%@ (Cover)"), name));
                }
                if (preview && guarded->infoPreviewImageWell->changeMark() == 0) {
                    guarded->infoPreviewImageWell->setImage(stillImage ? preview : withStoredSource(preview, current->posterImageBasePath()));
                    const bool ownFile = stillImage && !preview->associatedSourcePath.isEmpty()
                                         && current->path() == preview->associatedSourcePath;
                    guarded->infoPreviewImageWell->setFilename(ownFile ? current->displayName() : platform::format(localized("%@ (Preview)"), name));
                }
            });

        // The applications that open the file, sorted by title.
        QString commonDefault;
        const platform::DictionaryPtr applications = applicationsForMovieRepresentations(_infoMovieRepresentations, false, &commonDefault);
        fillApplicationSelector(panel.infoApplicationSelector, applications, commonDefault);
        panel.applicationSelectorChangeMark = 0;

        panel.setWindowTitle(movie->displayName());
        panel.setWindowFilePath(path);
    }

    // Common to both views.
    const bool selectorEnabled = single || !automatic;
    panel.infoChapterSelector->setEnabled(selectorEnabled);
    panel.infoChapterSelector->setTabText(1, single ? localized("Info") : localized("Rename"));
    panel.infoChapterSelector->setFixedSize(panel.infoChapterSelector->sizeHint());
    const int chapter = std::clamp(withChapter, 0, panel.chapterView->count() - 1);
    panel.infoChapterSelector->setCurrentIndex(chapter);
    panel.chapterView->setCurrentIndex(chapter);
    panel.infoSingleMultipleTabView->setCurrentIndex(single ? 0 : 1);
    panel.infoNameRow->setVisible(single);

    // The tag editor, then the rating it worked out.
    panel.infoTagEditor->prepareInfoTagEditorIncludingRating(_infoMovieRepresentations, true);
    prepareInfoRating();
    panel.infoCoverImageWell->setChangeMark(0);
    panel.infoPreviewImageWell->setChangeMark(0);

    if (!single) {
        panel.infoBatchRenameList->reloadData();
        if (count >= 2)
            panel.infoBatchRenameList->scrollToTop();
    }
    if (chapter == 0)
        panel.infoTagEditor->focusPropertyList();
    else if (single && !automatic)
        panel.infoNameField->setFocus();
    else
        panel.setFocus();
    if (!panel.centred) {
        panel.centred = true;
        centerOnce(&panel);
    }
    panel.raise();
}

void PMMainController::prepareInfoRating()
{
    if (!_infoPanel)
        return;
    PMInfoPanel& panel = *_infoPanel;
    // The tag editor worked the rating out with the records.
    const PMInfoRatingState& state = panel.infoTagEditor->editor().ratingState();
    panel.infoRatingSelector->setRating(Value(qint64(state.rating)));
    panel.infoRatingSwitch->setChecked(state.switchOn);
    panel.infoRatingSwitch->setEnabled(state.switchEnabled);
    panel.infoRatingSwitch->setHidden(state.switchHidden);
    if (QLabel* label = panel.findChild<QLabel*>(QStringLiteral("infoRatingLabel")))
        label->setVisible(state.switchHidden);
    _infoRatingTouched = false;
}

// ---- Actions of the controls

void PMMainController::infoChangeImage(QObject* sender)
{
    auto* well = qobject_cast<PMInfoImageWell*>(sender);
    if (!_infoPanel || !well)
        return;
    const ImagePtr image = well->image();
    if (!image) {
        well->setChangeMark(2);
        well->update();
        return;
    }
    well->setChangeMark(1);
    // The movie's own picture put back where it belongs is no change.
    const bool cover = well == _infoPanel->infoCoverImageWell;
    QPointer<PMInfoImageWell> guarded = well;
    QTimer::singleShot(0, this, [this, guarded, image, cover] {
        PMMovieRepresentationPrototype* movie = singleMovie(_infoMovieRepresentations);
        if (!guarded || !movie || guarded->image() != image)
            return;
        if (comesFromFile(image, cover ? movie->coverImageBasePath() : movie->posterImageBasePath()))
            guarded->setChangeMark(0);
    });
    well->update();
}

void PMMainController::infoChangeApplication(QObject*)
{
    if (_infoPanel)
        _infoPanel->applicationSelectorChangeMark = 1;
}

void PMMainController::infoChangeBatchRenameAction(QObject*)
{
    if (!_infoPanel)
        return;
    PMInfoPanel& panel = *_infoPanel;
    const int tag = panel.infoBatchRenameActionSelector->currentData().toInt();
    defaults().setInteger(tag, prefs::keys::BatchRenameAction4521);
    panel.infoBatchRenameOptionsTabView->setCurrentIndex(tag);
    if (!namesAreAutomatic())
        panel.infoBatchRenameSwitch->setChecked(true);
    readInfoBatchRenameFields();
}

void PMMainController::readInfoBatchRenameFields()
{
    if (!_infoPanel)
        return;
    const PMInfoPanel& p = *_infoPanel;
    BatchRenameFields& f = _infoBatchRenameFields;
    f.mode = p.infoBatchRenameActionSelector->currentData().toInt();
    f.enabled = p.infoBatchRenameSwitch->isChecked();
    f.findText = p.infoBatchRenameFFindField->text();
    f.replacementText = p.infoBatchRenameFReplaceField->text();
    f.regularExpression = p.infoBatchRenameFRegExSwitch->isChecked();
    f.ignoreCase = p.infoBatchRenameFIgnoreCaseSwitch->isChecked();
    f.prefix = p.infoBatchRenameAPrefixField->text();
    f.suffix = p.infoBatchRenameASuffixField->text();
    f.composeText = p.infoBatchRenameCComposeField->text();
    f.numberingPrefix = p.infoBatchRenameNPrefixField->text();
    f.numberingSuffix = p.infoBatchRenameNSuffixField->text();
    f.groupIdentifier = p.infoBatchRenameNIdentifierField->text();
    f.groupIdentifierShowsPlaceholder = !p.infoBatchRenameNIdentifierField->placeholderText().isEmpty();
    f.startIndex = std::max(0, p.infoBatchRenameNStartSelector->currentIndex());
    f.incrementIndex = std::max(0, p.infoBatchRenameNIncrementSelector->currentIndex());
    f.digitsIndex = std::max(0, p.infoBatchRenameNDigitsSelector->currentIndex());
    updateBatchRenameStatus();
    showInfoBatchRenameResults();
}

void PMMainController::showInfoBatchRenameResults()
{
    if (!_infoPanel)
        return;
    PMInfoPanel& p = *_infoPanel;
    p.infoBatchRenameStatusField->setText(_infoBatchRenameStatus);
    // A find pattern that is no valid expression says so in its colour.
    p.infoBatchRenameFFindField->setStyleSheet(_infoBatchRenameFindFieldStatus < 0 ? QStringLiteral("color: #c02020;") : QString());
    p.infoBatchRenameList->reloadData();
}

void PMMainController::cleanUpCurrentEditorForControls(const QList<QWidget*>& controls)
{
    for (QWidget* control : controls) {
        if (auto* table = qobject_cast<PMAutoCompleteTableView*>(control)) {
            if (table->isEditing()) {
                table->commitEditing();
                return;
            }
        } else if (control && control->hasFocus()) {
            // A field keeps its text; losing and regaining the focus ends any input method.
            QWidget* window = control->window();
            window->setFocus();
            control->setFocus();
            return;
        }
    }
}

// ---- Applying

void PMMainController::absorbInfo()
{
    if (!_infoPanel || !_infoMovieRepresentations)
        return;
    PMInfoPanel& panel = *_infoPanel;
    const bool automatic = namesAreAutomatic();
    const bool organize = !defaults().boolForKey(prefs::keys::DoNotOrganizeLibraryFolder);

    // 1. An edit in progress in either table.
    panel.infoTagEditor->cleanUpCurrentEditor();
    cleanUpCurrentEditorForControls({panel.infoNameField});

    // 2. Tags, notes and the rating. A rating the user changed is written, none included
    // (as 0); one left alone stays as each movie has it.
    std::optional<long long> rating;
    if (_infoRatingTouched && panel.infoRatingSwitch->isChecked())
        rating = std::llround(panel.infoRatingSelector->rating().toDouble());
    panel.infoTagEditor->absorbInfo(rating);

    if (infoShowsRenamingView()) {
        // 3. The batch rename.
        readInfoBatchRenameFields();
        if (!automatic && panel.infoBatchRenameSwitch->isChecked() && updateBatchRenameNamesAndPerformRenaming(false, nullptr) > 0) {
            bool rename = true;
            // Asked only while the renaming controls are out of sight.
            if (_infoSwitchedAwayFromRenaming && panel.infoChapterSelector->currentIndex() != 1) {
                platform::Alert alert;
                // Over the panel, so that the keys go back to the panel and then to the
                // library window once both are gone.
                alert.window = _infoPanel;
                alert.messageText = localized("Rename?");
                // clang-format off
                alert.informativeText = localized("You had checked \"Batch rename...\", but you have switched away from the renaming controls since. Do you still want to rename those movies?\n\nTag and property changes will be applied either way.");
                // clang-format on
                alert.buttons = {localized("Rename"), localized("Cancel")};
                rename = platform::runAlert(alert).button == 0;
            }
            if (rename) {
                for (const auto& [key, field] : {std::pair{QStringLiteral("Batch Rename Sequence Prefix"), panel.infoBatchRenameNPrefixField},
                                                 std::pair{QStringLiteral("Batch Rename Sequence Suffix"), panel.infoBatchRenameNSuffixField}})
                    if (!defaults().objectForKey(key).isNull())
                        defaults().setObject(Value(field->text()), key);
                const ArrayPtr conflicts = organize ? Array::make() : nullptr;
                updateBatchRenameNamesAndPerformRenaming(true, conflicts);
                _infoDecodedMetaReferenceCache.clear();
                _infoBatchRenamePseudoSeriesValid = false;
                if (organize) {
                    // The new names are in the index before any file takes one: stopped
                    // half-way, the program comes back with every new name, the renamed
                    // files are found by their bookmarks and the others follow their names
                    // at the next organising, instead of going back to the names forgotten.
                    saveLibrary();
                    // Every file to its new name; a name another movie holds gets the next
                    // free one, and the holder follows once it is renamed itself.
                    FileLocationsRequest request;
                    request.items = nonProxyInfoMovieRepresentations();
                    request.organize = true;
                    updateFileLocations(request);
                    if (!conflicts->isEmpty()) {
                        FileLocationsRequest again;
                        again.items = conflicts;
                        again.organize = true;
                        updateFileLocations(again);
                    }
                    // And where the files are now.
                    saveLibrary();
                }
                updateWindowTitles();
                updateStatusFields();
            }
        }
    } else if (PMMovieRepresentationPrototype* movie = singleMovie(_infoMovieRepresentations)) {
        // 4. The name, through the organiser: the file takes a free name of at most 255
        // bytes and never replaces another file. Only a name the user changed: one shown
        // with a blank at either end is no request to trim it.
        const bool typed = panel.infoNameField->text() != panel.shownName;
        const QString name = cleanTypedName(panel.infoNameField->text());
        if (!automatic && typed && !name.isEmpty() && name != movie->displayName()) {
            movie->setDisplayName(name);
            if (organize) {
                FileLocationsRequest request;
                request.items = Array::make({movie->nonProxySelf()});
                request.organize = true;
                updateFileLocations(request);
            }
            updateWindowTitles();
            updateStatusFields();
        }

        // 5. Pictures.
        PMInfoImageWell* coverWell = panel.infoCoverImageWell;
        PMInfoImageWell* previewWell = panel.infoPreviewImageWell;
        const int coverMark = coverWell->changeMark(), previewMark = previewWell->changeMark();
        if (coverMark != 0 || previewMark != 0) {
            const ImagePtr cover = coverWell->image(), preview = previewWell->image();
            if (coverMark != 0 && previewMark == 0) {
                movie->setCoverImage(cover);
            } else if (previewMark != 0 && coverMark == 0) {
                movie->setPosterImage(preview);
            } else if (!cover) {
                movie->setPosterImage(preview);
                movie->setCoverImage(nullptr);
            } else {
                const bool previewFromCover = comesFromFile(preview, movie->coverImageBasePath());
                const bool coverFromPreview = comesFromFile(cover, movie->posterImageBasePath());
                if (previewFromCover && coverFromPreview) {
                    // An exchange: both pictures are held in memory before either file is
                    // written, so neither write reads a file the other has replaced.
                    const ImagePtr newCover = detachedFromFile(cover), newPreview = detachedFromFile(preview);
                    movie->setCoverImage(newCover);
                    movie->setPosterImage(newPreview);
                } else if (previewFromCover) {
                    movie->setPosterImage(preview);
                    movie->setCoverImage(cover);
                } else {
                    movie->setCoverImage(cover);
                    movie->setPosterImage(preview);
                }
            }
            if (coverWell->image() && !previewWell->image())
                movie->updateThumbnailSizeDescriptionWithImage(coverWell->image());
            auto& refresh = PMMovieRepresentationServices::shared().updatePreviewForMovieRepresentation;
            if (!refresh || !refresh(*movie))
                movie->uncacheCoverImageAndPosterImage();
        }

        // 6. The application.
        if (panel.applicationSelectorChangeMark != 0) {
            const QString chosen = panel.infoApplicationSelector->currentData().toString();
            if (panel.infoApplicationSelector->currentIndex() <= 0)
                movie->setApplicationPath(QString());
            else if (chosen != movie->applicationPath())
                movie->setApplicationPath(chosen);
        }
    }

    // 7. The panel lets go of its movies and records.
    panel.infoTagEditor->releaseInfoTagEditorState();
    _infoMovieRepresentations = nullptr;
    _nonProxyInfoMovieRepresentations = nullptr;
    _infoBatchRenameNewNames.clear();
    updateLibrary();
}

// ---- Stepping and closing

void PMMainController::infoStep(QObject* sender)
{
    PMMovieRepresentationPrototype* current = singleMovie(_infoMovieRepresentations);
    if (!_infoPanel || !current || infoShowsRenamingView() || !_infoMovieRepresentationsPool || _infoMovieRepresentationsPool->count() < 2) {
        platform::beep();
        return;
    }
    const ArrayPtr pool = _infoMovieRepresentationsPool;
    const qsizetype n = pool->count();
    const QString id = current->uniqueLibraryID();
    qsizetype index = -1;
    for (qsizetype i = 0; i < n && index < 0; ++i)
        if (PMMovieRepresentationPrototype* m = PMMovie(pool->at(i)); m && m->uniqueLibraryID() == id)
            index = i;
    const bool back = sender && sender == _infoPanel->infoPreviousButton;
    const qsizetype target = index < 0 ? 0 : (back ? (index + n - 1) % n : (index + 1) % n);
    const Value next = pool->at(target);
    if (PMMovie(next)->uniqueLibraryID() == id) {
        platform::beep();
        return;
    }
    absorbInfo();
    saveLibrarySoon();
    prepareInfoWithChapter(_infoPanel->infoChapterSelector->currentIndex(), Array::make({next}), pool, false);
}

namespace {

// The window under the panel takes the keys back, with the control that had them: after an
// alert over the panel the window manager may hand the focus to no window of ours.
void hideInfoPanel(QDialog& panel)
{
    panel.hide();
    if (QWidget* owner = panel.parentWidget(); owner && owner->isVisible())
        owner->window()->activateWindow();
}

} // namespace

void PMMainController::infoOK(QObject*)
{
    if (!_infoPanel)
        return;
    absorbInfo();
    hideInfoPanel(*_infoPanel);
    _infoPanel->setResult(QDialog::Accepted);
    _infoMovieRepresentationsPool = nullptr;
    _infoDecodedMetaReferenceCache.clear();
    _infoBatchRenamePseudoSeriesByID.clear();
    _infoBatchRenamePseudoSeriesValid = false;
    // The replacement templates parsed while the panel was open are not needed any more.
    PMERETemplateFlushCache();
    saveLibrarySoon();
}

void PMMainController::infoCancel(QObject*)
{
    if (!_infoPanel)
        return;
    // Renames, deletions and additions made in the tag editor are forgotten too.
    _infoPanel->infoTagEditor->infoCancel();
    hideInfoPanel(*_infoPanel);
    _infoPanel->setResult(QDialog::Rejected);
    _infoMovieRepresentationsPool = nullptr;
    _infoMovieRepresentations = nullptr;
    _nonProxyInfoMovieRepresentations = nullptr;
    _infoBatchRenameNewNames.clear();
    _infoDecodedMetaReferenceCache.clear();
    _infoBatchRenamePseudoSeriesByID.clear();
    _infoBatchRenamePseudoSeriesValid = false;
    _infoPanel->infoCoverImageWell->setImage(nullptr);
    _infoPanel->infoPreviewImageWell->setImage(nullptr);
    PMERETemplateFlushCache();
}

void PMMainController::installInfoPanelCommands()
{
    _actions.insert(QStringLiteral("showMovieInfo"), [this](QObject* sender) { showMovieInfo(sender); });
}
