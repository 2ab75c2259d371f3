#include "start.h"

#include "main_window.h"

#include <QApplication>
#include <QIcon>

namespace pricelookup {

std::unique_ptr<MainWindow> OpenPriceLookup() {
    // It lets a desktop match the window to its menu entry, and gives the
    // window its icon.
    const QString appId = QLatin1String(kAppId);
    QGuiApplication::setDesktopFileName(appId);
    QApplication::setWindowIcon(QIcon::fromTheme(appId));
    auto window = std::make_unique<MainWindow>();
    if (!window->Loaded())
        return nullptr;
    window->ShowCentred();
    return window;
}

int RunPriceLookup(QApplication& app) {
    const std::unique_ptr<MainWindow> window = OpenPriceLookup();
    if (!window)
        return 1;
    return app.exec();
}

} // namespace pricelookup
