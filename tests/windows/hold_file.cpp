// Holds a file open and shares it with no one, as a program that locks its
// document does, until it is ended: Windows's own way of making a file
// unreadable to others. Prints "held" once it holds the file.
// Usage: hold_file FILE

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return 2;
    const HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    std::puts("held");
    std::fflush(stdout);
    for (;;)
        ::Sleep(1000);
}
