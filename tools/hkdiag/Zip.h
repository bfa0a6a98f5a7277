// A zip archive of a few files, stored without compression: what `collect`
// writes when its output ends in ".zip". Pure: entries in, bytes out.
#pragma once

#include <string>
#include <vector>

namespace hkdiag {

struct ZipEntry {
    std::string name; // "logs/sh_client_log_20261204024854.txt": forward slashes
    std::string bytes;
};

// The archive (local headers, data, central directory), every entry stamped
// with the DOS date and time given (FileTimeToDosDateTime's halves).
std::string ZipArchive(const std::vector<ZipEntry>& entries, unsigned short dosDate, unsigned short dosTime);

// The CRC-32 of bytes (the zip format's, polynomial 0xEDB88320).
unsigned long Crc32(const std::string& bytes);

} // namespace hkdiag
