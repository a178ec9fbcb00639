// A harmless program for the tests: it waits, then ends with exit code 7.
//   idle_program [milliseconds]   (default: a minute)
// Worm stand-ins are copies of it whose first 8192 bytes carry a worm
// signature's CRC-32 (see wormify.py); they do nothing else.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    const DWORD wait = argc > 1 ? static_cast<DWORD>(strtoul(argv[1], nullptr, 10)) : 60000;
    Sleep(wait);
    return 7;
}
