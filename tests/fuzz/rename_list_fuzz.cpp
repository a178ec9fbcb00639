// Any bytes as a rename-list file: reading never fails unsafely, and a list it
// accepts encodes back to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fileops/rename_list_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size <= RenameListHeaderSize || size > RenameListMaxFileSize) return 0;
    RenameListHeader header;
    std::memcpy(&header, data, sizeof header);
    const uint32_t bodySize = static_cast<uint32_t>(size - RenameListHeaderSize);
    // Exactly the body's size, so that any read past it is caught.
    std::vector<uint8_t> body(data + RenameListHeaderSize, data + size);
    if (DecodeRenameListBody(body.data(), bodySize, header.checksum) != RenameListStatus::Ok) return 0;
    if (EncodeRenameListBody(body.data(), bodySize) != header.checksum) abort();
    if (std::memcmp(body.data(), data + RenameListHeaderSize, bodySize) != 0) abort();
    return 0;
}
