#pragma once

#include <functional>
#include <memory>

namespace pricelookup {

class MainWindow;

// The desktop entry and icon go by this name.
inline constexpr const char* kAppId = "io.github.pricelookup.pricelookup";

// The program's start as users run it: names the application after its
// desktop entry, gives it its icon, loads the price file from the current
// folder behind the progress window and shows the main window centred, with
// the part-code list focused. Null when the load failed (it was reported).
// No event loop runs in here after the window shows: everything the user does
// waits for the caller's QApplication::exec(). Needs a QApplication.
std::unique_ptr<MainWindow> OpenPriceLookup();

// The whole program: the application, OpenPriceLookup and the event loop;
// returns the exit status. `shown`, when given, is called once the window
// shows, before the event loop runs (the start-up benchmark times it).
int RunPriceLookup(int& argc, char** argv, const std::function<void(MainWindow&)>& shown = nullptr);

} // namespace pricelookup
