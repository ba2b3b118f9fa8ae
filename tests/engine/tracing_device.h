#pragma once
// Logs every transfer that reaches a device ("R6", "W0"), failed or not, so tests can assert the
// exact order of reads and writes.
#include <cstdint>
#include <string>

#include "device/sector_device.h"
#include "engine/change_window.h"

namespace tlx::test {

class TracingDevice : public LockableDevice {
public:
    TracingDevice(LockableDevice& inner, std::string& trace) : inner_(inner), trace_(trace) {}

    std::uint32_t sectorSize() const override { return inner_.sectorSize(); }
    std::uint64_t sectorCount() const override { return inner_.sectorCount(); }
    bool readSectors(std::uint64_t first, std::uint32_t count, void* destination) override {
        note('R', first);
        return inner_.readSectors(first, count, destination);
    }
    bool writeSectors(std::uint64_t first, std::uint32_t count, const void* source) override {
        note('W', first);
        return inner_.writeSectors(first, count, source);
    }
    std::uint32_t lastError() const override { return inner_.lastError(); }
    bool lock() override { return inner_.lock(); }
    bool dismount() override { return inner_.dismount(); }
    bool mountedInUse() const override { return inner_.mountedInUse(); }

private:
    void note(char kind, std::uint64_t first) {
        if (!trace_.empty()) trace_ += ' ';
        trace_ += kind;
        trace_ += std::to_string(first);
    }
    LockableDevice& inner_;
    std::string& trace_;
};

// Logs "E" and "L" where the engine enters and leaves its change window.
class TracingWindow : public ChangeWindow {
public:
    explicit TracingWindow(std::string& trace) : trace_(trace) {}
    void enter() override { trace_ += trace_.empty() ? "E" : " E"; }
    void leave() override { trace_ += trace_.empty() ? "L" : " L"; }

private:
    std::string& trace_;
};

}  // namespace tlx::test
