// The initialization-file text form alone: no files, so these run natively too.
#include <gtest/gtest.h>

#include <string>

#include "fileops/ini_file.h"

namespace {

std::string Resaved(const std::string& text) {
    IniFile model;
    ParseIniText(model, text);
    return FormatIniText(model);
}

TEST(IniText, UntouchedLinesComeBackAsTheyWentIn) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"; c\r\n\r\n[s]\r\n  k =  v", "; c\r\n\r\n[s]\r\n  k =  v"},
        {"[s]\n\tk\t=\tv\t\n", "[s]\r\n k = v\t"},  // blanks come back as spaces
        {"[open\nk=v", "[open\r\nk=v"},
        {"[a]\nx=1\n[b]\ny=2\n[A]\nz=3", "[a]\r\nx=1\r\nz=3\r\n[b]\r\ny=2"},
        {"top\n[s]\n", "top\r\n[s]\r\n"},  // an empty last section keeps its line end
        {"[s]\nk=v\n\n", "[s]\r\nk=v\r\n\r\n"},  // so does an empty last line
        {"\n\n", "\r\n\r\n"},
        {std::string(1500, 'x'), std::string(1500, 'x')},
        {std::string(200, ' ') + "k=v", std::string(200, ' ') + "k=v"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        EXPECT_EQ(Resaved(c.in), c.out);
    }
}

TEST(IniText, SetEntryAppendsAfterTheLastOccurrenceOrReplacesOne) {
    IniFile model;
    ParseIniText(model, "[Rename]\nNUL = C:\\A.EXE\n");
    SetIniEntry(model, "rename", "nul", "C:\\B.EXE", 999);
    SetIniEntry(model, "rename", "nul", "C:\\C.EXE", 0);
    EXPECT_EQ(FormatIniText(model), "[Rename]\r\nNUL = C:\\C.EXE\r\nnul=C:\\B.EXE");
    IniFile empty;
    SetIniEntry(empty, "rename", "nul", "C:\\D.EXE", 999);
    EXPECT_EQ(FormatIniText(empty), "[rename]\r\nnul=C:\\D.EXE");
}

// Every line of a key is an operation some program left pending: a new one
// goes behind them all, the thousandth included.
TEST(IniText, AppendEntryAlwaysAddsALine) {
    std::string text = "[ReName]\r\n";
    for (int i = 0; i < 1000; ++i) text += "nul=C:\\OTHER\\F" + std::to_string(i) + ".EXE\r\n";
    text += "[later]\r\nk=v";
    IniFile model;
    ParseIniText(model, text);
    AppendIniEntry(model, "rename", "NUL", "C:\\MINE.EXE");
    EXPECT_EQ(FormatIniText(model), text.substr(0, text.find("[later]")) + "NUL=C:\\MINE.EXE\r\n[later]\r\nk=v");

    IniFile empty;
    AppendIniEntry(empty, "rename", "nul", "C:\\D.EXE");
    AppendIniEntry(empty, nullptr, "nul", "C:\\E.EXE");
    AppendIniEntry(empty, "rename", nullptr, "C:\\E.EXE");
    AppendIniEntry(empty, "rename", "nul", nullptr);
    EXPECT_EQ(FormatIniText(empty), "[rename]\r\nnul=C:\\D.EXE");
}

}  // namespace
