#include "fileops/ini_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "base/ascii_case.h"
#include "base/unique_resource.h"

namespace {

constexpr size_t Leading = static_cast<size_t>(-1);

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

std::vector<IniSection>::iterator FindSection(IniFile& model, std::string_view name) {
    return std::find_if(model.sections.begin(), model.sections.end(),
                        [name](const IniSection& section) { return SameName(section.name, name); });
}

// The named section, appended empty at the end when there is none.
IniSection& SectionToChange(IniFile& model, const char* section) {
    auto found = FindSection(model, section);
    if (found != model.sections.end()) return *found;
    model.sections.push_back(IniSection{section, {}});
    return model.sections.back();
}

void AppendLine(IniSection& section, const char* key, const char* value) {
    IniEntry entry;
    entry.key = key;
    entry.value = value;
    section.lines.push_back(std::move(entry));
}

IniEntry VerbatimLine(std::string_view text) {
    IniEntry entry;
    entry.value = text;
    return entry;
}

// Reads one line into the model; a header changes the current section.
void LoadLine(IniFile& model, size_t& current, std::string_view line) {
    size_t indent = 0;
    while (indent < line.size() && IsBlank(line[indent])) ++indent;

    IniEntry entry;
    if (indent == line.size() || line[indent] == ';') {
        entry = VerbatimLine(line);
    } else if (line[indent] == '[') {
        const size_t close = line.find(']', indent + 1);
        if (close == std::string_view::npos) {
            entry = VerbatimLine(line);
        } else {
            const std::string_view name = line.substr(indent + 1, close - indent - 1);
            auto found = FindSection(model, name);
            if (found == model.sections.end()) {
                model.sections.push_back(IniSection{std::string(name), {}});
                found = model.sections.end() - 1;
            }
            current = static_cast<size_t>(found - model.sections.begin());
            return;
        }
    } else {
        const size_t equals = line.find('=', indent);
        if (equals == std::string_view::npos) {
            entry = VerbatimLine(line);
        } else {
            size_t keyEnd = equals;
            while (keyEnd > indent && IsBlank(line[keyEnd - 1])) --keyEnd;
            size_t valueStart = equals + 1;
            while (valueStart < line.size() && IsBlank(line[valueStart])) ++valueStart;
            entry.key = std::string(line.substr(indent, keyEnd - indent));
            entry.value = line.substr(valueStart);
            entry.indent = indent;
            entry.blanksBeforeEquals = equals - keyEnd;
            entry.blanksAfterEquals = valueStart - equals - 1;
        }
    }

    if (current != Leading) {
        model.sections[current].lines.push_back(std::move(entry));
    } else {
        if (!model.leading) model.leading.emplace();
        model.leading->lines.push_back(std::move(entry));
    }
}

void FormatLine(std::string& out, const IniEntry& entry) {
    if (!entry.key) {
        out += entry.value;
        return;
    }
    out.append(entry.indent, ' ');
    out += *entry.key;
    out.append(entry.blanksBeforeEquals, ' ');
    out += '=';
    out.append(entry.blanksAfterEquals, ' ');
    out += entry.value;
}

// From the stream's buffer through the system's cache to the disk.
bool FlushToDisk(FILE* file) {
    if (fflush(file) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

// Missing: its open fails because there is no such file (a file that is
// only locked or unreadable is there).
bool IsMissing(const std::string& path) {
    errno = 0;
    const UniqueFile file(fopen(path.c_str(), "rb"));
    return !file && errno == ENOENT;
}

// A save cut short between its two renames (the process ended, the power
// failed) leaves no file, the old content as ".old" and the new as ".new".
// The old content comes back: it holds every entry that others wrote. The
// file missing with ".old" alone is not such a cut: the swap was done and
// the file went later (the restart carried it out), so ".old" is stale.
void RestoreCutSwap(const char* path) {
    const std::string old = std::string(path) + ".old";
    const std::string fresh = std::string(path) + ".new";
    if (!IsMissing(path) || IsMissing(old) || IsMissing(fresh)) return;
    if (rename(old.c_str(), path) == 0) remove(fresh.c_str());
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
    UniqueFile file(fopen(path.c_str(), "wb"));
    if (!file) return false;
    bool ok = fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    ok = FlushToDisk(file.get()) && ok;
    return fclose(file.release()) == 0 && ok;
}

}  // namespace

void ClearIniFile(IniFile& model) { model = IniFile{}; }

void ParseIniText(IniFile& model, std::string_view text) {
    ClearIniFile(model);
    size_t current = Leading;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (end == std::string_view::npos) {
            text = {};
        } else {
            text.remove_prefix(end + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        }
        LoadLine(model, current, line);
    }
}

std::string FormatIniText(const IniFile& model) {
    std::string out;
    if (model.leading) {
        const std::vector<IniEntry>& lines = model.leading->lines;
        for (size_t i = 0; i < lines.size(); ++i) {
            FormatLine(out, lines[i]);
            if (i + 1 < lines.size() || !model.sections.empty()) out += "\r\n";
        }
    }
    for (size_t s = 0; s < model.sections.size(); ++s) {
        const IniSection& section = model.sections[s];
        out += '[';
        out += section.name;
        out += "]\r\n";
        const bool lastSection = s + 1 == model.sections.size();
        for (size_t i = 0; i < section.lines.size(); ++i) {
            FormatLine(out, section.lines[i]);
            if (!lastSection || i + 1 < section.lines.size()) out += "\r\n";
        }
    }
    // The file ends without a line end after its last line; an empty last
    // line would then vanish on the next load, so it keeps its line end.
    const std::vector<IniEntry>* last = !model.sections.empty() ? &model.sections.back().lines
                                        : model.leading           ? &model.leading->lines
                                                                  : nullptr;
    if (last != nullptr && !last->empty() && !last->back().key && last->back().value.empty()) out += "\r\n";
    return out;
}

int32_t LoadIniFile(IniFile& model, const char* path) {
    ClearIniFile(model);
    RestoreCutSwap(path);
    UniqueFile file(fopen(path, "rb"));
    if (!file) return 1;
    // Read as bytes and split lines here: text mode would end the file at a
    // Ctrl-Z, and line functions would cut lines at NUL bytes.
    std::string text;
    char chunk[4096];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, count);
    const bool readFailed = ferror(file.get()) != 0;
    ParseIniText(model, text);
    model.incomplete = readFailed;
    return readFailed ? 2 : 0;
}

int32_t SaveIniFile(const IniFile& model, const char* path) {
    if (model.incomplete) return 1;
    RestoreCutSwap(path);
    // An existing file that cannot be opened for writing (read-only, a
    // folder, locked) is refused as a direct write would be.
    bool existed = true;
    errno = 0;
    if (const UniqueFile probe(fopen(path, "r+b")); !probe) {
        if (errno != ENOENT) return 1;
        existed = false;
    }

    const std::string fresh = std::string(path) + ".new";
    const std::string old = std::string(path) + ".old";
    // Beside no file and no ".new", ".old" is stale (see RestoreCutSwap): a
    // cut of this save must not make it look like the old content.
    if (!existed && IsMissing(fresh)) remove(old.c_str());
    if (!WriteWholeFile(fresh, FormatIniText(model))) {
        remove(fresh.c_str());
        return 1;
    }
    // Swap the complete new file in; on any failure the old one stays.
    if (existed) {
        remove(old.c_str());
        if (rename(path, old.c_str()) != 0) {
            remove(fresh.c_str());
            return 1;
        }
    }
    if (rename(fresh.c_str(), path) != 0) {
        if (existed) rename(old.c_str(), path);
        remove(fresh.c_str());
        return 1;
    }
    if (existed) remove(old.c_str());
    return 0;
}

void SetIniEntry(IniFile& model, const char* section, const char* key, const char* value, int32_t occurrence) {
    if (section == nullptr) return;
    if (key == nullptr) {
        auto found = FindSection(model, section);
        if (found != model.sections.end()) model.sections.erase(found);
        return;
    }
    IniSection& changed = SectionToChange(model, section);

    std::vector<IniEntry>& lines = changed.lines;
    auto line = lines.end();
    int32_t seen = 0;
    for (auto it = lines.begin(); it != lines.end() && occurrence >= 0; ++it) {
        if (it->key && SameName(*it->key, key) && seen++ == occurrence) {
            line = it;
            break;
        }
    }

    if (value == nullptr) {
        if (line != lines.end()) lines.erase(line);
    } else if (line != lines.end()) {
        line->value = value;
    } else {
        AppendLine(changed, key, value);
    }
}

void AppendIniEntry(IniFile& model, const char* section, const char* key, const char* value) {
    if (section == nullptr || key == nullptr || value == nullptr) return;
    AppendLine(SectionToChange(model, section), key, value);
}
