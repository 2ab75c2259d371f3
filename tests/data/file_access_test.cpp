// The price file on disk: opened in the current directory itself, refused
// when it is not a regular file, and read while other programs hold it.

#include "file_access.h"
#include "price_file.h"
#include "table_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace pricelookup;
using pricelookup::testing::Lines;
using pricelookup::testing::Rows;
using pricelookup::testing::RowsOf;
namespace fs = std::filesystem;

namespace {

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

struct Loaded {
    LoadResult result;
    Lines rows;
    std::vector<std::uint64_t> lengths;
};

Loaded Load() {
    Loaded loaded;
    PriceTable table;
    SystemPriceFiles files;
    loaded.result = LoadPriceFile(
        files, table, [&](std::uint64_t n) { loaded.lengths.push_back(n); }, LoadOptions());
    loaded.rows = Rows(table);
    return loaded;
}

// A fresh directory, the current one while the test runs.
class file_access : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("pricelookup-test-" + std::to_string(std::random_device{}()));
        ASSERT_TRUE(fs::create_directory(dir_));
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // Written an hour ago, as a price list mostly is when the program starts:
    // one written just before is looked at once more, which takes time.
    static void Write(const std::string& bytes, const fs::path& where = "sorted.dat") {
        std::ofstream(where, std::ios::binary) << bytes;
        fs::last_write_time(where, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }

    fs::path previous_;
    fs::path dir_;
};

const std::string kCrLf = "A1,Pad,1234,1500\r\nB2,\"Disc, front\",5,50\r\n\xE9t\xE9";

} // namespace

TEST_F(file_access, a_regular_file_loads_as_it_reads_from_memory) {
    Write(kCrLf);
    const PriceFileStatus status = MeasurePriceFile();
    EXPECT_TRUE(status.ok) << status.reason;
    EXPECT_EQ(status.size, kCrLf.size());
    const Loaded loaded = Load();
    EXPECT_TRUE(loaded.result.ok) << loaded.result.reason;
    EXPECT_EQ(loaded.result.lines, 3u);
    EXPECT_EQ(loaded.result.encoding, TextEncoding::Windows1252);
    EXPECT_EQ(loaded.rows, RowsOf(kCrLf));
    EXPECT_EQ(loaded.lengths, (std::vector<std::uint64_t>{16, 21, 3}));

    // Larger than one read block, so that the blocks meet inside lines.
    std::string big;
    for (int i = 0; big.size() < 400'000; ++i)
        big += "P" + std::to_string(i) + ",Part " + std::to_string(i) + ",12" + std::to_string(i) +
               ",3\r\n";
    Write(big);
    const Loaded many = Load();
    EXPECT_TRUE(many.result.ok);
    EXPECT_EQ(many.rows, RowsOf(big));
}

TEST_F(file_access, missing_and_directory_are_refused) {
    PriceFileStatus status = MeasurePriceFile();
    EXPECT_FALSE(status.ok);
    EXPECT_FALSE(status.reason.empty());
    Loaded loaded = Load();
    EXPECT_FALSE(loaded.result.ok);
    EXPECT_EQ(loaded.result.reason, status.reason);

    ASSERT_TRUE(fs::create_directory("sorted.dat"));
    status = MeasurePriceFile();
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.reason, "Is a directory");
    loaded = Load();
    EXPECT_FALSE(loaded.result.ok);
    EXPECT_EQ(loaded.result.reason, "Is a directory");
    EXPECT_TRUE(loaded.rows.empty());
    EXPECT_TRUE(loaded.lengths.empty());
}

// Only the current directory counts: a price file beside it, above it or in
// a directory of the same name is never read.
TEST_F(file_access, only_the_current_directory_is_looked_in) {
    Write(kCrLf);
    ASSERT_TRUE(fs::create_directory("inner"));
    fs::current_path("inner");
    EXPECT_FALSE(MeasurePriceFile().ok);
    EXPECT_FALSE(Load().result.ok);

    Write("B9,x,1,2", "sorted.dat");
    EXPECT_EQ(Load().rows, Lines{"B9 | x | 0.01 | 0.02"});
    EXPECT_EQ(PriceFilePath(), Utf8(dir_ / "inner" / "sorted.dat"));
}

