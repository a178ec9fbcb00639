// A folder of its own for one test, removed with everything in it afterwards.
#pragma once
#include <windows.h>

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "\\" + name
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
    // The same in UTF-16, for names outside the ANSI code page.
    std::wstring wide() const;
    std::wstring operator/(const std::wstring& name) const { return wide() + L"\\" + name; }

private:
    std::string path_;
};

// ANSI text (the system's code page) in UTF-16.
std::wstring Widen(const std::string& text);

// The folder of the running test program (where the suite's helper
// programs lie), with its final backslash.
std::string TestBinDir();

// Whole content of a file, or "<missing>" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& data);
