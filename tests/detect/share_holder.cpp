// Holds a file open for writing (read and write sharing), the way another
// program writing to it would, until killed or until the time has passed.
//   share_holder PATH [ms]
// Prints "holding" once the file is open.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        printf("cannot open %s: %lu\n", argv[1], GetLastError());
        return 1;
    }
    printf("holding\n");
    fflush(stdout);
    Sleep(argc > 2 ? static_cast<DWORD>(strtoul(argv[2], nullptr, 10)) : INFINITE);
    CloseHandle(file);
    return 0;
}
