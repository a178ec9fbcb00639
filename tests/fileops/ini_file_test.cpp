#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fileops/ini_file.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::string_literals;

// Loads the text from a file, saves the model to another and returns what
// was written.
std::string RoundTrip(const TempDir& dir, const std::string& text) {
    const std::string in = dir / "in.ini";
    const std::string out = dir / "out.ini";
    WriteWholeFile(in, text);
    IniFile model;
    EXPECT_EQ(LoadIniFile(model, in.c_str()), 0);
    EXPECT_EQ(SaveIniFile(model, out.c_str()), 0);
    return ReadWholeFile(out);
}

struct RoundTripCase {
    const char* name;
    std::string text;
    std::string saved;
};

TEST(IniFile, SavesEveryLineItDidNotChange) {
    const std::string line1023(1023, 'a');
    const std::string line1500 = "k=" + std::string(1498, 'b');
    const std::string megabyte(1 << 20, 'c');
    const RoundTripCase cases[] = {
        {"four lines", "; comment\r\n\r\n[section]\r\n  key =  value", "; comment\r\n\r\n[section]\r\n  key =  value"},
        {"no line end after the last line", "[s]\r\nk=v\r\n", "[s]\r\nk=v"},
        {"tabs come back as spaces", "[s]\r\n\tkey\t= \tv\t", "[s]\r\n key =  v\t"},
        {"unclosed bracket opens no section", "[open\r\nk=v", "[open\r\nk=v"},
        {"a repeated header continues its section", "[a]\r\nx=1\r\n[b]\r\ny=2\r\n[A]\r\nz=3",
         "[a]\r\nx=1\r\nz=3\r\n[b]\r\ny=2"},
        {"leading lines first", "; top\r\nfree = 1\r\n\r\n[s]\r\na=b", "; top\r\nfree = 1\r\n\r\n[s]\r\na=b"},
        {"empty last section keeps its line end", "[a]\r\nk=v\r\n[b]\r\n", "[a]\r\nk=v\r\n[b]\r\n"},
        {"header decoration dropped", "  [s] ; note\r\nk=v", "[s]\r\nk=v"},
        {"blank and spaced lines", "[s]\r\n \t \r\n  ;x = y\r\nk=   \r\n=v\r\nno equals",
         "[s]\r\n \t \r\n  ;x = y\r\nk=   \r\n=v\r\nno equals"},
        {"bare LF line ends", "a=1\n[s]\nb=2\n", "a=1\r\n[s]\r\nb=2"},
        {"bare CR stays inside its line", "a=1\rb\r\n[s]\r", "a=1\rb\r\n[s]\r\n"},
        {"NUL bytes and Ctrl-Z", "k=a\0b\r\n\x1a\r\n[s\0t]\r\n\0=\0"s, "k=a\0b\r\n\x1a\r\n[s\0t]\r\n\0=\0"s},
        {"only brackets", "[[[[[[", "[[[[[["},
        {"only equals", "======", "======"},
        {"brackets closed", "[[[]]]", "[[[]\r\n"},
        {"empty file", "", ""},
        {"line of 1023 characters", "[s]\r\n" + line1023 + "\r\nk=v", "[s]\r\n" + line1023 + "\r\nk=v"},
        {"line of 1500 characters", "[s]\r\n" + line1500 + "\r\nk=v", "[s]\r\n" + line1500 + "\r\nk=v"},
        {"line of 1 MB", megabyte + "\r\n[s]\r\n" + megabyte + "=" + megabyte,
         megabyte + "\r\n[s]\r\n" + megabyte + "=" + megabyte},
        {"more blanks than a byte counts",
         std::string(200, ' ') + "key" + std::string(130, '\t') + "=" + std::string(300, ' ') + "v",
         std::string(200, ' ') + "key" + std::string(130, ' ') + "=" + std::string(300, ' ') + "v"},
    };
    TempDir dir;
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RoundTrip(dir, c.text), c.saved);
    }
}

