// Small owners for platform handles, one per kind, each with its own invalid value.
#pragma once
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <utility>

template <typename T, T Invalid, typename Close>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(std::exchange(other.value_, Invalid)) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(std::exchange(other.value_, Invalid));
        return *this;
    }
    ~UniqueResource() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Invalid; }
    void reset(T value = Invalid) {
        if (value_ != Invalid) Close{}(value_);
        value_ = value;
    }
    T release() { return std::exchange(value_, Invalid); }
    T* put() {
        reset();
        return &value_;
    }

private:
    T value_ = Invalid;
};

struct CloseHandleFn { void operator()(HANDLE h) const { CloseHandle(h); } };
struct RegCloseKeyFn { void operator()(HKEY k) const { RegCloseKey(k); } };
struct CloseServiceHandleFn { void operator()(SC_HANDLE h) const { CloseServiceHandle(h); } };
struct FreeLibraryFn { void operator()(HMODULE m) const { FreeLibrary(m); } };
struct FreeSidFn { void operator()(PSID s) const { FreeSid(s); } };
struct FcloseFn { void operator()(FILE* f) const { fclose(f); } };
struct FreeFn { void operator()(void* p) const { free(p); } };

// Process, token, event handles: NULL when absent.
using UniqueHandle = UniqueResource<HANDLE, nullptr, CloseHandleFn>;
// CreateFileA and toolhelp snapshots: INVALID_HANDLE_VALUE when absent.
// (A template argument cannot be a cast constant, hence the wrapper.)
class UniqueFileHandle {
public:
    UniqueFileHandle() = default;
    explicit UniqueFileHandle(HANDLE h) : h_(h) {}
    UniqueFileHandle(const UniqueFileHandle&) = delete;
    UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
    UniqueFileHandle(UniqueFileHandle&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
    UniqueFileHandle& operator=(UniqueFileHandle&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, INVALID_HANDLE_VALUE));
        return *this;
    }
    ~UniqueFileHandle() { reset(); }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }
    HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};
using UniqueRegKey = UniqueResource<HKEY, nullptr, RegCloseKeyFn>;
using UniqueServiceHandle = UniqueResource<SC_HANDLE, nullptr, CloseServiceHandleFn>;
using UniqueLibrary = UniqueResource<HMODULE, nullptr, FreeLibraryFn>;
using UniqueSid = UniqueResource<PSID, nullptr, FreeSidFn>;
using UniqueFile = UniqueResource<FILE*, nullptr, FcloseFn>;
using UniqueMemory = UniqueResource<void*, nullptr, FreeFn>;
