// Initialization files (section headers in square brackets, key=value lines)
// as an ordered model: load a whole file, change one entry, write it back so
// that every line that was not changed comes out as it went in.
// Plain C++ only, so that it also builds natively.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One line of a section. A keyed line has a key; a verbatim line (comment,
// blank line, unclosed header, line without "=") has none and keeps its whole
// text as the value.
struct IniEntry {
    std::optional<std::string> key;
    std::string value;
    // Blanks (spaces or tabs) in front of the key, between key and "=", and
    // between "=" and the value, as loaded; written back as spaces.
    size_t indent = 0;
    size_t blanksBeforeEquals = 0;
    size_t blanksAfterEquals = 0;
};

struct IniSection {
    std::string name;  // the text between the brackets; unused for the leading section
    std::vector<IniEntry> lines;
};

struct IniFile {
    // The lines before the first header; present once such a line was loaded.
    std::optional<IniSection> leading;
    std::vector<IniSection> sections;
    // A load that hit a read error holds part of the file only; saving it
    // would drop the rest, so it is refused.
    bool incomplete = false;
};

void ClearIniFile(IniFile& model);

// 0 when the file was read, 1 when it could not be opened, 2 when a read
// failed (the model then holds what was read and is marked incomplete). The
// model is cleared first either way, and a file that a save cut short left
// missing is brought back (see SaveIniFile).
int32_t LoadIniFile(IniFile& model, const char* path);

// 0 when the file was written whole, 1 on any failure or for an incomplete
// model. The new content is written beside the file as "<path>.new", flushed
// to the disk and only then swapped in: the file becomes "<path>.old", the
// new one takes its name. A failure leaves the old file; a cut between the
// two renames (the process ended, the power failed) leaves no file, which
// the next load or save brings back from "<path>.old" first.
int32_t SaveIniFile(const IniFile& model, const char* path);

// Finds the occurrence-th keyed line (from 0) of key in section (names
// compared without regard to case) and replaces its value, or appends a new
// line when there is no such occurrence. A null value removes that line; a
// null key removes the whole section; a null section does nothing.
void SetIniEntry(IniFile& model, const char* section, const char* key, const char* value, int32_t occurrence);

// Appends a keyed line at the end of section (found without regard to case,
// or made at the end), however many lines of that key it holds already.
// Null arguments do nothing.
void AppendIniEntry(IniFile& model, const char* section, const char* key, const char* value);

// The text form behind LoadIniFile and SaveIniFile: lines end with CR LF or
// LF; the saved text uses CR LF.
void ParseIniText(IniFile& model, std::string_view text);
std::string FormatIniText(const IniFile& model);
