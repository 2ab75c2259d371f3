#include "wait_window.h"

#include "layout.h"
#include "placement.h"
#include "texts.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QWindow>

#include <algorithm>

namespace pricelookup {

WaitWindow::WaitWindow()
    // A close button and nothing else: without one of the button hints, Qt
    // lets the window manager offer every function, minimise and maximise
    // included. The fixed size keeps it from being resized.
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      label_(new QLabel(texts::WaitLabel(), this)), bar_(new QProgressBar(this)) {
    setObjectName(QStringLiteral("frmWait"));
    setWindowTitle(texts::WaitTitle());
    setFixedSize(Twips(4680), Twips(1335));
    // Centred before AskForNoMinimiseButton makes the native window: some
    // window managers place it only where it was made.
    CentreOnScreen(this);
    AskForNoMinimiseButton();

    label_->setObjectName(QStringLiteral("Label1"));
    label_->setGeometry(TwipsRect(435, 330, 3825, 255));
    label_->setAlignment(Qt::AlignCenter);

    bar_->setObjectName(QStringLiteral("ProgressBar1"));
    bar_->setGeometry(TwipsRect(150, 885, 4410, 225));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setFocusPolicy(Qt::NoFocus);
    label_->setBuddy(bar_);
    bar_->setAccessibleName(texts::WaitLabel());
}

void WaitWindow::AskForNoMinimiseButton() {
    // Some window managers (Openbox) give every tool window a minimise button,
    // whatever its hints, and leave it off only toolbars torn off from a main
    // window. On X11 the window asks to be one of those first, with the tool
    // window's type after it for window managers that do not know the type.
    // The window system reads the type when the flags are set.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    winId();
    QWindow* handle = windowHandle();
    if (!handle)
        return;
    constexpr int kToolbarType = 0x08; // the X11 platform's own number for it
    handle->setProperty("_q_xcb_wm_window_type", kToolbarType);
    const Qt::WindowFlags flags = handle->flags();
    handle->setFlags(flags & ~Qt::WindowCloseButtonHint);
    handle->setFlags(flags);
}

void WaitWindow::Start(std::uint64_t fileSize) {
    // The load holds the event loop, so the window system gets this one chance
    // to map and paint the window before the first line is read.
    ShowCentredWithFrame(this);
    WaitUntilExposed(this);
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    bar_->setValue(static_cast<int>(ProgressCount::kHeadStart));
    progress_.Start(fileSize);
    bar_->setMaximum(progress_.BarMax());
    const int barWidth = std::max(1, bar_->width());
    repaintEvery_ =
        std::max<std::uint64_t>(1, static_cast<std::uint64_t>(progress_.BarMax()) / barWidth);
    nextRepaint_ = static_cast<std::uint64_t>(bar_->value()) + repaintEvery_;
}

void WaitWindow::Repaint() {
    const int value = progress_.BarValue();
    const int before = bar_->value();
    bar_->setValue(value);
    if (value != before) {
        bar_->repaint();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    nextRepaint_ = static_cast<std::uint64_t>(value) + repaintEvery_;
}

void WaitWindow::Waiting(bool startingOver) {
    if (startingOver && bar_->value() != 0) {
        bar_->setValue(0);
        bar_->repaint();
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void WaitWindow::Finish() {
    bar_->setValue(progress_.BarValue());
    hide();
}

void WaitWindow::closeEvent(QCloseEvent* event) {
    // It goes away by itself when the load is done.
    event->ignore();
}

} // namespace pricelookup
