// The platform the program starts on when the user has chosen none.

#include "platform_choice.h"

#include <QtTest>

#include <map>
#include <string>

using namespace pricelookup;

class PlatformChoiceTest : public QObject {
    Q_OBJECT

private slots:
    void x11UnderWaylandUnlessTheUserChose_data();
    void x11UnderWaylandUnlessTheUserChose();
};

void PlatformChoiceTest::x11UnderWaylandUnlessTheUserChose_data() {
    QTest::addColumn<QString>("platform"); // "-" for unset
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("chosen"); // "-" for none
    QTest::newRow("Wayland with XWayland") << "-"
                                           << "wayland-0"
                                           << ":0"
                                           << "xcb";
    QTest::newRow("an empty choice is none") << ""
                                             << "wayland-0"
                                             << ":0"
                                             << "xcb";
    QTest::newRow("the user chose Wayland") << "wayland"
                                            << "wayland-0"
                                            << ":0"
                                            << "-";
    QTest::newRow("the user chose offscreen") << "offscreen"
                                              << "wayland-0"
                                              << ":0"
                                              << "-";
    QTest::newRow("Wayland alone") << "-"
                                   << "wayland-0"
                                   << "-"
                                   << "-";
    QTest::newRow("Wayland and an empty DISPLAY") << "-"
                                                  << "wayland-0"
                                                  << ""
                                                  << "-";
    QTest::newRow("X11 alone") << "-"
                               << "-"
                               << ":0"
                               << "-";
    QTest::newRow("neither") << "-"
                             << "-"
                             << "-"
                             << "-";
}

void PlatformChoiceTest::x11UnderWaylandUnlessTheUserChose() {
    QFETCH(QString, platform);
    QFETCH(QString, wayland);
    QFETCH(QString, display);
    QFETCH(QString, chosen);
    std::map<std::string, std::string> environment;
    const auto put = [&](const char* name, const QString& value) {
        if (value != QLatin1String("-"))
            environment[name] = value.toStdString();
    };
    put("QT_QPA_PLATFORM", platform);
    put("WAYLAND_DISPLAY", wayland);
    put("DISPLAY", display);
    const std::optional<std::string> preferred =
        PreferredPlatform([&](const char* name) -> std::optional<std::string> {
            const auto found = environment.find(name);
            if (found == environment.end())
                return std::nullopt;
            return found->second;
        });
    QCOMPARE(QString::fromStdString(preferred.value_or("-")), chosen);
}

QTEST_APPLESS_MAIN(PlatformChoiceTest)
#include "platform_choice_test.moc"
