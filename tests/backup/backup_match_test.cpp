// Does a backup still belong to the volume, and may its regions be written back where they say?
#include "backup/backup_match.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "backup/backup_file.h"
#include "backup_samples.h"
#include "bootsector/mkfs_images.h"
#include "device/memory_device.h"

namespace tlx {
namespace {

using test::Bytes;

const char* matchName(BackupMatch match) {
    switch (match) {
    case BackupMatch::Same: return "Same";
    case BackupMatch::Different: return "Different";
    case BackupMatch::Undetermined: return "Undetermined";
    }
    return "?";
}

BootSectorBackup backupOf(FsType fs, std::uint32_t bytesPerSector, std::uint32_t deviceSector,
                          std::vector<BackupRegion> regions) {
    BootSectorBackup backup;
    backup.fsType = fs;
    backup.bytesPerSector = bytesPerSector;
    backup.deviceSector = deviceSector;
    backup.regions = std::move(regions);
    return backup;
}

BackupRegion region(BootRegion kind, std::uint64_t first, std::uint32_t deviceSector, Bytes bytes) {
    const auto count = static_cast<std::uint32_t>(bytes.size() / deviceSector);
    return BackupRegion{kind, first, count, std::move(bytes)};
}

// A device holding `boot` at sector 0, followed by some unrelated sectors.
MemoryDevice deviceWith(std::uint32_t sectorSize, const Bytes& boot) {
    Bytes image = boot;
    image.resize(boot.size() + 64 * sectorSize, 0xE5);
    return MemoryDevice(sectorSize, image);
}

Bytes fat32(std::function<void(test::Fat32Params&)> change = {}) {
    test::Fat32Params p;
    if (change)
        change(p);
    return test::fat32Sector(p);
}

Bytes exfatRegion(std::function<void(test::ExFatParams&)> change = {}) {
    test::ExFatParams p;
    if (change)
        change(p);
    return test::exfatRegion(p);
}

Bytes ntfs(std::function<void(test::NtfsParams&)> change = {}) {
    test::NtfsParams p;
    if (change)
        change(p);
    return test::ntfsSector(p);
}

Bytes withByte(Bytes bytes, std::size_t offset, std::uint8_t value) {
    bytes.at(offset) = value;
    return bytes;
}

TEST(BackupMatch, ComparesTheSavedBootSectorWithTheCurrentOne) {
    Bytes bitLocker = fat32();
    std::memcpy(bitLocker.data() + 3, "-FVE-FS-", 8);
    const Bytes fat32Big = fat32([](auto& p) { p.bytesPerSector = 4096; });
    struct Case {
        const char* name;
        BootSectorBackup backup;
        std::uint32_t deviceSector;
        Bytes current;
        BackupMatch expected;
    };
    const Case cases[] = {
        {"FAT32 after a serial change", backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}),
         512, fat32([](auto& p) { p.serial = 0xCAFEF00D; }), BackupMatch::Same},
        {"FAT32 unchanged", backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}), 512,
         fat32(), BackupMatch::Same},
        {"FAT32 reformatted with other clusters",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}), 512,
         fat32([](auto& p) { p.sectorsPerCluster = 16; }), BackupMatch::Different},
        {"FAT32 byte just before the serial",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}), 512,
         withByte(fat32(), 66, 0x28), BackupMatch::Different},
        {"FAT32 byte just after the serial",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}), 512,
         withByte(fat32(), 71, 'X'), BackupMatch::Different},
        {"FAT32 byte 106 is not exempt outside exFAT",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}), 512,
         withByte(fat32(), 106, 0x01), BackupMatch::Different},
        {"4096-byte sectors on 512: serial changed",
         backupOf(FsType::FAT32, 4096, 512, {region(BootRegion::BootSector, 0, 512, fat32Big)}), 512,
         fat32([](auto& p) {
             p.bytesPerSector = 4096;
             p.serial = 1;
         }),
         BackupMatch::Same},
        {"4096-byte sectors on 512: byte past the first device sector",
         backupOf(FsType::FAT32, 4096, 512, {region(BootRegion::BootSector, 0, 512, fat32Big)}), 512,
         withByte(fat32Big, 3000, 0x77), BackupMatch::Different},
        {"exFAT flags and percent in use changed",
         backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatMainRegion, 0, 512, exfatRegion())}), 512,
         exfatRegion([](auto& p) {
             p.volumeFlags = 0x0002;
             p.percentInUse = 57;
             p.serial = 0x11112222;
         }),
         BackupMatch::Same},
        {"exFAT region beyond the boot sector is compared too",
         backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatMainRegion, 0, 512, exfatRegion())}), 512,
         withByte(exfatRegion(), 512 * 5 + 7, 0x99), BackupMatch::Different},
        {"exFAT last sector before the checksum",
         backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatMainRegion, 0, 512, exfatRegion())}), 512,
         withByte(exfatRegion(), 512 * 11 - 1, 0x99), BackupMatch::Different},
        {"exFAT checksum sector is rewritten by a change",
         backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatMainRegion, 0, 512, exfatRegion())}), 512,
         withByte(exfatRegion([](auto& p) { p.serial = 0x11112222; }), 512 * 11 + 2, 0x99), BackupMatch::Same},
        {"exFAT other length",
         backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatMainRegion, 0, 512, exfatRegion())}), 512,
         exfatRegion([](auto& p) { p.volumeLength = 32768; }), BackupMatch::Different},
        {"NTFS 64-bit serial changed", backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BootSector, 0, 512, ntfs())}),
         512, ntfs([](auto& p) { p.serial = 0x0123456789ABCDEFull; }), BackupMatch::Same},
        {"NTFS byte after the serial",
         backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BootSector, 0, 512, ntfs())}), 512,
         withByte(ntfs(), 80, 0x01), BackupMatch::Different},
        {"now another file system",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}), 512, ntfs(),
         BackupMatch::Different},
        {"the last region at sector 0 is the saved boot sector",
         backupOf(FsType::FAT32, 512, 512,
                  {region(BootRegion::BootSector, 0, 512, Bytes(512, 0)), region(BootRegion::BootSector, 0, 512, fat32())}),
         512, fat32(), BackupMatch::Same},
        {"device sectors of another size", backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}),
         4096, fat32([](auto& p) { p.bytesPerSector = 4096; }), BackupMatch::Different},
        {"bytesPerSector 0", backupOf(FsType::FAT32, 0, 512, {region(BootRegion::BootSector, 0, 512, fat32())}), 512,
         fat32(), BackupMatch::Different},
        {"bytesPerSector not a multiple", backupOf(FsType::FAT32, 768, 512, {region(BootRegion::BootSector, 0, 512, fat32())}),
         512, fat32(), BackupMatch::Different},
        {"only the FAT32 backup boot sector saved",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BackupBootSector, 6, 512, fat32())}), 512, fat32(),
         BackupMatch::Undetermined},
        {"saved sector shorter than bytesPerSector",
         backupOf(FsType::FAT32, 4096, 512, {region(BootRegion::BootSector, 0, 512, Bytes(fat32Big.begin(), fat32Big.begin() + 512))}),
         512, fat32Big, BackupMatch::Undetermined},
        {"saved sector unrecognised", backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, Bytes(512, 0))}),
         512, fat32(), BackupMatch::Undetermined},
        {"current sector zeroed", backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}), 512,
         Bytes(512, 0), BackupMatch::Undetermined},
        {"current sector locked by BitLocker",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())}), 512, bitLocker,
         BackupMatch::Undetermined},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDevice device = deviceWith(c.deviceSector, c.current);
        const Bytes image = device.bytes();
        const BackupMatch match = matchBackup(c.backup, device);
        EXPECT_EQ(match, c.expected) << matchName(match);
        EXPECT_EQ(device.writes(), 0u);
        EXPECT_EQ(device.bytes(), image);
    }
}