TEST(IniFile, LoadsSectionsAndLinesInFileOrder) {
    IniFile model;
    ParseIniText(model, "top\r\n[a]\r\n\tkey  =   value \r\n[open\r\n[B]\r\n[A]\r\n;c");
    ASSERT_TRUE(model.leading);
    ASSERT_EQ(model.leading->lines.size(), 1u);
    EXPECT_FALSE(model.leading->lines[0].key);
    EXPECT_EQ(model.leading->lines[0].value, "top");

    ASSERT_EQ(model.sections.size(), 2u);
    EXPECT_EQ(model.sections[0].name, "a");
    EXPECT_EQ(model.sections[1].name, "B");
    EXPECT_TRUE(model.sections[1].lines.empty());
    const std::vector<IniEntry>& lines = model.sections[0].lines;
    ASSERT_EQ(lines.size(), 3u);
    ASSERT_TRUE(lines[0].key);
    EXPECT_EQ(*lines[0].key, "key");
    EXPECT_EQ(lines[0].value, "value ");
    EXPECT_EQ(lines[0].indent, 1u);
    EXPECT_EQ(lines[0].blanksBeforeEquals, 2u);
    EXPECT_EQ(lines[0].blanksAfterEquals, 3u);
    EXPECT_FALSE(lines[1].key);
    EXPECT_EQ(lines[1].value, "[open");
    EXPECT_EQ(lines[2].value, ";c");

    // No header before the first line: no leading section.
    ParseIniText(model, "[a]\r\nk=v");
    EXPECT_FALSE(model.leading);
    EXPECT_EQ(model.sections.size(), 1u);
}

TEST(IniFile, LoadingClearsTheModelAndAMissingFileLeavesItEmpty) {
    TempDir dir;
    IniFile model;
    ParseIniText(model, "x\r\n[s]\r\nk=v");
    EXPECT_EQ(LoadIniFile(model, (dir / "missing.ini").c_str()), 1);
    EXPECT_FALSE(model.leading);
    EXPECT_TRUE(model.sections.empty());
    EXPECT_EQ(LoadIniFile(model, dir.path().c_str()), 1);  // a folder

    ParseIniText(model, "x\r\n[s]\r\nk=v");
    ClearIniFile(model);
    EXPECT_EQ(FormatIniText(model), "");
}

struct SetCase {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    const char* value;
    int32_t occurrence;
    std::string saved;
};

TEST(IniFile, SetEntryAddsReplacesAndRemoves) {
    const SetCase cases[] = {
        {"empty model gains the section", "", "rename", "nul", "C:\\X.EXE", 999, "[rename]\r\nnul=C:\\X.EXE"},
        {"appends behind the same key", "[rename]\r\nnul=A", "rename", "nul", "B", 999, "[rename]\r\nnul=A\r\nnul=B"},
        {"section names ignore case", "[ReNaMe]\r\nnul=A\r\n[other]\r\nq=1", "rename", "NUL", "B", 999,
         "[ReNaMe]\r\nnul=A\r\nNUL=B\r\n[other]\r\nq=1"},
        {"occurrence 0 replaces the first value and keeps its spacing", "[s]\r\n  k =  old\r\nK=second", "S", "K",
         "new", 0, "[s]\r\n  k =  new\r\nK=second"},
        {"occurrence 1 replaces the second", "[s]\r\nk=1\r\nk=2\r\nk=3", "s", "k", "x", 1, "[s]\r\nk=1\r\nk=x\r\nk=3"},
        {"verbatim lines are not counted", "[s]\r\n;k=x\r\nk=1", "s", "k", "2", 0, "[s]\r\n;k=x\r\nk=2"},
        {"negative occurrence appends", "[s]\r\nk=1", "s", "k", "2", -1, "[s]\r\nk=1\r\nk=2"},
        {"new section goes last", "top\r\n[a]\r\nx=1", "b", "y", "2", 0, "top\r\n[a]\r\nx=1\r\n[b]\r\ny=2"},
        {"leading lines are no section", "k=1", "", "k", "2", 0, "k=1\r\n[]\r\nk=2"},
        {"no value removes that line", "[s]\r\nk=1\r\nk=2\r\nj=3", "s", "k", nullptr, 1, "[s]\r\nk=1\r\nj=3"},
        {"no value and no such line", "[s]\r\nk=1", "s", "k", nullptr, 5, "[s]\r\nk=1"},
        {"no key removes the section", "[a]\r\nx=1\r\n[b]\r\ny=2", "A", nullptr, nullptr, 0, "[b]\r\ny=2"},
        {"no section does nothing", "[a]\r\nx=1", nullptr, "x", "2", 0, "[a]\r\nx=1"},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.name);
        IniFile model;
        ParseIniText(model, c.text);
        SetIniEntry(model, c.section, c.key, c.value, c.occurrence);
        EXPECT_EQ(FormatIniText(model), c.saved);
    }
}

