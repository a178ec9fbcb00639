// Channel to the real-time scanner's driver and service.
#pragma once
#include <windows.h>
#include <cstdint>

void SetScannerEnabled(int enabled);
HANDLE OpenScannerDevice();
int SendScannerSwitch(HANDLE device, int enabled);
int SwitchScannerNt(int enabled);
int ChangeScannerSetting(int enabled);
int IsServiceLoaded(const char* serviceName);
