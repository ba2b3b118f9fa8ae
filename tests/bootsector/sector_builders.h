#pragma once
// Boot sectors and exFAT boot regions built in code, one field per parameter, for tests.
#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace tlx::test {

using Bytes = std::vector<std::uint8_t>;

inline void putLe(Bytes& bytes, std::size_t offset, unsigned width, std::uint64_t value) {
    for (unsigned i = 0; i < width; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint64_t getLe(const Bytes& bytes, std::size_t offset, unsigned width) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value |= std::uint64_t{bytes.at(offset + i)} << (8 * i);
    return value;
}

inline void putOem(Bytes& bytes, const char* name) { std::memcpy(bytes.data() + 3, name, 8); }

inline void putSignature(Bytes& bytes) {
    bytes.at(510) = 0x55;
    bytes.at(511) = 0xAA;
}

// FAT12/FAT16: totalSectors goes into the 16-bit field when it fits, else the 32-bit one.
struct Fat1xParams {
    std::uint32_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 1;
    std::uint16_t reservedSectors = 1;
    std::uint8_t fatCount = 2;
    std::uint16_t rootEntries = 512;
    std::uint32_t totalSectors = 2880;
    std::uint16_t sectorsPerFat = 9;
    std::uint8_t jump = 0xEB;
    std::uint8_t extendedSignature = 0x29;
    std::uint32_t serial = 0x12345678;
    bool signature = true;
};

// First data sector of a FAT12/FAT16 layout.
inline std::uint32_t firstDataSector(const Fat1xParams& p) {
    const std::uint32_t rootSectors = (p.rootEntries * 32u + p.bytesPerSector - 1) / p.bytesPerSector;
    return p.reservedSectors + p.fatCount * p.sectorsPerFat + rootSectors;
}

// A layout with exactly `clusters` data clusters.
inline Fat1xParams fat1xWithClusters(std::uint32_t clusters) {
    Fat1xParams p;
    p.sectorsPerFat = 256;
    p.totalSectors = firstDataSector(p) + clusters * p.sectorsPerCluster;
    return p;
}

inline Bytes fat1xSector(const Fat1xParams& p) {
    Bytes s(p.bytesPerSector, 0);
    s[0] = p.jump;
    s[1] = 0x3C;
    s[2] = 0x90;
    putOem(s, "MSWIN4.1");
    putLe(s, 11, 2, p.bytesPerSector);
    s[13] = p.sectorsPerCluster;
    putLe(s, 14, 2, p.reservedSectors);
    s[16] = p.fatCount;
    putLe(s, 17, 2, p.rootEntries);
    if (p.totalSectors <= 0xFFFF) putLe(s, 19, 2, p.totalSectors);
    else putLe(s, 32, 4, p.totalSectors);
    s[21] = 0xF8;
    putLe(s, 22, 2, p.sectorsPerFat);
    s[38] = p.extendedSignature;
    putLe(s, 39, 4, p.serial);
    std::memcpy(s.data() + 43, "NO NAME    FAT     ", 19);
    if (p.signature) putSignature(s);
    return s;
}

struct Fat32Params {
    std::uint32_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 8;
    std::uint16_t reservedSectors = 32;
    std::uint8_t fatCount = 2;
    std::uint32_t totalSectors = 1048576;
    std::uint32_t sectorsPerFat = 1020;
    std::uint16_t backupBootSector = 6;
    std::uint8_t jump = 0xEB;
    std::uint8_t extendedSignature = 0x29;
    std::uint32_t serial = 0x1234ABCD;
    bool signature = true;
};

inline Bytes fat32Sector(const Fat32Params& p) {
    Bytes s(p.bytesPerSector, 0);
    s[0] = p.jump;
    s[1] = 0x58;
    s[2] = 0x90;
    putOem(s, "mkfs.fat");
    putLe(s, 11, 2, p.bytesPerSector);
    s[13] = p.sectorsPerCluster;
    putLe(s, 14, 2, p.reservedSectors);
    s[16] = p.fatCount;
    s[21] = 0xF8;
    putLe(s, 32, 4, p.totalSectors);
    putLe(s, 36, 4, p.sectorsPerFat);
    putLe(s, 44, 4, 2);  // root cluster
    putLe(s, 48, 2, 1);  // FSInfo sector
    putLe(s, 50, 2, p.backupBootSector);
    s[66] = p.extendedSignature;
    putLe(s, 67, 4, p.serial);
    std::memcpy(s.data() + 71, "NO NAME    FAT32   ", 19);
    if (p.signature) putSignature(s);
    return s;
}

struct NtfsParams {
    std::uint32_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 8;
    std::uint64_t totalSectors = 16383;
    std::uint64_t serial = 0x0772BC612FE6D5CDull;
    bool signature = true;
};

inline Bytes ntfsSector(const NtfsParams& p) {
    Bytes s(p.bytesPerSector, 0);
    s[0] = 0xEB;
    s[1] = 0x52;
    s[2] = 0x90;
    putOem(s, "NTFS    ");
    putLe(s, 11, 2, p.bytesPerSector);
    s[13] = p.sectorsPerCluster;
    s[21] = 0xF8;
    putLe(s, 40, 8, p.totalSectors);
    putLe(s, 48, 8, 4);  // $MFT cluster
    putLe(s, 56, 8, p.totalSectors / 2);  // $MFTMirr cluster, roughly mid-volume
    s[64] = 0xF6;
    s[68] = 0x01;
    putLe(s, 72, 8, p.serial);
    if (p.signature) putSignature(s);
    return s;
}

struct ExFatParams {
    std::uint8_t sectorShift = 9;
    std::uint64_t volumeLength = 16384;
    std::uint32_t serial = 0x6F9BAD74;
    std::uint16_t volumeFlags = 0;
    std::uint8_t percentInUse = 0;
    bool signature = true;
};

inline Bytes exfatSector(const ExFatParams& p) {
    Bytes s(std::size_t{1} << p.sectorShift, 0);
    s[0] = 0xEB;
    s[1] = 0x76;
    s[2] = 0x90;
    putOem(s, "EXFAT   ");
    putLe(s, 64, 8, 0);  // partition offset
    putLe(s, 72, 8, p.volumeLength);
    putLe(s, 80, 4, 2048);  // FAT offset
    putLe(s, 84, 4, 64);
    putLe(s, 88, 4, 4096);  // cluster heap offset
    putLe(s, 92, 4, (p.volumeLength - 4096) / 8);
    putLe(s, 96, 4, 4);  // root directory cluster
    putLe(s, 100, 4, p.serial);
    putLe(s, 104, 2, 0x0100);  // revision 1.00
    putLe(s, 106, 2, p.volumeFlags);
    s[108] = p.sectorShift;
    s[109] = 3;
    s[110] = 1;
    s[111] = 0x80;
    s[112] = p.percentInUse;
    if (p.signature) putSignature(s);
    return s;
}

// The boot checksum, written out independently of the library so that each can check the other.
inline std::uint32_t referenceChecksum(const Bytes& region, std::size_t bytesPerSector) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 11 * bytesPerSector; ++i)
        if (i != 106 && i != 107 && i != 112) sum = std::rotr(sum, 1) + region[i];
    return sum;
}

