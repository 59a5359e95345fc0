// One of each control of the kit in one window, light and dark. The test checks the
// pixels that carry meaning; with PELLIS_KIT_SHOTS set to a folder it also saves the two
// pictures there, to be looked at.
#include "ControlsSupport.h"

#include "platform/Appearance.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMActionButtonTextField.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMOptionalMenuButton.h"
#include "ui/kit/PMRatingView.h"
#include "ui/kit/PMSizeToFitControls.h"
#include "ui/kit/PMSmallControls.h"

#include <QtGui/QPainter>
#include <QtWidgets/QLabel>
#include <QtWidgets/QStackedWidget>
#include <QtWidgets/QVBoxLayout>

namespace {

struct Gallery : ActionWindow {
    PMRatingView* rating = nullptr;
    PMListBarView* bar = nullptr;
    PMActionButtonTextField* status = nullptr;
    PMLightGrayView* lightGray = nullptr;

    Gallery()
    {
        answers = {QStringLiteral("act"), QStringLiteral("updateStatusFields")};
        resize(640, 420);
        setAutoFillBackground(true);

        auto* menuButton = new PMSizeToFitOptionalMenuButton(QStringLiteral("Rotate"), this);
        menuButton->setAction(QStringLiteral("act"));
        menuButton->setGeometry(20, 20, 100, 28);
        setAutoresizingMask(menuButton, PMViewMaxXMargin);
        auto* context = new PMContextButton(this);
        context->setText(QStringLiteral("Context"));
        context->setFlat(true);
        context->setAction(QStringLiteral("act"));
        context->setGeometry(150, 20, 90, 28);
        context->setEmphasized(true);
        auto* aspect = new PMAspectRatioButton(this);
        aspect->setText(QStringLiteral("16:9"));
        aspect->setFlat(true);
        aspect->setGeometry(250, 20, 70, 28);
        aspect->setEmphasized(true);
        menuButton->setNextSizeToFitView(context);
        menuButton->awakeFromNib();

        bar = new PMListBarView(this);
        bar->setGeometry(20, 60, 300, 24);
        auto* add = new PMListBarButton(bar);
        add->setText(QStringLiteral("+"));
        add->setGeometry(0, 0, 30, 24);
        auto* remove = new PMListBarButton(bar);
        remove->setText(QStringLiteral("−"));
        remove->setGeometry(29, 0, 30, 24);

        auto* box = new PMOnStateViaActionSwitch(QStringLiteral("Rating"), this);
        box->setGeometry(20, 100, 80, 22);
        rating = new PMRatingView(this);
        rating->setGeometry(110, 100, 70, 22);
        rating->setOnStateSwitch(box);
        rating->setRating(platform::Value(qint64(3)));

        auto* label = new PMSizeToFitTextField(QStringLiteral("Sort by:"), this);
        label->setGeometry(20, 140, 100, 26);
        setAutoresizingMask(label, PMViewMaxXMargin);
        auto* popUp = new PMSizeToFitPopUpButton(this);
        popUp->addItems({QStringLiteral("Name"), QStringLiteral("Date Added, newest first")});
        popUp->setGeometry(130, 140, 100, 26);
        setAutoresizingMask(popUp, PMViewMaxXMargin);
        auto* fitButton = new PMSizeToFitButton(this);
        fitButton->setGeometry(240, 140, 100, 26);
        label->setNextSizeToFitView(popUp);
        popUp->setNextSizeToFitView(fitButton);
        label->setStringValue(QStringLiteral("Sort by:"));
        popUp->awakeFromNib();
        fitButton->setTitle(QStringLiteral("Apply"));
        auto* fitSwitch = new PMSizeToFitOnStateViaActionSwitch(QStringLiteral("Descending"), this);
        fitSwitch->setGeometry(360, 140, 120, 26);
        fitSwitch->awakeFromNib();

        auto* slider = new PMPreviewSizeSlider(this);
        slider->setGeometry(20, 180, 200, 24);
        slider->setValue(40);
        auto* extreme = new QLabel(this);
        extreme->setGeometry(226, 184, 16, 16);
        // A stand-in for the large-tile image: a framed square.
        QImage square(16, 16, QImage::Format_ARGB32_Premultiplied);
        square.fill(Qt::transparent);
        {
            QPainter painter(&square);
            painter.setPen(QPen(Qt::black, 2));
            painter.drawRect(QRectF(2, 2, 12, 12));
        }
        extreme->setPixmap(QPixmap::fromImage(square));
        slider->setMaximumExtremeView(extreme);

        status = new PMActionButtonTextField(this);
        status->setGeometry(20, 220, 300, 22);
        status->setStringValue(QStringLiteral("3 downloads"), QStringLiteral("act"), nullptr, QStringLiteral("Show"),
                               status->rightPointingArrowActionButtonImage(), true);
        auto* link = new PMLinkTextField(this);
        link->setGeometry(20, 250, 300, 22);
        link->setStringValue(QStringLiteral("/Movies/Holiday/Beach.mov"), QStringLiteral("/Movies/Holiday/Beach.mov"));
        auto* web = new PMLinkTextField(this);
        web->setGeometry(20, 280, 300, 22);
        web->setStringValue(QStringLiteral("example.com"), QStringLiteral("https://example.com/"));
        auto* plus = new PMActionButtonTextField(this);
        plus->setGeometry(330, 220, 150, 22);
        plus->setStringValue(QStringLiteral("Add tag"), QStringLiteral("act"), nullptr, QString(), plus->addActionButtonImage(), true);
        auto* stop = new PMActionButtonTextField(this);
        stop->setGeometry(330, 250, 150, 22);
        stop->setStringValue(QStringLiteral("Converting"), QStringLiteral("act"), nullptr, QString(), stop->stopActionButtonImage(), true);
        auto* down = new PMActionButtonTextField(this);
        down->setGeometry(330, 280, 150, 22);
        down->setStringValue(QStringLiteral("More"), QStringLiteral("act"), nullptr, QString(),
                             down->downPointingArrowActionButtonImage(), true);

        auto* clickBox = new PMClickButtonTextFieldButton(this);
        clickBox->setGeometry(20, 315, 20, 20);
        auto* clickLabel = new PMClickButtonTextField(QStringLiteral("Greyed with its box"), this);
        clickLabel->setGeometry(42, 315, 200, 20);
        clickLabel->setClickButton(clickBox);
        clickBox->setTextField(clickLabel);
        clickBox->setEnabled(false);
        auto* invisible = new PMInvisibleButtonCell(QStringLiteral("hidden when disabled"), this);
        invisible->setGeometry(260, 315, 200, 20);
        invisible->setEnabled(false);

        auto* tabs = new QStackedWidget(this);
        tabs->setGeometry(20, 380, 300, 30);
        for (const QString& page : {QStringLiteral("General page"), QStringLiteral("Tags page")})
            tabs->addWidget(new QLabel(page));
        auto* segments = new PMTabSegmentedControl(this);
        segments->setSegmentLabels({QStringLiteral("General"), QStringLiteral("Tags")});
        segments->setGeometry(20, 345, 200, 28);
        segments->setTabView(tabs);
        segments->setSelectedSegment(1);
        auto* gray = new PMGrayView(this);
        gray->setGeometry(500, 20, 120, 180);
        lightGray = new PMLightGrayView(this);
        lightGray->setGeometry(500, 220, 120, 180);
    }
};

void checkGallery(bool dark)
{
    platform::AppearanceSource::shared().setDarkForTesting(dark);
    QApplication::setPalette(dark ? PMDarkPalette() : QApplication::style()->standardPalette());
    platform::UserDefaults::standard().setInteger(1, QStringLiteral("Adjust Preview Size"));
    Gallery gallery;
    gallery.showActive();
    for (auto* slider : gallery.findChildren<PMPreviewSizeSlider*>())
        slider->updateMaximumExtremeView();
    gallery.status->actionButtonTextFieldCell()->setHovered(true); // the pointer over its button
    const QImage shot = gallery.grab().toImage();
    const qreal r = shot.devicePixelRatio();
    if (const QByteArray folder = qgetenv("PELLIS_KIT_SHOTS"); !folder.isEmpty())
        shot.save(QString::fromLocal8Bit(folder) + (dark ? QStringLiteral("/kit-dark.png") : QStringLiteral("/kit-light.png")));
    // Three gold stars, the list bar's border, the background of each appearance.
    const QPoint star = gallery.rating->mapTo(&gallery, QPoint(6, 11));
    EXPECT_EQ(shot.pixelColor(star * r).rgb(), qRgb(255, 191, 38));
    const QPoint barBorder = gallery.bar->mapTo(&gallery, QPoint(150, 0));
    EXPECT_EQ(qGray(shot.pixel(barBorder * r)), qRound((dark ? 0.25 : 0.7) * 255));
    EXPECT_EQ(qGray(shot.pixel(gallery.lightGray->mapTo(&gallery, QPoint(60, 90)) * r)), qRound((dark ? 0.14 : 0.95) * 255));
    platform::AppearanceSource::shared().setDarkForTesting(std::nullopt);
    QApplication::setPalette(QApplication::style()->standardPalette());
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Adjust Preview Size"));
}

} // namespace

TEST(ControlGallery, DrawsInLightAndDark)
{
    checkGallery(false);
    checkGallery(true);
}
