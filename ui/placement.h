#pragma once

class QWidget;

namespace pricelookup {

// Shows a top-level window centred on its screen with its frame: the window
// manager adds the frame only when it maps the window, so the window is
// centred on its own size first and placed again once the frame is known.
void ShowCentredWithFrame(QWidget* window);

} // namespace pricelookup
