#include "app/disinfect.h"

#include <windows.h>

#include "app/dropped_files.h"
#include "app/startup_entries.h"
#include "base/outcome.h"
#include "detect/signature.h"
#include "detect/terminate.h"
#include "scanner/scanner_channel.h"
#include "trace/trace.h"

int Disinfect_Ravlok(int32_t* disinfectionStatus, int32_t /*reserved1*/, const char* /*infectionName*/,
                     int32_t /*reserved2*/, int16_t requestCode, int32_t /*reserved3*/,
                     const char* targetSpecification, int32_t /*reserved4*/, int32_t /*reserved5*/,
                     int32_t /*reserved6*/, int32_t errorContext) {
    TRACE(TraceDetail, "%s", "[QRTK - Disinfect_Ravlok]\n");
    if (requestCode != 1 || targetSpecification == nullptr) {
        TRACE(TraceFailure, "%s", "[QRTK - Disinfect_Ravlok]: Wrong arguments.\n");
        *disinfectionStatus = 4;
        ReportError(3, 16, 0, 0, errorContext);
        return 0;
    }

    // The scanner stays suspended from before the first file is touched
    // until after the last registry step; no step can end the list early.
    SetScannerEnabled(0);
    TerminateInfectedProcesses(IsFileInfected);
    RemoveDroppedFiles();
    RepairSystemIniShell();
    DeleteStartupValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "windowsupdate");
    DeleteStartupValue(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "windowsupdate");
    SetScannerEnabled(1);
    return 1;
}