TEST(BackupMatch, MismatchedGeometryIsDecidedWithoutReading) {
    MemoryDevice device = deviceWith(4096, fat32([](auto& p) { p.bytesPerSector = 4096; }));
    const auto backup = backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, fat32())});
    EXPECT_EQ(matchBackup(backup, device), BackupMatch::Different);
    EXPECT_EQ(device.reads(), 0u);
}

TEST(BackupMatch, UnreadableDeviceIsUndetermined) {
    // The device holds less than one file-system sector of 4096 bytes.
    MemoryDevice device(512, fat32());
    const Bytes big = fat32([](auto& p) { p.bytesPerSector = 4096; });
    const auto backup = backupOf(FsType::FAT32, 4096, 512, {region(BootRegion::BootSector, 0, 512, big)});
    EXPECT_EQ(matchBackup(backup, device), BackupMatch::Undetermined);
}

TEST(BackupMatch, PlanBackupMatchesItsOwnVolume) {
    // Every backup a change makes, matched against the volume it came from after the change.
    for (const test::PlanShape& shape : test::allPlanShapes()) {
        SCOPED_TRACE(shape.name);
        const ChangePlan plan = test::planFor(shape);
        const BootSectorBackup backup = backupFromPlan(plan, L"", L"", "3.0.2", "now");
        Bytes main = plan.regions.back().before;
        writeSerialField(main, plan.serialOffset, plan.serialWidth, plan.newSerial);
        MemoryDevice device = deviceWith(shape.deviceSector, main);
        EXPECT_EQ(matchBackup(backup, device), BackupMatch::Same);
        EXPECT_TRUE(regionsWhereTheyBelong(backup));
    }
}

