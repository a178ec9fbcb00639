// Writes, for one fixed input, everything the program puts on disk, so that
// the 32-bit and the 64-bit builds can be shown to write the same bytes:
//   same_bytes_probe FOLDER
//     FOLDER\trace.log     trace lines in every form the program uses
//     FOLDER\WININIT.INI   two entries set in the restart file's model
//     PVXK.REN             a rename list of two pairs, in the scanner's
//                          directory (from the registry, as in a run)
// Prints "ok" when all three were written.
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>

#include "fileops/ini_file.h"
#include "fileops/rename_list.h"
#include "trace/trace.h"

namespace {

void WriteTrace(const std::string& folder) {
    OpenTraceFile((folder + "\\trace.log").c_str(), "w");
    TRACE(TraceDetail, "Ravlokfix v%d.%02d.%d\n", 1, 0, 1);
    TRACE(TraceDetail, "%s", "[QRTK - Disinfect_Ravlok]\n");
    TRACE(TraceDetail, "examinate process %s (PID=0x%x)\n", "C:\\WINDOWS\\WUPDATE.EXE", 0xFFFFFFF0u);
    TRACE(TraceDetail, "Process %s terminated with status %i\n", "C:\\WINDOWS\\WUPDATE.EXE", -1);
    TRACE(TraceFailure, "cannot open infected process %s, Error=%ld\n", "C:\\x.exe", static_cast<long>(0x80000005u));
    TRACE(TraceDetail, "Deleting file \"%s\", result=%d\n", "C:\\WINDOWS\\SYSTEM\\PQONWE.EXE", 2);
    TRACE(TraceDetail, "Value %s of %s was deleted with status: %s (0x%x)\n", "windowsupdate", "SOFTWARE\\Run", "failed",
          2u);
    TRACE(TraceFailure, "Setting change status =%d error=%08X\n", 0, 0xC0000001u);
    // Longer than the trace's line buffer: cut the same way.
    TRACE(TraceDetail, "%s\n", std::string(1500, 'x').c_str());
}

bool WriteRestartFile(const std::string& folder) {
    IniFile model;
    ParseIniText(model, "; left by an installer\r\n[Rename]\r\nnul=C:\\OLD.TMP\r\n");
    SetIniEntry(model, "rename", "nul", "C:\\WINDOWS\\SYSTEM\\PQONWE.EXE", 999);
    SetIniEntry(model, "rename", "C:\\NEW.EXE", "C:\\WINDOWS\\TEMP\\NEW~1.EXE", 999);
    return SaveIniFile(model, (folder + "\\WININIT.INI").c_str()) == 0;
}

bool WriteRenameList() {
    RenameListStatus status = RenameListStatus::Ok;
    UniqueFile list = OpenRenameList(RenameListMode::Write, nullptr, &status);
    if (!list) return false;
    const bool added =
        AddRenamePair(list.get(), "C:\\data\\old.txt", "C:\\data\\new.txt", &status) != 0 &&
        AddRenamePair(list.get(), "C:\\WINDOWS\\SYSTEM\\A.DLL", "C:\\WINDOWS\\SYSTEM\\B.DLL", &status) != 0;
    // Finishing closes the list whatever happened before.
    return FinishRenameList(std::move(list), &status) != 0 && added;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string folder = argv[1];
    WriteTrace(folder);
    const bool ok = WriteRestartFile(folder) && WriteRenameList();
    printf("%s\n", ok ? "ok" : "failed");
    return ok ? 0 : 1;
}