TEST(IniFile, SetEntryOnAMissingFileThenSave) {
    TempDir dir;
    const std::string path = dir / "WININIT.INI";
    IniFile model;
    EXPECT_EQ(LoadIniFile(model, path.c_str()), 1);
    SetIniEntry(model, "rename", "nul", "C:\\FIRST.EXE", 999);
    SetIniEntry(model, "rename", "nul", "C:\\SECOND.EXE", 999);
    EXPECT_EQ(SaveIniFile(model, path.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(path), "[rename]\r\nnul=C:\\FIRST.EXE\r\nnul=C:\\SECOND.EXE");
}

// Names in the folder besides "." and "..".
std::vector<std::string> FolderNames(const TempDir& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir / "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

TEST(IniFile, SaveReplacesTheFileAndLeavesNothingBeside) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    WriteWholeFile(path, std::string(5000, 'x'));
    IniFile model;
    ParseIniText(model, "[s]\r\nk=v");
    EXPECT_EQ(SaveIniFile(model, path.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(path), "[s]\r\nk=v");
    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"a.ini"});
}

// Every way a save can fail reports 1 and leaves the old file as it was.
TEST(IniFile, FailedSaveKeepsTheOldFile) {
    const std::string old = "; old\r\n[rename]\r\nnul=C:\\A.EXE\r\n";
    IniFile model;
    ParseIniText(model, old);
    SetIniEntry(model, "rename", "nul", "C:\\B.EXE", 999);

    struct Case {
        const char* name;
        void (*block)(const std::string& path, HANDLE* held);
    } const cases[] = {
        {"the new content cannot be written beside",
         [](const std::string& path, HANDLE*) { ASSERT_TRUE(CreateDirectoryA((path + ".new").c_str(), nullptr)); }},
        {"the file is held with read sharing only",
         [](const std::string& path, HANDLE* held) {
             *held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
             ASSERT_NE(*held, INVALID_HANDLE_VALUE);
         }},
        {"the file may be written but not replaced",
         [](const std::string& path, HANDLE* held) {
             *held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
             ASSERT_NE(*held, INVALID_HANDLE_VALUE);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir / "WININIT.INI";
        WriteWholeFile(path, old);
        HANDLE held = INVALID_HANDLE_VALUE;
        c.block(path, &held);
        EXPECT_EQ(SaveIniFile(model, path.c_str()), 1);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(ReadWholeFile(path), old);
        for (const std::string& name : FolderNames(dir)) {
            EXPECT_TRUE(name == "WININIT.INI" || name == "WININIT.INI.new") << name;
        }
    }

    TempDir dir;
    const std::string folder = dir / "WININIT.INI";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(SaveIniFile(model, folder.c_str()), 1);
    EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(FolderNames(dir), std::vector<std::string>{"WININIT.INI"});
}

}  // namespace
