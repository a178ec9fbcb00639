#include "detect/signature.h"

// Placeholder until the recognition step lands.
const FileSignature SignatureTable[] = {{0, 0, 0}};

int32_t ScanFileSignatures(const char* /*path*/, const FileSignature* /*table*/, int32_t* matchIndex) {
    *matchIndex = -1;
    return 0;
}

int32_t FindFileSignature(const char* path, int32_t* found) {
    *found = 0;
    return ScanFileSignatures(path, SignatureTable, found);
}

int32_t IsFileInfected(const char* /*path*/) { return 0; }
