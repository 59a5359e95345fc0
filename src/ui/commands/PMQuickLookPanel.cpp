#include "ui/commands/PMQuickLookPanel.h"

#include "foundation/PMFunctions.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/ImageReading.h"
#include "platform/media/Player.h"
#include "library/model/PMMovie.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>

using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMQuickLookPanel", text);
}

QPointer<PMQuickLookPanel>& sharedPanel()
{
    static QPointer<PMQuickLookPanel> panel;
    return panel;
}

} // namespace

// The picture area: the frame or picture scaled to fit, centred on black.
class PMQuickLookPicture : public QWidget {
public:
    explicit PMQuickLookPicture(QWidget* parent) : QWidget(parent)
    {
        setMinimumSize(160, 90);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    void setImage(const QImage& image)
    {
        m_image = image;
        update();
    }
    const QImage& image() const { return m_image; }
    // Said instead of a picture (a file that cannot be read); empty for none.
    void setMessage(const QString& message)
    {
        m_message = message;
        update();
    }
    const QString& message() const { return m_message; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (m_image.isNull()) {
            if (!m_message.isEmpty()) {
                QFont font = painter.font();
                font.setPointSizeF(font.pointSizeF() * 1.3);
                painter.setFont(font);
                painter.setPen(QColor(255, 255, 255, 200));
                painter.drawText(rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap, m_message);
            }
            return;
        }
        QSizeF shown = m_image.size().toSizeF() / m_image.devicePixelRatio();
        shown.scale(size().toSizeF(), Qt::KeepAspectRatio);
        const QRectF target((width() - shown.width()) / 2, (height() - shown.height()) / 2, shown.width(), shown.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_image);
    }

private:
    QImage m_image;
    QString m_message;
};

PMQuickLookPanel* PMQuickLookPanel::sharedPreviewPanel(bool create)
{
    // A floating panel over the library window (it goes with that window).
    if (!sharedPanel() && create)
        sharedPanel() = new PMQuickLookPanel(mainController().mainWindow());
    return sharedPanel();
}

PMQuickLookPanel::PMQuickLookPanel(QWidget* parent) : QWidget(parent, parent ? Qt::Tool : Qt::Window)
{
    setObjectName(QStringLiteral("PMQuickLookPanel"));
    setWindowTitle(localized("Quick Look"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->setSpacing(6);
    m_picture = new PMQuickLookPicture(this);
    layout->addWidget(m_picture, 1);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(10, 0, 10, 0);
    m_previous = new QToolButton(this);
    m_previous->setArrowType(Qt::LeftArrow);
    m_previous->setToolTip(localized("Previous"));
    m_previous->setFocusPolicy(Qt::NoFocus);
    m_next = new QToolButton(this);
    m_next->setArrowType(Qt::RightArrow);
    m_next->setToolTip(localized("Next"));
    m_next->setFocusPolicy(Qt::NoFocus);
    m_position = new QLabel(this);
    connect(m_previous, &QToolButton::clicked, this, [this] { step(-1); });
    connect(m_next, &QToolButton::clicked, this, [this] { step(1); });

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_title = new QLabel(this);
    m_title->setTextFormat(Qt::PlainText);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_facts = new QLabel(this);
    m_facts->setTextFormat(Qt::PlainText);
    m_facts->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(m_title);
    texts->addWidget(m_facts);

    bar->addWidget(m_previous);
    bar->addWidget(m_position);
    bar->addWidget(m_next);
    bar->addSpacing(8);
    bar->addLayout(texts, 1);
    layout->addLayout(bar);
    resize(640, 440);
}

PMQuickLookPanel::~PMQuickLookPanel()
{
    stopPlaying();
    if (m_controller)
        m_controller->endPreviewPanelControl(this);
}

void PMQuickLookPanel::updateController(PMQuickLookPanelController* controller)
{
    if (controller == m_controller || !controller || !controller->acceptsPreviewPanelControl(this))
        return;
    if (m_controller)
        m_controller->endPreviewPanelControl(this);
    m_controller = controller;
    m_controller->beginPreviewPanelControl(this);
    reloadData();
}

void PMQuickLookPanel::reloadData()
{
    ++m_reloadCount;
    const Value shown = m_item;
    m_count = m_controller ? std::max<qsizetype>(0, m_controller->numberOfPreviewItemsInPreviewPanel(this)) : 0;
    // The item shown stays when it is still among them; else the index holds, within range.
    qsizetype index = std::clamp<qsizetype>(m_index, 0, std::max<qsizetype>(0, m_count - 1));
    for (qsizetype i = 0; i < m_count && !shown.isNull(); ++i)
        if (m_controller->previewPanel(this, i).objectPointer() == shown.objectPointer()) {
            index = i;
            break;
        }
    m_index = index;
    showItem();
    Q_EMIT didReload();
}

void PMQuickLookPanel::setCurrentPreviewItemIndex(qsizetype index)
{
    if (m_count <= 0)
        return;
    m_index = ((index % m_count) + m_count) % m_count;
    showItem();
}

void PMQuickLookPanel::step(int delta)
{
    setCurrentPreviewItemIndex(m_index + delta);
}

QString PMQuickLookPanel::titleText() const
{
    return m_title->text();
}

QString PMQuickLookPanel::messageText() const
{
    return m_picture->message();
}

void PMQuickLookPanel::stopPlaying()
{
    if (!m_player)
        return;
    m_player->disconnect(this);
    m_player->pause();
    m_player.reset();
}

void PMQuickLookPanel::showItem()
{
    const Value item = m_controller && m_count > 0 ? m_controller->previewPanel(this, m_index) : Value();
    const bool same = !item.isNull() && item.objectPointer() == m_item.objectPointer();
    m_item = item;
    const bool several = m_count > 1;
    m_previous->setVisible(several);
    m_next->setVisible(several);
    m_position->setVisible(several);
    m_position->setText(QStringLiteral("%1\u2006/\u2006%2").arg(m_index + 1).arg(m_count));
    if (same) {
        Q_EMIT didShowItem();
        return;
    }
    stopPlaying();
    m_picture->setImage(QImage());
    m_picture->setMessage(QString());
    PMMovieRepresentationPrototype* record = PMMovie(item);
    if (!record) {
        m_title->clear();
        m_facts->clear();
        setWindowTitle(localized("Quick Look"));
        Q_EMIT didShowItem();
        return;
    }
    const QString name = record->displayNameWithExtension(true);
    m_title->setText(name);
    setWindowTitle(name);
    QStringList facts;
    if (const long long seconds = record->duration(); seconds > 0 && !record->isConsideredStillImage())
        facts << PMDurationString(double(seconds));
    if (const QString size = record->assetSizeDescription(); !size.isEmpty())
        facts << size;
    if (const QString bytes = record->movieFileSizeDescriptionIncludingEditedSize(false); !bytes.isEmpty())
        facts << bytes;
    m_facts->setText(facts.join(QStringLiteral("  \u00B7  ")));
    m_facts->setToolTip(record->path());

    // A file that cannot be read says so, in the words the program uses for it elsewhere,
    // rather than showing black.
    const QString unreadable = localized("Pellis cannot make sense of this file.");
    if (record->isConsideredStillImage()) {
        platform::ImageReadOptions options;
        options.autoTransform = true;
        const QImage image = platform::readImageFile(record->path(), options);
        m_picture->setImage(image);
        if (image.isNull())
            m_picture->setMessage(unreadable);
    } else if (const auto asset = record->movie() ? record->movie()->asset() : nullptr; !asset) {
        m_picture->setMessage(unreadable);
    } else {
        {
            // A player of its own, silent, looping: the panel only shows.
            m_player = std::make_shared<platform::media::Player>();
            PMLogEngineMessagesOfPlayer(*m_player);
            m_player->setMuted(true);
            connect(m_player.get(), &platform::media::Player::frameChanged, this, [this] {
                if (m_player)
                    m_picture->setImage(m_player->currentFrame());
            });
            connect(m_player.get(), &platform::media::Player::statusChanged, this, [this, unreadable](platform::media::PlayerItemStatus status) {
                if (m_player && status == platform::media::PlayerItemStatus::Failed) {
                    m_picture->setImage(QImage());
                    m_picture->setMessage(unreadable);
                }
            });
            connect(m_player.get(), &platform::media::Player::didPlayToEnd, this, [this] {
                if (m_player) {
                    m_player->seekToTime(0);
                    m_player->play();
                }
            });
            m_player->replaceCurrentItemWithAsset(asset);
            m_player->play();
        }
    }
    Q_EMIT didShowItem();
}

void PMQuickLookPanel::keyPressEvent(QKeyEvent* event)
{
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    // With several items the left and right keys step through them here.
    if (plain && m_count > 1 && (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
        step(event->key() == Qt::Key_Left ? -1 : 1);
        return;
    }
    if (m_controller && m_controller->previewPanel(this, event))
        return;
    QWidget::keyPressEvent(event);
}

void PMQuickLookPanel::hideEvent(QHideEvent* event)
{
    // Nothing plays behind a closed panel, and the next opening starts at the first of its
    // items rather than where this viewing ended.
    stopPlaying();
    m_picture->setImage(QImage());
    m_item = Value();
    m_index = 0;
    QWidget::hideEvent(event);
}
