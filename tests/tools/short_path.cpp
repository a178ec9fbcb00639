// Prints the short form of a path as the platform gives it (Wine's short
// names are hashed and cannot be guessed). The path is read in UTF-16, so
// that names outside the ANSI code page can be asked for too.
//   short_path PATH
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 2) return 2;
    wchar_t shortPath[MAX_PATH];
    const DWORD length = GetShortPathNameW(argv[1], shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    char ansi[MAX_PATH * 2];
    if (WideCharToMultiByte(CP_ACP, 0, shortPath, -1, ansi, sizeof ansi, nullptr, nullptr) == 0) return 1;
    printf("%s\n", ansi);
    return 0;
}
