#pragma once

class QWidget;

namespace pricelookup {

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
