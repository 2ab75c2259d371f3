#include "file_access.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sched.h>
#endif

namespace pricelookup {

namespace {

FileState StateOf(const struct stat& st) {
    FileState state;
    state.volume = static_cast<std::uint64_t>(st.st_dev);
    state.index = static_cast<std::uint64_t>(st.st_ino);
    state.size = static_cast<std::uint64_t>(st.st_size);
#if defined(__APPLE__)
    const struct timespec& written = st.st_mtimespec;
#else
    const struct timespec& written = st.st_mtim;
#endif
    state.written = static_cast<std::int64_t>(written.tv_sec) * 1'000'000'000 + written.tv_nsec;
    return state;
}

} // namespace

std::int64_t WallClockNow() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::optional<FileState> LookUpFile(std::string_view name, std::string& error) {
    const std::string relative(name);
    struct stat st {};
    if (::fstatat(AT_FDCWD, relative.c_str(), &st, 0) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    return StateOf(st);
}

std::optional<std::string> CurrentDirectoryName() {
    // With no buffer given, the C library allocates one as long as the path.
    char* name = ::getcwd(nullptr, 0);
    if (!name)
        return std::nullopt;
    std::string directory(name);
    std::free(name);
    // Linux tells a directory outside the process's root as "(unreachable)/...".
    if (directory.empty() || directory.front() != '/')
        return std::nullopt;
    return directory;
}

unsigned UsableCores() {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0)
            return static_cast<unsigned>(n);
    }
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

void PrefaultMemory(void* data, std::size_t size) {
#if defined(MADV_POPULATE_WRITE)
    // Whole pages inside the range only: the pages at its ends may hold
    // other data, and advice on them is still harmless but not needed.
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0)
        return;
    const auto mask = static_cast<std::uintptr_t>(page - 1);
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + mask) & ~mask;
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~mask;
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)size;
#endif
}

ReadOnlyFile::ReadOnlyFile(std::string_view name) {
    const std::string relative(name);
    // Without O_NONBLOCK, a pipe with no writer would hold the open forever.
    const int fd =
        ::openat(AT_FDCWD, relative.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = std::strerror(errno);
        ::close(fd);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = S_ISDIR(st.st_mode) ? "Is a directory" : "Not a regular file";
        ::close(fd);
        return;
    }
    // A regular file never blocks; reads below wait as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    handle_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    opened_ = StateOf(st);
    name_ = relative;
    open_ = true;
}

bool ReadOnlyFile::Unchanged() const {
    struct stat st {};
    if (!open_ || ::fstat(static_cast<int>(handle_), &st) != 0 || !(StateOf(st) == opened_))
        return false;
    return ::fstatat(AT_FDCWD, name_.c_str(), &st, 0) == 0 && StateOf(st) == opened_;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (open_)
        ::close(static_cast<int>(handle_));
}

FileRead ReadOnlyFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const {
    FileRead read;
    for (;;) {
        const ssize_t n =
            ::pread(static_cast<int>(handle_), buffer, size, static_cast<off_t>(offset));
        if (n >= 0) {
            read.bytes = static_cast<std::size_t>(n);
            return read;
        }
        if (errno != EINTR) {
            read.error = std::strerror(errno);
            return read;
        }
    }
}

} // namespace pricelookup
