#include "app/principal.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillharbor"));
    QApplication::setOrganizationName(QStringLiteral("Quillharbor"));
    // Task bars match the windows with the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("quillharbor"));
    // Only the main window's close ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    principal::Main();
    return QApplication::exec();
}
