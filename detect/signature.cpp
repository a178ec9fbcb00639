#include "detect/signature.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "base/crc32.h"
#include "base/guards.h"
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

// The rows of the table against an open file; the index of the first that
// matches, or -1. readError, where given, receives the system's reason when
// a read failed (a short read is no failure: the file is too small).
int32_t MatchSignatures(HANDLE file, const FileSignature* table, DWORD* readError = nullptr) {
    for (int32_t row = 0; table[row].length != 0; ++row) {
        const FileSignature& signature = table[row];
        if (SetFilePointer(file, static_cast<LONG>(signature.offset), nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER) {
            printf("seek failed\n");
            continue;
        }
        if (signature.length > sizeof SignatureReadBuffer) continue;
        DWORD read = 0;
        if (!ReadFile(file, SignatureReadBuffer, signature.length, &read, nullptr)) {
            if (readError != nullptr) *readError = GetLastError();
            continue;
        }
        // A short read means the region does not lie wholly inside the file.
        if (read < signature.length) continue;
        if (Crc32(SignatureReadBuffer, signature.length) == signature.crc) return row;
    }
    return -1;
}

}  // namespace

RecognitionResult RecogniseFile(const wchar_t* path) {
    RecognitionResult result;
    UniqueFileHandle file = OpenShared(path, GENERIC_READ);
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
    DWORD readError = ERROR_SUCCESS;
    if (MatchSignatures(file.get(), SignatureTable, &readError) == -1) {
        if (readError == ERROR_SUCCESS) {
            result.verdict = Recognition::NotWorm;
        } else {
            result.error = readError;
            result.readFailed = true;
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

void TraceUnreadable(const wchar_t* path, const RecognitionResult& result) {
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
