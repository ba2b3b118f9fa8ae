#pragma once
// Test doubles for the operations: one in-memory volume behind VolumeAccess, and a backup sink
// that records what it was given.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_sink.h"
#include "device/fault_device.h"
#include "device/memory_device.h"
#include "device/volume_access.h"
#include "engine/change_window.h"

namespace tlx::test {

inline const std::wstring kVolumeName = L"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61e}";

class FakeVolumes;

// What open() hands out: a reference to the fake's devices that reports its own destruction.
class VolumeHandle : public LockableDevice {
public:
    explicit VolumeHandle(FakeVolumes& owner);
    ~VolumeHandle() override;

    std::uint32_t sectorSize() const override;
    std::uint64_t sectorCount() const override;
    bool readSectors(std::uint64_t first, std::uint32_t count, void* destination) override;
    bool writeSectors(std::uint64_t first, std::uint32_t count, const void* source) override;
    std::uint32_t lastError() const override;
    bool lock() override;
    bool dismount() override;
    bool mountedInUse() const override;

private:
    FakeVolumes& owner_;
    std::uint32_t ownError_ = 0;
    bool ownErrorLatest_ = false;
};

class FakeVolumes : public VolumeAccess {
public:
    FakeVolumes(std::uint32_t sectorSize, std::vector<std::uint8_t> image)
        : memory(sectorSize, std::move(image)), fault(memory) {}

    std::unique_ptr<LockableDevice> open(const std::wstring& driveSpec, DeviceAccess access,
                                         std::uint32_t& error) override {
        ++opens;
        lastAccess = access;
        if (driveSpec != kVolumeName) {
            error = 2;
            return nullptr;
        }
        if (openError != 0) {
            error = openError;
            return nullptr;
        }
        ++liveHandles;
        return std::make_unique<VolumeHandle>(*this);
    }

    DiskEncryption probe(const std::wstring&) override {
        ++probes;
        return encryption;
    }

    MemoryDevice memory;
    FaultDevice fault;  // every transfer of a handle goes through this layer
    DiskEncryption encryption = DiskEncryption::None;
    std::uint32_t openError = 0;
    std::optional<std::uint64_t> failReadsAt;  // any read starting at this sector fails with 1117
    unsigned opens = 0, probes = 0, liveHandles = 0, closes = 0;
    std::optional<DeviceAccess> lastAccess;
};

inline VolumeHandle::VolumeHandle(FakeVolumes& owner) : owner_(owner) {}
inline VolumeHandle::~VolumeHandle() {
    --owner_.liveHandles;
    ++owner_.closes;
}
inline std::uint32_t VolumeHandle::sectorSize() const { return owner_.fault.sectorSize(); }
inline std::uint64_t VolumeHandle::sectorCount() const { return owner_.fault.sectorCount(); }
inline bool VolumeHandle::readSectors(std::uint64_t first, std::uint32_t count, void* destination) {
    if (owner_.failReadsAt && *owner_.failReadsAt == first) {
        ownError_ = 1117;
        ownErrorLatest_ = true;
        return false;
    }
    if (owner_.fault.readSectors(first, count, destination))
        return true;
    ownErrorLatest_ = false;
    return false;
}
inline bool VolumeHandle::writeSectors(std::uint64_t first, std::uint32_t count, const void* source) {
    if (owner_.fault.writeSectors(first, count, source))
        return true;
    ownErrorLatest_ = false;
    return false;
}
inline std::uint32_t VolumeHandle::lastError() const {
    return ownErrorLatest_ ? ownError_ : owner_.fault.lastError();
}
inline bool VolumeHandle::lock() {
    if (owner_.fault.lock())
        return true;
    ownErrorLatest_ = false;
    return false;
}
inline bool VolumeHandle::dismount() {
    if (owner_.fault.dismount())
        return true;
    ownErrorLatest_ = false;
    return false;
}
inline bool VolumeHandle::mountedInUse() const {
    return owner_.fault.mountedInUse();
}

inline constexpr std::uint64_t kNoSector = ~std::uint64_t{0};

// The conditions a test puts a fake volume under.
struct VolumeSetup {
    bool wrongName = false;  // the operation is given another volume's name
    std::uint32_t openError = 0;
    DiskEncryption encryption = DiskEncryption::None;
    bool failFirstRead = false;  // with 1117
    bool lockOk = true;          // refused with 5
    bool mountedInUse = true;    // false: the refusal came from another writer
    bool dismountOk = true;      // refused with 1117
    bool sinkAccepts = true;
    unsigned failWrite = 0;  // write number, fails with 31
    std::uint64_t failReadsAt = kNoSector;  // reads starting at this sector fail with 1117
};

inline void applySetup(FakeVolumes& volumes, const VolumeSetup& setup) {
    volumes.openError = setup.openError;
    volumes.encryption = setup.encryption;
    volumes.memory.setLockResult(setup.lockOk, 5);
    volumes.memory.setMountedInUse(setup.mountedInUse);
    volumes.memory.setDismountResult(setup.dismountOk, 1117);
    if (setup.failFirstRead) volumes.fault.failRead(1, 1117);
    if (setup.failWrite != 0) volumes.fault.failWrite(setup.failWrite, 31);
    if (setup.failReadsAt != kNoSector) volumes.failReadsAt = setup.failReadsAt;
}

inline std::wstring volumeNameFor(const VolumeSetup& setup) {
    return setup.wrongName ? std::wstring(L"\\\\?\\Volume{other}") : kVolumeName;
}

// Counts how often the engine entered and left its change window, and the volume's writes at entry.
class CountingWindow : public ChangeWindow {
public:
    explicit CountingWindow(const MemoryDevice& watched) : watched_(watched) {}
    void enter() override {
        ++enters;
        writesAtEnter = watched_.writes();
    }
    void leave() override { ++leaves; }

    unsigned enters = 0, leaves = 0;
    unsigned writesAtEnter = 0;

private:
    const MemoryDevice& watched_;
};

class RecordingSink : public BackupSink {
public:
    // trace, when given, gets an "S" where the save happened among the transfers.
    explicit RecordingSink(bool accept = true, const MemoryDevice* watched = nullptr, std::string* trace = nullptr)
        : accept_(accept), watched_(watched), trace_(trace) {}

    bool save(const ChangePlan& plan) override {
        ++calls;
        seen = plan;
        if (watched_)
            writesBeforeSave = watched_->writes();
        if (trace_)
            *trace_ += trace_->empty() ? "S" : " S";
        return accept_;
    }

    unsigned calls = 0;
    std::optional<ChangePlan> seen;
    std::optional<unsigned> writesBeforeSave;

private:
    bool accept_;
    const MemoryDevice* watched_;
    std::string* trace_;
};

}  // namespace tlx::test
