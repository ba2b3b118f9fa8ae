#pragma once
// Change plans and backups of every shape a change can produce, built from real-looking boot sectors.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "backup/backup_file.h"
#include "backup/sha256_provider.h"
#include "bootsector/plan.h"
#include "bootsector/sector_builders.h"

namespace tlx::test {

// Distinct bytes per region so that a mix-up of regions shows.
inline Bytes patterned(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 31 + seed * 17 + (i >> 9)) & 0xFF);
    return bytes;
}

inline RegionWrite regionWrite(BootRegion kind, std::uint64_t first, std::uint32_t count, Bytes before) {
    RegionWrite write;
    write.kind = kind;
    write.firstSector = first;
    write.sectorCount = count;
    write.after = before;
    write.after.at(0) ^= 0xFF;
    write.before = std::move(before);
    return write;
}

// The main boot sector (or region) padded to count device sectors.
inline Bytes padded(Bytes sector, std::size_t size) {
    sector.resize(size, 0);
    return sector;
}

struct PlanShape {
    const char* name;
    FsType fs;
    std::uint32_t bytesPerSector;
    std::uint32_t deviceSector;
    bool withBackupCopy;
};

// A plan as planChange would make it for the shape: backup copy first, main last.
inline ChangePlan planFor(const PlanShape& shape) {
    ChangePlan plan;
    plan.fsType = shape.fs;
    plan.bytesPerSector = shape.bytesPerSector;
    const std::uint32_t n = shape.bytesPerSector / shape.deviceSector;
    plan.serialWidth = shape.fs == FsType::NTFS ? 8 : 4;
    plan.oldSerial = shape.fs == FsType::NTFS ? 0x0772BC612FE6D5CDull : 0x1A2B3C4D;
    plan.newSerial = shape.fs == FsType::NTFS ? 0xFEDCBA9876543210ull : 0x0000BEEF;
    plan.serial = plan.oldSerial;
    switch (shape.fs) {
    case FsType::FAT12:
    case FsType::FAT16: {
        // A cluster count that makes the sector recognisably the file system the shape names.
        Fat1xParams p = fat1xWithClusters(shape.fs == FsType::FAT16 ? 5000 : 2000);
        p.bytesPerSector = shape.bytesPerSector;
        p.totalSectors = firstDataSector(p) + (shape.fs == FsType::FAT16 ? 5000 : 2000);
        p.serial = static_cast<std::uint32_t>(plan.oldSerial);
        plan.totalSectors = p.totalSectors;
        plan.serialOffset = 39;
        plan.regions.push_back(regionWrite(BootRegion::BootSector, 0, n, fat1xSector(p)));
        break;
    }
    case FsType::FAT32: {
        Fat32Params p;
        p.bytesPerSector = shape.bytesPerSector;
        p.serial = static_cast<std::uint32_t>(plan.oldSerial);
        p.backupBootSector = shape.withBackupCopy ? 6 : 0;
        plan.totalSectors = p.totalSectors;
        plan.serialOffset = 67;
        plan.backupBootSector = p.backupBootSector;
        const Bytes boot = fat32Sector(p);
        if (shape.withBackupCopy)
            plan.regions.push_back(regionWrite(BootRegion::BackupBootSector, 6ull * n, n, boot));
        plan.regions.push_back(regionWrite(BootRegion::BootSector, 0, n, boot));
        break;
    }
    case FsType::NTFS: {
        NtfsParams p;
        p.bytesPerSector = shape.bytesPerSector;
        p.serial = plan.oldSerial;
        plan.totalSectors = p.totalSectors;
        plan.serialOffset = 72;
        const Bytes boot = ntfsSector(p);
        if (shape.withBackupCopy)
            plan.regions.push_back(regionWrite(BootRegion::BackupBootSector, p.totalSectors * n, n, boot));
        plan.regions.push_back(regionWrite(BootRegion::BootSector, 0, n, boot));
        break;
    }
    case FsType::exFAT: {
        ExFatParams p;
        p.sectorShift = static_cast<std::uint8_t>(shape.bytesPerSector == 4096 ? 12 : 9);
        p.serial = static_cast<std::uint32_t>(plan.oldSerial);
        plan.totalSectors = p.volumeLength;
        plan.serialOffset = 100;
        const Bytes region = exfatRegion(p);
        if (shape.withBackupCopy)
            plan.regions.push_back(regionWrite(BootRegion::ExFatBackupRegion, 12ull * n, 12 * n, region));
        plan.regions.push_back(regionWrite(BootRegion::ExFatMainRegion, 0, 12 * n, region));
        break;
    }
    default:
        break;
    }
    return plan;
}

inline const std::vector<PlanShape>& allPlanShapes() {
    static const std::vector<PlanShape> shapes = {
        {"FAT12", FsType::FAT12, 512, 512, false},
        {"FAT16", FsType::FAT16, 512, 512, false},
        {"FAT16 4096 on 4096", FsType::FAT16, 4096, 4096, false},
        {"FAT32 with backup", FsType::FAT32, 512, 512, true},
        {"FAT32 without backup", FsType::FAT32, 512, 512, false},
        {"FAT32 4096 on 512", FsType::FAT32, 4096, 512, true},
        {"FAT32 4096 on 4096", FsType::FAT32, 4096, 4096, true},
        {"NTFS with backup", FsType::NTFS, 512, 512, true},
        {"NTFS without backup", FsType::NTFS, 512, 512, false},
        {"NTFS 4096 on 512", FsType::NTFS, 4096, 512, true},
        {"exFAT with backup", FsType::exFAT, 512, 512, true},
        {"exFAT without backup", FsType::exFAT, 512, 512, false},
        {"exFAT 4096 on 512", FsType::exFAT, 4096, 512, true},
        {"exFAT 4096 on 4096", FsType::exFAT, 4096, 4096, true},
    };
    return shapes;
}

// Makes sha256() fail from call number failFrom on (0 = at once) while the guard lives.
class FailingSha256 {
public:
    explicit FailingSha256(unsigned failFrom) {
        calls() = 0;
        limit() = failFrom;
        previous_ = replaceSha256ForTesting(&FailingSha256::hash);
    }
    ~FailingSha256() { replaceSha256ForTesting(previous_); }
    FailingSha256(const FailingSha256&) = delete;
    FailingSha256& operator=(const FailingSha256&) = delete;

private:
    static unsigned& calls() {
        static unsigned value = 0;
        return value;
    }
    static unsigned& limit() {
        static unsigned value = 0;
        return value;
    }
    static std::optional<Sha256Digest> hash(std::span<const std::uint8_t> bytes) {
        if (calls()++ >= limit())
            return std::nullopt;
        return platformSha256(bytes);
    }
    Sha256Function previous_;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "plinthos-backup-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::wstring wide() const { return path_.wstring(); }

private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names of the entries of a folder, sorted, for exact comparisons.
inline std::vector<std::string> entryNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tlx::test
