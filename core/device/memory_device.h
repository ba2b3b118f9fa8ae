#pragma once
// A sector image in memory, for tests and for planning over saved bytes.
#include <cstdint>
#include <vector>

#include "device/sector_device.h"

namespace tlx {

class MemoryDevice : public LockableDevice {
public:
    MemoryDevice(std::uint32_t sectorSize, std::vector<std::uint8_t> bytes);

    std::uint32_t sectorSize() const override { return sectorSize_; }
    std::uint64_t sectorCount() const override;
    bool readSectors(std::uint64_t first, std::uint32_t count, void* destination) override;
    bool writeSectors(std::uint64_t first, std::uint32_t count, const void* source) override;
    std::uint32_t lastError() const override { return lastError_; }
    bool lock() override;
    bool dismount() override;
    bool mountedInUse() const override { return mountedInUse_; }

    // Test controls.
    void setReportedCount(std::uint64_t count) { reportedCount_ = count; hasReportedCount_ = true; }
    void setLockResult(bool ok, std::uint32_t error) { lockOk_ = ok; lockError_ = error; }
    void setDismountResult(bool ok, std::uint32_t error) { dismountOk_ = ok; dismountError_ = error; }
    void setMountedInUse(bool mounted) { mountedInUse_ = mounted; }
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    unsigned reads() const { return reads_; }
    unsigned writes() const { return writes_; }
    bool locked() const { return locked_; }
    bool dismounted() const { return dismounted_; }

private:
    bool inside(std::uint64_t first, std::uint32_t count) const;

    std::uint32_t sectorSize_;
    std::vector<std::uint8_t> bytes_;
    std::uint32_t lastError_ = 0;
    std::uint64_t reportedCount_ = 0;
    bool hasReportedCount_ = false;
    bool lockOk_ = true;
    std::uint32_t lockError_ = 0;
    bool dismountOk_ = true;
    std::uint32_t dismountError_ = 0;
    bool locked_ = false;
    bool dismounted_ = false;
    bool mountedInUse_ = true;  // a refused lock means the volume's own file system holds it
    unsigned reads_ = 0;
    unsigned writes_ = 0;
};

}  // namespace tlx
