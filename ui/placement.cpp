#include "placement.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace pricelookup {

void CentreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    // A top-level window's position is its frame's.
    window->move(frame.topLeft());
}

namespace {

// Centres the window once more when it is first exposed: by then the window
// manager has framed it, and the frame's size is known. It goes with the
// first exposure, so a window the user moves later stays where it was put.
class CentreWhenFramed : public QObject {
public:
    explicit CentreWhenFramed(QWidget* window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose) {
            const QWindow* handle = window_->windowHandle();
            if (watched == handle && handle->isExposed()) {
                CentreOnScreen(window_);
                deleteLater();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* window_;
};

} // namespace

void ShowCentredWithFrame(QWidget* window) {
    CentreOnScreen(window);
    window->show();
    if (QWindow* handle = window->windowHandle())
        handle->installEventFilter(new CentreWhenFramed(window));
}

bool WaitUntilExposed(QWidget* window) {
    QElapsedTimer waited;
    waited.start();
    while (!(window->windowHandle() && window->windowHandle()->isExposed()) &&
           waited.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    return window->windowHandle() && window->windowHandle()->isExposed();
}

} // namespace pricelookup
