// Any UTF-16 text as a program path: the conversion refuses it or gives a
// path that converts again without refusal; the display form holds only the
// code page's bytes and escapes, reads back as the very text it shows, and
// a smaller buffer holds a prefix of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/path_forms.h"

namespace {

size_t AsciiOnly(uint32_t codePoint, char* bytes, size_t size, void*) {
    if (codePoint >= 0x80 || size < 1) return 0;
    bytes[0] = static_cast<char>(codePoint);
    return 1;
}

// The code points of UTF-16 text, pairs joined, lone surrogates as they are.
std::vector<uint32_t> CodePoints(const std::wstring& text) {
    std::vector<uint32_t> points;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<uint32_t>(text[i]);
        const uint32_t next = i + 1 < text.size() ? static_cast<uint32_t>(text[i + 1]) : 0;
        if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            points.push_back(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
            ++i;
        } else {
            points.push_back(unit);
        }
    }
    return points;
}

// Reads the display form back; false when it is not one.
bool ReadBack(const std::string& shown, std::vector<uint32_t>* points) {
    for (size_t i = 0; i < shown.size();) {
        if (shown[i] != '<') {
            points->push_back(static_cast<unsigned char>(shown[i++]));
            continue;
        }
        const size_t end = shown.find('>', i);
        if (end == std::string::npos || shown.compare(i, 3, "<U+") != 0 || end - i - 3 < 4) return false;
        points->push_back(static_cast<uint32_t>(strtoul(shown.substr(i + 3, end - i - 3).c_str(), nullptr, 16)));
        i = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring path;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (unit == L'\0') break;
        path += unit;
    }

    for (size_t room : {size_t{24}, size_t{600}}) {
        std::vector<wchar_t> out(room, L'#');
        const Win32PathResult result = ToWin32Path(path.c_str(), L"C:\\WINDOWS", out.data(), room);
        const size_t length = wcsnlen(out.data(), room);
        if (length >= room) abort();
        if (result == Win32PathResult::Unchanged || result == Win32PathResult::Converted) {
            if (Win32PathRefusal(result) != nullptr) abort();
            if (result == Win32PathResult::Unchanged && std::wstring(out.data()) != path) abort();
            std::vector<wchar_t> again(room);
            const Win32PathResult second = ToWin32Path(out.data(), L"C:\\WINDOWS", again.data(), room);
            if (second != Win32PathResult::Unchanged && second != Win32PathResult::Converted) abort();
        } else if (length != 0 || Win32PathRefusal(result) == nullptr) {
            abort();
        }
    }

    // The literal form is the path itself, or it behind \\?\ (a share's
    // behind \\?\UNC), and only a drive or share path gets one.
    std::vector<wchar_t> literal(path.size() + 9, L'#');
    if (!ToLiteralPath(path.c_str(), literal.data(), literal.size())) abort();
    const std::wstring form = literal.data();
    const PathPlace place = PlaceOfPath(path.c_str());
    if (form != path && !(place == PathPlace::Drive && form == L"\\\\?\\" + path) &&
        !(place == PathPlace::Share && form == L"\\\\?\\UNC" + path.substr(1))) {
        abort();
    }
    if (form != path && PlaceOfPath(form.c_str()) != place) abort();

    std::string shown(path.size() * 12 + 1, '#');
    const size_t length = FormatDisplayPath(path.c_str(), AsciiOnly, nullptr, shown.data(), shown.size());
    if (length != strlen(shown.c_str())) abort();
    shown.resize(length);
    for (char c : shown) {
        if (static_cast<unsigned char>(c) >= 0x80) abort();
    }
    if (path.find(L'<') == std::wstring::npos) {
        std::vector<uint32_t> points;
        if (!ReadBack(shown, &points) || points != CodePoints(path)) abort();
    }
    char part[20];
    FormatDisplayPath(path.c_str(), AsciiOnly, nullptr, part, sizeof part);
    if (shown.compare(0, strlen(part), part) != 0) abort();
    return 0;
}
