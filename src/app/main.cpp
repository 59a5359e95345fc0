// Pellis: a library of movies for one person.
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

#include <clocale>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellis"));
    QApplication::setOrganizationDomain(QStringLiteral("tolvane.com"));
    QApplication::setDesktopFileName(QStringLiteral("com.tolvane.Pellis"));
    // Stored numbers are written in the C locale whatever the user's locale is.
    std::setlocale(LC_NUMERIC, "C");

    // Until the library window exists, start-up shows an empty main window.
    QWidget window;
    window.setWindowTitle(QStringLiteral("Pellis"));
    window.resize(1024, 640);
    window.show();
    return app.exec();
}
