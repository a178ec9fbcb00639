#include "base/file_identity.h"

int32_t ReadFileIdentity(HANDLE file, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return 0;
    identity->volumeSerial = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    identity->attributes = information.dwFileAttributes;
    return 1;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.volumeSerial == b.volumeSerial && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}
