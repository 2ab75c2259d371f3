// The real program in a child process where the price file cannot be
// loaded: its box, the same line on standard error, and status 1; and the
// program leaving the file and its folder untouched. Linux only: keys reach
// the offscreen program through the toolkit's evdev input, address space is
// limited with setrlimit, and whether the child waits is read in /proc. The
// Windows program meets the same faults in tests/windows/desktop_check.

#include "price_table.h"
#include "ui_test_support.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

using namespace pricelookup;
using namespace pricelookup::testing;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 30s;

// Modification time to the nanosecond.
QString ModificationTime(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("none");
    return QStringLiteral("%1.%2")
        .arg(st.st_mtim.tv_sec)
        .arg(st.st_mtim.tv_nsec, 9, 10, QChar(u'0'));
}

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

class ProgramFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void programInARemovedFolder();
    void programOutOfMemory_data();
    void programOutOfMemory();
    void programWritesNothing();
};

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

// Started in a folder that was removed before it ran: the folder has no
// name, so the message cannot name a path, and no path made from the empty
// name (/sorted.dat) is opened in its stead.
void ProgramFaultsTest::programInARemovedFolder() {
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
void ProgramFaultsTest::programOutOfMemory_data() {
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("needKnownFromSize");
    QTest::newRow("refused by its size") << QByteArray() << qint64(1) << true;
    QTest::newRow("outgrows its room") << QByteArray("b,,\ra,,\r") << qint64(120) << false;
}

void ProgramFaultsTest::programOutOfMemory() {
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
void ProgramFaultsTest::programWritesNothing() {
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

QTEST_MAIN(ProgramFaultsTest)
#include "program_faults_test.moc"
