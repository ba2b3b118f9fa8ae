#pragma once
// Does the volume's boot sector still belong to the file system a backup was taken from?
#include <cstdint>

namespace tlx {

class SectorDevice;
struct BootSectorBackup;

enum class BackupMatch : std::int32_t { Same = 0, Different = 1, Undetermined = 2 };

// Reads through device only; never writes.
[[nodiscard]] BackupMatch matchBackup(const BootSectorBackup& backup, SectorDevice& device);

// Raw recovery writes a region only where a copy of its kind can lie for the recorded file system
// and geometry, with that kind's length; a damaged position line must never aim saved bytes elsewhere.
[[nodiscard]] bool regionsWhereTheyBelong(const BootSectorBackup& backup);

}  // namespace tlx
