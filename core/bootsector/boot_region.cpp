// exFAT boot checksum and storing a new serial into boot-sector copies.
#include "bootsector/boot_region.h"

#include <algorithm>
#include <cassert>

#include "bootsector/le.h"

namespace tlx {

namespace {

constexpr std::size_t kVolumeFlagsLow = 106;
constexpr std::size_t kVolumeFlagsHigh = 107;
constexpr std::size_t kPercentInUse = 112;

std::uint64_t regionBytes(std::uint32_t bytesPerSector) { return std::uint64_t{kExFatRegionSectors} * bytesPerSector; }

// The 12th sector: every complete 4-byte word holds the checksum.
std::span<std::uint8_t> checksumSector(std::span<std::uint8_t> region, std::uint32_t bytesPerSector) {
    return region.subspan(std::size_t{kExFatRegionSectors - 1} * bytesPerSector, bytesPerSector);
}

}  // namespace

std::uint32_t exfatBootChecksum(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector) {
    // Never past the buffer: a short region gives the checksum of what it holds (and fails verification).
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::uint64_t>(region.size(), std::uint64_t{11} * bytesPerSector));
    std::uint32_t checksum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (i == kVolumeFlagsLow || i == kVolumeFlagsHigh || i == kPercentInUse) continue;
        checksum = ((checksum >> 1) | (checksum << 31)) + region[i];
    }
    return checksum;
}

bool verifyExfatBootRegion(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector) {
    // Smaller sectors have no room for the fields the checksum skips; an empty checksum sector would pass.
    if (bytesPerSector < 512 || region.size() < regionBytes(bytesPerSector)) return false;
    const std::uint32_t checksum = exfatBootChecksum(region, bytesPerSector);
    const std::size_t start = std::size_t{kExFatRegionSectors - 1} * bytesPerSector;
    for (std::size_t offset = 0; offset + 4 <= bytesPerSector; offset += 4)
        if (readLe32(region, start + offset) != checksum) return false;
    return true;
}

void writeSerialField(std::span<std::uint8_t> sector, std::uint32_t serialOffset, std::uint32_t serialWidth,
                      VolumeSerial serial) {
    const unsigned width = serialWidth == 8 ? 8 : 4;
    assert(std::uint64_t{serialOffset} + width <= sector.size());
    if (std::uint64_t{serialOffset} + width > sector.size()) return;
    writeLe(sector, serialOffset, width, serial);
}

void writeExfatRegionSerial(std::span<std::uint8_t> region, const BootSectorInfo& info, VolumeSerial serial) {
    assert(info.bytesPerSector >= 512 && region.size() >= regionBytes(info.bytesPerSector));
    if (info.bytesPerSector < 512 || region.size() < regionBytes(info.bytesPerSector)) return;
    writeSerialField(region, info.serialOffset, info.serialWidth, serial);
    const std::uint32_t checksum = exfatBootChecksum(region, info.bytesPerSector);
    const auto sector = checksumSector(region, info.bytesPerSector);
    for (std::size_t offset = 0; offset + 4 <= sector.size(); offset += 4) writeLe(sector, offset, 4, checksum);
}

}  // namespace tlx
