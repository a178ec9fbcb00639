#include "scanner/scanner_channel.h"

#include <cstdlib>
#include <cstring>

#include "base/guards.h"
#include "base/platform.h"
#include "scanner/registry_path.h"
#include "trace/trace.h"

namespace {

// Control codes of the scanner's driver. NT: device type 7, read/write access,
// buffered transfer.
constexpr DWORD SetStateText = 0x7E800;   // function 0xA00: "0" or "1"
constexpr DWORD ReadState = 0x7F010;      // function 0xC04: 16-bit state back
constexpr DWORD SetState54x = 0x7C454;    // function 0x115: 32-bit state
constexpr DWORD SetStateText9x = 0x200;   // 9x driver: "0" or "1"
constexpr DWORD ChangeSetting = 0x7C450;  // function 0x114: setting record

constexpr char NtDevice[] = "\\\\.\\PortivaDev";
constexpr char SettingsDevice9x[] = "\\\\.\\pvxk95";
constexpr char DeviceNamePath[] = "HKEY_LOCAL_MACHINE\\Software\\Tessival\\Norvane\\Portiva\\\\DeviceName";

// The request's buffers live on the heap: a request the driver leaves
// pending still refers to the completion record and the answer word after
// this call has returned, so such a record is left to the driver.
struct NtExchange {
    OVERLAPPED overlapped[3];  // one per request: a pending one keeps its own
    uint16_t answer;
};

// Sends one request with its completion record; true when the call reports
// success. *pending is set when the driver keeps the request for later.
bool SendWithRecord(HANDLE device, DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize,
                    OVERLAPPED* overlapped, int* pending) {
    DWORD returned = 0;
    if (DeviceIoControl(device, code, input, inputSize, output, outputSize, &returned, overlapped)) {
        return true;
    }
    if (GetLastError() == ERROR_IO_PENDING) *pending = 1;
    return false;
}

}  // namespace

void BuildScannerSettingRecord(uint8_t record[ScannerSettingRecordSize], int enabled) {
    memset(record, 0, ScannerSettingRecordSize);
    memcpy(record, ScannerSettingIdentifier, sizeof ScannerSettingIdentifier);
    const uint32_t value = enabled != 0 ? 1 : 0;
    record[sizeof ScannerSettingIdentifier + 0] = static_cast<uint8_t>(value);
    record[sizeof ScannerSettingIdentifier + 1] = static_cast<uint8_t>(value >> 8);
    record[sizeof ScannerSettingIdentifier + 2] = static_cast<uint8_t>(value >> 16);
    record[sizeof ScannerSettingIdentifier + 3] = static_cast<uint8_t>(value >> 24);
}

void SetScannerEnabled(int enabled) {
    UniqueFileHandle device = OpenScannerDevice();
    if (device) {
        SendScannerSwitch(device.get(), enabled);
        device.reset();
    }
    if (IsWindowsNT()) {
        SwitchScannerNt(enabled);
    } else {
        ChangeScannerSetting(enabled);
    }
}

UniqueFileHandle OpenScannerDevice() {
    SetLastError(0);
    if (IsWindowsNT()) {
        return UniqueFileHandle(CreateFileA(NtDevice, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    }
    // Zero-filled, so that a value without terminator is compared within
    // the buffer: "PV95" and its terminator are 5 of its 16 bytes.
    char name[16] = {};
    const bool pv95 = ReadRegistryPathValue(name, sizeof name, DeviceNamePath) == 0 && memcmp(name, "PV95", 5) == 0;
    return UniqueFileHandle(
        CreateFileA(pv95 ? "\\\\.\\PV95" : "\\\\.\\QDX", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

int SendScannerSwitch(HANDLE device, int enabled) {
    DWORD returned = 0;
    SetLastError(0);
    char text[2] = {enabled != 0 ? '1' : '0', '\0'};
    const DWORD code = IsWindowsNT() ? SetStateText : SetStateText9x;
    // Judged by the last-error value alone, as the scanner's drivers expect.
    DeviceIoControl(device, code, text, sizeof text, nullptr, 0, &returned, nullptr);
    return GetLastError() == 0 ? 1 : 0;
}

int SwitchScannerNt(int enabled) {
    const int state = enabled != 0 ? 1 : 0;
    UniqueFileHandle device(CreateFileA(NtDevice, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    if (!device) {
        TRACE(TraceDetail, "Cannot open PV error=%ld\n", static_cast<long>(GetLastError()));
        return 1;
    }
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueMemory memory(calloc(1, sizeof(NtExchange)));
    if (!event || !memory) return 0;
    auto* exchange = static_cast<NtExchange*>(memory.get());
    for (OVERLAPPED& overlapped : exchange->overlapped) overlapped.hEvent = event.get();

    int result = 0;
    int pending = 0;
    bool tryForm54x = true;
    char text[2] = {static_cast<char>('0' + state), '\0'};
    if (!SendWithRecord(device.get(), SetStateText, text, sizeof text, nullptr, 0, &exchange->overlapped[0],
                        &pending)) {
        TRACE(TraceDetail, "PV communication error in first phase %08X\n", static_cast<unsigned>(GetLastError()));
    } else {
        exchange->answer = 0xABCD;
        if (!SendWithRecord(device.get(), ReadState, nullptr, 0, &exchange->answer, sizeof exchange->answer,
                            &exchange->overlapped[1], &pending)) {
            TRACE(TraceDetail, "PV communication error in second phase %08X\n",
                  static_cast<unsigned>(GetLastError()));
        } else if (exchange->answer == state) {
            result = 1;
            tryForm54x = false;
        }
    }
    if (tryForm54x) {
        uint8_t value[4] = {static_cast<uint8_t>(state), 0, 0, 0};
        if (SendWithRecord(device.get(), SetState54x, value, sizeof value, nullptr, 0, &exchange->overlapped[2],
                           &pending)) {
            result = 1;
            TRACE(TraceDetail, "%s", "PV 5.4x communication successful\n");
        } else {
            TRACE(TraceDetail, "PV 5.4x communication error in first phase %08X\n",
                  static_cast<unsigned>(GetLastError()));
        }
    }
    if (pending) memory.release();
    return result;
}

int ChangeScannerSetting(int enabled) {
    UniqueFileHandle device(CreateFileA(SettingsDevice9x, 0, 0, nullptr, 0, FILE_FLAG_OVERLAPPED, nullptr));
    if (!device) {
        TRACE(TraceDetail, "Cannot open PV error=%ld\n", static_cast<long>(GetLastError()));
        return 1;
    }
    uint8_t record[ScannerSettingRecordSize];
    BuildScannerSettingRecord(record, enabled);
    DWORD returned = 0;
    // Only the identifier and its terminator are counted; the value lies
    // directly behind them.
    const int result =
        DeviceIoControl(device.get(), ChangeSetting, record, sizeof ScannerSettingIdentifier, nullptr, 0, &returned,
                        nullptr)
            ? 1
            : 0;
    device.reset();
    TRACE(TraceDetail, "Setting change status =%d error=%ld\n", result, static_cast<long>(GetLastError()));
    return result;
}

int IsServiceLoaded(const char* serviceName) {
    // The 9x family has no service manager: its service functions are stubs that fail.
    if (!IsWindowsNT()) return 0;
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager) return 0;
    UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName, SERVICE_QUERY_STATUS));
    if (!service) return 0;
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status)) return 0;
    switch (status.dwCurrentState) {
    case SERVICE_START_PENDING:
    case SERVICE_RUNNING:
    case SERVICE_CONTINUE_PENDING:
        return 1;
    default:
        return 0;
    }
}
