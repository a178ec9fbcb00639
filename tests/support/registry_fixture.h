// Registry values set for one test and put back as they were afterwards.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

class RegistryFixture {
public:
    RegistryFixture() = default;
    RegistryFixture(const RegistryFixture&) = delete;
    RegistryFixture& operator=(const RegistryFixture&) = delete;
    ~RegistryFixture() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            HKEY key = Open(it->root, it->key, KEY_SET_VALUE);
            if (key == nullptr) continue;
            if (it->existed) {
                SetRaw(key, it->name, it->type, it->data);
            } else {
                RegDeleteValueA(key, it->name.c_str());
            }
            Close(it->root, key);
        }
        // Keys this fixture made, deepest first; RegDeleteKeyA leaves a key
        // that something else filled with subkeys alone.
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) RegDeleteKeyA(it->first, it->second.c_str());
    }

    // Stores exactly these bytes: a string value holds a terminator only when
    // `data` ends in one (see Sz).
    void Set(HKEY root, const std::string& keyPath, const std::string& name, DWORD type, const std::string& data) {
        Save(root, keyPath, name);
        HKEY key = Create(root, keyPath);
        ASSERT_NE(key, nullptr) << keyPath;
        EXPECT_EQ(SetRaw(key, name, type, data), ERROR_SUCCESS) << keyPath << "\\" << name;
        Close(root, key);
    }

    void Remove(HKEY root, const std::string& keyPath, const std::string& name) {
        Save(root, keyPath, name);
        HKEY key = Open(root, keyPath, KEY_SET_VALUE);
        if (key == nullptr) return;
        RegDeleteValueA(key, name.c_str());
        Close(root, key);
    }

    static std::string Sz(const std::string& text) { return text + '\0'; }

private:
    struct SavedValue {
        HKEY root;
        std::string key;
        std::string name;
        bool existed;
        DWORD type;
        std::string data;
    };

    static HKEY Open(HKEY root, const std::string& keyPath, REGSAM access) {
        if (keyPath.empty()) return root;
        HKEY key = nullptr;
        return RegOpenKeyExA(root, keyPath.c_str(), 0, access, &key) == ERROR_SUCCESS ? key : nullptr;
    }
    static void Close(HKEY root, HKEY key) {
        if (key != root) RegCloseKey(key);
    }
    static LONG SetRaw(HKEY key, const std::string& name, DWORD type, const std::string& data) {
        // The ANSI call counts in a terminator that directly follows the
        // given bytes: a non-NUL byte behind them keeps the count exact.
        std::string bytes = data + 'X';
        return RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(data.size()));
    }

    void Save(HKEY root, const std::string& keyPath, const std::string& name) {
        for (const SavedValue& s : saved_) {
            if (s.root == root && s.key == keyPath && s.name == name) return;
        }
        SavedValue s{root, keyPath, name, false, 0, {}};
        if (HKEY key = Open(root, keyPath, KEY_QUERY_VALUE)) {
            DWORD size = 0;
            if (RegQueryValueExA(key, name.c_str(), nullptr, &s.type, nullptr, &size) == ERROR_SUCCESS) {
                s.data.resize(size);
                s.existed = RegQueryValueExA(key, name.c_str(), nullptr, &s.type,
                                             reinterpret_cast<BYTE*>(s.data.data()), &size) == ERROR_SUCCESS;
                s.data.resize(size);
            }
            Close(root, key);
        }
        saved_.push_back(s);
    }

    HKEY Create(HKEY root, const std::string& keyPath) {
        if (keyPath.empty()) return root;
        // One level at a time, to know which levels did not exist before.
        HKEY key = nullptr;
        size_t end = 0;
        while (end != std::string::npos) {
            end = keyPath.find('\\', end + 1);
            const std::string level = keyPath.substr(0, end);
            if (key != nullptr) RegCloseKey(key);
            key = nullptr;
            DWORD disposition = 0;
            if (RegCreateKeyExA(root, level.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, &disposition) !=
                ERROR_SUCCESS) {
                return nullptr;
            }
            if (disposition == REG_CREATED_NEW_KEY) created_.emplace_back(root, level);
        }
        return key;
    }

    std::vector<SavedValue> saved_;
    std::vector<std::pair<HKEY, std::string>> created_;
};
