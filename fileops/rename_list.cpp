#include "fileops/rename_list.h"

// Placeholders until the rename-list file lands.
int32_t ReadScannerDirectory(char* /*buffer*/, uint32_t /*size*/) { return -1; }
FILE* OpenRenameList(int32_t /*mode*/, char** body, int32_t* status) {
    if (body != nullptr) *body = nullptr;
    *status = NoScannerDirectory;
    return nullptr;
}
int32_t AddRenamePair(FILE* /*file*/, const char* /*existingPath*/, const char* /*newPath*/, int32_t* status) {
    *status = IoError;
    return 0;
}
int32_t FinishRenameList(FILE* /*file*/, int32_t* status) {
    *status = IoError;
    return 0;
}
