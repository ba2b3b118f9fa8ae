#pragma once
// Whole-sector access to a volume; all boot-sector logic works through this and nothing else.
#include <cstdint>

namespace tlx {

class SectorDevice {
public:
    virtual ~SectorDevice() = default;
    [[nodiscard]] virtual std::uint32_t sectorSize() const = 0;
    [[nodiscard]] virtual std::uint64_t sectorCount() const = 0;  // 0 when the device cannot tell
    [[nodiscard]] virtual bool readSectors(std::uint64_t first, std::uint32_t count, void* destination) = 0;
    [[nodiscard]] virtual bool writeSectors(std::uint64_t first, std::uint32_t count, const void* source) = 0;
    [[nodiscard]] virtual std::uint32_t lastError() const = 0;  // Windows error code of the last failure
};

enum class DeviceAccess : std::int32_t { Read = 0, ReadWrite = 1 };

// A volume that can be taken away from its file system before it is written.
class LockableDevice : public SectorDevice {
public:
    [[nodiscard]] virtual bool lock() = 0;      // 5 attempts, 200 ms apart
    [[nodiscard]] virtual bool dismount() = 0;  // once, never retried
    // After a refused lock: true only when the volume's own mounted file system keeps it in use
    // (the Windows drive, a mounted NTFS volume) and no other writer holds it, so that a boot-sector
    // write through this handle is the only one. False when another writer has the volume.
    [[nodiscard]] virtual bool mountedInUse() const = 0;
};

}  // namespace tlx
