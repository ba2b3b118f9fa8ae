#include "device/fault_device.h"

#include <algorithm>

namespace tlx {

bool FaultDevice::readSectors(std::uint64_t first, std::uint32_t count, void* destination) {
    const unsigned number = ++reads_;
    for (auto& hook : hooks_)
        if (hook.number == number && hook.action) hook.action();
    for (const auto& fault : readFaults_) {
        if (fault.number == number) {
            lastError_ = fault.error;
            return false;
        }
    }
    if (!inner_.readSectors(first, count, destination)) {
        lastError_ = inner_.lastError();
        return false;
    }
    if (std::find(corruptReads_.begin(), corruptReads_.end(), number) != corruptReads_.end() && count > 0)
        static_cast<std::uint8_t*>(destination)[0] ^= 0xFF;
    return true;
}

bool FaultDevice::writeSectors(std::uint64_t first, std::uint32_t count, const void* source) {
    const unsigned number = ++writes_;
    for (const auto& fault : writeFaults_) {
        if (fault.number == number) {
            lastError_ = fault.error;
            return false;
        }
    }
    if (!inner_.writeSectors(first, count, source)) {
        lastError_ = inner_.lastError();
        return false;
    }
    return true;
}

}  // namespace tlx
