// A file that the deletion acts on, named once: for the file functions and
// for the people who read the trace.
#pragma once
#include <cstddef>

#include "base/wide_files.h"

// The paths a file operation takes: 263 characters and the terminator.
constexpr size_t ReplacePathSize = 264;

struct FileTarget {
    // The whole path, which the NT family's file functions take whatever
    // the code page holds of it.
    const wchar_t* path = nullptr;
    // The path as ShowPath writes it.
    DisplayedPath shown{};
    // The 9x family, whose paths all come from ANSI calls: shown holds the
    // very bytes that the path came from, which its file functions take (no
    // longer than a file operation's path). False where the code page cannot
    // give them back, and on the NT family.
    bool ansi = false;
};

// The target of path, which must outlive it.
FileTarget TargetOf(const wchar_t* path);
