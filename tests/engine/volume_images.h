#pragma once
// Small volume images built in code: a boot sector (and its copies) in front of a patterned filler,
// so that a stray write anywhere shows up in a whole-image comparison.
#include <cstdint>
#include <cstring>
#include <vector>

namespace tlx::test {

inline constexpr std::uint32_t kImageSectors = 64;

inline void putLE(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint64_t getLE(const std::vector<std::uint8_t>& bytes, std::size_t offset, unsigned width) {
    std::uint64_t value = 0;
    for (unsigned i = width; i-- > 0;)
        value = (value << 8) | bytes[offset + i];
    return value;
}

inline void putText(std::vector<std::uint8_t>& bytes, std::size_t offset, const char* text) {
    std::memcpy(bytes.data() + offset, text, std::strlen(text));
}

// Every byte of the filler differs from its neighbours, and none of it looks like a boot sector.
inline std::vector<std::uint8_t> filler(std::uint32_t deviceSector, std::uint32_t sectors = kImageSectors) {
    std::vector<std::uint8_t> bytes(std::size_t{deviceSector} * sectors);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3 + i / 251);
    return bytes;
}

inline void copyRange(std::vector<std::uint8_t>& image, std::size_t to, const std::vector<std::uint8_t>& from,
                      std::size_t length) {
    std::memcpy(image.data() + to, from.data(), length);
}

inline std::vector<std::uint8_t> fat16BootSector(std::uint32_t serial) {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 0xEB; s[1] = 0x3C; s[2] = 0x90;
    putText(s, 3, "MSDOS5.0");
    putLE(s, 11, 512, 2);
    s[13] = 1;               // sectors per cluster
    putLE(s, 14, 1, 2);      // reserved sectors
    s[16] = 2;               // FATs
    putLE(s, 17, 512, 2);    // root entries
    putLE(s, 19, 5000, 2);   // 4927 clusters: FAT16
    s[21] = 0xF8;
    putLE(s, 22, 20, 2);     // sectors per FAT
    s[38] = 0x29;
    putLE(s, 39, serial, 4);
    putText(s, 43, "NO NAME    FAT16   ");
    s[510] = 0x55; s[511] = 0xAA;
    return s;
}

inline std::vector<std::uint8_t> fat32BootSector(std::uint32_t serial, std::uint32_t bytesPerSector = 512,
                                                 std::uint16_t backupField = 6) {
    std::vector<std::uint8_t> s(bytesPerSector, 0);
    s[0] = 0xEB; s[1] = 0x58; s[2] = 0x90;
    putText(s, 3, "MSWIN4.1");
    putLE(s, 11, bytesPerSector, 2);
    s[13] = 8;
    putLE(s, 14, 32, 2);
    s[16] = 2;
    s[21] = 0xF8;
    putLE(s, 32, 100000, 4);
    putLE(s, 36, 100, 4);
    putLE(s, 44, 2, 4);
    putLE(s, 48, 1, 2);
    putLE(s, 50, backupField, 2);
    s[66] = 0x29;
    putLE(s, 67, serial, 4);
    putText(s, 71, "NO NAME    FAT32   ");
    s[510] = 0x55; s[511] = 0xAA;
    return s;
}

inline constexpr std::uint64_t kNtfsTotalSectors = kImageSectors - 1;  // backup in the image's last sector

inline std::vector<std::uint8_t> ntfsBootSector(std::uint64_t serial) {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 0xEB; s[1] = 0x52; s[2] = 0x90;
    putText(s, 3, "NTFS    ");
    putLE(s, 11, 512, 2);
    s[13] = 8;
    s[21] = 0xF8;
    putLE(s, 40, kNtfsTotalSectors, 8);
    putLE(s, 48, 4, 8);  // $MFT cluster
    s[64] = 0xF6;
    putLE(s, 72, serial, 8);
    s[510] = 0x55; s[511] = 0xAA;
    return s;
}

inline std::uint32_t exfatChecksum(const std::vector<std::uint8_t>& region, std::size_t offset,
                                   std::uint32_t bytesPerSector) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < std::size_t{11} * bytesPerSector; ++i) {
        if (i == 106 || i == 107 || i == 112)
            continue;
        sum = ((sum >> 1) | (sum << 31)) + region[offset + i];
    }
    return sum;
}

