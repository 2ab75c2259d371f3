#pragma once

// What the benchmarks and the start-up probe share beyond the file generator:
// where the generated files are kept, and the process's own memory figures.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace pricelookup::benchgen {

// Where generated price files are cached: $PRICELOOKUP_BENCH_DATA, or
// build/bench-data; scripts/bench sets it for every program it runs.
inline std::string DataRoot() {
    const char* root = std::getenv("PRICELOOKUP_BENCH_DATA");
    return root && *root ? root : "build/bench-data";
}

// A field of /proc/self/status (VmRSS, VmHWM ...) in bytes, or 0.
inline std::uint64_t StatusBytes(std::string_view field) {
    char buf[8192];
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    const std::string_view text(buf, static_cast<std::size_t>(n));
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t eol = text.find('\n', pos);
        const std::string_view line = text.substr(pos, eol - pos);
        if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':')
            return std::strtoull(line.data() + field.size() + 1, nullptr, 10) * 1024;
        if (eol == std::string_view::npos)
            break;
        pos = eol + 1;
    }
    return 0;
}

} // namespace pricelookup::benchgen
