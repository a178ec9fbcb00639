// Harmless stand-in for a worm copy that cannot be ended: it denies everyone
// the right to terminate it, prints "protected", waits the given time and
// exits with 7.
//   stubborn_program [milliseconds]      (default 60000)
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return 1;
    alignas(DWORD) BYTE aclBuffer[256];
    auto* acl = reinterpret_cast<PACL>(aclBuffer);
    SECURITY_DESCRIPTOR descriptor;
    // The denial comes first, so it wins over the grant of everything else.
    const bool built = InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) &&
                       AddAccessDeniedAce(acl, ACL_REVISION, PROCESS_TERMINATE, everyone) &&
                       AddAccessAllowedAce(acl, ACL_REVISION, PROCESS_ALL_ACCESS, everyone) &&
                       InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                       SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
                       SetKernelObjectSecurity(GetCurrentProcess(), DACL_SECURITY_INFORMATION, &descriptor);
    FreeSid(everyone);
    if (!built) {
        printf("cannot protect: %lu\n", GetLastError());
        return 1;
    }
    printf("protected\n");
    fflush(stdout);
    Sleep(argc > 1 ? static_cast<DWORD>(strtoul(argv[1], nullptr, 10)) : 60000);
    return 7;
}
