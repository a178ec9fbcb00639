// Calls the scanner channel's operations one after the other, as the command
// line names them, and prints each result on a line of its own:
//   scanner_probe LOG enable N | switch N | setting N | send N | service NAME
//                     | state NAME | late-switch N | rename EXISTING|NEW ...
// LOG is the trace log file (appended to). Run with RAVLOKFIX_TEST_PROBES to
// make the channel see another platform family.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>

#include "base/guards.h"
#include "fileops/reboot_schedule.h"
#include "scanner/scanner_channel.h"
#include "trace/trace.h"

namespace {

// The current state of a service as the service manager reports it, 0 when
// it cannot be asked.
DWORD ServiceState(const char* name) {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager) return 0;
    UniqueServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
    return status.dwCurrentState;
}

// Covers the stack the channel used with a pattern and waits for a request
// the driver completes late: whatever it writes into that stack shows.
__attribute__((noinline)) int StackSurvivesLateCompletion() {
    volatile unsigned char canvas[8192];
    for (unsigned i = 0; i < sizeof canvas; ++i) canvas[i] = 0x5A;
    SleepEx(1500, TRUE);
    for (unsigned i = 0; i < sizeof canvas; ++i) {
        if (canvas[i] != 0x5A) return 0;
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    OpenTraceFile(argv[1], "a");
    for (int i = 2; i + 1 < argc; i += 2) {
        const char* command = argv[i];
        const char* argument = argv[i + 1];
        const int number = atoi(argument);
        if (strcmp(command, "enable") == 0) {
            SetScannerEnabled(number);
            printf("enable\n");
        } else if (strcmp(command, "switch") == 0) {
            printf("switch=%d\n", SwitchScannerNt(number));
        } else if (strcmp(command, "late-switch") == 0) {
            const int result = SwitchScannerNt(number);
            printf("switch=%d stack=%d\n", result, StackSurvivesLateCompletion());
        } else if (strcmp(command, "setting") == 0) {
            SetLastError(0xdeadbeef);
            const int result = ChangeScannerSetting(number);
            printf("setting=%d error=%lu\n", result, GetLastError());
        } else if (strcmp(command, "send") == 0) {
            UniqueFileHandle device = OpenScannerDevice();
            const DWORD openError = GetLastError();
            if (!device) {
                printf("open failed error=%lu\n", openError);
                continue;
            }
            const int sent = SendScannerSwitch(device.get(), number);
            printf("send=%d error=%lu\n", sent, GetLastError());
        } else if (strcmp(command, "service") == 0) {
            printf("service=%d\n", IsServiceLoaded(argument));
        } else if (strcmp(command, "rename") == 0) {
            // Asks the restart-time scheduler for a rename, as ReplaceFile would.
            const std::string pair = argument;
            const size_t bar = pair.find('|');
            if (bar == std::string::npos) return 2;
            printf("rename=%d\n",
                   AddFileToAutomaticRenameList(pair.substr(0, bar).c_str(), pair.substr(bar + 1).c_str()));
        } else if (strcmp(command, "state") == 0) {
            printf("state=%lu\n", ServiceState(argument));
        } else {
            return 2;
        }
        fflush(stdout);
    }
    return 0;
}
