#include "main_window.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The installed desktop entry and icon go by this name: it lets a desktop
    // match the window to its menu entry, and gives the window its icon.
    const QString appId = QStringLiteral("io.github.pricelookup.pricelookup");
    QGuiApplication::setDesktopFileName(appId);
    QApplication::setWindowIcon(QIcon::fromTheme(appId));
    pricelookup::MainWindow window;
    if (!window.Loaded())
        return 1;
    window.ShowCentred();
    return app.exec();
}
