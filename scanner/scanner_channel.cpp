#include "scanner/scanner_channel.h"

// Placeholders until the scanner channel lands.
void SetScannerEnabled(int /*enabled*/) {}
HANDLE OpenScannerDevice() { return INVALID_HANDLE_VALUE; }
int SendScannerSwitch(HANDLE /*device*/, int /*enabled*/) { return 0; }
int SwitchScannerNt(int /*enabled*/) { return 1; }
int ChangeScannerSetting(int /*enabled*/) { return 1; }
int IsServiceLoaded(const char* /*serviceName*/) { return 0; }
