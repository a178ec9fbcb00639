#include "fileops/file_target.h"

#include "base/platform.h"

FileTarget TargetOf(const wchar_t* path) {
    FileTarget target;
    target.path = path;
    // Where the code page holds the path, ShowPath writes these same bytes.
    target.ansi = !IsWindowsNT() && WideToAnsi(path, target.shown.text, ReplacePathSize);
    if (!target.ansi) target.shown = ShowPath(path);
    return target;
}
