// Holds a file open as an office program does, sharing nothing, until a
// second file appears (at most a minute); says "held" once it holds it.
// usage: hold_file PATH RELEASE-PATH
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: hold_file PATH RELEASE-PATH\n", stderr);
        return 2;
    }
    const HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: cannot open the file (error %lu)\n", GetLastError());
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    for (int waited = 0; waited < 60000 && GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; waited += 20)
        Sleep(20);
    CloseHandle(file);
    return 0;
}
