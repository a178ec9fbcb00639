// Letter case aside for the ASCII letters alone: the system's own names that
// the program compares (drive letters, device and folder names, path
// prefixes, INI sections and keys) are written in them, and any other
// letter would need the system's case tables.
#pragma once

template <typename Char>
constexpr Char AsciiUpper(Char c) {
    return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}
