#include "base/file_identity.h"

bool ReadFileIdentity(HANDLE file, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return false;
    identity->volumeSerial = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    identity->attributes = information.dwFileAttributes;
    return true;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.volumeSerial == b.volumeSerial && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}
