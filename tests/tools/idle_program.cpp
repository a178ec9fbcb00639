// A harmless program for the tests: it waits, then ends with exit code 7.
//   idle_program [milliseconds [how]]   (default: a minute)
// how makes it hard to examine or to end, as a worm copy might try:
//   deny-all        its process grants no one any access
//   deny-terminate  its process grants everyone every access but the right
//                   to end it: a copy that cannot be ended
//   hold-file       it keeps its own program file open, sharing no reading
//   rename:PATH     it renames its own program file to PATH
//   ready           nothing more
// Once that is done it prints "ready" (or "failed" and ends with 1).
// Worm stand-ins are copies of it whose first 8192 bytes carry a worm
// signature's CRC-32 (see wormify.py); they do nothing else.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Gives the process an access list of its own: empty, so that no one may do
// anything with it, or one that denies everyone the right to end it and
// grants everything else (the denial first, so that it wins).
bool ProtectProcess(bool terminateOnly) {
    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        return false;
    }
    alignas(DWORD) unsigned char aclBuffer[256];
    auto* acl = reinterpret_cast<ACL*>(aclBuffer);
    SECURITY_DESCRIPTOR descriptor;
    const bool done = InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) &&
                      (!terminateOnly || (AddAccessDeniedAce(acl, ACL_REVISION, PROCESS_TERMINATE, everyone) &&
                                          AddAccessAllowedAce(acl, ACL_REVISION, PROCESS_ALL_ACCESS, everyone))) &&
                      InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                      SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
                      SetKernelObjectSecurity(GetCurrentProcess(), DACL_SECURITY_INFORMATION, &descriptor);
    FreeSid(everyone);
    return done;
}

bool Apply(const char* how) {
    char self[MAX_PATH];
    if (GetModuleFileNameA(nullptr, self, sizeof self) == 0) return false;
    if (strcmp(how, "ready") == 0) return true;
    if (strcmp(how, "deny-all") == 0) return ProtectProcess(false);
    if (strcmp(how, "deny-terminate") == 0) return ProtectProcess(true);
    // Left open until the process ends.
    if (strcmp(how, "hold-file") == 0) {
        return CreateFileA(self, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE;
    }
    if (strncmp(how, "rename:", 7) == 0) return MoveFileA(self, how + 7) != 0;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const DWORD wait = argc > 1 ? static_cast<DWORD>(strtoul(argv[1], nullptr, 10)) : 60000;
    if (argc > 2) {
        const bool applied = Apply(argv[2]);
        printf("%s\n", applied ? "ready" : "failed");
        fflush(stdout);
        if (!applied) return 1;
    }
    Sleep(wait);
    return 7;
}
