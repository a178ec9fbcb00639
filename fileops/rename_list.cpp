#include "fileops/rename_list.h"

#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/guards.h"

namespace {

constexpr char PathsKey[] = "Software\\Tessival\\Common\\Paths";
constexpr char DirectoryValue[] = "Common";
constexpr char FileName[] = "PVXK.REN";

UniqueFile NoFile(RenameListStatus* status, RenameListStatus code) {
    *status = code;
    return UniqueFile();
}

int32_t Failed(RenameListStatus* status, RenameListStatus code) {
    *status = code;
    return 0;
}

// The list's path in the scanner's directory, refused before anything is
// created when it would not fit into MAX_PATH.
bool MakeRenameListPath(char (&path)[MAX_PATH], RenameListStatus* status) {
    char directory[MAX_PATH];
    if (ReadScannerDirectory(directory, sizeof directory) != 0) {
        *status = RenameListStatus::NoScannerDirectory;
        return false;
    }
    const size_t length = std::strlen(directory);
    // A directory ending in a backslash, or without any (a drive or a
    // relative name), takes the file name directly.
    const char* lastSlash = std::strrchr(directory, '\\');
    const size_t separator = lastSlash != nullptr && lastSlash[1] != '\0' ? 1 : 0;
    if (length + separator + sizeof FileName > sizeof path) {
        *status = RenameListStatus::OpenFailed;
        return false;
    }
    std::memcpy(path, directory, length);
    if (separator) path[length] = '\\';
    std::memcpy(path + length + separator, FileName, sizeof FileName);
    return true;
}

UniqueFile CreateRenameList(const char* path, RenameListStatus* status) {
    UniqueFile file(std::fopen(path, "w+b"));
    if (!file) return NoFile(status, RenameListStatus::OpenFailed);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    // The checksum is a placeholder until the list is finished.
    const RenameListHeader header{GetTickCount(), info.dwOemId, 0, info.dwProcessorType & 0xFFFF};
    if (std::fwrite(&header, sizeof header, 1, file.get()) != 1) return NoFile(status, RenameListStatus::IoError);
    return file;
}

UniqueFile ReadRenameList(const char* path, UniqueMemory* body, RenameListStatus* status) {
    UniqueFile file(std::fopen(path, "rb"));
    if (!file) return NoFile(status, RenameListStatus::OpenFailed);
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return NoFile(status, RenameListStatus::IoError);
    const long size = std::ftell(file.get());
    if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return NoFile(status, RenameListStatus::IoError);
    if (size <= static_cast<long>(RenameListHeaderSize)) return NoFile(status, RenameListStatus::TooShort);
    if (size > static_cast<long>(RenameListMaxFileSize)) return NoFile(status, RenameListStatus::TooLong);

    const uint32_t bodySize = static_cast<uint32_t>(size) - RenameListHeaderSize;
    UniqueMemory plain(std::malloc(bodySize));
    if (!plain) return NoFile(status, RenameListStatus::OutOfMemory);
    RenameListHeader header;
    if (std::fread(&header, sizeof header, 1, file.get()) != 1 || std::fread(plain.get(), bodySize, 1, file.get()) != 1) {
        return NoFile(status, RenameListStatus::IoError);
    }
    const RenameListStatus verdict = DecodeRenameListBody(plain.get(), bodySize, header.checksum);
    if (verdict != RenameListStatus::Ok) return NoFile(status, verdict);

    if (body != nullptr) *body = std::move(plain);
    return file;
}

}  // namespace

int32_t ReadScannerDirectory(char* buffer, uint32_t size) {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PathsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return -1;
    DWORD type = REG_NONE;
    DWORD length = size;
    const LONG result =
        RegQueryValueExA(key.get(), DirectoryValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length);
    if (result == ERROR_MORE_DATA) return -2;
    if (result != ERROR_SUCCESS || type != REG_SZ) return -1;
    // A string stored without its terminator is taken only with one inside
    // the bytes read: the platform may add one behind them, or have no room.
    if (std::memchr(buffer, '\0', length) == nullptr) return length >= size ? -2 : -1;
    return 0;
}

UniqueFile OpenRenameList(RenameListMode mode, UniqueMemory* body, RenameListStatus* status) {
    *status = RenameListStatus::Ok;
    if (body != nullptr) body->reset();
    if (mode != RenameListMode::Write && mode != RenameListMode::Read) {
        return NoFile(status, RenameListStatus::OpenFailed);
    }
    char path[MAX_PATH];
    if (!MakeRenameListPath(path, status)) return UniqueFile();
    return mode == RenameListMode::Write ? CreateRenameList(path, status) : ReadRenameList(path, body, status);
}

int32_t AddRenamePair(FILE* file, const char* existingPath, const char* newPath, RenameListStatus* status) {
    *status = RenameListStatus::Ok;
    const size_t existingSize = std::strlen(existingPath) + 1;
    const size_t newSize = std::strlen(newPath) + 1;
    // An empty path would read as the end of the list, and the scanner
    // refuses a file above its limit: such a pair is refused now rather than
    // reported as handed over. The final byte is the end of the list.
    const long position = std::ftell(file);
    if (existingSize == 1 || newSize == 1 || position < 0 ||
        static_cast<unsigned long>(position) + existingSize + newSize + 1 > RenameListMaxFileSize) {
        return Failed(status, RenameListStatus::IoError);
    }
    if (std::fwrite(existingPath, existingSize, 1, file) != 1 || std::fwrite(newPath, newSize, 1, file) != 1) {
        return Failed(status, RenameListStatus::IoError);
    }
    return 1;
}

int32_t FinishRenameList(UniqueFile list, RenameListStatus* status) {
    FILE* const file = list.get();
    *status = RenameListStatus::Ok;
    if (std::fputc('\0', file) == EOF) return Failed(status, RenameListStatus::IoError);
    const long size = std::ftell(file);
    if (size <= static_cast<long>(RenameListHeaderSize) || std::fseek(file, RenameListHeaderSize, SEEK_SET) != 0) {
        return Failed(status, RenameListStatus::IoError);
    }
    const uint32_t bodySize = static_cast<uint32_t>(size) - RenameListHeaderSize;
    UniqueMemory body(std::malloc(bodySize));
    if (!body) return Failed(status, RenameListStatus::OutOfMemory);
    if (std::fread(body.get(), bodySize, 1, file) != 1) return Failed(status, RenameListStatus::IoError);
    const uint32_t checksum = EncodeRenameListBody(body.get(), bodySize);
    if (std::fseek(file, RenameListHeaderSize, SEEK_SET) != 0 || std::fwrite(body.get(), bodySize, 1, file) != 1) {
        return Failed(status, RenameListStatus::IoError);
    }
    body.reset();
    if (std::fseek(file, offsetof(RenameListHeader, checksum), SEEK_SET) != 0 ||
        std::fwrite(&checksum, sizeof checksum, 1, file) != 1) {
        return Failed(status, RenameListStatus::IoError);
    }
    if (std::fclose(list.release()) != 0) return Failed(status, RenameListStatus::CloseFailed);
    return 1;
}
