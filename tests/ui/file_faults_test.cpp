// The price file missing, not a file, not readable, or changed while the
// start-up reads it; and the program leaving it and its directory untouched.

#include "price_file.h"
#include "start.h"
#include "ui_test_support.h"

#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QtTest>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

using namespace pricelookup;
using namespace pricelookup::testing;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 30s;

QString Reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QStringList Listing(const QString& path) {
    return QDir(path).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Modification time to the nanosecond.
QString ModificationTime(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("none");
    return QStringLiteral("%1.%2")
        .arg(st.st_mtim.tv_sec)
        .arg(st.st_mtim.tv_nsec, 9, 10, QChar(u'0'));
}

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

// Feeds key presses to a program in another process through the toolkit's
// evdev keyboard input, read from a named pipe: the offscreen platform takes
// no input from outside, and this listens on no socket. The input only
// accepts paths under /dev/, hence /dev/shm.
class KeyFeed {
public:
    KeyFeed() : path_(QStringLiteral("/dev/shm/pricelookup-keys-%1").arg(::getpid())) {
        ::unlink(path_.toLocal8Bit().constData());
        if (::mkfifo(path_.toLocal8Bit().constData(), 0600) == 0)
            fd_ = ::open(path_.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    }
    ~KeyFeed() {
        if (fd_ >= 0)
            ::close(fd_);
        ::unlink(path_.toLocal8Bit().constData());
    }
    KeyFeed(const KeyFeed&) = delete;
    KeyFeed& operator=(const KeyFeed&) = delete;

    bool Ok() const { return fd_ >= 0; }
    QString PluginArgument() const { return QStringLiteral("evdevkeyboard:") + path_; }
    void Press(unsigned short code) {
        const input_event events[] = {{{}, EV_KEY, code, 1},
                                      {{}, EV_SYN, SYN_REPORT, 0},
                                      {{}, EV_KEY, code, 0},
                                      {{}, EV_SYN, SYN_REPORT, 0}};
        if (::write(fd_, events, sizeof events) < 0)
            QWARN("could not feed a key");
    }

private:
    QString path_;
    int fd_ = -1;
};

// Waits until the process sleeps and has used no processor time for half a
// second: it is waiting for the user.
bool WaitUntilIdle(qint64 pid) {
    const QString statPath = QStringLiteral("/proc/%1/stat").arg(pid);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    QString lastTimes;
    int quiet = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const QByteArray stat = Contents(statPath);
        // Fields after the command name, which is in parentheses: state first,
        // user and system time 12th and 13th.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            return false;
        const QString times = QString::fromLatin1(fields[11] + ' ' + fields[12]);
        if (fields[0] == "Z" || fields[0] == "X")
            return false;
        quiet = fields[0] == "S" && times == lastTimes ? quiet + 1 : 0;
        lastTimes = times;
        if (quiet >= 10)
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

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
    void programInARemovedFolder();
    void programOutOfMemory_data();
    void programOutOfMemory();
    void programWritesNothing();
};

// What stands at sorted.dat: a symlink's target, or a kind of file.
void FileFaultsTest::refusedAtStart_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");
    const QString none;
    const QString notAFile = QStringLiteral("Not a regular file");
    QTest::newRow("missing") << "missing" << none << Reason(ENOENT);
    QTest::newRow("directory") << "directory" << none << QStringLiteral("Is a directory");
    QTest::newRow("pipe without a writer") << "pipe" << none << notAFile;
    QTest::newRow("unreadable") << "unreadable" << none << Reason(EACCES);
    QTest::newRow("link to /dev/zero") << "link" << QStringLiteral("/dev/zero") << notAFile;
    QTest::newRow("link to /dev/null") << "link" << QStringLiteral("/dev/null") << notAFile;
    QTest::newRow("dangling link") << "link" << QStringLiteral("nowhere.dat") << Reason(ENOENT);
    QTest::newRow("link to itself") << "link" << QStringLiteral("sorted.dat") << Reason(ELOOP);
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
    if (kind == QLatin1String("link"))
        QVERIFY(MakeSymlink(target, dir.FilePath()));
    if (kind == QLatin1String("unreadable")) {
        if (::geteuid() == 0)
            QSKIP("root reads a file whatever its mode, so no mode makes it unreadable");
        dir.Write("A1,a,100,200\r\n");
        QVERIFY(QFile::setPermissions(dir.FilePath(), QFileDevice::WriteOwner));
    }
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
    QTest::newRow("removed") << 0 << Reason(ENOENT);
    QTest::newRow("replaced by a pipe") << 1 << QStringLiteral("Not a regular file");
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
}

// Starts the real program in a child process on the offscreen platform, with
// `keys` for its keyboard. `setUp` runs in the child before the program does.
void StartProgram(QProcess& program, const KeyFeed& keys, const QString& directory,
                  std::function<void()> setUp = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), keys.PluginArgument());
    program.setProcessEnvironment(env);
    if (!directory.isEmpty())
        program.setWorkingDirectory(directory);
    if (setUp)
        program.setChildProcessModifier(std::move(setUp));
    program.start(QStringLiteral(PRICELOOKUP_BINARY), {});
}

