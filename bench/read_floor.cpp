// read_floor FILE: the least a program that keeps the file must spend on it.
// Reads the whole file with pread into one fresh buffer, split between the
// cores the process may use (as the load splits it), and counts its line
// ends. Prints on stdout:
//   floor_ms  from before the open to the count, in milliseconds
//   lines     CR bytes counted (the lines a file of CR LF lines has)
// Plain POSIX and nothing of the program, so that it measures the machine.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    char* buffer = static_cast<char*>(std::malloc(size + 1));
    if (!buffer) {
        std::fprintf(stderr, "out of memory\n");
        return 1;
    }
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    const int cores = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
    const std::size_t threads = std::max(1, cores);
    std::vector<std::uint64_t> counts(threads);
    std::vector<int> failed(threads);
    auto work = [&](std::size_t t) {
        std::size_t begin = size * t / threads;
        const std::size_t end = size * (t + 1) / threads;
        const std::size_t from = begin;
        while (begin < end) {
            const ssize_t got =
                ::pread(fd, buffer + begin, std::min<std::size_t>(end - begin, 1 << 30),
                        static_cast<off_t>(begin));
            if (got <= 0) {
                failed[t] = 1;
                return;
            }
            begin += static_cast<std::size_t>(got);
        }
        std::uint64_t n = 0;
        for (const char* p = buffer + from; p < buffer + end; ++p) {
            p = static_cast<const char*>(
                std::memchr(p, '\r', static_cast<std::size_t>(buffer + end - p)));
            if (!p)
                break;
            ++n;
        }
        counts[t] = n;
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t)
        pool.emplace_back(work, t);
    work(0);
    for (std::thread& thread : pool)
        thread.join();
    std::uint64_t lines = 0;
    for (std::size_t t = 0; t < threads; ++t) {
        if (failed[t]) {
            std::fprintf(stderr, "%s: short read\n", argv[1]);
            return 1;
        }
        lines += counts[t];
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("floor_ms %.3f\nlines %llu\n", ms, static_cast<unsigned long long>(lines));
    ::close(fd);
    std::free(buffer);
    return 0;
}