TEST_F(file_access, a_folder_named_beyond_ascii_is_found_and_named) {
    const fs::path folder = fs::path(u8"Pi\u00e8ces d\u00e9tach\u00e9es \u4fa1\u683c");
    ASSERT_TRUE(fs::create_directory(folder));
    fs::current_path(folder);
    Write(kCrLf);
    EXPECT_TRUE(MeasurePriceFile().ok);
    EXPECT_EQ(Load().rows, RowsOf(kCrLf));
    EXPECT_EQ(CurrentDirectoryName(), Utf8(dir_ / folder));
    EXPECT_EQ(PriceFilePath(), Utf8(dir_ / folder / "sorted.dat"));
}

// Another program has the file open for writing, and goes on writing to it.
TEST_F(file_access, a_file_held_open_for_writing_is_read) {
    Write("");
#ifdef _WIN32
    // Sharing reading only, as editors do: the load must not ask for more
    // than reading, and must let the writer be.
    const HANDLE writer = ::CreateFileW(L"sorted.dat", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(
        ::WriteFile(writer, kCrLf.data(), static_cast<DWORD>(kCrLf.size()), &written, nullptr));
    const auto more = [&](const std::string& bytes) {
        return ::WriteFile(writer, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                           nullptr) != 0;
    };
#else
    std::ofstream writer("sorted.dat", std::ios::binary);
    writer << kCrLf << std::flush;
    const auto more = [&](const std::string& bytes) {
        return static_cast<bool>(writer << bytes << std::flush);
    };
#endif
    EXPECT_EQ(MeasurePriceFile().size, kCrLf.size());
    EXPECT_EQ(Load().rows, RowsOf(kCrLf));
    EXPECT_TRUE(more("\r\nC3,Bolt,7,8"));
    EXPECT_EQ(Load().rows, RowsOf(kCrLf + "\r\nC3,Bolt,7,8"));
#ifdef _WIN32
    ::CloseHandle(writer);
#endif
}

// What a loader of parts of the file builds on: reads at any offset, in
// any order, without a position shared between them.
TEST_F(file_access, reads_at_offsets_give_those_bytes) {
    std::string bytes;
    for (int i = 0; i < 100'000; ++i)
        bytes += static_cast<char>('a' + i % 26);
    Write(bytes);
    const ReadOnlyFile file(kPriceFileName);
    ASSERT_TRUE(file.IsOpen()) << file.Error();
    EXPECT_EQ(file.Size(), bytes.size());
    char buffer[1000];
    for (std::uint64_t at : {90'000ull, 0ull, 99'500ull, 100'000ull, 200'000ull}) {
        const FileRead read = file.ReadAt(at, buffer, sizeof buffer);
        EXPECT_TRUE(read.error.empty()) << read.error;
        const std::size_t expected =
            at < bytes.size() ? std::min<std::size_t>(1000, bytes.size() - at) : 0;
        ASSERT_EQ(read.bytes, expected) << at;
        EXPECT_EQ(std::string(buffer, read.bytes),
                  bytes.substr(std::min<std::size_t>(at, bytes.size()), expected));
    }
}

#ifndef _WIN32
TEST_F(file_access, a_pipe_without_writer_is_refused_without_waiting) {
    ASSERT_EQ(::mkfifo("sorted.dat", 0600), 0);
    const PriceFileStatus status = MeasurePriceFile();
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.reason, "Not a regular file");
    const Loaded loaded = Load();
    EXPECT_FALSE(loaded.result.ok);
    EXPECT_TRUE(loaded.lengths.empty());
}

// A path longer than the system takes in one piece: only an open in the
// directory itself finds the file.
TEST_F(file_access, a_directory_deeper_than_a_path_can_name_is_read) {
    const std::string level(200, 'd');
    int depth = 0;
    for (; depth < 25; ++depth) {
        ASSERT_EQ(::mkdir(level.c_str(), 0700), 0);
        ASSERT_EQ(::chdir(level.c_str()), 0);
    }
    Write(kCrLf);
    const Loaded loaded = Load();
    EXPECT_TRUE(loaded.result.ok) << loaded.result.reason;
    EXPECT_EQ(loaded.rows, RowsOf(kCrLf));
    ::unlink("sorted.dat");
    for (; depth > 0; --depth) {
        ASSERT_EQ(::chdir(".."), 0);
        ASSERT_EQ(::rmdir(level.c_str()), 0);
    }
}

// The current directory was removed: it has no name, and nothing is read in
// its stead, least of all a sorted.dat at the root.
TEST_F(file_access, a_removed_current_directory_has_no_name) {
    ASSERT_TRUE(fs::create_directory("gone"));
    ASSERT_EQ(::chdir("gone"), 0);
    ASSERT_EQ(::rmdir((dir_ / "gone").c_str()), 0);
    EXPECT_EQ(CurrentDirectoryName(), std::nullopt);
    EXPECT_EQ(PriceFilePath(), std::nullopt);
    EXPECT_FALSE(MeasurePriceFile().ok);
    EXPECT_FALSE(Load().result.ok);
}
#endif

// The load in parts reads through the same functions, on several threads at once.
// Lines written after the file was opened would make it another file than
// the one measured: that read gives no table.
TEST_F(file_access, a_file_read_in_parts_loads_as_in_one_pass) {
    std::string bytes;
    for (int i = 0; bytes.size() < 300'000; ++i)
        bytes += "P" + std::to_string(i) + ",\"Part, " + std::to_string(i) + "\",12" +
                 std::to_string(i) + ",3\r\n";
    Write(bytes);
    LoadOptions options;
    options.partsFrom = 0;
    options.partBytes = 10'007; // cuts inside lines, quotes and CR LF pairs alike
    options.threads = 3;
    options.progressBudget = bytes.size();
    PriceTable table;
    std::uint64_t told = 0;
    SystemPriceFiles files;
    const LoadResult result = LoadPriceFile(
        files, table, [&](std::uint64_t n) { told += n; }, options);
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(Rows(table), RowsOf(bytes));
    EXPECT_EQ(told, bytes.size() - 2 * result.lines);

    for (bool inParts : {true, false}) {
        Write(bytes);
        std::string reason;
        const std::unique_ptr<PriceSource> file = files.Open(reason);
        ASSERT_TRUE(file) << reason;
        EXPECT_TRUE(file->Unchanged());
        std::ofstream(kPriceFileName.data(), std::ios::binary | std::ios::app) << "Q1,x,1,2\r\nQ2";
        EXPECT_FALSE(file->Unchanged());
        PriceTable grown;
        const LoadResult more =
            LoadPriceFile(*file, grown, nullptr, inParts ? options : LoadOptions());
        EXPECT_FALSE(more.ok);
        EXPECT_TRUE(more.changed);
        EXPECT_TRUE(grown.empty());
    }
}

// What tells a change of the file while it is read: the same file (volume and
// index) by its name, the same size and last write time. Being read by others,
// or given a new access time, is no change.
TEST_F(file_access, a_file_stays_unchanged_until_written_cut_or_replaced) {
    Write(kCrLf);
    {
        const ReadOnlyFile file(kPriceFileName);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(Load().rows, RowsOf(kCrLf));
        std::string read;
        std::ifstream("sorted.dat", std::ios::binary) >> read;
#ifdef _WIN32
        const HANDLE stamper =
            ::CreateFileW(L"sorted.dat", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(stamper, INVALID_HANDLE_VALUE);
        FILETIME later{};
        ::GetSystemTimeAsFileTime(&later);
        later.dwHighDateTime += 1;
        EXPECT_TRUE(::SetFileTime(stamper, nullptr, &later, nullptr));
        ::CloseHandle(stamper);
#else
        const timespec times[2] = {
            {std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()) + 3600, 0},
            {0, UTIME_OMIT}};
        EXPECT_EQ(::utimensat(AT_FDCWD, "sorted.dat", times, 0), 0);
#endif
        EXPECT_TRUE(file.Unchanged());

        // The same size, other bytes, written an hour later.
        std::string other = kCrLf;
        other[1] = '9';
        Write(other);
        fs::last_write_time("sorted.dat",
                            fs::last_write_time("sorted.dat") + std::chrono::hours(1));
        EXPECT_FALSE(file.Unchanged());
    }
    {
        const ReadOnlyFile file(kPriceFileName);
        ASSERT_TRUE(file.IsOpen());
        fs::resize_file("sorted.dat", 4);
        EXPECT_FALSE(file.Unchanged());
    }
    {
        Write(kCrLf);
        const ReadOnlyFile file(kPriceFileName);
        ASSERT_TRUE(file.IsOpen());
        // Moved aside, and the same bytes written in its place with the same
        // time: only the file's identity tells.
        fs::rename("sorted.dat", "sorted.old");
        Write(kCrLf);
        fs::last_write_time("sorted.dat", fs::last_write_time("sorted.old"));
        EXPECT_FALSE(file.Unchanged());
    }
#ifndef _WIN32
    {
        // A copy made beside it and renamed over it, as a careful copier does
        // (Windows refuses to replace a file that is open).
        const ReadOnlyFile file(kPriceFileName);
        ASSERT_TRUE(file.IsOpen());
        Write(kCrLf, "sorted.new");
        fs::rename("sorted.new", "sorted.dat");
        EXPECT_FALSE(file.Unchanged());
    }
    {
        // Removed. (Windows keeps the name of a removed file until its last
        // handle closes; Wine then tells no pending delete.)
        const ReadOnlyFile file(kPriceFileName);
        ASSERT_TRUE(file.IsOpen());
        fs::remove("sorted.dat");
        EXPECT_FALSE(file.Unchanged());
    }
#endif
}

// Another process copies a new list over the file as cp does: it cuts the
// file to nothing, then writes it in 128 KiB blocks with short pauses. The
// load, begun just after the cut, waits for the copy and reads the new list
// whole. (On Windows a thread of this process writes, through the same file
// interface.)
TEST_F(file_access, a_list_copied_over_by_another_process_loads_whole) {
    std::string after;
    for (int i = 0; after.size() < 2'000'000; ++i)
        after += "N" + std::to_string(i) + ",Part " + std::to_string(i) + ",1,2\r\n";
    Write(std::string(1'000'000, 'x'));
    constexpr std::size_t kBlock = 128 << 10;
    constexpr auto kPause = std::chrono::milliseconds(30);
#ifdef _WIN32
    std::atomic<bool> cut = false;
    std::thread writer([&] {
        std::ofstream copy("sorted.dat", std::ios::binary | std::ios::trunc);
        copy.flush();
        cut = true;
        for (std::size_t at = 0; at < after.size(); at += kBlock) {
            std::this_thread::sleep_for(kPause);
            copy.write(after.data() + at, std::min(kBlock, after.size() - at)).flush();
        }
    });
    while (!cut)
        std::this_thread::yield();
#else
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open("sorted.dat", O_WRONLY | O_TRUNC);
        bool ok = fd >= 0 && ::write(ready[1], "c", 1) == 1;
        for (std::size_t at = 0; ok && at < after.size(); at += kBlock) {
            ::usleep(std::chrono::microseconds(kPause).count());
            const std::size_t n = std::min(kBlock, after.size() - at);
            ok = ::write(fd, after.data() + at, n) == static_cast<ssize_t>(n);
        }
        ::_exit(ok ? 0 : 1);
    }
    char signal = 0;
    ASSERT_EQ(::read(ready[0], &signal, 1), 1);
#endif
    const auto began = std::chrono::steady_clock::now();
    const Loaded loaded = Load();
    const auto took = std::chrono::steady_clock::now() - began;
#ifdef _WIN32
    writer.join();
#else
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(ready[0]);
    ::close(ready[1]);
#endif
    ASSERT_TRUE(loaded.result.ok) << loaded.result.reason;
    EXPECT_EQ(loaded.rows, RowsOf(after));
    EXPECT_GE(took, kSettleTime);
    EXPECT_LT(took, std::chrono::seconds(10));
}
