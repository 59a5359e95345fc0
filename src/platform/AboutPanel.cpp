#include "platform/AboutPanel.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QPointer>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QTextDocument>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QTextBrowser>
#include <QtWidgets/QVBoxLayout>

#include <cmath>

namespace platform {

namespace {
QPointer<QDialog> gPanel;
}

QDialog* orderFrontStandardAboutPanel(const AboutPanelOptions& options)
{
    if (gPanel) {
        gPanel->show();
        gPanel->raise();
        gPanel->activateWindow();
        return gPanel;
    }
    const QString name = options.applicationName.isEmpty() ? QCoreApplication::applicationName() : options.applicationName;
    const QString version = options.version.isEmpty() ? QCoreApplication::applicationVersion() : options.version;
    auto* panel = new QDialog(nullptr, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    panel->setObjectName(QStringLiteral("PMStandardAboutPanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowTitle(QCoreApplication::translate("AboutPanel", "About %1").arg(name));

    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(6);
    auto* icon = new QLabel(panel);
    const QIcon image = options.icon.isNull() ? QGuiApplication::windowIcon() : options.icon;
    icon->setPixmap(image.pixmap(QSize(96, 96)));
    icon->setAlignment(Qt::AlignHCenter);
    layout->addWidget(icon);
    auto* title = new QLabel(name, panel);
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    title->setFont(big);
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);
    if (!version.isEmpty()) {
        auto* versionLabel = new QLabel(QCoreApplication::translate("AboutPanel", "Version %1").arg(version), panel);
        versionLabel->setAlignment(Qt::AlignHCenter);
        versionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(versionLabel);
    }
    if (options.credits) {
        auto* credits = new QTextBrowser(panel);
        credits->setObjectName(QStringLiteral("credits"));
        credits->setDocument(options.credits->clone(credits));
        credits->setOpenLinks(false);
        credits->setFrameShape(QFrame::NoFrame);
        credits->viewport()->setAutoFillBackground(false);
        // As wide as a few words of credits, as high as they are up to a limit, then scrolled.
        constexpr int width = 380;
        credits->document()->setTextWidth(width - 8);
        credits->setFixedSize(width, std::min(360, int(std::ceil(credits->document()->size().height())) + 8));
        credits->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        layout->addWidget(credits);
    }
    if (!options.copyright.isEmpty()) {
        auto* copyright = new QLabel(options.copyright, panel);
        copyright->setObjectName(QStringLiteral("copyright"));
        QFont small = copyright->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        copyright->setFont(small);
        copyright->setAlignment(Qt::AlignHCenter);
        copyright->setWordWrap(true);
        layout->addWidget(copyright);
    }
    layout->setSizeConstraint(QLayout::SetFixedSize);
    gPanel = panel;
    panel->show();
    panel->raise();
    panel->activateWindow();
    return panel;
}

} // namespace platform
