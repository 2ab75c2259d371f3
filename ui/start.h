#pragma once

#include <memory>

class QApplication;

namespace pricelookup {

class MainWindow;

// The desktop entry and icon go by this name.
inline constexpr const char* kAppId = "io.github.pricelookup.pricelookup";

// The program's start as users run it: names the application after its
// desktop entry, gives it its icon, loads the price file from the current
// folder behind the progress window and shows the main window centred, with
// the part-code list focused. Null when the load failed (it was reported).
// No event loop runs in here after the window shows: everything the user does
// waits for the caller's QApplication::exec().
std::unique_ptr<MainWindow> OpenPriceLookup();

// OpenPriceLookup, then the event loop: the program's exit status.
int RunPriceLookup(QApplication& app);

} // namespace pricelookup
