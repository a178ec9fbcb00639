// A tiny program around the trace log, for what only a whole process shows:
// start-up, shutdown at exit and a kill between two messages.
//   trace_probe exit LOG   traces, exits; a late destructor traces after shutdown
//   trace_probe wait LOG   traces one message, then waits to be killed
//   trace_probe bare NAME  opens NAME as a bare file name and traces
#include <windows.h>

#include <cstring>

#include "trace/trace.h"

namespace {

// Built before the trace machinery and so torn down after its shutdown.
struct LateTracer {
    ~LateTracer() { TRACE(TraceDetail, "after shutdown\n"); }
} lateTracer __attribute__((init_priority(101)));

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    TRACE(TraceDetail, "before open\n");
    OpenTraceFile(argv[2], "a+");
    TRACE(TraceDetail, "first\n");
    if (strcmp(argv[1], "wait") == 0) {
        Sleep(INFINITE);
    }
    TRACE(TraceDetail, "last\n");
    return 0;
}
