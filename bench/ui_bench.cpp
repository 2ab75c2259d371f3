// The real window, offscreen, on generated price files: the start-up from the
// load handler to the window shown, and then a key typed into the search box,
// a row click, a turn of the mouse wheel and a window resize on the loaded
// lists, and the key and the click again with a screen reader listening.
// Per-event figures are reported as the median and the 99th percentile of
// many events.
#include "bench_support.h"
#include "benchgen.h"
#include "main_window.h"
#include "price_list_view.h"

#include <benchmark/benchmark.h>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace pricelookup;

namespace {

// The shape of the price files: PRICELOOKUP_BENCH_SHAPE ("spread" when unset).
benchgen::Shape FileShape() {
    benchgen::Shape shape = benchgen::Shape::Spread;
    const QByteArray name = qgetenv("PRICELOOKUP_BENCH_SHAPE");
    if (!name.isEmpty() && !benchgen::ParseShape(name.toStdString(), shape))
        qFatal("unknown shape %s", name.constData());
    return shape;
}

bool EnterPriceDirectory(benchmark::State& state, std::uint64_t lines) {
    const benchgen::PreparedFile file = benchgen::PreparePriceDirectory(
        benchgen::DataRoot(), lines, benchgen::kDefaultSeed, FileShape());
    if (!file.ok) {
        state.SkipWithError(file.error.c_str());
        return false;
    }
    QDir::setCurrent(QString::fromStdString(file.directory));
    state.counters["file_MB"] = static_cast<double>(file.bytes) / 1e6;
    return true;
}

void ShowAndSettle(MainWindow& window) {
    window.ShowCentred();
    (void)QTest::qWaitForWindowExposed(&window);
    QCoreApplication::processEvents();
}

// Durations in microseconds, as median and 99th percentile counters.
void ReportPercentiles(benchmark::State& state, std::vector<double> us) {
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    state.counters["max_us"] = us.back();
}

// Times one event and the painting it causes, as this iteration's time.
template <typename Event>
void TimeEvent(benchmark::State& state, std::vector<double>& us, Event&& event) {
    QElapsedTimer timer;
    timer.start();
    event();
    QCoreApplication::processEvents();
    const double elapsed = static_cast<double>(timer.nsecsElapsed());
    state.SetIterationTime(elapsed / 1e9);
    us.push_back(elapsed / 1e3);
}

void BM_Startup(benchmark::State& state) {
    if (!EnterPriceDirectory(state, static_cast<std::uint64_t>(state.range(0))))
        return;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        auto window = std::make_unique<MainWindow>();
        ShowAndSettle(*window);
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        if (!window->Loaded())
            state.SkipWithError("the price file did not load");
        state.counters["rows"] = static_cast<double>(window->Table().size());
    }
}
BENCHMARK(BM_Startup)
    ->Arg(1'000'000)
    ->Arg(10'000'000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The interaction benchmarks run on each file size, timed event by event.
void EveryFileSize(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(100'000)->Arg(1'000'000)->Arg(10'000'000);
    benchmark->UseManualTime()->Unit(benchmark::kMicrosecond);
}

// One of the four lists, chosen by `random`.
PriceListView* RandomList(MainWindow& window, benchgen::Random& random) {
    return window.findChild<PriceListView*>(QStringLiteral("ListView%1").arg(1 + random.Below(4)));
}

// One loaded window per file size, kept for the interaction benchmarks.
// At namespace scope so that main can end it while the application still
// exists: a window destroyed after QApplication crashes the process at exit.
std::unique_ptr<MainWindow> loadedWindow;

MainWindow* LoadedWindow(benchmark::State& state, std::uint64_t lines) {
    static std::uint64_t loadedLines = 0;
    std::unique_ptr<MainWindow>& window = loadedWindow;
    if (loadedLines != lines) {
        window.reset();
        loadedLines = 0;
        if (!EnterPriceDirectory(state, lines))
            return nullptr;
        window = std::make_unique<MainWindow>();
        ShowAndSettle(*window);
        loadedLines = lines;
    }
    return window->Loaded() ? window.get() : nullptr;
}

// What the timed keys find: BM_TypeKey's second argument.
enum TypeCase : std::int64_t {
    kEarlyMatch = 0, // every key of a part code near the start of the file
    kLateMatch = 1,  // every key of a part code near the end of the file
    kNoMatch = 2,    // a key after which the text matches no code
    kBackspace = 3,  // Backspace, key by key, from a whole part code
};

const char* TypeCaseName(std::int64_t typeCase) {
    static const char* const kNames[] = {"early match", "late match", "no match", "backspace"};
    return kNames[typeCase];
}

// Part codes of rows near the start or the end of the file, as the list
// shows them. For kNoMatch the last character is one that no code has.
std::vector<QString> CodesToType(MainWindow& window, std::int64_t typeCase) {
    auto* list = window.findChild<PriceListView*>(QStringLiteral("ListView1"));
    const auto rows = static_cast<std::uint32_t>(window.Table().size());
    benchgen::Random random(7);
    std::vector<QString> codes;
    for (int i = 0; i < 16 && rows > 0; ++i) {
        const std::uint32_t near = random.Below(std::min(rows, 1000u));
        const int row = static_cast<int>(typeCase == kEarlyMatch ? near : rows - 1 - near);
        const QString code = list->model()->index(row, 0).data().toString();
        codes.push_back(typeCase == kNoMatch ? code.left(code.size() - 1) + QLatin1Char('~')
                                             : code);
    }
    return codes;
}

// A key that types `c`, accented letters too.
void TypeCharacter(QLineEdit* box, QChar c) {
    if (c.unicode() < 128) {
        QTest::keyClick(box, c.toLatin1());
        return;
    }
    const int key =
        c.toUpper().unicode() <= 0xFF ? int{c.toUpper().unicode()} : int{Qt::Key_unknown};
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(box, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(box, &release);
}

// Types part codes key by key, or takes them back with Backspace. For
// kNoMatch only the last key of each code is timed: the keys before it still
// find the code.
void BM_TypeKey(benchmark::State& state) {
    MainWindow* window = LoadedWindow(state, static_cast<std::uint64_t>(state.range(0)));
    if (!window)
        return;
    const std::int64_t typeCase = state.range(1);
    state.SetLabel(TypeCaseName(typeCase));
    auto* box = window->findChild<QLineEdit*>(QStringLiteral("Text1"));
    const std::vector<QString> codes = CodesToType(*window, typeCase);
    std::vector<double> us;
    std::size_t next = 0;
    QString typing;
    qsizetype position = 0;
    box->setFocus();
    for (auto _ : state) {
        if (position >= typing.size()) {
            state.PauseTiming();
            box->clear();
            typing = codes[next++ % codes.size()];
            position = 0;
            const qsizetype untimed = typeCase == kNoMatch     ? typing.size() - 1
                                      : typeCase == kBackspace ? typing.size()
                                                               : 0;
            for (qsizetype i = 0; i < untimed; ++i) {
                TypeCharacter(box, typing[i]);
                QCoreApplication::processEvents();
            }
            if (typeCase == kNoMatch)
                position = untimed;
            state.ResumeTiming();
        }
        if (typeCase == kBackspace) {
            ++position;
            TimeEvent(state, us, [&] { QTest::keyClick(box, Qt::Key_Backspace); });
        } else {
            TimeEvent(state, us, [&] { TypeCharacter(box, typing[position++]); });
        }
    }
    ReportPercentiles(state, us);
}
BENCHMARK(BM_TypeKey)
    ->ArgsProduct({{100'000, 1'000'000, 10'000'000},
                   {kEarlyMatch, kLateMatch, kNoMatch, kBackspace}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

// Keys typed as soon as the window shows, as a user who knows the code does:
// the window is made anew for each code, and the first key follows the
// window by less than 50 ms (the time of one keystroke).
void BM_FirstKeys(benchmark::State& state) {
    if (!EnterPriceDirectory(state, static_cast<std::uint64_t>(state.range(0))))
        return;
    loadedWindow.reset();
    std::vector<double> us;
    std::vector<QString> codes;
    std::unique_ptr<MainWindow> window;
    QLineEdit* box = nullptr;
    QString typing;
    qsizetype position = 0;
    for (auto _ : state) {
        if (position >= typing.size()) {
            state.PauseTiming();
            window.reset();
            window = std::make_unique<MainWindow>();
            ShowAndSettle(*window);
            if (codes.empty())
                codes = CodesToType(*window, kLateMatch);
            box = window->findChild<QLineEdit*>(QStringLiteral("Text1"));
            box->setFocus();
            typing = codes[us.size() % codes.size()];
            position = 0;
            state.ResumeTiming();
        }
        TimeEvent(state, us, [&] { TypeCharacter(box, typing[position++]); });
    }
    window.reset();
    ReportPercentiles(state, us);
}
BENCHMARK(BM_FirstKeys)
    ->Arg(1'000'000)
    ->Arg(10'000'000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(40);

// Clicks a row of one list, after scrolling that list somewhere else in the file.
void BM_RowClick(benchmark::State& state) {
    MainWindow* window = LoadedWindow(state, static_cast<std::uint64_t>(state.range(0)));
    if (!window)
        return;
    benchgen::Random random(11);
    std::vector<double> us;
    const auto rows = static_cast<std::uint32_t>(window->Table().size());
    for (auto _ : state) {
        state.PauseTiming();
        PriceListView* list = RandomList(*window, random);
        const int row = static_cast<int>(random.Below(rows));
        list->EnsureRowVisible(row);
        QCoreApplication::processEvents();
        const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
        state.ResumeTiming();
        TimeEvent(state, us, [&] { QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at); });
    }
    ReportPercentiles(state, us);
}
BENCHMARK(BM_RowClick)->Apply(EveryFileSize)->Iterations(300);

// Turns the mouse wheel one notch over one list, after scrolling the lists
// somewhere else in the file; the other three lists follow it.
void BM_WheelScroll(benchmark::State& state) {
    MainWindow* window = LoadedWindow(state, static_cast<std::uint64_t>(state.range(0)));
    if (!window)
        return;
    benchgen::Random random(13);
    std::vector<double> us;
    const auto rows = static_cast<std::uint32_t>(window->Table().size());
    for (auto _ : state) {
        state.PauseTiming();
        PriceListView* list = RandomList(*window, random);
        list->verticalScrollBar()->setValue(static_cast<int>(random.Below(rows)));
        QCoreApplication::processEvents();
        const QPoint at = list->viewport()->rect().center();
        const QPoint delta(0, random.Below(2) == 0 ? -120 : 120);
        state.ResumeTiming();
        TimeEvent(state, us, [&] {
            QWheelEvent event(at, list->viewport()->mapToGlobal(at), {}, delta, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(list->viewport(), &event);
        });
    }
    ReportPercentiles(state, us);
}
BENCHMARK(BM_WheelScroll)->Apply(EveryFileSize)->Iterations(300);

// What a screen reader's bridge does with each event: finds the object it is
// about, gives it an id and reads its name and state.
void ReadLikeAScreenReader(QAccessibleEvent* event) {
    if (QAccessibleInterface* iface = event->accessibleInterface()) {
        benchmark::DoNotOptimize(QAccessible::uniqueId(iface));
        benchmark::DoNotOptimize(iface->text(QAccessible::Name));
        benchmark::DoNotOptimize(iface->state());
    }
}

// Switches accessibility on as a screen reader on the bus does, for the rest
// of the process: run these benchmarks in a process of their own. When it
// cannot, says so for `state`.
bool ListenLikeAScreenReader(benchmark::State& state) {
    static const bool listening = [] {
        if (QPlatformAccessibility* platform =
                QGuiApplicationPrivate::platformIntegration()->accessibility())
            platform->setActive(true);
        QAccessible::installUpdateHandler(&ReadLikeAScreenReader);
        return QAccessible::isActive();
    }();
    if (!listening)
        state.SkipWithError("accessibility could not be switched on");
    return listening;
}

void BM_TypeKeyListened(benchmark::State& state) {
    if (ListenLikeAScreenReader(state))
        BM_TypeKey(state);
}
BENCHMARK(BM_TypeKeyListened)
    ->ArgsProduct({{100'000, 1'000'000, 10'000'000}, {kLateMatch}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

void BM_RowClickListened(benchmark::State& state) {
    if (ListenLikeAScreenReader(state))
        BM_RowClick(state);
}
BENCHMARK(BM_RowClickListened)->Apply(EveryFileSize)->Iterations(300);

void BM_Resize(benchmark::State& state) {
    MainWindow* window = LoadedWindow(state, static_cast<std::uint64_t>(state.range(0)));
    if (!window)
        return;
    const QSize sizes[] = {{900, 700}, {632, 453}, {500, 300}, {1200, 900}};
    std::vector<double> us;
    int i = 0;
    for (auto _ : state) {
        TimeEvent(state, us, [&] { window->resize(sizes[i++ % 4]); });
    }
    ReportPercentiles(state, us);
}
BENCHMARK(BM_Resize)->Apply(EveryFileSize)->Iterations(100);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    loadedWindow.reset();
    return 0;
}
