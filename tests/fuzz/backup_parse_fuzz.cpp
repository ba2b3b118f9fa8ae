// The backup reader over arbitrary bytes: no crash, and every accepted record writes back to bytes
// that read as the same record.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "backup/backup_file.h"
#include "fuzz_check.h"

using tlx::fuzz::require;

namespace {

bool sameRecord(const tlx::BootSectorBackup& a, const tlx::BootSectorBackup& b) {
    if (a.volume != b.volume || a.mount != b.mount || a.fsType != b.fsType || a.bytesPerSector != b.bytesPerSector ||
        a.deviceSector != b.deviceSector || a.volumeSectors != b.volumeSectors || a.serialBytes != b.serialBytes ||
        a.oldSerial != b.oldSerial || a.newSerial != b.newSerial || a.created != b.created || a.app != b.app ||
        a.regions.size() != b.regions.size())
        return false;
    for (std::size_t i = 0; i < a.regions.size(); ++i) {
        const tlx::BackupRegion& x = a.regions[i];
        const tlx::BackupRegion& y = b.regions[i];
        if (x.kind != y.kind || x.firstSector != y.firstSector || x.sectorCount != y.sectorCount || x.bytes != y.bytes)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exactly sized heap copy, so the sanitizer sees any read past the end.
    const std::vector<std::uint8_t> input(data, data + size);
    const tlx::BackupReadResult read = tlx::parseBackup(input);
    require(read.systemError == 0, "parsing bytes reports no system error");
    if (read.parseError != tlx::BackupParseError::None)
        return 0;

    const tlx::BootSectorBackup& backup = read.backup;
    require(backup.fsType >= tlx::FsType::FAT12 && backup.fsType <= tlx::FsType::NTFS, "file-system kind");
    require(backup.deviceSector >= 512, "device sector size");
    require(backup.serialBytes == 4 || backup.serialBytes == 8, "serial width");
    require(!backup.regions.empty(), "at least one region");
    std::uint64_t payload = 0;
    for (const tlx::BackupRegion& region : backup.regions) {
        require(region.sectorCount != 0, "empty region");
        require(region.bytes.size() == std::uint64_t{region.sectorCount} * backup.deviceSector, "region length");
        payload += region.bytes.size();
    }
    require(payload < size, "payload larger than the file");

    const std::optional<std::vector<std::uint8_t>> written = tlx::serializeBackup(backup);
    require(written.has_value(), "serializing an accepted record");
    const tlx::BackupReadResult again = tlx::parseBackup(*written);
    require(again.parseError == tlx::BackupParseError::None, "a written record reads back");
    require(sameRecord(backup, again.backup), "a written record reads back equal");
    // The writer's form is canonical: writing the record read back gives the same bytes.
    const std::optional<std::vector<std::uint8_t>> rewritten = tlx::serializeBackup(again.backup);
    require(rewritten && *rewritten == *written, "writing is stable");
    return 0;
}
