// Sends the trace to a log file of the test's own and hands out what was
// written since the last look.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"
#include "trace/trace.h"

class TraceCapture {
public:
    explicit TraceCapture(std::string path) : path_(std::move(path)) { OpenTraceFile(path_.c_str(), "w"); }
    // The log is let go (the NUL device takes its place) so that its folder can be removed.
    ~TraceCapture() { OpenTraceFile("NUL", "w"); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Whole lines written since the last call, without their line ends.
    std::vector<std::string> Lines() {
        const std::string text = ReadWholeFile(path_);
        std::vector<std::string> lines;
        for (size_t end; (end = text.find("\r\n", taken_)) != std::string::npos; taken_ = end + 2)
            lines.push_back(text.substr(taken_, end - taken_));
        return lines;
    }
    // Everything written since the last call, a cut line included.
    std::string Text() {
        const std::string text = ReadWholeFile(path_);
        const std::string rest = text.substr(taken_);
        taken_ = text.size();
        return rest;
    }

private:
    std::string path_;
    size_t taken_ = 0;
};
