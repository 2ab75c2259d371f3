#include "placement.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace pricelookup {

namespace {

void Centre(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    // A top-level window's position is its frame's.
    window->move(frame.topLeft());
}

} // namespace

void ShowCentredWithFrame(QWidget* window) {
    Centre(window);
    window->show();
    QElapsedTimer waited;
    waited.start();
    while (!(window->windowHandle() && window->windowHandle()->isExposed()) &&
           waited.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    Centre(window);
}

} // namespace pricelookup
