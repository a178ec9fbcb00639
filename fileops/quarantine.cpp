#include "fileops/quarantine.h"

#include <cstring>

#include "base/guards.h"
#include "base/optional_functions.h"
#include "base/paths.h"
#include "base/system_folders.h"
#include "fileops/nt_file.h"
#include "fileops/reboot_schedule.h"
#include "fileops/replace_file_tag.h"
#include "trace/trace.h"

namespace {

// The moved file's name in the folder: no program runs it by that name.
constexpr char MovedName[] = "worm.del";
constexpr wchar_t MovedNameWide[] = L"worm.del";
constexpr size_t MovedNameLength = sizeof MovedNameWide / sizeof MovedNameWide[0] - 1;
// Fresh names tried before giving up: taken names are another's folder.
constexpr int NameAttempts = 8;

// A folder itself (never what a reparse point leads to), and its identity.
UniqueFileHandle OpenFolder(const char* path, FileIdentity* identity) {
    UniqueFileHandle folder(CreateFileA(path, FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (folder && !ReadFileIdentity(folder.get(), identity)) folder.reset();
    return folder;
}

bool IsPlainFolder(const FileIdentity& identity) {
    return (identity.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
           FILE_ATTRIBUTE_DIRECTORY;
}

// Where the program's folder goes, ready for a name: the Windows folder when
// it is on the file's volume (users cannot add to it), else the root of the
// path's drive. A rename cannot leave its volume.
bool ParentOnVolume(const wchar_t* path, uint32_t volumeSerial, char (&parent)[MAX_PATH]) {
    char candidates[2][MAX_PATH] = {};
    if (!SharedWindowsFolder(candidates[0], MAX_PATH) || !AppendDirectorySeparator(candidates[0], MAX_PATH)) {
        candidates[0][0] = '\0';
    }
    const wchar_t drive = path[0];
    if (((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z')) && path[1] == L':' && path[2] == L'\\') {
        candidates[1][0] = static_cast<char>(drive);
        candidates[1][1] = ':';
        candidates[1][2] = '\\';
    }
    for (const char* candidate : candidates) {
        FileIdentity identity;
        if (candidate[0] == '\0' || !OpenFolder(candidate, &identity) || !IsPlainFolder(identity) ||
            identity.volumeSerial != volumeSerial) {
            continue;
        }
        memcpy(parent, candidate, MAX_PATH);
        return true;
    }
    return false;
}

// Whether the volume under parent (a folder on the file's volume) keeps
// users out of a folder of the program's own until the restart: only a
// local fixed disk that keeps access lists does. A removable disk may carry
// another letter at the restart, another machine decides who may reach a
// network volume, and a volume without access lists lets everyone in.
bool KeepsUsersOut(const char* parent, uint32_t volumeSerial, const char* shown) {
    const char root[] = {parent[0], ':', '\\', '\0'};
    FileIdentity rootIdentity;
    if (parent[0] == '\0' || parent[1] != ':' || parent[2] != '\\' || !OpenFolder(root, &rootIdentity) ||
        rootIdentity.volumeSerial != volumeSerial) {
        TRACE(TraceFailure,
              REPLACE_FILE_TAG "File cannot be moved out of users' reach: the drive of %s is another volume, "
              "nothing is scheduled (%s).\n",
              parent, shown);
        return false;
    }
    DWORD flags = 0;
    if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
        TRACE(TraceFailure,
              REPLACE_FILE_TAG "File cannot be moved out of users' reach: %s cannot be examined, error %ld, "
              "nothing is scheduled (%s).\n",
              root, GetLastError(), shown);
        return false;
    }
    if ((flags & FILE_PERSISTENT_ACLS) == 0) {
        TRACE(TraceFailure,
              REPLACE_FILE_TAG "File cannot be moved out of users' reach: %s keeps no access lists, nothing is "
              "scheduled (%s).\n",
              root, shown);
        return false;
    }
    const UINT type = GetDriveTypeA(root);
    if (type != DRIVE_FIXED) {
        TRACE(TraceFailure,
              REPLACE_FILE_TAG "File cannot be moved out of users' reach: %s is no local fixed disk (drive type "
              "%u), nothing is scheduled (%s).\n",
              root, type, shown);
        return false;
    }
    return true;
}

// 64 bits that no user can foretell: the system's random numbers where it
// has them (XP and later), else this moment and this process, mixed.
uint64_t FreshNumber(int attempt) {
    uint64_t value = 0;
    const auto random = Advapi32Optional().systemFunction036;
    if (random != nullptr && random(&value, sizeof value)) return value;
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    value = static_cast<uint64_t>(counter.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
            GetTickCount() ^ (static_cast<uint64_t>(attempt) * 0x9E3779B97F4A7C15u);
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9u;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBu;
    return value ^ (value >> 31);
}

// A new folder under parent, made with the access list given, so that it is
// the program's own from the first moment: a name that is taken (by a
// folder, a file or a link a user made) is never used.
bool MakeOwnFolder(const char* parent, AdminOnlySecurity& security, char (&folder)[MAX_PATH], DWORD* error) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &security.descriptor, FALSE};
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        char name[] = "Ravlokfix-0000000000000000";
        const uint64_t number = FreshNumber(attempt);
        for (size_t digit = 0; digit < 16; ++digit) {
            name[sizeof name - 2 - digit] = "0123456789ABCDEF"[(number >> (4 * digit)) & 0xF];
        }
        if (!JoinPath(folder, MAX_PATH, parent, name)) {
            *error = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
        SetLastError(0xdeadbeef);
        if (CreateDirectoryA(folder, &attributes)) return true;
        *error = GetLastError();
        if (*error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

}  // namespace

bool MakeAdminOnlySecurity(AdminOnlySecurity& security) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    auto* acl = reinterpret_cast<ACL*>(security.acl);
    if (!AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                  security.system.put()) ||
        !AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, security.administrators.put()) ||
        !InitializeAcl(acl, sizeof security.acl, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, security.system.get()) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, security.administrators.get()) ||
        !InitializeSecurityDescriptor(&security.descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&security.descriptor, security.administrators.get(), FALSE) ||
        !SetSecurityDescriptorDacl(&security.descriptor, TRUE, acl, FALSE)) {
        return false;
    }
    // Windows 2000 and later would add the parent folder's inheritable
    // entries to the list; NT 4.0 adds none to a list given at creation.
    const auto setControl = Advapi32Optional().setSecurityDescriptorControl;
    return setControl == nullptr || setControl(&security.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

bool MoveOutOfReachForRestart(HANDLE file, const FileIdentity& identity, const FileTarget& target) {
    const char* const shown = target.shown.text;
    const auto setInformation = NtdllOptional().ntSetInformationFile;
    char parent[MAX_PATH];
    if (setInformation == nullptr || !ParentOnVolume(target.path, identity.volumeSerial, parent)) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "No folder of the tool's own can be made on the file's volume (%s).\n",
              shown);
        return false;
    }
    if (!KeepsUsersOut(parent, identity.volumeSerial, shown)) return false;
    AdminOnlySecurity security;
    if (!MakeAdminOnlySecurity(security)) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "The access list of the tool's folder cannot be made, error %ld (%s).\n",
              GetLastError(), shown);
        return false;
    }
    char folder[MAX_PATH];
    DWORD error = 0;
    if (!MakeOwnFolder(parent, security, folder, &error)) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "No folder of the tool's own can be made in %s, error %ld (%s).\n",
              parent, error, shown);
        return false;
    }
    char moved[MAX_PATH];
    FileIdentity own;
    UniqueFileHandle ownFolder = OpenFolder(folder, &own);
    if (!JoinPath(moved, sizeof moved, folder, "\\") || !JoinPath(moved, sizeof moved, moved, MovedName) || !ownFolder ||
        !IsPlainFolder(own) || own.volumeSerial != identity.volumeSerial) {
        ownFolder.reset();
        RemoveDirectoryA(folder);
        TRACE(TraceFailure, REPLACE_FILE_TAG "The tool's folder %s cannot be used (%s).\n", folder, shown);
        return false;
    }

    // A rename keeps the file's own security: its owner could open it by
    // name in the folder, which everyone may traverse, and take it away.
    if (!SetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 &security.descriptor)) {
        error = GetLastError();
        ownFolder.reset();
        RemoveDirectoryA(folder);
        TRACE(TraceFailure,
              REPLACE_FILE_TAG "File cannot be given to administrators alone, error %ld: nothing is scheduled (%s).\n",
              error, shown);
        return false;
    }

    FileRenameInformation<MovedNameLength> rename{};
    rename.replaceIfExists = FALSE;
    rename.rootDirectory = ownFolder.get();
    rename.fileNameLength = MovedNameLength * sizeof(WCHAR);
    memcpy(rename.fileName, MovedNameWide, MovedNameLength * sizeof(WCHAR));
    FileIoStatus io{};
    const LONG status = setInformation(file, &io, &rename, sizeof rename, FileRenameInformationClass);
    ownFolder.reset();
    if (status < 0) {
        RemoveDirectoryA(folder);
        TRACE(TraceFailure, REPLACE_FILE_TAG "File cannot be moved out of users' reach, status %08X (%s).\n",
              static_cast<unsigned>(status), shown);
        return false;
    }
    TRACE(TraceDetail, REPLACE_FILE_TAG "File moved out of users' reach (%s -> %s).\n", shown, moved);

    if (!AddFileToAutomaticRenameList(moved, nullptr)) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "File cannot be deleted during reboot (%s).\n", moved);
        return false;
    }
    TRACE(TraceDetail, REPLACE_FILE_TAG "File will be deleted during reboot (%s).\n", moved);
    // The folder goes after the file, empty.
    if (!AddFileToAutomaticRenameList(folder, nullptr)) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "Folder cannot be removed during reboot (%s).\n", folder);
    }
    return true;
}
