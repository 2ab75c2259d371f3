#include "platform_choice.h"

#include <QByteArray>
#include <QtGlobal>

namespace pricelookup {

namespace {

bool Set(const EnvironmentLookup& environment, const char* name) {
    const std::optional<std::string> value = environment(name);
    return value && !value->empty();
}

} // namespace

std::optional<std::string> PreferredPlatform(const EnvironmentLookup& environment) {
    if (Set(environment, "QT_QPA_PLATFORM"))
        return std::nullopt;
    if (Set(environment, "WAYLAND_DISPLAY") && Set(environment, "DISPLAY"))
        return "xcb";
    return std::nullopt;
}

void PreferX11UnderWayland() {
    const std::optional<std::string> platform =
        PreferredPlatform([](const char* name) -> std::optional<std::string> {
            if (!qEnvironmentVariableIsSet(name))
                return std::nullopt;
            return qgetenv(name).toStdString();
        });
    if (platform)
        qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(*platform));
}

} // namespace pricelookup
