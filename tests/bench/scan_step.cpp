// The tool's process-scan step as the disinfection sequence runs it, with
// its trace going to a log file.
//   scan_step REPEATS LOG   prints "scan <median ms> <processes examined>"
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "detect/signature.h"
#include "detect/terminate.h"
#include "tests/bench/bench_timer.h"
#include "trace/trace.h"

namespace {

int examined = 0;

RecognitionResult CountingRecogniseFile(const char* path) {
    ++examined;
    return RecogniseFile(path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int repeats = atoi(argv[1]);
    OpenTraceFile(argv[2], "w");
    const double median = MedianMilliseconds(repeats, [] {
        examined = 0;
        TerminateInfectedProcesses(CountingRecogniseFile);
    });
    printf("scan %.3f %d\n", median, examined);
    return 0;
}
