#include "device/memory_device.h"

#include <cstring>

namespace tlx {

namespace {
constexpr std::uint32_t kErrorHandleEof = 38;
}

MemoryDevice::MemoryDevice(std::uint32_t sectorSize, std::vector<std::uint8_t> bytes)
    : sectorSize_(sectorSize), bytes_(std::move(bytes)) {}

std::uint64_t MemoryDevice::sectorCount() const {
    return hasReportedCount_ ? reportedCount_ : bytes_.size() / sectorSize_;
}

// Checked before multiplying: a far-off sector number must not wrap around to a valid offset.
bool MemoryDevice::inside(std::uint64_t first, std::uint32_t count) const {
    if (sectorSize_ == 0 || first > bytes_.size() / sectorSize_) return false;
    const std::uint64_t offset = first * sectorSize_;
    return std::uint64_t{count} * sectorSize_ <= bytes_.size() - offset;
}

bool MemoryDevice::readSectors(std::uint64_t first, std::uint32_t count, void* destination) {
    ++reads_;
    const std::uint64_t offset = first * sectorSize_;
    const std::uint64_t length = std::uint64_t{count} * sectorSize_;
    if (!inside(first, count)) {
        lastError_ = kErrorHandleEof;
        return false;
    }
    std::memcpy(destination, bytes_.data() + offset, length);
    return true;
}

bool MemoryDevice::writeSectors(std::uint64_t first, std::uint32_t count, const void* source) {
    ++writes_;
    const std::uint64_t offset = first * sectorSize_;
    const std::uint64_t length = std::uint64_t{count} * sectorSize_;
    if (!inside(first, count)) {
        lastError_ = kErrorHandleEof;
        return false;
    }
    std::memcpy(bytes_.data() + offset, source, length);
    return true;
}

bool MemoryDevice::lock() {
    if (!lockOk_) {
        lastError_ = lockError_;
        return false;
    }
    locked_ = true;
    return true;
}

bool MemoryDevice::dismount() {
    if (!dismountOk_) {
        lastError_ = dismountError_;
        return false;
    }
    dismounted_ = true;
    return true;
}

}  // namespace tlx
