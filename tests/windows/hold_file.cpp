// Holds a file open as an office program does, sharing nothing, for the
// given number of milliseconds; says "held" once it holds it.
// usage: hold_file PATH MILLISECONDS
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: hold_file PATH MILLISECONDS\n", stderr);
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
    Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    CloseHandle(file);
    return 0;
}
