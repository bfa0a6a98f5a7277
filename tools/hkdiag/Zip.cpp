#include "Zip.h"

#include <array>

namespace hkdiag {
namespace {

void Put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, unsigned long value) {
    Put16(out, static_cast<unsigned>(value & 0xFFFF));
    Put16(out, static_cast<unsigned>((value >> 16) & 0xFFFF));
}

// The fields a local header and a central directory record share, from
// "version needed" to the name's length.
void PutCommon(std::string& out, const ZipEntry& entry, unsigned long crc, unsigned short date,
               unsigned short time) {
    Put16(out, 10); // version needed: 1.0, stored
    Put16(out, 0);  // flags
    Put16(out, 0);  // method: stored
    Put16(out, time);
    Put16(out, date);
    Put32(out, crc);
    Put32(out, static_cast<unsigned long>(entry.bytes.size())); // compressed
    Put32(out, static_cast<unsigned long>(entry.bytes.size())); // uncompressed
    Put16(out, static_cast<unsigned>(entry.name.size()));
    Put16(out, 0); // extra field
}

} // namespace

unsigned long Crc32(const std::string& bytes) {
    static const std::array<unsigned long, 256> table = [] {
        std::array<unsigned long, 256> t{};
        for (unsigned long n = 0; n < 256; ++n) {
            unsigned long c = n;
            for (int k = 0; k < 8; ++k) {
                c = c & 1 ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    unsigned long crc = 0xFFFFFFFFUL;
    for (unsigned char b : bytes) {
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFUL;
}

std::string ZipArchive(const std::vector<ZipEntry>& entries, unsigned short dosDate, unsigned short dosTime) {
    std::string out, directory;
    for (const ZipEntry& entry : entries) {
        unsigned long crc = Crc32(entry.bytes);
        unsigned long offset = static_cast<unsigned long>(out.size());
        Put32(out, 0x04034B50UL);
        PutCommon(out, entry, crc, dosDate, dosTime);
        out += entry.name + entry.bytes;
        Put32(directory, 0x02014B50UL);
        Put16(directory, 20); // made by: MS-DOS, 2.0
        PutCommon(directory, entry, crc, dosDate, dosTime);
        Put16(directory, 0); // comment
        Put16(directory, 0); // disk
        Put16(directory, 0); // internal attributes
        Put32(directory, 0); // external attributes
        Put32(directory, offset);
        directory += entry.name;
    }
    unsigned long start = static_cast<unsigned long>(out.size());
    out += directory;
    Put32(out, 0x06054B50UL);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<unsigned>(entries.size()));
    Put16(out, static_cast<unsigned>(entries.size()));
    Put32(out, static_cast<unsigned long>(directory.size()));
    Put32(out, start);
    Put16(out, 0);
    return out;
}

} // namespace hkdiag
