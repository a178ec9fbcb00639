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

}  // namespace
