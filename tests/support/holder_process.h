// A helper program of the test suite (file_holder.exe)
// that holds a file from another process for as long as this object lives.
#pragma once
#include <windows.h>

#include <string>

class HolderProcess {
public:
    // Starts the program from the test programs' folder and waits until it
    // reports "holding"; holding() says whether it did.
    HolderProcess(const std::string& program, const std::string& arguments);
    ~HolderProcess();
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    bool holding() const { return holding_; }
    // What the program printed before it held the file (or failed to).
    const std::string& output() const { return output_; }

private:
    PROCESS_INFORMATION process_{};
    bool holding_ = false;
    std::string output_;
};
