// The price file missing, not a file, not readable, or changed while the
// start-up reads it, through the window made in this process. What needs the
// program in a child process (its status, its limits) is in
// program_faults_test.cpp.

#include "price_file.h"
#include "start.h"
#include "ui_test_support.h"

#include <QProgressBar>
#include <QTemporaryFile>
#include <QtTest>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

using namespace pricelookup;
using namespace pricelookup::testing;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 30s;

#ifdef Q_OS_WIN
// Windows has no named pipes or symbolic links among its files that the
// program could meet as sorted.dat, and nothing to rescue.
bool MakeFifo(const QString&) {
    return false;
}
class PipeRescuer {
public:
    explicit PipeRescuer(const QString&) {}
    bool Rescued() const { return false; }
};
#else
bool MakeFifo(const QString& path) {
    return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
}

bool MakeSymlink(const QString& target, const QString& path) {
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) ==
           0;
}

// If the program is still stuck on a pipe after a while, opens the pipe's
// writing end, and closes it, so that a hang fails the test instead of
// stalling the run.
class PipeRescuer {
public:
    explicit PipeRescuer(const QString& path)
        : path_(QFile::encodeName(path)), thread_([this] { Watch(); }) {}
    ~PipeRescuer() {
        done_ = true;
        thread_.join();
    }
    PipeRescuer(const PipeRescuer&) = delete;
    PipeRescuer& operator=(const PipeRescuer&) = delete;

    bool Rescued() const { return rescued_; }

private:
    void Watch() {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!done_) {
            if (std::chrono::steady_clock::now() > deadline) {
                // Succeeds only while a reader has the pipe open.
                int fd = ::open(path_.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    rescued_ = true;
                    ::close(fd);
                }
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    QByteArray path_;
    std::atomic<bool> done_ = false;
    std::atomic<bool> rescued_ = false;
    std::thread thread_;
};
#endif

// Runs `action` whenever the event loop turns while the progress window is
// on screen, up to `times` times: after the file was measured and before it
// is read, or, with `linesRead`, once the bar shows lines read (the file is
// then open, and part of it read).
class WhileProgressShows {
public:
    WhileProgressShows(std::function<void()> action, int times = 1, bool linesRead = false)
        : action_(std::move(action)), left_(times) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this, linesRead] {
            QWidget* wait = FindWaitWindow();
            if (!wait || !wait->isVisible() || left_ == 0)
                return;
            const auto* bar = wait->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
            if (linesRead && bar->value() <= static_cast<int>(ProgressCount::kHeadStart))
                return;
            --left_;
            ++ran_;
            action_();
        });
        timer_.start();
    }
    int Ran() const { return ran_; }

private:
    std::function<void()> action_;
    QTimer timer_;
    int left_;
    int ran_ = 0;
};

// The same once lines are read.
class WhileLinesLoad : public WhileProgressShows {
public:
    WhileLinesLoad(int times, std::function<void()> action)
        : WhileProgressShows(std::move(action), times, true) {}
};

// Lines enough that the bar moves many times while they load.
QByteArray ManyLines(int lines) {
    QByteArray bytes;
    for (int i = 0; i < lines; ++i)
        bytes += "P" + QByteArray::number(i) + ",Part " + QByteArray::number(i) + ",1" +
                 QByteArray::number(i % 1000) + ",2\r\n";
    return bytes;
}

// What the process writes to its standard error meanwhile.
class StderrCapture {
public:
    StderrCapture() {
        file_.open();
        std::fflush(stderr);
        saved_ = ::dup(2);
        ::dup2(file_.handle(), 2);
    }
    ~StderrCapture() { Restore(); }
    QString Text() {
        Restore();
        file_.seek(0);
        return QString::fromLocal8Bit(file_.readAll());
    }

private:
    void Restore() {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    QTemporaryFile file_;
    int saved_ = -1;
};
} // namespace

class FileFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void refusedAtStart_data();
    void refusedAtStart();

    void changedAfterMeasuring_data();
    void changedAfterMeasuring();
    void goneAfterMeasuring_data();
    void goneAfterMeasuring();
    void changedWhileRead();
    void copiedOverWhileRead();
    void changingWhileEveryReadRuns();
    void programOnAFileThatKeepsChanging();

    void readOnly();
    void programFailsWithStatusOne_data();
    void programFailsWithStatusOne();
    void tooLargeForMemory();
};

