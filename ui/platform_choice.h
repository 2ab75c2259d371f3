#pragma once

#include <functional>
#include <optional>
#include <string>

namespace pricelookup {

// Reads an environment variable: its value, or nothing when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The toolkit platform the program starts on when the user has chosen none
// (QT_QPA_PLATFORM unset or empty): X11 ("xcb") in a session that offers both
// Wayland and X11 (WAYLAND_DISPLAY and DISPLAY set), since a Wayland client
// can neither place its windows nor ask for a tool window's frame, and an X11
// client under XWayland can. Nothing otherwise: the toolkit chooses.
std::optional<std::string> PreferredPlatform(const EnvironmentLookup& environment);

// Sets QT_QPA_PLATFORM to the preferred platform, if any, in this process's
// environment; to be called before the application is made.
void PreferX11UnderWayland();

} // namespace pricelookup
