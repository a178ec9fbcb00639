// Recognition of worm copies by the CRC-32 of fixed regions of a file.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/file_identity.h"

struct FileSignature {
    uint32_t offset;
    uint32_t length;  // 0 ends the table
    uint32_t crc;
};

extern const FileSignature SignatureTable[];

// What a look at a file can tell. Only a file that is not there is absent;
// one that is there but cannot be read may well be the worm.
enum class Recognition : int32_t { Worm, NotWorm, Absent, Unchecked };

struct RecognitionResult {
    Recognition verdict = Recognition::Unchecked;
    uint32_t error = 0;  // the system's reason when unchecked
    bool readFailed = false;  // opened, but a read failed
    // Why a file was not read where no system error tells it (one on a
    // network, a device): a text for the trace and the report.
    const char* notRead = nullptr;
    // A worm copy: the handle its content was read through, still open, and
    // its identity, so that what is later deleted is the file recognised.
    RecognisedFile file;
};

// The one look at a file that every part of the program takes. The path is
// in UTF-16, as the NT family names files (see base/wide_files.h). Only a
// file on a disk of this machine is read: one on a network (a share, a
// network drive) is not even opened, as the open would sign this run's
// credentials in where its path leads, and whatever is not a disk file (a
// device, a pipe) answers reads as it likes.
RecognitionResult RecogniseFile(const wchar_t* path);

// The removal's trace line for a file that could not be read.
void TraceUnchecked(const wchar_t* path, const RecognitionResult& result);

// How a caller recognises the program files of running processes.
using Recogniser = RecognitionResult (*)(const wchar_t* path);

int32_t ScanFileSignatures(const char* path, const FileSignature* table, int32_t* matchIndex);
int32_t FindFileSignature(const char* path, int32_t* found);
int32_t IsFileInfected(const char* path);
// The same test on a file already open for reading.
bool IsOpenFileInfected(HANDLE file);