// `sectors` of 0xE5 with `bytes` placed at `sector`.
Bytes imageWith(std::size_t sectors, std::initializer_list<std::pair<std::size_t, Bytes>> parts) {
    Bytes image(sectors * 512, 0xE5);
    for (const auto& [sector, bytes] : parts)
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(sector * 512));
    return image;
}

// A backup holding only the main region is refused for recovery only where the volume holds a sound copy.
TEST(BackupMatch, SoundCopyLeftOut) {
    const Bytes main = fat32();
    const Bytes copy = fat32([](auto& p) { p.serial = 0x0000BEEF; });
    const Bytes noField = fat32([](auto& p) { p.backupBootSector = 0; });
    const Bytes ntfsMain = ntfs([](auto& p) { p.totalSectors = 40; });
    const Bytes exfatMain = exfatRegion();
    const Bytes exfatBroken = withByte(exfatMain, 11 * 512, exfatMain[11 * 512] ^ 1);
    const auto fat32Only = [](const Bytes& boot) {
        return backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, boot)});
    };
    const BootSectorBackup ntfsOnly =
        backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BootSector, 0, 512, ntfsMain)});
    const BootSectorBackup exfatOnly =
        backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatMainRegion, 0, 512, exfatMain)});
    struct Case {
        const char* name;
        BootSectorBackup backup;
        Bytes image;
        bool expected;
    };
    const Case cases[] = {
        {"FAT32 copy at sector 6", fat32Only(main), imageWith(16, {{0, main}, {6, copy}}), true},
        {"FAT32 copy held by the backup", backupOf(FsType::FAT32, 512, 512,
                                                   {region(BootRegion::BackupBootSector, 6, 512, copy),
                                                    region(BootRegion::BootSector, 0, 512, main)}),
         imageWith(16, {{0, main}, {6, copy}}), false},
        {"FAT32 backup field 0", fat32Only(noField), imageWith(16, {{0, noField}, {6, copy}}), false},
        {"FAT32 copy of another length", fat32Only(main),
         imageWith(16, {{0, main}, {6, fat32([](auto& p) { p.totalSectors = 2097152; })}}), false},
        {"FAT32 copy that is no boot sector", fat32Only(main), imageWith(16, {{0, main}}), false},
        {"NTFS copy after the file system", ntfsOnly, imageWith(41, {{0, ntfsMain}, {40, ntfsMain}}), true},
        {"NTFS copy beyond the device", ntfsOnly, imageWith(40, {{0, ntfsMain}}), false},
        {"exFAT backup region sound", exfatOnly, imageWith(32, {{0, exfatMain}, {12, exfatMain}}), true},
        {"exFAT backup region checksum broken", exfatOnly, imageWith(32, {{0, exfatMain}, {12, exfatBroken}}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDevice device(512, c.image);
        EXPECT_EQ(soundCopyLeftOut(c.backup, device), c.expected);
    }
}

// Raw recovery writes a region only where a copy of that kind lies.
TEST(BackupMatch, RegionsWhereTheyBelong) {
    const Bytes boot = fat32();
    const Bytes noBackupField = fat32([](auto& p) { p.backupBootSector = 0xFFFF; });
    const Bytes big = fat32([](auto& p) { p.bytesPerSector = 4096; });
    const Bytes fat16 = test::fat1xSector(test::fat1xWithClusters(5000));
    const Bytes region512 = exfatRegion();
    const Bytes nt = ntfs();
    const Bytes nt4096 = ntfs([](auto& p) {
        p.bytesPerSector = 4096;
        p.totalSectors = 1000;
    });
    const auto withVolumeSectors = [](BootSectorBackup backup, std::uint64_t sectors) {
        backup.volumeSectors = sectors;
        return backup;
    };
    struct Case {
        const char* name;
        BootSectorBackup backup;
        bool expected;
    };
    const Case cases[] = {
        {"FAT32 copy and main", backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BackupBootSector, 6, 512, boot),
                                                                  region(BootRegion::BootSector, 0, 512, boot)}),
         true},
        {"FAT32 copy one sector off", backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BackupBootSector, 7, 512, boot),
                                                                        region(BootRegion::BootSector, 0, 512, boot)}),
         false},
        {"FAT32 copy of two sectors",
         backupOf(FsType::FAT32, 512, 512,
                  {region(BootRegion::BackupBootSector, 6, 512, Bytes(1024, 1)), region(BootRegion::BootSector, 0, 512, boot)}),
         false},
        {"FAT32 copy where the saved BPB names none",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BackupBootSector, 6, 512, noBackupField),
                                            region(BootRegion::BootSector, 0, 512, noBackupField)}),
         false},
        {"FAT32 copy without the saved boot sector",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BackupBootSector, 6, 512, boot)}), false},
        {"FAT32 4096 on 512: copy at device sector 48",
         backupOf(FsType::FAT32, 4096, 512, {region(BootRegion::BackupBootSector, 48, 512, big),
                                             region(BootRegion::BootSector, 0, 512, big)}),
         true},
        {"FAT32 4096 on 512: copy at file-system sector 6 taken as device sector",
         backupOf(FsType::FAT32, 4096, 512, {region(BootRegion::BackupBootSector, 6, 512, big),
                                             region(BootRegion::BootSector, 0, 512, big)}),
         false},
        {"FAT32 main sector elsewhere", backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 1, 512, boot)}),
         false},
        {"FAT32 main sector too long",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BootSector, 0, 512, test::padded(boot, 1024))}), false},
        {"FAT16 main", backupOf(FsType::FAT16, 512, 512, {region(BootRegion::BootSector, 0, 512, fat16)}), true},
        {"FAT16 has no backup copy", backupOf(FsType::FAT16, 512, 512, {region(BootRegion::BackupBootSector, 6, 512, fat16),
                                                                       region(BootRegion::BootSector, 0, 512, fat16)}),
         false},
        {"exFAT regions", backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatBackupRegion, 12, 512, region512),
                                                            region(BootRegion::ExFatMainRegion, 0, 512, region512)}),
         true},
        {"exFAT main region at the backup's place",
         backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatMainRegion, 12, 512, region512)}), false},
        {"exFAT backup region short",
         backupOf(FsType::exFAT, 512, 512,
                  {region(BootRegion::ExFatBackupRegion, 12, 512, Bytes(region512.begin(), region512.end() - 512))}),
         false},
        {"exFAT with a FAT boot sector kind",
         backupOf(FsType::exFAT, 512, 512, {region(BootRegion::BootSector, 0, 512, Bytes(region512.begin(), region512.begin() + 512))}),
         false},
        {"FAT32 with an exFAT region kind",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::ExFatMainRegion, 0, 512, test::padded(boot, 6144))}), false},
        {"NTFS copy past the end", withVolumeSectors(backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BackupBootSector, 16383, 512, nt),
                                                                                      region(BootRegion::BootSector, 0, 512, nt)}),
                                                     16383),
         true},
        {"NTFS copy at the last sector of the file system",
         withVolumeSectors(backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BackupBootSector, 16382, 512, nt),
                                                             region(BootRegion::BootSector, 0, 512, nt)}),
                           16383),
         false},
        {"NTFS without a recorded length",
         backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BackupBootSector, 0, 512, nt)}), false},
        {"NTFS 4096 on 512", withVolumeSectors(backupOf(FsType::NTFS, 4096, 512, {region(BootRegion::BackupBootSector, 8000, 512, nt4096),
                                                                                 region(BootRegion::BootSector, 0, 512, nt4096)}),
                                               1000),
         true},
        {"NTFS 4096 on 512: copy at the file-system sector taken as device sector",
         withVolumeSectors(backupOf(FsType::NTFS, 4096, 512, {region(BootRegion::BackupBootSector, 1000, 512, nt4096),
                                                              region(BootRegion::BootSector, 0, 512, nt4096)}),
                           1000),
         false},
        {"NTFS recorded length other than its boot sector's",
         withVolumeSectors(backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BackupBootSector, 32, 512, nt),
                                                             region(BootRegion::BootSector, 0, 512, nt)}),
                           32),
         false},
        {"NTFS copy that is no boot sector",
         backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BackupBootSector, 16383, 512, Bytes(512, 0xEE)),
                                           region(BootRegion::BootSector, 0, 512, nt)}),
         false},
        {"NTFS copy of another length",
         backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BackupBootSector, 16383, 512, ntfs([](auto& p) { p.totalSectors = 8000; })),
                                           region(BootRegion::BootSector, 0, 512, nt)}),
         false},
        {"FAT32 labelled NTFS", withVolumeSectors(backupOf(FsType::NTFS, 512, 512, {region(BootRegion::BackupBootSector, 40, 512, boot),
                                                                                   region(BootRegion::BootSector, 0, 512, boot)}),
                                                  40),
         false},
        {"FAT32 labelled exFAT with 4096-byte sectors",
         backupOf(FsType::exFAT, 4096, 512, {region(BootRegion::ExFatMainRegion, 0, 512, test::padded(boot, 12 * 4096))}), false},
        {"FAT32 copy that is a boot sector of another file system",
         backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BackupBootSector, 6, 512, test::padded(nt, 512)),
                                            region(BootRegion::BootSector, 0, 512, boot)}),
         false},
        {"FAT32 copy with other sector size", backupOf(FsType::FAT32, 512, 512, {region(BootRegion::BackupBootSector, 6, 512, Bytes(big.begin(), big.begin() + 512)),
                                                                                 region(BootRegion::BootSector, 0, 512, boot)}),
         false},
        {"exFAT recorded with 1024-byte sectors",
         backupOf(FsType::exFAT, 1024, 512, {region(BootRegion::ExFatBackupRegion, 12, 512, region512),
                                             region(BootRegion::ExFatMainRegion, 0, 512, region512)}),
         false},
        {"exFAT main region with a broken checksum",
         backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatMainRegion, 0, 512, withByte(region512, 512 * 3, 1))}), false},
        {"exFAT backup region of another volume length",
         backupOf(FsType::exFAT, 512, 512, {region(BootRegion::ExFatBackupRegion, 12, 512, exfatRegion([](auto& p) { p.volumeLength = 32768; })),
                                            region(BootRegion::ExFatMainRegion, 0, 512, region512)}),
         false},
        {"the same kind twice", backupOf(FsType::FAT16, 512, 512, {region(BootRegion::BootSector, 0, 512, fat16),
                                                                  region(BootRegion::BootSector, 0, 512, fat16)}),
         false},
        {"no regions", backupOf(FsType::FAT16, 512, 512, {}), false},
        {"bytesPerSector not a multiple", backupOf(FsType::FAT16, 768, 512, {region(BootRegion::BootSector, 0, 512, fat16)}),
         false},
        {"bytesPerSector 0", backupOf(FsType::FAT16, 0, 512, {region(BootRegion::BootSector, 0, 512, fat16)}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(regionsWhereTheyBelong(c.backup), c.expected);
    }
}

