// The initialization-file save and load as they meet the disk, natively: the
// system calls are watched by stand-ins of this program, which the linker
// prefers to the C library's.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fileops/ini_file.h"

namespace {

std::vector<std::string> events;

std::string PathOf(int fd) {
    char link[64];
    char target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : "?";
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class Folder {
public:
    Folder() {
        char pattern[] = "/tmp/ini-disk-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~Folder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace

extern "C" int fsync(int fd) {
    events.push_back("flush " + PathOf(fd));
    using Real = int (*)(int);
    return reinterpret_cast<Real>(dlsym(RTLD_NEXT, "fsync"))(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    events.push_back(std::string("rename ") + from + " -> " + to);
    using Real = int (*)(const char*, const char*);
    return reinterpret_cast<Real>(dlsym(RTLD_NEXT, "rename"))(from, to);
}

namespace {

TEST(IniFileOnDisk, NewContentReachesTheDiskBeforeItIsSwappedIn) {
    Folder dir;
    const std::string path = dir / "WININIT.INI";
    std::ofstream(path, std::ios::binary) << "[rename]\r\nnul=C:\\A.EXE";
    IniFile model;
    ASSERT_EQ(LoadIniFile(model, path.c_str()), 0);
    SetIniEntry(model, "rename", "nul", "C:\\B.EXE", 999);
    events.clear();
    EXPECT_EQ(SaveIniFile(model, path.c_str()), 0);
    const std::vector<std::string> expected = {
        "flush " + path + ".new",
        "rename " + path + " -> " + path + ".old",
        "rename " + path + ".new -> " + path,
    };
    EXPECT_EQ(events, expected);
    EXPECT_EQ(Read(path), "[rename]\r\nnul=C:\\A.EXE\r\nnul=C:\\B.EXE");
}

TEST(IniFileOnDisk, ModelOfAFailedReadIsNotSaved) {
    Folder dir;
    // Reading a folder fails after the open succeeded.
    const std::string folder = dir / "unreadable";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string path = dir / "WININIT.INI";
    const std::string old = "[rename]\r\nnul=C:\\A.EXE";
    std::ofstream(path, std::ios::binary) << old;

    IniFile model;
    EXPECT_EQ(LoadIniFile(model, folder.c_str()), 2);
    EXPECT_TRUE(model.incomplete);
    SetIniEntry(model, "rename", "nul", "C:\\B.EXE", 999);
    EXPECT_EQ(SaveIniFile(model, path.c_str()), 1);
    EXPECT_EQ(Read(path), old);
    // A later complete load clears the mark.
    EXPECT_EQ(LoadIniFile(model, path.c_str()), 0);
    EXPECT_FALSE(model.incomplete);
}

// A save cut between its two renames leaves the old content as ".old" and
// the new as ".new", and no file: the next load or save brings the old one
// back, with every entry that others wrote. A file missing beside ".old"
// alone was swapped whole and then carried out by a restart: its ".old" is
// stale and stays where it is.
TEST(IniFileOnDisk, SaveCutBetweenItsRenamesIsUndoneFirst) {
    const std::string others = "[rename]\r\nnul=C:\\OTHER.EXE";
    const std::string mine = others + "\r\nnul=C:\\MINE.EXE";
    struct Case {
        const char* name;
        bool file, old, fresh;
        bool restored;
    } const cases[] = {
        {"cut between the renames", false, true, true, true},
        {"carried out after a whole swap", false, true, false, false},
        {"file present", true, true, true, false},
    };
    for (const Case& c : cases) {
        for (const bool saving : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (saving ? ", save" : ", load"));
            Folder dir;
            const std::string path = dir / "WININIT.INI";
            if (c.file) Write(path, "[rename]\r\nnul=C:\\PRESENT.EXE");
            if (c.old) Write(path + ".old", others);
            if (c.fresh) Write(path + ".new", mine);
            IniFile model;
            events.clear();
            if (saving) {
                ParseIniText(model, "[s]\r\nk=v");
                EXPECT_EQ(SaveIniFile(model, path.c_str()), 0);
            } else {
                EXPECT_EQ(LoadIniFile(model, path.c_str()), c.file || c.restored ? 0 : 1);
            }
            const bool undone = !events.empty() && events[0] == "rename " + path + ".old -> " + path;
            EXPECT_EQ(undone, c.restored);
            if (c.restored) {
                if (!saving) EXPECT_EQ(FormatIniText(model), others);
                EXPECT_FALSE(Exists(path + ".new"));
            } else if (!c.file) {
                // Kept by a load; a save takes it away, so that a cut of
                // its own swap cannot bring it back.
                EXPECT_EQ(Exists(path + ".old"), !saving);
            }
        }
    }
}

}  // namespace
