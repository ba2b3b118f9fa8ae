#pragma once
// A layer over another device that fails or alters chosen transfers, for tests of the writers.
#include <cstdint>
#include <functional>
#include <vector>

#include "device/sector_device.h"

namespace tlx {

class FaultDevice : public LockableDevice {
public:
    explicit FaultDevice(LockableDevice& inner) : inner_(inner) {}

    // Transfers are counted from 1 in the order they arrive.
    void failRead(unsigned number, std::uint32_t error) { readFaults_.push_back({number, error}); }
    void failWrite(unsigned number, std::uint32_t error) { writeFaults_.push_back({number, error}); }
    // The read succeeds but one byte of what it returns is flipped.
    void corruptRead(unsigned number) { corruptReads_.push_back(number); }
    // Runs before read number `number` reaches the inner device (e.g. to change a sector).
    void beforeRead(unsigned number, std::function<void()> action) { hooks_.push_back({number, std::move(action)}); }

    std::uint32_t sectorSize() const override { return inner_.sectorSize(); }
    std::uint64_t sectorCount() const override { return inner_.sectorCount(); }
    bool readSectors(std::uint64_t first, std::uint32_t count, void* destination) override;
    bool writeSectors(std::uint64_t first, std::uint32_t count, const void* source) override;
    std::uint32_t lastError() const override { return lastError_; }  // like a real device, kept until the next failure
    bool lock() override {
        if (inner_.lock()) return true;
        lastError_ = inner_.lastError();
        return false;
    }
    bool dismount() override {
        if (inner_.dismount()) return true;
        lastError_ = inner_.lastError();
        return false;
    }
    bool mountedInUse() const override { return inner_.mountedInUse(); }

    unsigned reads() const { return reads_; }
    unsigned writes() const { return writes_; }

private:
    struct Fault { unsigned number; std::uint32_t error; };
    struct Hook { unsigned number; std::function<void()> action; };
    LockableDevice& inner_;
    std::vector<Fault> readFaults_, writeFaults_;
    std::vector<unsigned> corruptReads_;
    std::vector<Hook> hooks_;
    unsigned reads_ = 0, writes_ = 0;
    std::uint32_t lastError_ = 0;
};

}  // namespace tlx
