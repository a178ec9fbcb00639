// Stand-in for the scanner's service "Norvane Portiva", for the tests only.
// It reports whatever state the DWORD value "ReportState" of its service key
// names (a SERVICE_* state, 1 to 7; running when absent), and follows every
// change of that value within about 50 ms, so that a test can put it into
// any state, pending ones included. Reporting stopped ends it; a stop
// request ends it too.
#include <windows.h>

namespace {

constexpr char ServiceName[] = "Norvane Portiva";
constexpr char ServiceKey[] = "System\\CurrentControlSet\\Services\\Norvane Portiva";

SERVICE_STATUS_HANDLE statusHandle;
HANDLE stopEvent;

DWORD WantedState() {
    DWORD state = SERVICE_RUNNING;
    DWORD size = sizeof state;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, ServiceKey, "ReportState", RRF_RT_REG_DWORD, nullptr, &state, &size) !=
            ERROR_SUCCESS ||
        state < SERVICE_STOPPED || state > SERVICE_PAUSED) {
        state = SERVICE_RUNNING;
    }
    return state;
}

void Report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP;
    status.dwWaitHint = state == SERVICE_STOPPED ? 0 : 60000;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) SetEvent(stopEvent);
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char**) {
    statusHandle = RegisterServiceCtrlHandlerExA(ServiceName, Control, nullptr);
    if (statusHandle == nullptr) return;
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // The service manager takes only start-pending or running as the first report.
    Report(SERVICE_START_PENDING);
    DWORD reported = SERVICE_START_PENDING;
    while (WaitForSingleObject(stopEvent, 50) == WAIT_TIMEOUT) {
        const DWORD wanted = WantedState();
        if (wanted == SERVICE_STOPPED) break;
        if (wanted != reported) {
            Report(wanted);
            reported = wanted;
        }
    }
    Report(SERVICE_STOPPED);
}

}  // namespace

int main() {
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(ServiceName), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
