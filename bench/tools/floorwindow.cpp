// The floor of the on-screen measures: the least a Qt window pays for what they ask of the
// program (a keystroke into a search field, a context menu and a choice from its submenu, a
// row chosen in a sidebar, a menu of the menu bar, a settings dialog, Page Down over an icon
// view of 20,000 items). Once shown it prints where its parts are, one "<part> <x> <y>" line
// each (global coordinates), then "ready".
#include <QtCore/QTimer>
#include <QtGui/QAction>
#include <QtGui/QKeySequence>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QFormLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QVBoxLayout>

#include <cstdio>

namespace {

void report(const char* part, QWidget* widget, QPoint local)
{
    const QPoint p = widget->mapToGlobal(local);
    std::printf("%s %d %d\n", part, p.x(), p.y());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Floor"));
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    auto* search = new QLineEdit;
    search->setPlaceholderText(QStringLiteral("Search"));
    auto* status = new QLabel(QStringLiteral("Nothing rated"));
    auto* top = new QHBoxLayout;
    top->addWidget(status, 1);
    top->addWidget(search);
    layout->addLayout(top);
    auto* splitter = new QSplitter;
    auto* sidebar = new QListWidget;
    for (int i = 0; i < 40; ++i)
        sidebar->addItem(QStringLiteral("Folder %1").arg(i));
    auto* grid = new QListWidget;
    grid->setViewMode(QListView::IconMode);
    grid->setUniformItemSizes(true);
    grid->setGridSize(QSize(200, 150));
    grid->setResizeMode(QListView::Adjust);
    for (int i = 0; i < 20000; ++i)
        grid->addItem(QStringLiteral("Movie %1").arg(i));
    grid->setCurrentRow(0);
    splitter->addWidget(sidebar);
    splitter->addWidget(grid);
    splitter->setSizes({300, 2000});
    layout->addWidget(splitter, 1);
    window.setCentralWidget(central);

    QObject::connect(search, &QLineEdit::textChanged, grid, [grid](const QString& text) {
        for (int i = 0; i < 200; ++i)
            grid->item(i)->setHidden(!text.isEmpty() && !grid->item(i)->text().contains(text));
    });
    QObject::connect(sidebar, &QListWidget::currentRowChanged, status, [status](int row) { status->setText(QStringLiteral("Folder %1").arg(row)); });

    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(grid, &QWidget::customContextMenuRequested, grid, [grid, status](const QPoint& at) {
        QMenu menu;
        for (const char* title : {"Play", "Open With", "Show in Folder", "Get Info", "Rename", "Move to Trash"})
            menu.addAction(QString::fromLatin1(title));
        QMenu* rating = menu.addMenu(QStringLiteral("Rating"));
        for (int stars = 0; stars <= 5; ++stars)
            QObject::connect(rating->addAction(QStringLiteral("%1 Stars").arg(stars)), &QAction::triggered, status,
                             [status, stars] { status->setText(QStringLiteral("Rated %1").arg(stars)); });
        menu.exec(grid->viewport()->mapToGlobal(at));
    });

    QMenu* file = window.menuBar()->addMenu(QStringLiteral("File"));
    QAction* preferences = file->addAction(QStringLiteral("Preferences…"));
    preferences->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    QObject::connect(preferences, &QAction::triggered, &window, [&window] {
        QDialog dialog(&window);
        dialog.setWindowTitle(QStringLiteral("Preferences"));
        auto* form = new QFormLayout(&dialog);
        for (int i = 0; i < 8; ++i)
            form->addRow(QStringLiteral("Setting %1").arg(i), new QCheckBox(QStringLiteral("On")));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        form->addRow(buttons);
        dialog.exec();
    });
    QMenu* browse = window.menuBar()->addMenu(QStringLiteral("Browse"));
    for (int i = 0; i < 30; ++i)
        browse->addAction(QStringLiteral("Folder %1").arg(i));

    window.resize(1600, 1000);
    window.show();
    QTimer::singleShot(300, &window, [&] {
        report("search", search, search->rect().center());
        report("tile", grid->viewport(), grid->visualItemRect(grid->item(0)).center());
        report("folder", sidebar->viewport(), sidebar->visualItemRect(sidebar->item(20)).center());
        report("browse", window.menuBar(), window.menuBar()->actionGeometry(browse->menuAction()).center());
        report("grid", grid->viewport(), grid->viewport()->rect().center());
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return app.exec();
}