TEST(BackupMatch, AlteredPositionInAFileIsReadButRefusedForRecovery) {
    // A header line edited (or damaged) so that the saved copy would land one sector off inside the FAT.
    const ChangePlan plan = test::planFor({"FAT32", FsType::FAT32, 512, 512, true});
    const auto bytes = serializeBackup(backupFromPlan(plan, L"", L"", "3.0.2", "now")).value();
    std::string text(bytes.begin(), bytes.end());
    const std::size_t at = text.find("region=BackupBootSector 6 1 ");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 28, "region=BackupBootSector 7 1 ");
    const BackupReadResult read = parseBackup(std::vector<std::uint8_t>(text.begin(), text.end()));
    ASSERT_EQ(read.parseError, BackupParseError::None) << "digests cover bytes, not positions";
    EXPECT_FALSE(regionsWhereTheyBelong(read.backup));
    EXPECT_TRUE(regionsWhereTheyBelong(parseBackup(bytes).backup));
}

// Volumes made by the real mkfs tools: a second format with the same geometry differs only in its serial.
TEST(BackupMatch, RealImagesFromTheMkfsTools) {
    struct Case {
        const char* name;
        const char* tool;
        std::uint64_t size;
        std::string savedCommand;   // formats the volume the backup is taken from
        std::string currentCommand; // formats the volume it is matched against
        BackupMatch expected;
    };
    const Case cases[] = {
        {"FAT12 serial changed", "mkfs.fat", 4 << 20, "mkfs.fat -F 12 -i 1234ABCD", "mkfs.fat -F 12 -i 0BADF00D",
         BackupMatch::Same},
        {"FAT16 serial changed", "mkfs.fat", 32 << 20, "mkfs.fat -F 16 -i 1234ABCD", "mkfs.fat -F 16 -i 0BADF00D",
         BackupMatch::Same},
        {"FAT32 serial changed", "mkfs.fat", 64 << 20, "mkfs.fat -F 32 -i 1234ABCD", "mkfs.fat -F 32 -i 0BADF00D",
         BackupMatch::Same},
        {"FAT32 reformatted with other clusters", "mkfs.fat", 64 << 20, "mkfs.fat -F 32 -s 1 -i 1234ABCD",
         "mkfs.fat -F 32 -s 8 -i 0BADF00D", BackupMatch::Different},
        {"FAT32 reformatted as FAT16", "mkfs.fat", 64 << 20, "mkfs.fat -F 32 -i 1234ABCD", "mkfs.fat -F 16 -i 0BADF00D",
         BackupMatch::Different},
        {"exFAT formatted again", "mkfs.exfat", 16 << 20, "mkfs.exfat", "mkfs.exfat", BackupMatch::Same},
        {"exFAT other cluster size", "mkfs.exfat", 16 << 20, "mkfs.exfat -c 4096", "mkfs.exfat -c 32768",
         BackupMatch::Different},
        {"NTFS serial changed", "mkntfs", 16 << 20, "mkntfs -F -Q", "mkntfs -F -Q", BackupMatch::Same},
        {"NTFS other cluster size", "mkntfs", 16 << 20, "mkntfs -F -Q -c 4096", "mkntfs -F -Q -c 8192",
         BackupMatch::Different},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!test::toolAvailable(c.tool)) {
            std::printf("SKIP: %s is not installed\n", c.tool);
            continue;
        }
        test::ScratchImage saved(c.size), current(c.size);
        ASSERT_EQ(test::runTool(c.savedCommand + " '" + saved.path() + "'").exitCode, 0);
        ASSERT_EQ(test::runTool(c.currentCommand + " '" + current.path() + "'").exitCode, 0);
        if (std::string(c.tool) == "mkntfs") {  // both formats ran in one second: give the current one its own serial
            ASSERT_EQ(test::runTool("ntfslabel --new-serial=1122334455667788 '" + current.path() + "'").exitCode, 0);
        }

        const Bytes savedStart = saved.read(64 * 1024).value();
        const BootSectorInfo info = detectBootSector(savedStart);
        ASSERT_EQ(info.status, DetectStatus::Ok);
        const std::uint32_t count = info.fsType == FsType::exFAT ? 12 * info.bytesPerSector / 512 : info.bytesPerSector / 512;
        BootSectorBackup backup = backupOf(info.fsType, info.bytesPerSector, 512,
                                           {region(info.fsType == FsType::exFAT ? BootRegion::ExFatMainRegion : BootRegion::BootSector,
                                                   0, 512, Bytes(savedStart.begin(), savedStart.begin() + count * 512))});
        // Through the file format, as raw recovery and restore see it.
        const BackupReadResult read = parseBackup(serializeBackup(backup).value());
        ASSERT_EQ(read.parseError, BackupParseError::None);

        const Bytes currentStart = current.read(64 * 1024).value();
        ASSERT_NE(detectBootSector(currentStart).serial, info.serial) << "the fixture must change the serial";
        MemoryDevice device(512, currentStart);
        const BackupMatch match = matchBackup(read.backup, device);
        EXPECT_EQ(match, c.expected) << matchName(match);
    }
}

}  // namespace
}  // namespace tlx