inline void sealRegion(Bytes& region, std::size_t bytesPerSector) {
    const std::uint32_t sum = referenceChecksum(region, bytesPerSector);
    for (std::size_t offset = 11 * bytesPerSector; offset < 12 * bytesPerSector; offset += 4)
        putLe(region, offset, 4, sum);
}

// A main or backup region: boot sector, 8 extended boot sectors, OEM parameters, reserved, checksum.
inline Bytes exfatRegion(const ExFatParams& p) {
    const std::size_t bps = std::size_t{1} << p.sectorShift;
    Bytes region(12 * bps, 0);
    const Bytes boot = exfatSector(p);
    std::memcpy(region.data(), boot.data(), bps);
    for (std::size_t sector = 1; sector <= 8; ++sector) {
        region[sector * bps + bps - 2] = 0x55;
        region[sector * bps + bps - 1] = 0xAA;
    }
    // Some boot code, so that the checksum covers more than zeros.
    for (std::size_t i = 120; i < 390; ++i) region[i] = static_cast<std::uint8_t>(i * 7 + 3);
    sealRegion(region, bps);
    return region;
}

// Concatenates byte runs into one image.
inline Bytes concat(std::initializer_list<const Bytes*> parts) {
    Bytes out;
    for (const Bytes* part : parts) out.insert(out.end(), part->begin(), part->end());
    return out;
}

// Places `bytes` at byte `offset` of `image`, growing it if needed.
inline void place(Bytes& image, std::size_t offset, const Bytes& bytes) {
    if (image.size() < offset + bytes.size()) image.resize(offset + bytes.size(), 0);
    std::memcpy(image.data() + offset, bytes.data(), bytes.size());
}

// Byte offsets where two buffers of equal length differ.
inline std::vector<std::size_t> differingOffsets(const Bytes& a, const Bytes& b) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) out.push_back(i);
    return out;
}

}  // namespace tlx::test
