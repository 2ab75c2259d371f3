// startup_probe: the program's own start-up (RunPriceLookup, as app/main.cpp
// runs it, desktop file name and icon included), timed from the
// process start to the main window shown with every row, then ended with its
// Exit button. Run in a directory holding sorted.dat; prints on stdout:
//   shown_ms     from the process start to the window exposed and settled
//   shown_ms_stat  the same from the kernel's start time (10 ms ticks)
//   peak_kb      VmHWM when shown
//   idle_peak_kb VmHWM after half a second of the event loop, idle
//   rows         rows loaded
//   press_ns     CLOCK_REALTIME when Exit is pressed, for the caller to take
//                from the time it reaped the process
// The start is CLOCK_REALTIME in microseconds from PRICELOOKUP_LAUNCH_US, set
// by the caller just before exec (bash: ${EPOCHREALTIME/./}); without it the
// kernel's start time is used.
//
// startup_probe --prepare ROOT LINES [SHAPE]: makes or reuses
// ROOT/<LINES>[-SHAPE]/sorted.dat as the benchmarks do, and prints its
// directory and size in bytes.
#include "bench_support.h"
#include "benchgen.h"
#include "main_window.h"
#include "start.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

std::int64_t ClockNs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Field 22 of /proc/self/stat: the start in clock ticks since boot, on the
// same clock as CLOCK_BOOTTIME. -1 when it cannot be read.
std::int64_t StartBootNs() {
    std::ifstream in("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name in field 2 may hold spaces; fields 3 on follow its ')'.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        if (!(fields >> field))
            return -1;
    const long ticks = sysconf(_SC_CLK_TCK);
    return static_cast<std::int64_t>(std::strtoll(field.c_str(), nullptr, 10)) *
           (1'000'000'000 / ticks);
}

int Prepare(const char* root, const char* linesText, const char* shapeName) {
    const std::uint64_t lines = std::strtoull(linesText, nullptr, 10);
    auto shape = pricelookup::benchgen::Shape::Spread;
    if (shapeName && !pricelookup::benchgen::ParseShape(shapeName, shape)) {
        std::fprintf(stderr, "unknown shape %s\n", shapeName);
        return 2;
    }
    const auto file = pricelookup::benchgen::PreparePriceDirectory(
        root, lines, pricelookup::benchgen::kDefaultSeed, shape);
    if (!file.ok) {
        std::fprintf(stderr, "%s\n", file.error.c_str());
        return 1;
    }
    std::printf("%s %llu\n", file.directory.c_str(), static_cast<unsigned long long>(file.bytes));
    return 0;
}

// Measures the window once it shows, then has Exit pressed from inside the
// event loop after half a second idle.
void Measure(pricelookup::MainWindow& window) {
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window was not exposed\n");
        std::exit(1);
    }
    QCoreApplication::processEvents();
    const std::int64_t shownRealNs = ClockNs(CLOCK_REALTIME);
    const std::int64_t shownBootNs = ClockNs(CLOCK_BOOTTIME);
    const std::uint64_t peakKb = pricelookup::benchgen::StatusBytes("VmHWM") / 1024;

    const std::int64_t startBootNs = StartBootNs();
    const double statMs =
        startBootNs < 0 ? -1.0 : static_cast<double>(shownBootNs - startBootNs) / 1e6;
    double shownMs = statMs;
    if (const char* launch = std::getenv("PRICELOOKUP_LAUNCH_US"); launch && *launch)
        shownMs = static_cast<double>(shownRealNs - std::strtoll(launch, nullptr, 10) * 1000) / 1e6;
    std::printf("shown_ms %.3f\nshown_ms_stat %.3f\npeak_kb %llu\nrows %llu\n", shownMs, statMs,
                static_cast<unsigned long long>(peakKb),
                static_cast<unsigned long long>(window.Table().size()));
    std::fflush(stdout);

    auto* exitButton = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    if (!exitButton) {
        std::fprintf(stderr, "no Command1 button\n");
        std::exit(1);
    }
    // Once the program has been idle for a while, with anything it does after
    // the window shows done, the peak again; then Exit is pressed from inside
    // the event loop, as a user would: the button ends it.
    QTimer::singleShot(500, exitButton, [exitButton] {
        std::printf("idle_peak_kb %llu\n", static_cast<unsigned long long>(
                                               pricelookup::benchgen::StatusBytes("VmHWM") / 1024));
        std::printf("press_ns %lld\n", static_cast<long long>(ClockNs(CLOCK_REALTIME)));
        std::fflush(stdout);
        QTest::mouseClick(exitButton, Qt::LeftButton);
    });
}

} // namespace

int main(int argc, char* argv[]) {
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--prepare") == 0)
        return Prepare(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    // The program's own start-up, with the measurements once the window shows.
    return pricelookup::RunPriceLookup(argc, argv, Measure);
}
