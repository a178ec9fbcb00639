// What the walk pays per program file: the check that reads it (open, two
// 8 KiB reads, CRC, close) against the look that a walk's cache of clean
// files takes instead (open for attributes, the file's stamp, close), the
// same look through GetFileInformationByHandle, and the parts of each on
// handles already open.
//   file_check_cost PROGRAM FOLDER COUNT REPEATS
// copies PROGRAM to COUNT files in FOLDER and prints one line per way,
// "<way> <median us per file> <quartiles us>".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/guards.h"
#include "detect/signature.h"
#include "tests/bench/walk_cache.h"
#include "tests/bench/bench_timer.h"

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Open(const std::string& path, DWORD access) {
    return CreateFileA(path.c_str(), access, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
}

template <typename Step>
void Report(const char* way, int repeats, size_t files, Step step) {
    const Timing timing = MeasureMilliseconds(repeats, step);
    const double perFile = 1000.0 / static_cast<double>(files);
    printf("%s %.1f %.1f %.1f\n", way, timing.median * perFile, timing.lowQuartile * perFile,
           timing.highQuartile * perFile);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const std::string folder = argv[2];
    const int count = atoi(argv[3]);
    const int repeats = atoi(argv[4]);
    CreateDirectoryA(folder.c_str(), nullptr);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(folder + "\\c" + std::to_string(i) + ".exe");
        if (!CopyFileA(argv[1], files.back().c_str(), FALSE)) return 1;
    }

    int clean = 0;
    Report("check", repeats, files.size(), [&] {
        for (const std::string& file : files) {
            const UniqueFileHandle handle(Open(file, GENERIC_READ));
            clean += handle && !IsOpenFileInfected(handle.get());
        }
    });
    Report("stamp", repeats, files.size(), [&] {
        for (const std::string& file : files) {
            const UniqueFileHandle handle(Open(file, FILE_READ_ATTRIBUTES));
            FileStamp stamp;
            clean += handle && ReadFileStamp(handle.get(), &stamp);
        }
    });
    Report("information", repeats, files.size(), [&] {
        for (const std::string& file : files) {
            const UniqueFileHandle handle(Open(file, FILE_READ_ATTRIBUTES));
            BY_HANDLE_FILE_INFORMATION information;
            clean += handle && GetFileInformationByHandle(handle.get(), &information);
        }
    });
    Report("open-close", repeats, files.size(), [&] {
        for (const std::string& file : files) clean += UniqueFileHandle(Open(file, FILE_READ_ATTRIBUTES)) ? 1 : 0;
    });

    std::vector<UniqueFileHandle> open;
    for (const std::string& file : files) open.emplace_back(Open(file, GENERIC_READ));
    Report("reads-alone", repeats, files.size(), [&] {
        for (const UniqueFileHandle& handle : open) clean += !IsOpenFileInfected(handle.get());
    });
    Report("stamp-alone", repeats, files.size(), [&] {
        for (const UniqueFileHandle& handle : open) {
            FileStamp stamp;
            clean += ReadFileStamp(handle.get(), &stamp);
        }
    });
    Report("information-alone", repeats, files.size(), [&] {
        for (const UniqueFileHandle& handle : open) {
            BY_HANDLE_FILE_INFORMATION information;
            clean += GetFileInformationByHandle(handle.get(), &information);
        }
    });
    fprintf(stderr, "%d\n", clean);  // keeps the work from being optimised away
    return 0;
}
