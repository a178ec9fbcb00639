// The tool's process-scan step as the disinfection sequence runs it, with
// its trace going to a log file.
//   scan_step REPEATS LOG [cached]
// prints "scan <median ms> <processes examined> <quartiles ms> <each run's ms>". With
// "cached", each program file found clean is remembered for the rest of the
// walk (tests/bench/walk_cache.h) and a process whose program is known clean is
// not read again; prints "cached ..." then.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/guards.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "detect/signature.h"
#include "detect/terminate.h"
#include "tests/bench/walk_cache.h"
#include "tests/bench/bench_timer.h"
#include "trace/trace.h"

namespace {

int examined = 0;
WalkFileCache* cache = nullptr;

RecognitionResult CountingRecogniseFile(const wchar_t* path) {
    ++examined;
    return RecogniseFile(path);
}

// A clean file is read once per walk: its stamp is taken through the handle
// it is read through, before the read.
RecognitionResult CachedRecogniseFile(const wchar_t* wide) {
    ++examined;
    RecognitionResult result;
    if (cache->KnownClean(wide)) {
        result.verdict = Recognition::NotWorm;
        return result;
    }
    const int isNt = IsWindowsNT();
    const UniqueFileHandle file(WideCreateFile(wide, GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | (isNt ? FILE_SHARE_DELETE : 0),
                                               nullptr, OPEN_EXISTING, 0, nullptr));
    FileStamp stamp;
    // Anything but a clean file that was read goes the usual way.
    if (!file || !ReadFileStamp(file.get(), &stamp) || IsOpenFileInfected(file.get())) return RecogniseFile(wide);
    cache->RememberClean(wide, stamp);
    result.verdict = Recognition::NotWorm;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int repeats = atoi(argv[1]);
    const bool cached = argc > 3 && strcmp(argv[3], "cached") == 0;
    OpenTraceFile(argv[2], "w");
    const Timing timing = MeasureMilliseconds(repeats, [cached] {
        examined = 0;
        WalkFileCache walkCache;
        cache = &walkCache;
        TerminateInfectedProcesses(cached ? CachedRecogniseFile : CountingRecogniseFile);
    });
    PrintTiming(cached ? "cached" : "scan", timing, examined);
    return 0;
}
