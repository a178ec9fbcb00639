#include "detect/signature.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "base/crc32.h"
#include "base/guards.h"
#include "base/path_forms.h"
#include "base/wide_files.h"
#include "trace/trace.h"

// Both known worm programs, recognised by their first 8192 bytes.
const FileSignature SignatureTable[] = {
    {0, 0x2000, 0xB9478CE5},
    {0, 0x2000, 0x759D1D05},
    {0, 0, 0},
};

namespace {

// One region at a time: no allocation, nothing kept between calls.
uint8_t SignatureReadBuffer[0x3000];

// Why the rows could not all be tried against a file.
struct MatchProblem {
    DWORD readError = ERROR_SUCCESS;  // a read failed
    bool shortRead = false;           // a read ended before the file's size says it should
};

// The rows of the table against an open file; the index of the first that
// matches, or -1. A region that does not lie wholly inside the file is no
// match; problem, where given, tells what kept a row from being tried.
int32_t MatchSignatures(HANDLE file, const FileSignature* table, MatchProblem* problem = nullptr) {
    DWORD sizeHigh = 0;
    const DWORD sizeLow = GetFileSize(file, &sizeHigh);
    const bool sizeKnown = sizeLow != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
    const uint64_t size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
    for (int32_t row = 0; table[row].length != 0; ++row) {
        const FileSignature& signature = table[row];
        if (SetFilePointer(file, static_cast<LONG>(signature.offset), nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER) {
            printf("seek failed\n");
            if (problem != nullptr) problem->readError = GetLastError();
            continue;
        }
        if (signature.length > sizeof SignatureReadBuffer) continue;
        DWORD read = 0;
        if (!ReadFile(file, SignatureReadBuffer, signature.length, &read, nullptr)) {
            if (problem != nullptr) problem->readError = GetLastError();
            continue;
        }
        if (read < signature.length) {
            // Only the end of the file may cut a region short: a file that
            // holds it whole but gave less was not read.
            if (problem != nullptr && (!sizeKnown || size >= static_cast<uint64_t>(signature.offset) + signature.length)) {
                problem->shortRead = true;
            }
            continue;
        }
        if (Crc32(SignatureReadBuffer, signature.length) == signature.crc) return row;
    }
    return -1;
}

// Whether a drive letter (A to Z) names a network drive, asked of the system
// once per letter and run: the answer is costly on some systems, and a
// letter's kind does not change under a run (from XP on, each logon session
// has drive letters of its own, which no other user can redefine).
bool IsNetworkDrive(wchar_t letter) {
    static UINT types[26] = {};
    UINT& type = types[letter - L'A'];
    if (type == 0) {
        const char root[] = {static_cast<char>(letter), ':', '\\', '\0'};
        type = GetDriveTypeA(root);
    }
    return type == DRIVE_REMOTE;
}

// Why a file that is there is not opened, or nullptr where it may be.
const char* NotToOpen(const wchar_t* path) {
    switch (PlaceOfPath(path)) {
    case PathPlace::Share:
        return "it lies on a network share, which the tool does not open";
    case PathPlace::Drive:
        return IsNetworkDrive(DriveLetterOf(path)) ? "it lies on a network drive, which the tool does not open"
                                                   : nullptr;
    case PathPlace::Other:
        // A namespace path may lead to any device, a network's too.
        return path[0] == L'\\' && path[1] == L'\\' ? "its path names no drive, which the tool does not open"
                                                      : nullptr;
    }
    return nullptr;
}

}  // namespace

RecognitionResult RecogniseFile(const wchar_t* path) {
    RecognitionResult result;
    result.notRead = NotToOpen(path);
    if (result.notRead != nullptr) return result;
    UniqueFileHandle file = OpenForReading(path);
    if (!file) {
        const DWORD error = GetLastError();
        const DWORD attributes = WideGetFileAttributes(path);
        if (IsAbsence(error)) {
            result.verdict = Recognition::Absent;
        } else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            // A folder of that name is no program: nothing to check.
            result.verdict = Recognition::NotWorm;
        } else {
            result.error = error;
        }
        return result;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        result.notRead = "it is not a file on a disk";
        return result;
    }
    MatchProblem problem;
    if (MatchSignatures(file.get(), SignatureTable, &problem) == -1) {
        if (problem.readError != ERROR_SUCCESS) {
            result.error = problem.readError;
            result.readFailed = true;
        } else if (problem.shortRead) {
            result.notRead = "it gave fewer bytes than its size holds";
        } else {
            result.verdict = Recognition::NotWorm;
        }
        return result;
    }
    result.verdict = Recognition::Worm;
    // Without its identity the file could not be told apart later: it is
    // still reported, and its removal is then refused.
    ReadFileIdentity(file.get(), &result.file.identity);
    result.file.handle = std::move(file);
    return result;
}

void TraceUnchecked(const wchar_t* path, const RecognitionResult& result) {
    if (result.notRead != nullptr) {
        TRACE(TraceFailure, "File %s is not checked: %s\n", ShowPath(path).text, result.notRead);
        return;
    }
    TRACE(TraceFailure, "Cannot %s file %s for the signature check, error=%ld\n", result.readFailed ? "read" : "open",
          ShowPath(path).text, static_cast<long>(result.error));
}

int32_t ScanFileSignatures(const char* path, const FileSignature* table, int32_t* matchIndex) {
    *matchIndex = -1;
    const UniqueFileHandle file = OpenShared(path, GENERIC_READ);
    if (!file) return 0;
    *matchIndex = MatchSignatures(file.get(), table);
    return 1;
}

bool IsOpenFileInfected(HANDLE file) { return MatchSignatures(file, SignatureTable) != -1; }

int32_t FindFileSignature(const char* path, int32_t* found) {
    *found = 0;
    int32_t matchIndex = -1;
    const int32_t opened = ScanFileSignatures(path, SignatureTable, &matchIndex);
    if (matchIndex != -1) *found = 1;
    return opened;
}

int32_t IsFileInfected(const char* path) {
    int32_t found = 0;
    return FindFileSignature(path, &found) != 0 && found == 1 ? 1 : 0;
}
