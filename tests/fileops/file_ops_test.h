// What the tests of the deletion and the renaming share: their trace lines
// and a run on the NT family by a user outside the Administrators group.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/platform.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"
#include "tests/support/trace_capture.h"

inline const std::string Tag = "[QRTK - ReplaceFile]: ";
inline const std::string Exist = "[QRTK - FileExist]: File ";

inline bool Present(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Fills {s} and {d} into the expected lines.
inline std::vector<std::string> Expected(std::vector<std::string> lines, const std::string& s,
                                         const std::string& d = "") {
    for (std::string& line : lines) {
        for (const auto& [mark, value] : {std::pair{std::string("{s}"), s}, std::pair{std::string("{d}"), d}}) {
            for (size_t at; (at = line.find(mark)) != std::string::npos;) line.replace(at, mark.size(), value);
        }
    }
    return lines;
}

class FileOpsTest : public testing::Test {
protected:
    void SetUp() override {
        // The restart-time scheduler refuses deletions on the NT family to
        // a user outside the Administrators group, and has no scanner to
        // hand renames to: every scheduling is refused.
        SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Nt));
        SetProbeAnswer(ProbeAdmin, 0);
    }
    void TearDown() override { ResetProbeAnswers(); }

    // Lines of ReplaceFile and FileExist written since the last call;
    // the scheduler's own lines are its business.
    std::vector<std::string> TakeLines() {
        std::vector<std::string> lines;
        for (const std::string& line : trace_.Lines())
            if (line.rfind(Tag, 0) == 0 || line.rfind(Exist, 0) == 0) lines.push_back(line);
        return lines;
    }

    TempDir dir_;
    TraceCapture trace_{dir_ / "trace.log"};
};
