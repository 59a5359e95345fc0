// The index image window: the frame sheet of one movie record with the fields that lay it
// out (frames, columns, frame width, spacing, border), the border colour, the shadow and
// time-badge switches, and saving as one picture or (with Alt held) frame by frame. A click
// on a frame opens that frame's menu; a press that turns into a drag drags the sheet out.
#pragma once

#include "ui/images/PMDragSourceImageView.h"
#include "images/PMIndexImageWrapper.h"
#include "platform/Value.h"

#include <QtCore/QTimer>
#include <QtGui/QColor>
#include <QtWidgets/QPushButton>

#include <memory>

class PMMovieRepresentationPrototype;
class QCheckBox;
class QLineEdit;

// A button showing a colour that opens the colour panel; the chosen colour is its value.
class PMColorWell : public QPushButton {
    Q_OBJECT
public:
    explicit PMColorWell(QWidget* parent = nullptr);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
Q_SIGNALS:
    void colorChosen();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color = Qt::white;
};

// The value a typed number becomes in a field whose range starts at the lower bound: 1 for
// 0 where negative values are allowed, at most 1000, at least the lower bound.
long long PMIndexImageValidatedFieldValue(long long typed, long long lowerBound);

// Where the window goes for an image: its frame (top-left origin, the frame's own margins
// included in `chrome`) fitted into the screen area, the image scaled down proportionally
// where it does not fit, centred across and in the upper part of the screen.
QRect PMIndexImageWindowFrame(QSize chrome, QSizeF imageSize, const QRect& screenArea, int minimumContentWidth);

class PMIndexImageView : public PMDragSourceImageView, public PMIndexImageViewSettings {
    Q_OBJECT
public:
    explicit PMIndexImageView(QWidget* parent = nullptr);
    ~PMIndexImageView() override;
    QString className() const override { return QStringLiteral("PMIndexImageView"); }

    // Registers the class's defaults (its JPEG factor 0.95). Idempotent.
    static void load();
    // The window of the interface "IndexImage": the view with its fields, its owner (the
    // main controller) keeps the view as `indexImageWell`.
    static QWidget* buildWindow(QObject* owner);

    // Shows the settings in the controls.
    void awakeFromNib();
    void setImage(platform::ImagePtr image) override;
    // Shows the record (its own proxy is kept); the frames of the record shown before are
    // dropped. Rebuilds in every case.
    void setMovieRepresentation(PMMovieRepresentationPrototype* record);
    PMMovieRepresentationPrototype* movieRepresentation() const;
    QString containerID() const { return _containerID; }
    void setContainerID(const QString& containerID) { _containerID = containerID; }

    using QWidget::update;
    // Rebuilds the sheet now (the pending delayed rebuild is dropped).
    void update(QObject* sender);
    // Stores the settings and schedules the rebuild by priority: 0 colour, shadows and
    // time badges (at once when idle), 1 layout, 2 the number of frames (a second after the
    // last change; a running grab is stopped).
    void absorbSettings(const platform::DictionaryPtr& settings, unsigned priority);
    // The colour well or a switch changed.
    void changeSetting(QObject* sender);
    // One of the five fields was edited: the value is checked and stored.
    void controlTextDidChange(QLineEdit* field);
    double JPEGCompressionFactorForImage(const platform::ImagePtr& image) const override;
    void save(QObject* sender) override;
    // Saving with the modifiers of the event that asked (Alt: the frames one by one).
    void saveWithModifiers(QObject* sender, Qt::KeyboardModifiers modifiers);
    // The menu of the frame at the point, or nothing.
    std::unique_ptr<QMenu> individualWrapperMenuForEvent(QPoint position);
    std::unique_ptr<QMenu> menuForEvent(QPoint position) override;
    void windowWillClose();
    void invalidateHighlightRect();

    // The frame at the point of the view (only frames with an image), its place counted
    // from 1 and its cell in the view; nothing on a gap or outside the sheet.
    PMIndexImageWrapperPtr wrapperAtPoint(QPoint position, int* getPosition = nullptr, QRectF* getCell = nullptr) const;
    QRectF highlightRect() const { return _highlightRect; }
    bool isUpdatePending() const { return m_updateTimer.isActive(); }
    // How many rebuilds ran (tests).
    int updateCount() const { return m_updateCount; }

    // Outlets.
    QLineEdit* _numberOfFramesField = nullptr;
    QLineEdit* _numberOfColumnsField = nullptr;
    QLineEdit* _singleImageWidthField = nullptr;
    QLineEdit* _spacingField = nullptr;
    QLineEdit* _borderField = nullptr;
    PMColorWell* _borderColorWell = nullptr;
    QCheckBox* _dropShadowSwitch = nullptr;
    QCheckBox* _timestampSwitch = nullptr;
    QPushButton* _saveButton = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void pressReleasedWithoutDrag(QPoint position, qint64 heldMs) override;

private:
    void scheduleUpdate();
    void fitWindowToImage(const platform::ImagePtr& image);
    void saveFrames(const PMIndexImageWrappers& frames);
    QString displayName() const;

    QRectF _highlightRect;
    bool _disableDrawing = false;
    std::shared_ptr<PMMovieRepresentationPrototype> _movieRepresentation;
    QString _containerID;
    QTimer m_updateTimer;
    quint64 m_rebuildSerial = 0;
    int m_updateCount = 0;
};
