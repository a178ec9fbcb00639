// Forced into GoogleTest's own sources when it is built without threads
// (GTEST_IS_THREADSAFE=0): the compiler's win32 thread model has no
// std::mutex, and the tests run on one thread. Its Windows death tests still
// need the handle owner that it otherwise declares with its locks.
#pragma once
#include <windows.h>

namespace testing::internal {

class AutoHandle {
public:
    using Handle = void*;
    AutoHandle() = default;
    explicit AutoHandle(Handle handle) : handle_(handle) {}
    AutoHandle(const AutoHandle&) = delete;
    AutoHandle& operator=(const AutoHandle&) = delete;
    ~AutoHandle() { Reset(); }

    Handle Get() const { return handle_; }
    void Reset(Handle handle = INVALID_HANDLE_VALUE) {
        if (handle_ != handle && handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace testing::internal
