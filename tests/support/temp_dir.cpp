#include "tests/support/temp_dir.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// Wide, so that files named outside the ANSI code page go too.
void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = dir + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

}  // namespace

TempDir::TempDir() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static unsigned counter = 0;
    char name[MAX_PATH];
    for (;;) {
        snprintf(name, sizeof name, "%sravlok-%lu-%u", base, GetCurrentProcessId(), counter++);
        if (CreateDirectoryA(name, nullptr)) break;
    }
    path_ = name;
}

TempDir::~TempDir() {
    const std::wstring dir = wide();
    if (!dir.empty()) RemoveTree(dir);
}

std::wstring TempDir::wide() const {
    wchar_t wide[MAX_PATH];
    return MultiByteToWideChar(CP_ACP, 0, path_.c_str(), -1, wide, MAX_PATH) != 0 ? wide : L"";
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

std::wstring Widen(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

std::string TestBinDir() {
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self, length < sizeof self ? length : 0);
    return path.substr(0, path.rfind('\\') + 1);
}