// Rewrites the checksum sector of the region starting at byte offset.
inline void sealExfatRegion(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t bytesPerSector) {
    const std::uint32_t sum = exfatChecksum(bytes, offset, bytesPerSector);
    for (std::size_t i = 0; i < bytesPerSector; i += 4)
        putLE(bytes, offset + std::size_t{11} * bytesPerSector + i, sum, 4);
}

// One sealed 12-sector boot region.
inline std::vector<std::uint8_t> exfatRegion(std::uint32_t serial, std::uint32_t bytesPerSector = 512) {
    std::vector<std::uint8_t> r(std::size_t{12} * bytesPerSector, 0);
    r[0] = 0xEB; r[1] = 0x76; r[2] = 0x90;
    putText(r, 3, "EXFAT   ");
    putLE(r, 72, 4096, 8);   // volume length
    putLE(r, 80, 24, 4);     // FAT offset
    putLE(r, 84, 8, 4);
    putLE(r, 88, 32, 4);     // cluster heap
    putLE(r, 92, 500, 4);
    putLE(r, 96, 4, 4);
    putLE(r, 100, serial, 4);
    putLE(r, 104, 0x0100, 2);
    unsigned shift = 0;
    while ((1u << shift) < bytesPerSector) ++shift;
    r[108] = static_cast<std::uint8_t>(shift);
    r[109] = 3;
    r[110] = 1;
    r[111] = 0x80;
    r[112] = 7;
    r[510] = 0x55; r[511] = 0xAA;
    for (std::uint32_t sector = 1; sector <= 8; ++sector) {
        const std::size_t end = std::size_t{sector + 1} * bytesPerSector;
        r[end - 2] = 0x55; r[end - 1] = 0xAA;
    }
    sealExfatRegion(r, 0, bytesPerSector);
    return r;
}

// Whole images, device sectors of deviceSector bytes.
inline std::vector<std::uint8_t> fat16Image(std::uint32_t serial) {
    auto image = filler(512);
    copyRange(image, 0, fat16BootSector(serial), 512);
    return image;
}

inline std::vector<std::uint8_t> fat32Image(std::uint32_t serial, std::uint32_t bytesPerSector = 512) {
    auto image = filler(512, kImageSectors * (bytesPerSector / 512));
    const auto boot = fat32BootSector(serial, bytesPerSector);
    copyRange(image, 0, boot, boot.size());
    copyRange(image, std::size_t{6} * bytesPerSector, boot, boot.size());
    return image;
}

inline std::vector<std::uint8_t> ntfsImage(std::uint64_t serial) {
    auto image = filler(512);
    const auto boot = ntfsBootSector(serial);
    copyRange(image, 0, boot, 512);
    copyRange(image, kNtfsTotalSectors * 512, boot, 512);
    return image;
}

inline std::vector<std::uint8_t> exfatImage(std::uint32_t serial) {
    auto image = filler(512);
    const auto region = exfatRegion(serial);
    copyRange(image, 0, region, region.size());
    copyRange(image, region.size(), region, region.size());
    return image;
}

// The image as a serial change should leave it: the field rewritten in each copy, exFAT regions resealed.
inline std::vector<std::uint8_t> withSerialAt(std::vector<std::uint8_t> image, const std::vector<std::size_t>& copies,
                                              std::size_t fieldOffset, std::uint64_t serial, unsigned width) {
    for (std::size_t copy : copies)
        putLE(image, copy + fieldOffset, serial, width);
    return image;
}

inline std::vector<std::uint8_t> exfatWithSerial(std::vector<std::uint8_t> image, std::uint32_t serial,
                                                 bool backupToo = true) {
    putLE(image, 100, serial, 4);
    sealExfatRegion(image, 0, 512);
    if (backupToo) {
        putLE(image, 12 * 512 + 100, serial, 4);
        sealExfatRegion(image, 12 * 512, 512);
    }
    return image;
}

}  // namespace tlx::test
