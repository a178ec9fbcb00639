// Any bytes as an initialization file: loading takes them whole, and what a
// save writes loads back to the same model.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fileops/ini_file.h"

namespace {

bool SameEntry(const IniEntry& a, const IniEntry& b) {
    return a.key == b.key && a.value == b.value && a.indent == b.indent &&
           a.blanksBeforeEquals == b.blanksBeforeEquals && a.blanksAfterEquals == b.blanksAfterEquals;
}

bool SameSection(const IniSection& a, const IniSection& b) {
    if (a.name != b.name || a.lines.size() != b.lines.size()) return false;
    for (size_t i = 0; i < a.lines.size(); ++i) {
        if (!SameEntry(a.lines[i], b.lines[i])) return false;
    }
    return true;
}

bool SameModel(const IniFile& a, const IniFile& b) {
    if (a.leading.has_value() != b.leading.has_value()) return false;
    if (a.leading && !SameSection(*a.leading, *b.leading)) return false;
    if (a.sections.size() != b.sections.size()) return false;
    for (size_t i = 0; i < a.sections.size(); ++i) {
        if (!SameSection(a.sections[i], b.sections[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IniFile first;
    ParseIniText(first, std::string_view(reinterpret_cast<const char*>(data), size));
    // What the program itself does to WININIT.INI.
    AppendIniEntry(first, "rename", "nul", "C:\\WINDOWS\\SYSTEM\\WINUPD~1.EXE");
    IniFile second;
    ParseIniText(second, FormatIniText(first));
    // Tabs come back as spaces and a lone trailing CR as part of the text:
    // compare what the first save wrote with what the second writes.
    if (FormatIniText(second) != FormatIniText(first)) abort();
    IniFile third;
    ParseIniText(third, FormatIniText(second));
    if (!SameModel(second, third)) abort();
    return 0;
}
