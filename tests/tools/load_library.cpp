// Loads a library by the name given, as a program that trusts the search
// order would, and prints where it came from.
//   load_library NAME      exit code 0 when it loaded, 1 when not
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    HMODULE library = LoadLibraryA(argv[1]);
    if (library == nullptr) return 1;
    char path[MAX_PATH] = "";
    GetModuleFileNameA(library, path, sizeof path);
    printf("%s\n", path);
    FreeLibrary(library);
    return 0;
}
