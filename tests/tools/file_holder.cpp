// Holds a file open so that others cannot have it as they want, until
// killed or until the given time has passed.
//   file_holder [/write | /delete] PATH [milliseconds]
// Without a switch: read access, read sharing only (nobody can delete or write
// it, as with a running program). With /write: write access with read and
// write sharing, as another program writing to it would. With /delete: write
// and delete access, sharing everything (only a delete-sharing open gets in).
// Prints "holding" once the file is open.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const bool write = argc > 1 && strcmp(argv[1], "/write") == 0;
    const bool remove = argc > 1 && strcmp(argv[1], "/delete") == 0;
    const int first = write || remove ? 2 : 1;
    if (argc <= first) return 2;
    const char* path = argv[first];
    DWORD access = GENERIC_READ;
    DWORD sharing = FILE_SHARE_READ;
    if (write) {
        access = GENERIC_WRITE;
        sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    } else if (remove) {
        access = GENERIC_WRITE | DELETE;
        sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    }
    HANDLE file = CreateFileA(path, access, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        printf("cannot open %s: %lu\n", path, GetLastError());
        return 1;
    }
    printf("holding\n");
    fflush(stdout);
    Sleep(argc > first + 1 ? static_cast<DWORD>(strtoul(argv[first + 1], nullptr, 10)) : INFINITE);
    CloseHandle(file);
    return 0;
}
