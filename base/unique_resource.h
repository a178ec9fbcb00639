// Small owners for resources that need no platform header (streams and
// memory), so that code which also builds natively can use them; the
// platform's own kinds are in base/guards.h.
#pragma once
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

inline void CloseStream(FILE* f) { fclose(f); }
inline void FreeMemory(void* p) { free(p); }

using UniqueFile = UniqueResource<NullInvalid<FILE*, CloseStream>>;
using UniqueMemory = UniqueResource<NullInvalid<void*, FreeMemory>>;
