#include "start.h"

#include "main_window.h"

#include <QApplication>
#include <QIcon>

#include <system_error>
#include <thread>

#if defined(PRICELOOKUP_HAVE_FONTCONFIG)
#include <fontconfig/fontconfig.h>
#endif

namespace pricelookup {

namespace {

// Reading the system's font configuration is the longest step before the
// window can measure its first caption: it is read on a thread of its own
// while the application starts, and waited for before the window is made.
class FontConfigReader {
public:
    FontConfigReader() {
#if defined(PRICELOOKUP_HAVE_FONTCONFIG)
        try {
            thread_ = std::thread([] { FcInit(); });
        } catch (const std::system_error&) {
            // No thread: the toolkit reads it when it first needs it.
        }
#endif
    }
    ~FontConfigReader() {
        Wait();
    }
    FontConfigReader(const FontConfigReader&) = delete;
    FontConfigReader& operator=(const FontConfigReader&) = delete;

    void Wait() {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
};

std::unique_ptr<MainWindow> Open(FontConfigReader* fonts) {
    // It lets a desktop match the window to its menu entry, and gives the
    // window its icon.
    const QString appId = QLatin1String(kAppId);
    QGuiApplication::setDesktopFileName(appId);
    // Windows has no icon themes: there the program's own icon resource is
    // the windows' icon.
    const QIcon icon = QIcon::fromTheme(appId);
    if (!icon.isNull())
        QApplication::setWindowIcon(icon);
    if (fonts)
        fonts->Wait();
    auto window = std::make_unique<MainWindow>();
    if (!window->Loaded())
        return nullptr;
    window->ShowCentred();
    return window;
}

} // namespace

std::unique_ptr<MainWindow> OpenPriceLookup() {
    return Open(nullptr);
}

int RunPriceLookup(int& argc, char** argv, const std::function<void(MainWindow&)>& shown) {
    FontConfigReader fonts;
    QApplication app(argc, argv);
    const std::unique_ptr<MainWindow> window = Open(&fonts);
    if (!window)
        return 1;
    if (shown)
        shown(*window);
    return QApplication::exec();
}

} // namespace pricelookup
