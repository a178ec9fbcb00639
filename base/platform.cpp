#include "base/platform.h"

#include <windows.h>

#include <cstdlib>

#include "base/guards.h"
#include "base/platform_seam.h"

namespace {

int QueryPlatformKind() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;  // the basic record, 148 bytes
    if (!GetVersionExA(&info)) return PlatformCode(PlatformKind::Other);
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return PlatformCode(PlatformKind::Win9x);
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) return PlatformCode(PlatformKind::Nt);
    return PlatformCode(PlatformKind::Other);
}

}  // namespace

// A function-local static: filled once, by whichever thread asks first.
int SystemPlatformKind() {
    static const int kind = QueryPlatformKind();
    return kind;
}

int SystemIsAdministrator() {
    DWORD size = 1024;
    UniqueMemory buffer(malloc(size));
    if (!buffer) return 0;

    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, token.put())) return 0;
    DWORD needed = 0;
    BOOL ok = GetTokenInformation(token.get(), TokenGroups, buffer.get(), size, &needed);
    if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer.reset(malloc(needed));
        size = needed;
        ok = buffer && GetTokenInformation(token.get(), TokenGroups, buffer.get(), size, &needed);
    }
    token.reset();
    if (!ok) return 0;

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, administrators.put())) {
        return 0;
    }
    // A deny-only entry (a token filtered by UAC, a restricted token) grants
    // nothing: the group can only refuse its members access.
    const auto* groups = static_cast<const TOKEN_GROUPS*>(buffer.get());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if ((groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0) continue;
        if (EqualSid(groups->Groups[i].Sid, administrators.get())) return 1;
    }
    return 0;
}

int IsWindowsNT() { return GetPlatformKind() == PlatformCode(PlatformKind::Nt) ? 1 : 0; }