// What stands at sorted.dat: a symlink's target, or a kind of file.
void FileFaultsTest::refusedAtStart_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");
    const QString none;
    const QString notAFile = QStringLiteral("Not a regular file");
    QTest::newRow("missing") << "missing" << none << MissingReason();
    QTest::newRow("directory") << "directory" << none << QStringLiteral("Is a directory");
#ifndef Q_OS_WIN
    QTest::newRow("pipe without a writer") << "pipe" << none << notAFile;
    QTest::newRow("unreadable") << "unreadable" << none << Reason(EACCES);
    QTest::newRow("link to /dev/zero") << "link" << QStringLiteral("/dev/zero") << notAFile;
    QTest::newRow("link to /dev/null") << "link" << QStringLiteral("/dev/null") << notAFile;
    QTest::newRow("dangling link") << "link" << QStringLiteral("nowhere.dat") << Reason(ENOENT);
    QTest::newRow("link to itself") << "link" << QStringLiteral("sorted.dat") << Reason(ELOOP);
#endif
}

// The start-up is refused with an error box naming the file and the reason,
// the same line on standard error, before any progress window, and nothing
// is created.
void FileFaultsTest::refusedAtStart() {
    QFETCH(QString, kind);
    QFETCH(QString, target);
    QFETCH(QString, reason);
    PriceDir dir;
    if (kind == QLatin1String("directory"))
        QVERIFY(QDir(dir.Path()).mkdir(QStringLiteral("sorted.dat")));
    if (kind == QLatin1String("pipe"))
        QVERIFY(MakeFifo(dir.FilePath()));
#ifndef Q_OS_WIN
    if (kind == QLatin1String("link"))
        QVERIFY(MakeSymlink(target, dir.FilePath()));
    if (kind == QLatin1String("unreadable")) {
        if (::geteuid() == 0)
            QSKIP("root reads a file whatever its mode, so no mode makes it unreadable");
        dir.Write("A1,a,100,200\r\n");
        QVERIFY(QFile::setPermissions(dir.FilePath(), QFileDevice::WriteOwner));
    }
#endif
    const QStringList before = Listing(dir.Path());

    std::optional<PipeRescuer> rescuer;
    if (kind == QLatin1String("pipe"))
        rescuer.emplace(dir.FilePath());
    MessageBoxCloser closer;
    StderrCapture errors;
    {
        MainWindow w;
        QVERIFY(!w.Loaded());
        QVERIFY(!w.isVisible());
        QCOMPARE(w.Table().size(), std::size_t{0});
        QVERIFY(!FindWaitWindow());
    }
    QVERIFY2(!rescuer || !rescuer->Rescued(), "the start-up waited for a writer on the pipe");
    QCOMPARE(closer.Closed(), 1);
    QCOMPARE(closer.Icon(), QMessageBox::Critical);
    QCOMPARE(closer.Buttons(), QMessageBox::Ok);
    QVERIFY2(closer.Text().contains(ShownPath(dir) + QStringLiteral(": ") + reason),
             qPrintable(closer.Text()));
    QVERIFY2(errors.Text().contains(closer.Text() + QLatin1Char('\n')), qPrintable(errors.Text()));
    QCOMPARE(Listing(dir.Path()), before);
    if (kind == QLatin1String("directory"))
        QVERIFY(Listing(dir.FilePath()).isEmpty());
}

// The file is rewritten between the measurement that sets the bar's range and
// the line-by-line read: the lists show what the read found, and the bar
// never passes its maximum.
void FileFaultsTest::changedAfterMeasuring_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<qulonglong>("barValue");

    const QByteArray one = "A1,a,100,200\r\n";
    const QByteArray three = one + "B2,b,300,400\r\nC3,c,500,600\r\n";
    const QStringList threeRows{"A1 | a | 1.00 | 2.00", "B2 | b | 3.00 | 4.00",
                                "C3 | c | 5.00 | 6.00"};
    // Maximum 24: the first line fits, the others would carry the bar past it.
    QTest::newRow("grows") << one << three << threeRows << 22ull;
    QTest::newRow("grows from nothing") << QByteArray() << three << threeRows << 10ull;
    QTest::newRow("shrinks") << three << QByteArray("A1,a,100,200")
                             << QStringList{"A1 | a | 1.00 | 2.00"} << 22ull;
    QTest::newRow("emptied") << three << QByteArray() << QStringList() << 10ull;
}

