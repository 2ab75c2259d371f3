#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The platform's file services, as much as the price file needs of them, and
// the number of cores its load may use: one implementation per platform
// (file_posix.cpp, file_windows.cpp), and nothing else in the program touches
// the system's file or processor interface.
namespace pricelookup {

// The current directory as text (UTF-8 on Windows, the file system's bytes
// elsewhere), or nothing when it has no name any more: it was removed, or the
// system cannot tell its path.
std::optional<std::string> CurrentDirectoryName();

// How many threads this process may run at once: the cores it is allowed on
// (taskset or an affinity mask narrows them), at least 1.
unsigned UsableCores();

// Backs `size` bytes of fresh memory at `data` with pages at once, rather
// than page by page as each is first written: one call costs less than a
// fault for every page. Does nothing where the system cannot.
void PrefaultMemory(void* data, std::size_t size);

// What one ReadAt call gave.
struct FileRead {
    std::size_t bytes = 0; // 0 at the end of the file
    std::string error;     // why it failed, when not empty
};

// What tells one state of a file from another: which file it is (its volume
// and its index there), its size and when it was last written. Reading the
// file, or setting its access time alone, changes none of them.
struct FileState {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::int64_t written = 0; // nanoseconds since 1970, as fine as the system tells
    bool operator==(const FileState&) const = default;
};

// The system's clock, in the unit of FileState::written: what a file's last
// write time is compared with. It may jump when the clock is set.
std::int64_t WallClockNow();

// The state of the file that `name`, a plain file name, leads to in the
// current directory now, without opening it for reading; nothing, with the
// system's reason in `error`, when there is none or it cannot be told.
std::optional<FileState> LookUpFile(std::string_view name, std::string& error);

// A regular file in the current directory, open for reading only. Opening it
// never waits on a pipe or a device: anything but a regular file is refused
// before a byte of it is read. Other programs may hold the file open, even for
// writing, and may rename or delete it meanwhile.
class ReadOnlyFile {
public:
    // Opens `name`, a plain file name, in the current directory itself, not
    // under a path made from the directory's name: it is found even where that
    // name can no longer be told.
    explicit ReadOnlyFile(std::string_view name);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return open_; }
    // Why the open failed, when it did; the system's words, in the same
    // encoding as CurrentDirectoryName.
    const std::string& Error() const { return error_; }
    // The size in bytes when the file was opened.
    std::uint64_t Size() const { return size_; }
    // The file's state when it was opened.
    const FileState& State() const { return opened_; }

    // Whether the file is still as it was opened: the open file has the same
    // size and last write time, and its name in the current directory still
    // leads to it. False once it was cut, grown or written to, or when
    // another file took its name or it lost its name.
    bool Unchanged() const;

    // Reads up to `size` bytes at `offset` into `buffer`. Never moves a shared
    // position, so several threads may read parts of the file at once.
    FileRead ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const;

private:
    bool open_ = false;
    std::string error_;
    std::uint64_t size_ = 0;
    FileState opened_;
    // How Unchanged finds the name again: the name on POSIX systems, the
    // full path on Windows (in UTF-8).
    std::string name_;
    // A file descriptor, or a Windows HANDLE.
    std::intptr_t handle_ = -1;
};

} // namespace pricelookup
