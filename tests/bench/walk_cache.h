// Program files found clean during one process walk, so that a file that
// many processes run is read and checked once per walk, not once per
// process. Keyed by path and confirmed by the file's stamp (file index,
// size, last write) each time: a path that names another file now, or a
// file written since, is checked afresh. The volume is the one the same
// path leads to.
//
// Only clean files are remembered. A worm copy needs its own recognising
// handle for its deletion, and a file that could not be read may be
// readable a moment later, so both are checked again for every process.
// This is sound because only program files of running processes are
// remembered, and a program file cannot be written or deleted while it
// runs, only renamed: a file put in its place has another identity.
//
// A cache lives for one walk and is dropped after it; it does not survive
// to the next walk or run.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// What tells a file's content has not changed since it was read.
struct FileStamp {
    uint64_t index = 0;  // the file's number on its volume
    uint64_t size = 0;
    uint64_t lastWrite = 0;
};

// The stamp of an open file (FILE_READ_ATTRIBUTES is enough): 1 when the
// system told it, else 0. For a file about to be checked it is read before
// the content, so that a write in between shows as another stamp.
int32_t ReadFileStamp(HANDLE file, FileStamp* stamp);

bool SameStamp(const FileStamp& a, const FileStamp& b);

class WalkFileCache {
public:
    WalkFileCache() = default;
    ~WalkFileCache();
    WalkFileCache(const WalkFileCache&) = delete;
    WalkFileCache& operator=(const WalkFileCache&) = delete;

    // 1 when path was remembered clean during this walk and still names a
    // file of the same stamp (one open for its attributes, no read); else 0,
    // and the file is to be checked as usual.
    int32_t KnownClean(const wchar_t* path);

    // Remembers path as clean, with the stamp read through the handle that
    // its content was read through, before the read. Paths are compared
    // exactly: the same file under another spelling is checked once more.
    // Without memory for it the path is simply not remembered.
    void RememberClean(const wchar_t* path, const FileStamp& stamp);

    size_t Count() const { return count_; }

private:
    struct Entry {
        uint32_t hash;
        wchar_t* path;
        FileStamp stamp;
    };
    Entry* Find(const wchar_t* path, uint32_t hash) const;

    Entry* entries_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
};