void FileFaultsTest::changedAfterMeasuring() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QStringList, rows);
    QFETCH(qulonglong, barValue);

    PriceDir dir(before);
    WhileProgressShows rewrite([&] { dir.Write(after); });
    MainWindow w;
    QVERIFY(rewrite.Ran());
    QVERIFY(w.Loaded());
    QCOMPARE(ScreenRows(w), rows);
    QCOMPARE(w.Progress().Max(), static_cast<std::uint64_t>(before.size()) + 10);
    QCOMPARE(w.Progress().Value(), barValue);
    const auto* bar = FindWaitWindow()->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QCOMPARE(bar->maximum(), w.Progress().BarMax());
    QCOMPARE(bar->value(), w.Progress().BarValue());
}

// The file is gone, or no longer a file, when the line-by-line read opens it:
// the load stops with an error box, and the progress window does not stay.
void FileFaultsTest::goneAfterMeasuring_data() {
    QTest::addColumn<int>("replacement");
    QTest::addColumn<QString>("reason");
    QTest::newRow("removed") << 0 << MissingReason();
#ifndef Q_OS_WIN
    QTest::newRow("replaced by a pipe") << 1 << QStringLiteral("Not a regular file");
#endif
    QTest::newRow("replaced by a directory") << 2 << QStringLiteral("Is a directory");
}

void FileFaultsTest::goneAfterMeasuring() {
    QFETCH(int, replacement);
    QFETCH(QString, reason);

    PriceDir dir("A1,a,100,200\r\n");
    PipeRescuer rescuer(dir.FilePath());
    QStringList listing;
    WhileProgressShows replace([&] {
        QFile::remove(dir.FilePath());
        if (replacement == 1)
            MakeFifo(dir.FilePath());
        else if (replacement == 2)
            QDir(dir.Path()).mkdir(QStringLiteral("sorted.dat"));
        listing = Listing(dir.Path());
    });
    MessageBoxCloser closer;
    MainWindow w;
    QVERIFY(replace.Ran());
    QVERIFY(!w.Loaded());
    QVERIFY2(!rescuer.Rescued(), "the load waited for a writer on the pipe");
    QCOMPARE(closer.Closed(), 1);
    QCOMPARE(closer.Text(),
             QStringLiteral("Cannot open the price file %1: %2").arg(ShownPath(dir), reason));
    QVERIFY(FindWaitWindow() && !FindWaitWindow()->isVisible());
    QCOMPARE(Listing(dir.Path()), listing);
}

