// Ends the running worm copies and removes their program files.
#pragma once
#include <windows.h>
#include <cstdint>
#include "base/guards.h"
#include "detect/process_enum.h"
#include "detect/signature.h"
#include "fileops/delete_recognised.h"

// The program files recognised as the worm's in one walk, by the path the
// walk saw: a second copy of a file that the first one's removal moved
// aside, or left for the restart, is a copy too, though its path leads
// nowhere now.
class RecognisedPaths {
public:
    bool Contains(const wchar_t* path) const;
    // Beyond its capacity a path is not kept: a later copy of that file is
    // then looked at afresh like any other program.
    void Add(const wchar_t* path);

private:
    static constexpr size_t Capacity = 64;
    UniqueMemory paths_[Capacity];
    size_t count_ = 0;
};

struct TerminationContext {
    Recogniser recognise;
    int32_t found;
    int32_t status;
    // Confirms, right before the deletion, that the file is still a worm copy.
    ContentCheck stillInfected = IsOpenFileInfected;
    RecognisedPaths recognised{};
};

// The look at a running program's file, and the file it looked at.
struct RunningProgramLook {
    RecognitionResult recognition;
    const wchar_t* walked = nullptr;       // the path the walk saw
    wchar_t moved[CurrentPathUnits] = {};  // where the file lies now, when not there
    const wchar_t* Where() const { return moved[0] != L'\0' ? moved : walked; }
};

// On the NT family a running program's file cannot be deleted, only renamed
// or moved: one that is not where the walk found it is looked for where the
// system says it lies now (CurrentProgramPath); where that cannot be told,
// the check was not made.
RunningProgramLook RecogniseRunningProgram(Recogniser recognise, const wchar_t* path, uint32_t processId,
                                           uint64_t startTime);

// What a walk found, for the line the console shows.
enum class ProcessScan : int32_t { NotWalked, NoneFound, Found };

// 0 when the walk could not start, 1 when no worm process was found, else
// whether every worm process found was ended. scan, where given, receives
// what the walk found.
int32_t TerminateInfectedProcesses(Recogniser recognise, ContentCheck stillInfected = IsOpenFileInfected,
                                   ProcessScan* scan = nullptr);
int32_t ExamineProcess(const wchar_t* path, int32_t reserved, uint32_t processId, uint64_t startTime, void* context);
int32_t SetPrivilege(HANDLE token, const char* privilegeName, int32_t enable);

// The debug privilege for the length of a process walk on the NT family:
// other users' and services' processes open only with it. Disabled again,
// and the token closed, when the scope ends; nothing at all on the 9x
// family, whose token functions are stubs that fail.
class DebugPrivilegeForWalk {
public:
    explicit DebugPrivilegeForWalk(int isNt);
    ~DebugPrivilegeForWalk();
    DebugPrivilegeForWalk(const DebugPrivilegeForWalk&) = delete;
    DebugPrivilegeForWalk& operator=(const DebugPrivilegeForWalk&) = delete;

    // On the NT family: whether each step worked, and the system's code when not.
    bool tokenOpened = false;
    DWORD tokenError = 0;
    bool enabled = false;
    DWORD privilegeError = 0;

private:
    UniqueHandle token_;
    bool nt_;
};