// The program prints `line` on standard error and waits with its error box;
// Enter there ends it with status 1. `stderrText` receives all it printed.
void CheckErrorBoxThenStatusOne(QProcess& program, KeyFeed& keys, const QString& line,
                                QString* stderrText = nullptr) {
    QVERIFY(program.waitForStarted());
    QByteArray err;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!QString::fromLocal8Bit(err).contains(line) &&
           std::chrono::steady_clock::now() < deadline && program.state() == QProcess::Running) {
        program.waitForReadyRead(100);
        err += program.readAllStandardError();
    }
    err += program.readAllStandardError();
    if (stderrText)
        *stderrText = QString::fromLocal8Bit(err);
    QVERIFY2(QString::fromLocal8Bit(err).contains(line), err.constData());
    QCOMPARE(program.state(), QProcess::Running); // the box waits

    while (program.state() == QProcess::Running && std::chrono::steady_clock::now() < deadline) {
        keys.Press(KEY_ENTER);
        program.waitForFinished(100);
    }
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished();
        QFAIL("the error box did not close on Enter");
    }
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
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
    QTest::newRow("no sorted.dat") << false << Reason(ENOENT);
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

// Started in a folder that was removed before it ran: the folder has no
// name, so the message cannot name a path, and no path made from the empty
// name (/sorted.dat) is opened in its stead.
void FileFaultsTest::programInARemovedFolder() {
    PriceDir dir;
    const QByteArray gone = QFile::encodeName(dir.Path() + QStringLiteral("/gone"));
    QVERIFY(QDir(dir.Path()).mkdir(QStringLiteral("gone")));
    KeyFeed keys;
    if (!keys.Ok())
        QSKIP("no named pipe under /dev/shm to feed keys through");

    QProcess program;
    StartProgram(program, keys, {}, [gone] {
        if (::chdir(gone.constData()) != 0 || ::rmdir(gone.constData()) != 0)
            ::_exit(99);
    });
    CheckErrorBoxThenStatusOne(program, keys,
                               QStringLiteral("Cannot open the price file sorted.dat: the current "
                                              "folder cannot be read or no longer exists"));
    QVERIFY(!QFileInfo::exists(QString::fromLocal8Bit(gone)));
}

// Under a limit on its address space: a file whose table cannot have the
// room it needs is refused at once; a file that outgrows that room (short
// lines out of order, whose rows with their place in the finder take several
// times the size of their lines) fails while it loads, on whichever thread
// reads the part that runs out.
// Both times the program says so and ends with status 1, without abort.
void FileFaultsTest::programOutOfMemory_data() {
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("needKnownFromSize");
    QTest::newRow("refused by its size") << QByteArray() << qint64(1) << true;
    QTest::newRow("outgrows its room") << QByteArray("b,,\ra,,\r") << qint64(120) << false;
}

