#pragma once

class QWidget;

namespace pricelookup {

// Moves a top-level window to the centre of its screen's available area, frame
// and all, as far as the frame is known yet. Some X11 window managers
// (Weston's) take a window's position only from where its native window was
// made: a window made early must be centred first.
void CentreOnScreen(QWidget* window);

// Shows a top-level window centred on its screen with its frame: the window
// manager adds the frame only when it maps the window, so the window is
// centred on its own size first and placed again when it is first exposed.
// It returns at once: the event loop does the rest.
void ShowCentredWithFrame(QWidget* window);

// Lets the window system map and paint a window while the caller holds the
// event loop (the load), for at most a second; user input waits meanwhile.
// Whether the window is exposed.
bool WaitUntilExposed(QWidget* window);

} // namespace pricelookup
