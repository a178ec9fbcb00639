// Gives a registry key a DACL of its own, written in the security
// descriptor language, and protects it from the parent's entries.
//   set_key_dacl KEY SDDL     e.g. MACHINE\SOFTWARE\X "D:P(A;;KR;;;WD)"
// Exit code 0 on success, else the system's error code.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(argv[2], SDDL_REVISION_1, &descriptor, nullptr)) {
        return static_cast<int>(GetLastError());
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    DWORD result = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ? ERROR_SUCCESS : GetLastError();
    if (result == ERROR_SUCCESS) {
        result = SetNamedSecurityInfoA(argv[1], SE_REGISTRY_KEY,
                                       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, dacl, nullptr);
    }
    LocalFree(descriptor);
    if (result != ERROR_SUCCESS) printf("cannot set the DACL of %s: %lu\n", argv[1], result);
    return static_cast<int>(result);
}