void FileFaultsTest::programOutOfMemory() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer maps terabytes of shadow memory at start, past any limit set here");
#endif
    QFETCH(QByteArray, lines);
    QFETCH(qint64, size);
    QFETCH(bool, needKnownFromSize);

    PriceDir dir;
    QFile file(dir.FilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    if (lines.isEmpty()) {
        QVERIFY(file.resize(size << 30)); // sparse: takes no disk
    } else {
        const QByteArray block = lines.repeated((1 << 20) / lines.size());
        for (qint64 mb = 0; mb < size; ++mb)
            QVERIFY(file.write(block) == block.size());
    }
    file.close();
    const quint64 bytes = static_cast<quint64>(QFileInfo(dir.FilePath()).size());
    const QStringList before = Listing(dir.Path());
    KeyFeed keys;
    if (!keys.Ok())
        QSKIP("no named pipe under /dev/shm to feed keys through");

    // Some 100 MB go to the program and the toolkit before the load.
    constexpr rlim_t kLimit = rlim_t{400} << 20;
    QProcess program;
    StartProgram(program, keys, dir.Path(), [] {
        const rlimit limit{kLimit, kLimit};
        if (::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(99);
    });
    QString err;
    CheckErrorBoxThenStatusOne(program, keys,
                               QStringLiteral("Not enough memory to load the price file ") +
                                   ShownPath(dir) + QStringLiteral(" (about "),
                               &err);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(!err.contains(QStringLiteral("terminate")), qPrintable(err));
    // The need is at least the table's room for the file, and just that when
    // the room was refused.
    const QRegularExpressionMatch need =
        QRegularExpression(QStringLiteral(R"(\(about (\d+) MB needed\)\n)")).match(err);
    QVERIFY2(need.hasMatch(), qPrintable(err));
    const quint64 room = (PriceTable::ReservationForFile(bytes) + 999'999) / 1'000'000;
    const quint64 megabytes = need.captured(1).toULongLong();
    if (needKnownFromSize) {
        QCOMPARE(megabytes, room);
    } else {
        // Each line of four bytes makes a row of some 20 bytes at most: the
        // line without its ending, the row's offset and its place in the finder.
        const quint64 rows = bytes / 4;
        QVERIFY2(megabytes >= room && megabytes <= rows * 20 * 2 / 1'000'000, qPrintable(err));
    }
    QCOMPARE(Listing(dir.Path()), before);
}

// Runs the real program on a small file until it waits for the user, ends it,
// and finds the file and its directory as they were.
void FileFaultsTest::programWritesNothing() {
    const QByteArray bytes = "A1,Brake pad,1234,1500\r\nB2,\"Bolt, M6\",5,50\r\n";
    PriceDir dir(bytes);
    // An hour back, so that any write would show in the time.
    QFile file(dir.FilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                             QFileDevice::FileModificationTime));
    file.close();
    const QString mtime = ModificationTime(dir.FilePath());
    const QStringList before = Listing(dir.Path());

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.Path());
    program.start(QStringLiteral(PRICELOOKUP_BINARY), {});
    QVERIFY(program.waitForStarted());
    const bool idle = WaitUntilIdle(program.processId());
    const QProcess::ProcessState state = program.state();
    program.terminate();
    QVERIFY(
        program.waitForFinished(static_cast<int>(std::chrono::milliseconds(kPatience).count())));
    QVERIFY2(idle, program.readAllStandardError().constData());
    QCOMPARE(state, QProcess::Running);

    QCOMPARE(Contents(dir.FilePath()), bytes);
    QCOMPARE(ModificationTime(dir.FilePath()), mtime);
    QCOMPARE(Listing(dir.Path()), before);
}

QTEST_MAIN(FileFaultsTest)
#include "file_faults_test.moc"
