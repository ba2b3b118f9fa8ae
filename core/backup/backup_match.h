#pragma once
// Does the volume's boot sector still belong to the file system a backup was taken from?
#include <cstdint>

namespace tlx {

class SectorDevice;
struct BootSectorBackup;

enum class BackupMatch : std::int32_t { Same = 0, Different = 1, Undetermined = 2 };

// Reads through device only; never writes. Compares the saved boot sector, and for exFAT the saved main
// region up to its checksum sector, with the volume apart from the serial and exFAT usage bytes; each
// saved copy likewise with the volume's copy, where that is still a boot sector of the same file system.
// A main sector that cannot be read or recognised gives Undetermined, unless a saved copy contradicts
// a sound copy the volume still holds: that is Different.
[[nodiscard]] BackupMatch matchBackup(const BootSectorBackup& backup, SectorDevice& device);

// A change saves and rewrites a copy only where the sectors its boot sector names hold a boot sector of
// the same file system; raw recovery writes a saved copy only there too, never over what is no copy (a
// FAT32 FSInfo sector the backup field names). True when every saved copy lies over such a boot sector,
// or over sectors that already hold it.
[[nodiscard]] bool copiesOnlyOverCopies(const BootSectorBackup& backup, SectorDevice& device);

// Raw recovery writes a region only where and as what its kind must be for the file system its own
// saved boot sector describes (kind, sector size, length, FAT32 backup field): the header must agree with
// that sector, and every saved copy must itself be a boot sector (or checksummed exFAT region) of the same
// file system and geometry. Digests are unkeyed, so an edited file must never aim saved bytes elsewhere.
[[nodiscard]] bool regionsWhereTheyBelong(const BootSectorBackup& backup);

// Does the volume hold a sound copy (FAT32 or NTFS backup boot sector, exFAT backup region of the same
// geometry) that the backup left out? A change saves every such copy before rewriting it, so raw recovery
// from such a file would leave the copy at the changed serial while the main sector goes back.
[[nodiscard]] bool soundCopyLeftOut(const BootSectorBackup& backup, SectorDevice& device);

}  // namespace tlx
