#include "app/report.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/dropped_files.h"
#include "app/startup_entries.h"
#include "base/guards.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/runtime_link.h"
#include "detect/process_enum.h"
#include "detect/signature.h"
#include "detect/terminate.h"
#include "trace/trace.h"

namespace {

// Every line of a report run carries these marks, so that neither its
// console nor its trace can be taken for a removal run's.
#define REPORT_CONSOLE "Report: "
#define REPORT_TAG "[QRTK - Report_Ravlok]: "

// One message, formatted once, for the console and the trace alike.
void Tell(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Tell(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): checked as printf by the declaration
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    printf(REPORT_CONSOLE "%s\n", line);
    fflush(stdout);
    TRACE(TraceDetail, REPORT_TAG "%s\n", line);
}

// A check that could not be made: counted, and traced with its reason.
void Incomplete(ReportTally* tally, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Incomplete(ReportTally* tally, const char* format, ...) {  // NOLINT(cert-dcl50-cpp): as Tell
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    ++tally->incomplete;
    TRACE(TraceFailure, REPORT_TAG "%s\n", line);
}

int32_t ReportProcess(const char* path, int32_t /*reserved*/, uint32_t processId, uint64_t /*startTime*/,
                      void* context) {
    auto* tally = static_cast<ReportTally*>(context);
    if (!IsFileInfected(path)) {
        TRACE(TraceDetail, REPORT_TAG "Process %s (PID=0x%x) checked.\n", path, processId);
        return 0;
    }
    ++tally->findings;
    Tell("worm process running: %s (PID=0x%x), left running", path, processId);
    return 1;
}

void ReportProcesses(ReportTally* tally) {
    const int isNt = IsWindowsNT();
    // Other users' and services' processes open for reading only with the
    // debug privilege; without it their worm copies would go unseen.
    UniqueHandle token;
    if (isNt) {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()) ||
            !SetPrivilege(token.get(), "SeDebugPrivilege", 1)) {
            Incomplete(tally, "The debug privilege cannot be enabled (error %ld): other users' processes may be missed.",
                       static_cast<long>(GetLastError()));
        }
    }
    if (!EnumerateProcesses(isNt, ReportProcess, tally)) {
        Incomplete(tally, "The process list cannot be read: running copies were not checked.");
    }
    if (isNt && token) SetPrivilege(token.get(), "SeDebugPrivilege", 0);
}

void ReportDroppedFile(ReportTally* tally, const char* path) {
    int32_t match = -1;
    if (ScanFileSignatures(path, SignatureTable, &match)) {
        if (match == -1) {
            TRACE(TraceDetail, REPORT_TAG "File %s is not the worm.\n", path);
        } else {
            ++tally->findings;
            Tell("worm file: %s, left in place", path);
        }
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        TRACE(TraceDetail, REPORT_TAG "File %s is absent.\n", path);
        return;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        TRACE(TraceDetail, REPORT_TAG "%s is a directory, not the worm.\n", path);
        return;
    }
    // Present but unreadable (denied, or held by someone who shares no
    // reading): it may well be the worm.
    Incomplete(tally, "File %s cannot be read (error %ld): it was not checked.", path, static_cast<long>(error));
}

void ReportDroppedFilesIn(ReportTally* tally, const char* systemDirectory) {
    for (const DroppedFile* row = DroppedFileTable; row->name != nullptr; ++row) {
        char path[264] = "";
        const char* directory = row->locationKind == SystemDirectory ? systemDirectory : "";
        if (!JoinPath(path, sizeof path, directory, row->name)) {
            Incomplete(tally, "The path of %s is too long: it was not checked.", row->name);
            continue;
        }
        ReportDroppedFile(tally, path);
    }
}

void ReportDroppedFiles(ReportTally* tally) {
    char systemDirectory[261] = "";
    const UINT length = GetSystemDirectoryA(systemDirectory, sizeof systemDirectory);
    if (length == 0 || length >= sizeof systemDirectory ||
        !AppendDirectorySeparator(systemDirectory, sizeof systemDirectory)) {
        Incomplete(tally, "The system directory cannot be found (error %ld): the dropped files were not checked.",
                   static_cast<long>(GetLastError()));
        return;
    }
    ReportDroppedFilesIn(tally, systemDirectory);
#ifdef _WIN64
    // The worm is a 32-bit program: on 64-bit Windows its files land in the
    // 32-bit system folder.
    char wow64Directory[261] = "";
    const UINT wow64Length = GetSystemWow64DirectoryIfAny(wow64Directory, sizeof wow64Directory);
    if (wow64Length == 0) return;
    if (wow64Length >= sizeof wow64Directory || !AppendDirectorySeparator(wow64Directory, sizeof wow64Directory)) {
        Incomplete(tally, "%s", "The 32-bit system folder's path is too long: the dropped files there were not checked.");
        return;
    }
    ReportDroppedFilesIn(tally, wow64Directory);
#endif
}

