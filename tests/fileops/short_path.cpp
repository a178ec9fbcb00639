// Prints the short form of a path as the platform gives it (Wine's short
// names are hashed and cannot be guessed).
//   short_path PATH
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    char shortPath[MAX_PATH];
    const DWORD length = GetShortPathNameA(argv[1], shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath) return 1;
    printf("%s\n", shortPath);
    return 0;
}