// The file and its directory are read-only to everyone, and the only open
// handle on the file during the load is read-only. (As root the modes bind
// nothing; the handle's mode still tells.) That nothing is written is
// programWritesNothing's to show, for the whole run.
void FileFaultsTest::readOnly() {
#ifndef Q_OS_LINUX
    QSKIP("the load's open files are read in /proc");
#else
    QByteArray bytes;
    QStringList rows;
    for (int i = 0; i < 2000; ++i) {
        bytes += QByteArray::number(i) + ",part,100,200\r\n";
        rows << QString::number(i) + QStringLiteral(" | part | 1.00 | 2.00");
    }
    PriceDir dir(bytes);
    const QString canonical = QFileInfo(dir.FilePath()).canonicalFilePath();
    QVERIFY(QFile::setPermissions(dir.FilePath(), QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                                      QFileDevice::ReadOther));
    QVERIFY(QFile::setPermissions(dir.Path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                                  QFileDevice::ReadOther | QFileDevice::ExeOther));
    struct RestoreModes {
        const PriceDir& dir;
        ~RestoreModes() {
            QFile::setPermissions(dir.Path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
            QFile::setPermissions(dir.FilePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
    } restore{dir};

    // The progress window lets the event loop turn as the bar moves: look at
    // this process's open files each time.
    int seen = 0;
    QStringList modes;
    QTimer look;
    look.setInterval(0);
    QObject::connect(&look, &QTimer::timeout, [&] {
        const QDir fds(QStringLiteral("/proc/self/fd"));
        for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System)) {
            if (QFile::symLinkTarget(fds.filePath(fd)) != canonical)
                continue;
            ++seen;
            const QByteArray info = Contents(QStringLiteral("/proc/self/fdinfo/") + fd);
            const qsizetype at = info.indexOf("flags:");
            const int flags =
                info.mid(at + 6, info.indexOf('\n', at) - at - 6).trimmed().toInt(nullptr, 8);
            if ((flags & O_ACCMODE) != O_RDONLY && !modes.contains(QString::number(flags, 8)))
                modes << QString::number(flags, 8);
        }
    });
    look.start();
    MainWindow w;
    look.stop();
    QVERIFY(w.Loaded());
    QCOMPARE(ScreenRows(w), rows);
    QVERIFY2(seen > 0, "the load never let the event loop turn while the file was open");
    QVERIFY2(modes.isEmpty(), qPrintable(QStringLiteral("opened with flags ") + modes.join(u' ')));
#endif
}

// The file grows while its lines load: the load starts over, the progress
// window with it, and the lists show the whole new file.
void FileFaultsTest::changedWhileRead() {
    const QByteArray before = ManyLines(20'000);
    const QByteArray after = before + "Z1,new,100,200\r\n";
    PriceDir dir(before);
    WhileLinesLoad append(1, [&] { dir.Write(after); });
    MainWindow w;
    QCOMPARE(append.Ran(), 1);
    QVERIFY(w.Loaded());
    const QStringList rows = ScreenRows(w);
    QCOMPARE(rows.size(), 20'001);
    QCOMPARE(rows.front(), QStringLiteral("P0 | Part 0 | 0.10 | 0.02"));
    QCOMPARE(rows.back(), QStringLiteral("Z1 | new | 1.00 | 2.00"));
    QCOMPARE(w.Progress().Max(), static_cast<std::uint64_t>(after.size()) + 10);
    QCOMPARE(w.Progress().Value(), w.Progress().Max() - 2 * w.Table().size());
    QVERIFY(FindWaitWindow() && !FindWaitWindow()->isVisible());
}

// A copy over the file begins while its lines load: the file is cut to
// nothing, then another thread writes the new list in 128 KiB blocks with
// pauses. The load waits for the copy with the progress window up and painted,
// its bar back at zero, and the lists show the whole new list.
void FileFaultsTest::copiedOverWhileRead() {
    const QByteArray before = ManyLines(20'000);
    const QByteArray after = ManyLines(60'000);
    PriceDir dir(before);
    std::thread writer;
    WhileLinesLoad copy(1, [&] {
        auto file = std::make_shared<QFile>(dir.FilePath());
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        writer = std::thread([file, &after] {
            for (qsizetype at = 0; at < after.size(); at += 128 << 10) {
                std::this_thread::sleep_for(30ms);
                file->write(after.mid(at, 128 << 10));
                file->flush();
            }
        });
    });
    int shownAtZero = 0;
    QTimer look;
    look.setInterval(0);
    QObject::connect(&look, &QTimer::timeout, [&] {
        const QWidget* wait = FindWaitWindow();
        if (wait && wait->isVisible() &&
            wait->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"))->value() == 0)
            ++shownAtZero;
    });
    look.start();
    MainWindow w;
    look.stop();
    if (writer.joinable())
        writer.join();
    QCOMPARE(copy.Ran(), 1);
    QVERIFY(w.Loaded());
    const QStringList rows = ScreenRows(w);
    QCOMPARE(rows.size(), 60'000);
    QCOMPARE(rows.back(), QStringLiteral("P59999 | Part 59999 | 19.99 | 0.02"));
    QCOMPARE(w.Progress().Max(), static_cast<std::uint64_t>(after.size()) + 10);
    QVERIFY2(shownAtZero > 3, "the progress window was not kept painted while the load waited");
}

// A file that changes during every read is given up after the last, with
// the message in a box and on standard error; the window is never shown.
void FileFaultsTest::changingWhileEveryReadRuns() {
    QByteArray bytes = ManyLines(20'000);
    PriceDir dir(bytes);
    // Each read starts the bar over from its head start.
    int lastValue = 0;
    int startsOver = 0;
    WhileLinesLoad append(1'000'000, [&] {
        const int value =
            FindWaitWindow()->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"))->value();
        startsOver += value < lastValue;
        lastValue = value;
        bytes += "Z1,new,100,200\r\n";
        dir.Write(bytes);
    });
    MessageBoxCloser closer;
    StderrCapture errors;
    {
        MainWindow w;
        QVERIFY(!w.Loaded());
        QVERIFY(!w.isVisible());
        QCOMPARE(w.Table().size(), std::size_t{0});
        QVERIFY(FindWaitWindow() && !FindWaitWindow()->isVisible());
    }
    QCOMPARE(startsOver, kLoadTries - 1);
    QCOMPARE(closer.Closed(), 1);
    QCOMPARE(closer.Icon(), QMessageBox::Critical);
    QCOMPARE(closer.Text(), QStringLiteral("The price file %1 changed while it was being read; "
                                           "try again when it is complete")
                                .arg(ShownPath(dir)));
    QVERIFY2(errors.Text().contains(closer.Text() + QLatin1Char('\n')), qPrintable(errors.Text()));
}

// The program's own start on a file of some 40 MB, read in parts, that a
// thread of this test keeps appending to: after the longest wait it says so
// in its box, and opens no window (the program then ends with status 1).
void FileFaultsTest::programOnAFileThatKeepsChanging() {
    PriceDir dir;
    {
        QFile file(dir.FilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray block = ManyLines(40'000);
        while (file.size() < (40 << 20))
            QVERIFY(file.write(block) == block.size());
    }
    std::atomic<bool> done = false;
    std::thread writer([&] {
        QFile file(dir.FilePath());
        if (!file.open(QIODevice::Append))
            return;
        while (!done) {
            file.write("Z1,new,100,200\r\n");
            file.flush();
            std::this_thread::sleep_for(2ms);
        }
    });
    MessageBoxCloser closer;
    const std::unique_ptr<MainWindow> window = OpenPriceLookup();
    done = true;
    writer.join();
    QVERIFY(!window);
    QCOMPARE(closer.Closed(), 1);
    QCOMPARE(closer.Icon(), QMessageBox::Critical);
    QCOMPARE(closer.Text(), QStringLiteral("The price file %1 changed while it was being "
                                           "read; try again when it is complete")
                                .arg(ShownPath(dir)));
}

void FileFaultsTest::programFailsWithStatusOne_data() {
    QTest::addColumn<bool>("directory");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no sorted.dat") << false << MissingReason();
    QTest::newRow("sorted.dat a directory") << true << QStringLiteral("Is a directory");
}

// The program's own start where the file cannot be opened: its box says why,
// no window opens (the program then ends with status 1), and nothing in the
// folder changes.
void FileFaultsTest::programFailsWithStatusOne() {
    QFETCH(bool, directory);
    QFETCH(QString, reason);

    PriceDir dir;
    if (directory)
        QVERIFY(QDir(dir.Path()).mkdir(QStringLiteral("sorted.dat")));
    const QStringList before = Listing(dir.Path());
    MessageBoxCloser closer;
    QVERIFY(!OpenPriceLookup());
    QCOMPARE(closer.Closed(), 1);
    QCOMPARE(closer.Icon(), QMessageBox::Critical);
    QCOMPARE(closer.Text(), QStringLiteral("Cannot open the price file ") + ShownPath(dir) +
                                QStringLiteral(": ") + reason);
    QVERIFY(!FindWaitWindow());
    QCOMPARE(Listing(dir.Path()), before);
}

// A file far larger than the memory there is: refused, before the progress
// window shows, with what it would need.
void FileFaultsTest::tooLargeForMemory() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reports a request this large as an error of its own");
#endif
    if (Contents(QStringLiteral("/proc/sys/vm/overcommit_memory")).trimmed() == "1")
        QSKIP("the system grants any request: the file would be read to its end");
    PriceDir dir;
    QFile file(dir.FilePath());
    const quint64 size = quint64(8) << 40; // sparse: takes no disk
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(size)));
    file.close();
    MessageBoxCloser closer;
    {
        MainWindow w;
        QVERIFY(!w.Loaded());
        QCOMPARE(w.Table().size(), std::size_t{0});
        QVERIFY(!FindWaitWindow());
    }
    QCOMPARE(closer.Closed(), 1);
    QCOMPARE(closer.Icon(), QMessageBox::Critical);
    QCOMPARE(closer.Text(),
             QStringLiteral("Not enough memory to load the price file %1 (about %2 "
                            "GB needed)")
                 .arg(ShownPath(dir))
                 .arg((PriceTable::ReservationForFile(size) + 999'999'999) / 1'000'000'000));
}

QTEST_MAIN(FileFaultsTest)
#include "file_faults_test.moc"
