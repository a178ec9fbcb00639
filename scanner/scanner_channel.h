// Channel to the real-time scanner's driver and service.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/guards.h"

void SetScannerEnabled(int enabled);
UniqueFileHandle OpenScannerDevice();
int SendScannerSwitch(HANDLE device, int enabled);
int SwitchScannerNt(int enabled);
int ChangeScannerSetting(int enabled);
int IsServiceLoaded(const char* serviceName);

// The record of the 9x setting request: the identifier, its terminator, then
// the new value (32-bit little-endian, 1 or 0) behind the counted bytes;
// zero elsewhere.
constexpr char ScannerSettingIdentifier[] = "1.3.6.1.4.1.4217.12.1.111.2.10";
constexpr int ScannerSettingRecordSize = 256;
void BuildScannerSettingRecord(uint8_t record[ScannerSettingRecordSize], int enabled);