void ReportShellLine(ReportTally* tally) {
    // The same read as the repair's, so that both see the file, or the
    // registry section that the NT family maps it to.
    char shell[MAX_PATH] = "";
    GetPrivateProfileStringA("Boot", "Shell", "", shell, sizeof shell, "system.ini");
    if (shell[0] == '\0') {
        TRACE(TraceDetail, "%s", REPORT_TAG "system.ini has no shell line.\n");
    } else if (_stricmp(shell, "explorer.exe") == 0) {
        TRACE(TraceDetail, REPORT_TAG "system.ini shell line shell=%s is the usual one.\n", shell);
    } else {
        // Any other shell is one that the removal run replaces.
        ++tally->findings;
        Tell("system.ini shell line: shell=%s, left as it is", shell);
    }
}

void ReportStartupValueInView(ReportTally* tally, HKEY root, const char* rootName, const char* keyPath,
                              const char* valueName, REGSAM view) {
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE | view, &opened);
    if (status == ERROR_FILE_NOT_FOUND) {
        TRACE(TraceDetail, REPORT_TAG "Key %s\\%s is absent.\n", rootName, keyPath);
        return;
    }
    if (status != ERROR_SUCCESS) {
        Incomplete(tally, "Cannot open key %s\\%s 0x%x: value %s was not checked.", rootName, keyPath,
                   static_cast<unsigned>(status), valueName);
        return;
    }
    const UniqueRegKey key(opened);
    // One byte kept back for a terminator that the stored data may lack.
    char data[MAX_PATH + 1] = "";
    DWORD type = 0;
    DWORD size = MAX_PATH;
    status = RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        TRACE(TraceDetail, REPORT_TAG "Value %s of %s\\%s is absent.\n", valueName, rootName, keyPath);
        return;
    }
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
        Incomplete(tally, "Cannot read value %s of %s\\%s 0x%x: it was not checked.", valueName, rootName, keyPath,
                   static_cast<unsigned>(status));
        return;
    }
    // The removal deletes the value whatever it holds: its presence is the finding.
    ++tally->findings;
    if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        data[size < sizeof data ? size : sizeof data - 1] = '\0';
        Tell("start-up value: %s\\%s\\%s = %s, left in place", rootName, keyPath, valueName, data);
    } else {
        Tell("start-up value: %s\\%s\\%s (%lu bytes of type %lu), left in place", rootName, keyPath, valueName,
             static_cast<unsigned long>(size), static_cast<unsigned long>(type));
    }
}

void ReportStartupValue(ReportTally* tally, HKEY root, const char* rootName, const char* keyPath,
                        const char* valueName) {
#ifdef _WIN64
    // As the removal does: the native view, then the 32-bit view where it has
    // a key of its own.
    ReportStartupValueInView(tally, root, rootName, keyPath, valueName, KEY_WOW64_64KEY);
    if (OwnKeyIn32BitView(root, keyPath)) {
        ReportStartupValueInView(tally, root, rootName, keyPath, valueName, KEY_WOW64_32KEY);
    }
#else
    ReportStartupValueInView(tally, root, rootName, keyPath, valueName, 0);
#endif
}

}  // namespace

void Report_Ravlok(ReportTally* tally) {
    TRACE(TraceDetail, "%s", REPORT_TAG "Report only: nothing on this computer is changed.\n");
    ReportProcesses(tally);
    ReportDroppedFiles(tally);
    ReportShellLine(tally);
    ReportStartupValue(tally, HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE",
                       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "windowsupdate");
    ReportStartupValue(tally, HKEY_CURRENT_USER, "HKEY_CURRENT_USER",
                       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "windowsupdate");
}

int32_t ReportCodeFor(const ReportTally& tally) {
    if (tally.findings != 0) return ReportFound;
    return tally.incomplete != 0 ? ReportIncomplete : ReportClean;
}

int32_t RunReport(int silent) {
    ReportTally tally{0, 0};
    Report_Ravlok(&tally);

    char summary[256];
    const int32_t code = ReportCodeFor(tally);
    if (code == ReportFound) {
        snprintf(summary, sizeof summary, "Infection was found: %ld item(s) listed above. Nothing was changed.%s",
                 static_cast<long>(tally.findings),
                 tally.incomplete != 0 ? " Some checks could not be made: see the trace log." : "");
    } else if (code == ReportIncomplete) {
        snprintf(summary, sizeof summary, "%s",
                 "The check could not be completed: see the trace log. Nothing was changed.");
    } else {
        snprintf(summary, sizeof summary, "%s", "No infection found. Nothing was changed.");
    }
    if (!silent) printf(REPORT_CONSOLE "%s\n", summary);
    TRACE(TraceDetail, REPORT_TAG "%s\n", summary);
    return silent ? 0 : code;
}

int32_t RefuseReport(int silent) {
    if (!silent) {
        printf("%s", REPORT_CONSOLE "The check could not be completed: log on to this workstation with administrator "
                     "rights and run the tool again.\n");
    }
    TRACE(TraceFailure, "%s",
          REPORT_TAG "Not an administrator: other users' processes cannot be read. Nothing was checked.\n");
    return silent ? 0 : ReportIncomplete;
}
