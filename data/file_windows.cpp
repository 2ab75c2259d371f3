#include "file_access.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <bit>
#include <thread>

namespace pricelookup {

void PrefaultMemory(void*, std::size_t) {
    // Windows backs fresh pages as they are written, and has no call that
    // backs many at once for private memory.
}

namespace {

std::string Utf8(std::wstring_view text) {
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int length = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(), n);
    return out;
}

// The system's text for an error code, without its closing full stop.
std::string ErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n != 0 && text ? std::wstring(text, n) : std::wstring();
    if (text)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                                message.back() == L'.' || message.back() == L' '))
        message.pop_back();
    if (message.empty())
        return "Error " + std::to_string(code);
    return Utf8(message);
}

std::optional<std::wstring> CurrentDirectoryWide() {
    // The directory may change between the two calls; try again if it grew.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
        if (needed == 0)
            return std::nullopt;
        std::wstring directory(needed, L'\0');
        const DWORD written = ::GetCurrentDirectoryW(needed, directory.data());
        if (written == 0)
            return std::nullopt;
        if (written < needed) {
            directory.resize(written);
            return directory;
        }
    }
    return std::nullopt;
}

// Paths past MAX_PATH need the prefix that turns off the old length limit.
std::wstring LongPath(std::wstring path) {
    if (path.size() < MAX_PATH || path.starts_with(L"\\\\?\\"))
        return path;
    if (path.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

// A file time (100 ns since 1601) as nanoseconds since 1970.
std::int64_t Nanoseconds(FILETIME time) {
    constexpr std::int64_t k1601To1970 = 116'444'736'000'000'000;
    const auto ticks =
        static_cast<std::int64_t>(std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime);
    return (ticks - k1601To1970) * 100;
}

// The file's volume, index, size and last write time, or nothing when the
// system cannot tell them.
std::optional<FileState> StateOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info))
        return std::nullopt;
    FileState state;
    state.volume = info.dwVolumeSerialNumber;
    state.index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    state.size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    state.written = Nanoseconds(info.ftLastWriteTime);
    return state;
}

// `name` in the current directory, as a path the wide file functions take.
std::optional<std::wstring> PathInCurrentDirectory(std::string_view name) {
    const std::optional<std::wstring> directory = CurrentDirectoryWide();
    if (!directory || directory->empty())
        return std::nullopt;
    std::wstring path = *directory;
    if (path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    return LongPath(path + Wide(name));
}

// The file at `path`, opened for nothing but its attributes and sharing all,
// so that no writer is kept out meanwhile; nothing when it cannot be.
std::optional<FileState> StateOfPath(const std::wstring& path) {
    const HANDLE named = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<FileState> state = StateOf(named);
    const DWORD error = ::GetLastError();
    ::CloseHandle(named);
    ::SetLastError(error);
    return state;
}

} // namespace

std::optional<std::string> CurrentDirectoryName() {
    const std::optional<std::wstring> directory = CurrentDirectoryWide();
    if (!directory || directory->empty())
        return std::nullopt;
    return Utf8(*directory);
}

std::int64_t WallClockNow() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return Nanoseconds(now);
}

std::optional<FileState> LookUpFile(std::string_view name, std::string& error) {
    const std::optional<std::wstring> path = PathInCurrentDirectory(name);
    std::optional<FileState> state = path ? StateOfPath(*path) : std::nullopt;
    if (!state)
        error = ErrorText(::GetLastError());
    return state;
}

unsigned UsableCores() {
    // The mask covers the process's processor group, as many as 64 cores.
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0)
        return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(process)));
    return std::max(1u, std::thread::hardware_concurrency());
}

ReadOnlyFile::ReadOnlyFile(std::string_view name) {
    const std::optional<std::wstring> named = PathInCurrentDirectory(name);
    if (!named) {
        error_ = ErrorText(::GetLastError());
        return;
    }
    const std::wstring& path = *named;

    // Shared for reading, writing and deleting: a price list that another
    // program holds open, even for writing, can still be read.
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // A directory cannot be opened as a file, and says only "access denied".
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            error_ = "Is a directory";
        else
            error_ = ErrorText(error);
        return;
    }
    // Pipes, consoles and devices are not price lists, and reading them may wait.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        error_ = "Not a regular file";
        ::CloseHandle(file);
        return;
    }
    const std::optional<FileState> state = StateOf(file);
    if (!state) {
        error_ = ErrorText(::GetLastError());
        ::CloseHandle(file);
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    size_ = state->size;
    opened_ = *state;
    name_ = Utf8(path);
    open_ = true;
}

bool ReadOnlyFile::Unchanged() const {
    if (!open_)
        return false;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    const std::optional<FileState> now = StateOf(file);
    if (!now || !(*now == opened_))
        return false;
    // Removed while open: the name stays until the last handle closes.
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
        standard.DeletePending)
        return false;
    // The name again: it must still lead to this file.
    const std::optional<FileState> byName = StateOfPath(Wide(name_));
    return byName && *byName == opened_;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (open_)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FileRead ReadOnlyFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const {
    FileRead read;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, wanted, &got, &at)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_HANDLE_EOF)
            read.error = ErrorText(error);
        return read;
    }
    read.bytes = got;
    return read;
}

} // namespace pricelookup
