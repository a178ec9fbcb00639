#include "tests/bench/walk_cache.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/guards.h"
#include "base/optional_functions.h"
#include "base/platform.h"
#include "base/wide_files.h"

namespace {

// FNV-1a over the code units: most lookups then compare one number.
uint32_t HashPath(const wchar_t* path) {
    uint32_t hash = 2166136261u;
    for (; *path != L'\0'; ++path) {
        hash ^= static_cast<uint32_t>(*path);
        hash *= 16777619u;
    }
    return hash;
}

uint64_t Join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

// The file system's own answers, as NTDLL.DLL gives them on the NT family
// (NT 3.1 on); GetFileInformationByHandle would also ask for the volume's
// serial number, which Wine fetches from its mount manager in another
// process on every call, at several times the cost of the whole check.
struct InternalInformation {  // FileInternalInformation, class 6
    LARGE_INTEGER index;
};
struct BasicInformation {  // FileBasicInformation, class 4
    LARGE_INTEGER creation;
    LARGE_INTEGER lastAccess;
    LARGE_INTEGER lastWrite;
    LARGE_INTEGER change;
    ULONG attributes;
};
struct StandardInformation {  // FileStandardInformation, class 5
    LARGE_INTEGER allocation;
    LARGE_INTEGER endOfFile;
    ULONG links;
    BOOLEAN deletePending;
    BOOLEAN directory;
};

bool ReadNativeStamp(HANDLE file, FileStamp* stamp) {
    const auto ntQueryInformationFile = NtdllOptional().ntQueryInformationFile;
    if (ntQueryInformationFile == nullptr) return false;
    FileIoStatus status{};
    InternalInformation internal{};
    BasicInformation basic{};
    StandardInformation standard{};
    if (ntQueryInformationFile(file, &status, &internal, sizeof internal, 6) != 0 ||
        ntQueryInformationFile(file, &status, &basic, sizeof basic, 4) != 0 ||
        ntQueryInformationFile(file, &status, &standard, sizeof standard, 5) != 0) {
        return false;
    }
    stamp->index = static_cast<uint64_t>(internal.index.QuadPart);
    stamp->size = static_cast<uint64_t>(standard.endOfFile.QuadPart);
    stamp->lastWrite = static_cast<uint64_t>(basic.lastWrite.QuadPart);
    return true;
}

}  // namespace

int32_t ReadFileStamp(HANDLE file, FileStamp* stamp) {
    // The 9x family has no such NTDLL.DLL function.
    if (IsWindowsNT() && ReadNativeStamp(file, stamp)) return 1;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return 0;
    stamp->index = Join(information.nFileIndexHigh, information.nFileIndexLow);
    stamp->size = Join(information.nFileSizeHigh, information.nFileSizeLow);
    stamp->lastWrite = Join(information.ftLastWriteTime.dwHighDateTime, information.ftLastWriteTime.dwLowDateTime);
    return 1;
}

bool SameStamp(const FileStamp& a, const FileStamp& b) {
    return a.index == b.index && a.size == b.size && a.lastWrite == b.lastWrite;
}

WalkFileCache::~WalkFileCache() {
    for (size_t i = 0; i < count_; ++i) free(entries_[i].path);
    free(entries_);
}

WalkFileCache::Entry* WalkFileCache::Find(const wchar_t* path, uint32_t hash) const {
    for (size_t i = 0; i < count_; ++i) {
        if (entries_[i].hash == hash && wcscmp(entries_[i].path, path) == 0) return &entries_[i];
    }
    return nullptr;
}

int32_t WalkFileCache::KnownClean(const wchar_t* path) {
    const Entry* entry = Find(path, HashPath(path));
    if (entry == nullptr) return 0;
    // Whoever holds the file must not keep it from being compared; the 9x
    // family does not know the attributes right.
    const UniqueFileHandle file = OpenShared(path, IsWindowsNT() ? FILE_READ_ATTRIBUTES : 0);
    FileStamp now;
    return file && ReadFileStamp(file.get(), &now) && SameStamp(now, entry->stamp) ? 1 : 0;
}

void WalkFileCache::RememberClean(const wchar_t* path, const FileStamp& stamp) {
    const uint32_t hash = HashPath(path);
    if (Entry* entry = Find(path, hash)) {
        entry->stamp = stamp;
        return;
    }
    if (count_ == capacity_) {
        const size_t larger = capacity_ == 0 ? 64 : capacity_ * 2;
        auto* grown = static_cast<Entry*>(realloc(entries_, larger * sizeof(Entry)));
        if (grown == nullptr) return;
        entries_ = grown;
        capacity_ = larger;
    }
    const size_t bytes = (wcslen(path) + 1) * sizeof(wchar_t);
    UniqueMemory copy(malloc(bytes));
    if (!copy) return;
    memcpy(copy.get(), path, bytes);
    entries_[count_++] = Entry{hash, static_cast<wchar_t*>(copy.release()), stamp};
}
