// bare_window [--text]: the least a Qt Widgets program spends to show a
// window: a 632 x 453 window holding one QListView, timed from the process
// start to the window exposed and settled, as startup_probe times the program.
// The list is empty and the window shows no text, so no font is ever loaded.
// With --text its list shows one row, "A1": the same window once it must read
// the system's font configuration, load a face and draw glyphs, as every
// window with a caption must. Prints
//   shown_ms  from PRICELOOKUP_LAUNCH_US (microseconds of CLOCK_REALTIME, set
//             by the caller just before exec) to the window shown
#include <QApplication>
#include <QListView>
#include <QStringListModel>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const bool text = argc == 2 && std::strcmp(argv[1], "--text") == 0;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* list = new QListView(&window);
    if (text)
        list->setModel(new QStringListModel({QStringLiteral("A1")}, list));
    layout->addWidget(list);
    window.resize(632, 453);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window was not exposed\n");
        return 1;
    }
    QCoreApplication::processEvents();
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const std::int64_t nowUs = static_cast<std::int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
    const char* launch = std::getenv("PRICELOOKUP_LAUNCH_US");
    const double ms = launch && *launch
                          ? static_cast<double>(nowUs - std::strtoll(launch, nullptr, 10)) / 1e3
                          : -1.0;
    std::printf("shown_ms %.3f\n", ms);
    return 0;
}
