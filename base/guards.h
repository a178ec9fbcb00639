// Small owners for platform handles, one per kind, each with its own invalid value.
#pragma once
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <utility>

// Traits: the handle type, its invalid value and how it is released.
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Type get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::Invalid(); }
    void reset(Type value = Traits::Invalid()) {
        if (value_ != Traits::Invalid()) Traits::Close(value_);
        value_ = value;
    }
    Type release() { return std::exchange(value_, Traits::Invalid()); }
    // For out-parameters of calls that only write on success.
    Type* put() {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::Invalid();
};

template <typename T, void (*CloseFn)(T)>
struct NullInvalid {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type value) { CloseFn(value); }
};

inline void CloseHandleOnly(HANDLE h) { CloseHandle(h); }
inline void CloseKey(HKEY k) { RegCloseKey(k); }
inline void CloseService(SC_HANDLE h) { CloseServiceHandle(h); }
inline void UnloadLibrary(HMODULE m) { FreeLibrary(m); }
inline void ReleaseSid(PSID s) { FreeSid(s); }
inline void CloseStream(FILE* f) { fclose(f); }
inline void FreeMemory(void* p) { free(p); }

// CreateFileA and toolhelp snapshots answer INVALID_HANDLE_VALUE when they fail.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};

// Process, token and event handles: NULL when absent.
using UniqueHandle = UniqueResource<NullInvalid<HANDLE, CloseHandleOnly>>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueRegKey = UniqueResource<NullInvalid<HKEY, CloseKey>>;
using UniqueServiceHandle = UniqueResource<NullInvalid<SC_HANDLE, CloseService>>;
using UniqueLibrary = UniqueResource<NullInvalid<HMODULE, UnloadLibrary>>;
using UniqueSid = UniqueResource<NullInvalid<PSID, ReleaseSid>>;
using UniqueFile = UniqueResource<NullInvalid<FILE*, CloseStream>>;
using UniqueMemory = UniqueResource<NullInvalid<void*, FreeMemory>>;
