// Planning a serial change and a raw recovery over in-memory and real images.
#include "bootsector/plan.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "backup/backup_file.h"
#include "device/fault_device.h"
#include "device/memory_device.h"
#include "mkfs_images.h"
#include "sector_builders.h"

namespace tlx {
namespace {

using test::Bytes;

constexpr std::uint32_t kErrorCrc = 23;
constexpr std::uint32_t kErrorEof = 38;

// --- images -------------------------------------------------------------------------------------------------

Bytes fat16Image(std::uint32_t bytesPerSector = 512) {
    test::Fat1xParams p = test::fat1xWithClusters(5000);
    p.bytesPerSector = bytesPerSector;
    Bytes image = test::fat1xSector(p);
    image.resize(16 * bytesPerSector, 0xF6);
    return image;
}

struct Fat32Image {
    test::Fat32Params boot;
    std::optional<Bytes> atBackup;  // what the named backup sector holds; default an intact copy with an older serial
};

Bytes fat32Image(const Fat32Image& layout) {
    const std::size_t bps = layout.boot.bytesPerSector;
    Bytes image(40 * bps, 0);
    test::place(image, 0, test::fat32Sector(layout.boot));
    test::Fat32Params older = layout.boot;
    older.serial = 0x0BAD0BAD;
    test::place(image, 6 * bps, layout.atBackup ? *layout.atBackup : test::fat32Sector(older));
    return image;
}

Bytes fat32Image(std::function<void(Fat32Image&)> change = {}) {
    Fat32Image layout;
    if (change) change(layout);
    return fat32Image(layout);
}

// Main boot sector at 0, its copy at file-system sector totalSectors, and nothing after it.
Bytes ntfsImage(std::function<void(test::NtfsParams&, Bytes& backup)> change = {}) {
    test::NtfsParams p;
    p.totalSectors = 31;
    Bytes backup;
    if (change) change(p, backup);
    Bytes image((p.totalSectors + 1) * p.bytesPerSector, 0x4E);
    test::place(image, 0, test::ntfsSector(p));
    test::place(image, p.totalSectors * p.bytesPerSector, backup.empty() ? test::ntfsSector(p) : backup);
    return image;
}

Bytes exfatImage(std::uint8_t shift = 9, std::function<void(Bytes& main, Bytes& backup)> change = {}) {
    test::ExFatParams p;
    p.sectorShift = shift;
    Bytes main = test::exfatRegion(p);
    Bytes backup = main;
    if (change) change(main, backup);
    Bytes image = test::concat({&main, &backup});
    image.resize(image.size() + 4 * (std::size_t{1} << shift), 0xE5);
    return image;
}

Bytes prefix(Bytes image, std::size_t length) {
    image.resize(length);
    return image;
}

Bytes without(Bytes image, std::size_t offset, std::size_t length) {
    std::fill(image.begin() + offset, image.begin() + offset + length, 0);
    return image;
}

// --- expectations -------------------------------------------------------------------------------------------

bool planIsEmpty(const ChangePlan& p) {
    return p.fsType == FsType::Unknown && p.bytesPerSector == 0 && p.totalSectors == 0 && p.serial == 0 &&
           p.serialWidth == 0 && p.serialOffset == 0 && p.backupBootSector == 0 && p.oldSerial == 0 &&
           p.newSerial == 0 && p.regions.empty() && p.notes.empty();
}

struct Shape {
    BootRegion kind;
    std::uint64_t firstSector;
    std::uint32_t sectorCount;
};

std::string describe(const std::vector<RegionWrite>& regions) {
    std::string text;
    for (const RegionWrite& r : regions)
        text += std::string(bootRegionName(r.kind)) + "@" + std::to_string(r.firstSector) + "+" +
                std::to_string(r.sectorCount) + " ";
    return text;
}

std::string describe(const std::vector<Shape>& shapes) {
    std::string text;
    for (const Shape& s : shapes)
        text += std::string(bootRegionName(s.kind)) + "@" + std::to_string(s.firstSector) + "+" +
                std::to_string(s.sectorCount) + " ";
    return text;
}

// What a region must hold after the change, worked out here without the library's writers.
Bytes expectedAfter(const Bytes& before, const ChangePlan& plan, BootRegion kind) {
    Bytes after = before;
    test::putLe(after, plan.serialOffset, plan.serialWidth, plan.newSerial);
    if (kind == BootRegion::ExFatMainRegion || kind == BootRegion::ExFatBackupRegion)
        test::sealRegion(after, plan.bytesPerSector);
    return after;
}

struct ChangeCase {
    const char* name;
    std::uint32_t deviceSector;
    Bytes image;
    VolumeSerial newSerial;
    PlanError planError = PlanError::None;
    std::vector<Shape> regions = {};
    std::vector<PlanNote> notes = {};
    DetectStatus detectStatus = DetectStatus::Ok;
    std::uint32_t systemError = 0;
    std::optional<std::uint64_t> reportedCount = {};
    std::optional<unsigned> failingRead = {};  // fails with kErrorCrc
    std::optional<unsigned> reads = {};        // how many transfers planning may make
};

std::vector<ChangeCase> changeCases() {
    using P = PlanError;
    using R = BootRegion;
    using N = PlanNote;
    std::vector<ChangeCase> cases;
    cases.push_back({"FAT12", 512, Bytes(test::fat1xSector(test::fat1xWithClusters(100))), 0xA1B2C3D4, P::None,
                     {{R::BootSector, 0, 1}}});
    cases.back().image.resize(8 * 512);
    cases.push_back({"FAT16", 512, fat16Image(), 0xA1B2C3D4, P::None, {{R::BootSector, 0, 1}}, {}, {}, 0, {}, {}, 2});
    cases.push_back({"FAT16 asked for its own serial", 512, fat16Image(), 0x12345678, P::SameSerial, {}, {}, {}, 0,
                     {}, {}, 1});
    cases.push_back({"FAT16 with 4096-byte sectors on a 512-byte device", 512, fat16Image(4096), 7, P::None,
                     {{R::BootSector, 0, 8}}});
    cases.push_back({"FAT16 with 512-byte sectors on a 4096-byte device", 4096, fat16Image(512), 7,
                     P::SectorSizeMismatch, {}, {}, {}, 0, {}, {}, 1});
    cases.push_back({"FAT16 with 2048-byte sectors on a 1536-byte device", 1536, fat16Image(2048), 7,
                     P::SectorSizeMismatch});
    cases.push_back({"FAT16 asked for 64 bits", 512, fat16Image(), 0x100000000ull, P::SerialTooWide});

    cases.push_back({"FAT32 with an intact copy", 512, fat32Image(), 0xA1B2C3D4, P::None,
                     {{R::BackupBootSector, 6, 1}, {R::BootSector, 0, 1}}});
    cases.push_back({"FAT32 naming no copy", 512, fat32Image([](Fat32Image& s) { s.boot.backupBootSector = 0; }),
                     0xA1B2C3D4, P::None, {{R::BootSector, 0, 1}}, {N::Fat32NoBackup}, {}, 0, {}, {}, 2});
    cases.push_back({"FAT32 copy named past the reserved sectors", 512,
                     fat32Image([](Fat32Image& s) { s.boot.backupBootSector = 40; }), 0xA1B2C3D4, P::None,
                     {{R::BootSector, 0, 1}}, {N::Fat32NoBackup}});
    cases.push_back({"FAT32 copy without signature", 512, fat32Image([](Fat32Image& s) {
                         test::Fat32Params p;
                         p.signature = false;
                         s.atBackup = test::fat32Sector(p);
                     }),
                     0xA1B2C3D4, P::None, {{R::BootSector, 0, 1}}, {N::Fat32BackupNotCopy}});
    cases.push_back({"FAT32 copy of another kind", 512,
                     fat32Image([](Fat32Image& s) { s.atBackup = test::fat1xSector(test::fat1xWithClusters(5000)); }),
                     0xA1B2C3D4, P::None, {{R::BootSector, 0, 1}}, {N::Fat32BackupNotCopy}});
    cases.push_back({"FAT32 with 4096-byte sectors on a 512-byte device", 512,
                     fat32Image([](Fat32Image& s) { s.boot.bytesPerSector = 4096; }), 0xA1B2C3D4, P::None,
                     {{R::BackupBootSector, 48, 8}, {R::BootSector, 0, 8}}});
    cases.push_back({"FAT32 with 4096-byte sectors on a 4096-byte device", 4096,
                     fat32Image([](Fat32Image& s) { s.boot.bytesPerSector = 4096; }), 0xA1B2C3D4, P::None,
                     {{R::BackupBootSector, 6, 1}, {R::BootSector, 0, 1}}});
    cases.push_back({"FAT32 copy unreadable", 512, fat32Image(), 0xA1B2C3D4, P::ReadFailed, {}, {}, {}, kErrorCrc,
                     {}, 2});
    cases.push_back({"FAT32 main sector unreadable", 512, fat32Image(), 0xA1B2C3D4, P::ReadFailed, {}, {}, {},
                     kErrorCrc, {}, 3});
    cases.push_back({"FAT32 copy past the device's end", 512, prefix(fat32Image(), 3 * 512),
                     0xA1B2C3D4, P::ReadFailed, {}, {}, {}, kErrorEof});
    cases.push_back({"FAT32 asked for 64 bits", 512, fat32Image(), 0x1A1B2C3D4ull, P::SerialTooWide, {}, {}, {}, 0,
                     {}, {}, 1});

    const std::uint64_t ntfsSectors = 32;  // totalSectors 31 plus the copy
    cases.push_back({"NTFS with its copy", 512, ntfsImage(), 0xFEDCBA9876543210ull, P::None,
                     {{R::BackupBootSector, 31, 1}, {R::BootSector, 0, 1}}});
    cases.push_back({"NTFS asked for its own serial", 512, ntfsImage(), 0x0772BC612FE6D5CDull, P::SameSerial});
    cases.push_back({"NTFS device ends just after the copy", 512, ntfsImage(), 1, P::None,
                     {{R::BackupBootSector, 31, 1}, {R::BootSector, 0, 1}}, {}, {}, 0, ntfsSectors});
    cases.push_back({"NTFS device one sector short", 512, ntfsImage(), 1, P::None, {{R::BootSector, 0, 1}},
                     {N::NtfsBackupUnreachable}, {}, 0, ntfsSectors - 1, {}, 2});
    cases.push_back({"NTFS device length unknown", 512, ntfsImage(), 1, P::None,
                     {{R::BackupBootSector, 31, 1}, {R::BootSector, 0, 1}}, {}, {}, 0, 0});
    cases.push_back({"NTFS length unknown and the copy unreadable", 512, ntfsImage(), 1, P::None,
                     {{R::BootSector, 0, 1}}, {N::NtfsBackupUnreachable}, {}, 0, 0, 2, 3});
    cases.push_back({"NTFS length unknown and the copy past the end", 512,
                     prefix(ntfsImage(), 31 * 512), 1, P::None, {{R::BootSector, 0, 1}},
                     {N::NtfsBackupUnreachable}, {}, 0, 0});
    // Lengths whose byte position does not fit 64 bits; 2^63 sectors of 512 bytes would wrap to byte 0,
    // where the main boot sector would pass for its own copy.
    for (std::uint64_t total : {1ull << 62, 1ull << 63, ~0ull}) {
        Bytes image = ntfsImage();
        test::putLe(image, 40, 8, total);
        cases.push_back({"NTFS stating a length no device can have", 512, image, 1, P::None, {{R::BootSector, 0, 1}},
                         {N::NtfsBackupUnreachable}, {}, 0, 0, {}, 2});
    }
    cases.push_back({"NTFS copy is not a boot sector", 512,
                     ntfsImage([](test::NtfsParams&, Bytes& backup) { backup = Bytes(512, 0); }), 1, P::None,
                     {{R::BootSector, 0, 1}}, {N::NtfsBackupNotCopy}});
    cases.push_back({"NTFS copy states another sector size", 512, ntfsImage([](test::NtfsParams& p, Bytes& backup) {
                         test::NtfsParams other = p;
                         other.bytesPerSector = 1024;
                         backup = test::ntfsSector(other);
                         backup.resize(512);
                     }),
                     1, P::None, {{R::BootSector, 0, 1}}, {N::NtfsBackupNotCopy}});
    cases.push_back({"NTFS with 4096-byte sectors on a 512-byte device", 512,
                     ntfsImage([](test::NtfsParams& p, Bytes&) { p.bytesPerSector = 4096; p.totalSectors = 5; }), 1,
                     P::None, {{R::BackupBootSector, 40, 8}, {R::BootSector, 0, 8}}, {}, {}, 0, 48});
    cases.push_back({"NTFS main sector unreadable", 512, ntfsImage(), 1, P::ReadFailed, {}, {}, {}, kErrorCrc, {}, 3});

    cases.push_back({"exFAT", 512, exfatImage(), 0xA1B2C3D4, P::None,
                     {{R::ExFatBackupRegion, 12, 12}, {R::ExFatMainRegion, 0, 12}}, {}, {}, 0, {}, {}, 3});
    cases.push_back({"exFAT with 4096-byte sectors on a 512-byte device", 512, exfatImage(12), 0xA1B2C3D4, P::None,
                     {{R::ExFatBackupRegion, 96, 96}, {R::ExFatMainRegion, 0, 96}}});
    cases.push_back({"exFAT with 4096-byte sectors on a 4096-byte device", 4096, exfatImage(12), 0xA1B2C3D4, P::None,
                     {{R::ExFatBackupRegion, 12, 12}, {R::ExFatMainRegion, 0, 12}}});
    cases.push_back({"exFAT asked for its own serial", 512, exfatImage(), 0x6F9BAD74, P::SameSerial});
    cases.push_back({"exFAT backup checksum wrong", 512,
                     exfatImage(9, [](Bytes&, Bytes& backup) { backup[11 * 512 + 508] ^= 1; }), 0xA1B2C3D4, P::None,
                     {{R::ExFatMainRegion, 0, 12}}, {PlanNote::ExFatBackupInconsistent}});
    cases.push_back({"exFAT backup sealed but not a boot sector", 512, exfatImage(9, [](Bytes&, Bytes& backup) {
                         backup[510] = 0;
                         test::sealRegion(backup, 512);
                     }),
                     0xA1B2C3D4, P::None, {{R::ExFatMainRegion, 0, 12}}, {PlanNote::ExFatBackupInconsistent}});
    cases.push_back({"exFAT backup all zeros", 512, without(exfatImage(), 12 * 512, 12 * 512), 0xA1B2C3D4, P::None,
                     {{R::ExFatMainRegion, 0, 12}}, {PlanNote::ExFatBackupInconsistent}});
    cases.push_back({"exFAT main region damaged", 512,
                     exfatImage(9, [](Bytes& main, Bytes&) { main[2 * 512 + 40] ^= 0x10; }), 0xA1B2C3D4,
                     P::ChecksumDamaged});
    cases.push_back({"exFAT both regions damaged", 512, exfatImage(9, [](Bytes& main, Bytes& backup) {
                         main[11 * 512] ^= 1;
                         backup[11 * 512] ^= 1;
                     }),
                     0xA1B2C3D4, P::ChecksumDamaged});
    cases.push_back({"exFAT main region unreadable", 512, exfatImage(), 0xA1B2C3D4, P::ReadFailed, {}, {}, {},
                     kErrorCrc, {}, 2});
    cases.push_back({"exFAT backup region unreadable", 512, exfatImage(), 0xA1B2C3D4, P::ReadFailed, {}, {}, {},
                     kErrorCrc, {}, 3});
    cases.push_back({"exFAT device holding only the main region", 512,
                     prefix(exfatImage(), 12 * 512), 0xA1B2C3D4, P::ReadFailed, {}, {},
                     {}, kErrorEof});
    cases.push_back({"exFAT asked for 64 bits", 512, exfatImage(), 0x100000000ull, P::SerialTooWide});

    cases.push_back({"zeros", 512, Bytes(4096, 0), 1, P::NotRecognised, {}, {}, DetectStatus::NoSignature});
    {
        Bytes fve = fat16Image();
        test::putOem(fve, "-FVE-FS-");
        cases.push_back({"BitLocker", 512, fve, 1, P::NotRecognised, {}, {}, DetectStatus::BitLocker});
    }
    {
        Bytes noSerial = fat32Image();
        noSerial[66] = 0;
        cases.push_back({"FAT32 without serial field", 512, noSerial, 1, P::NotRecognised, {}, {},
                         DetectStatus::NoSerial});
    }
    cases.push_back({"boot sector unreadable", 512, fat16Image(), 1, P::ReadFailed, {}, {}, DetectStatus::Ok,
                     kErrorCrc, {}, 1, 1});
    cases.push_back({"empty device", 512, Bytes{}, 1, P::ReadFailed, {}, {}, DetectStatus::Ok, kErrorEof});
    return cases;
}

TEST(PlanChange, BuildsTheWholePlanOrNothing) {
    for (const ChangeCase& c : changeCases()) {
        SCOPED_TRACE(c.name);
        MemoryDevice inner(c.deviceSector, c.image);
        if (c.reportedCount) inner.setReportedCount(*c.reportedCount);
        FaultDevice device(inner);
        if (c.failingRead) device.failRead(*c.failingRead, kErrorCrc);

        const PlanResult result = planChange(device, c.newSerial);

        EXPECT_EQ(result.planError, c.planError);
        EXPECT_EQ(result.detectStatus, c.detectStatus);
        EXPECT_EQ(result.systemError, c.systemError);
        EXPECT_EQ(device.writes(), 0u);
        EXPECT_EQ(inner.bytes(), c.image);
        if (c.reads) {
            EXPECT_EQ(device.reads(), *c.reads);
        }
        const ChangePlan& plan = result.plan;
        if (c.planError != PlanError::None) {
            EXPECT_TRUE(planIsEmpty(plan)) << describe(plan.regions);
            continue;
        }

        EXPECT_EQ(describe(plan.regions), describe(c.regions));
        EXPECT_EQ(plan.notes, c.notes);
        const BootSectorInfo info = detectBootSector(c.image);
        EXPECT_EQ(plan.fsType, info.fsType);
        EXPECT_EQ(plan.bytesPerSector, info.bytesPerSector);
        EXPECT_EQ(plan.totalSectors, info.totalSectors);
        EXPECT_EQ(plan.serial, info.serial);
        EXPECT_EQ(plan.serialWidth, info.serialWidth);
        EXPECT_EQ(plan.serialOffset, info.serialOffset);
        EXPECT_EQ(plan.backupBootSector, info.backupBootSector);
        EXPECT_EQ(plan.oldSerial, info.serial);
        EXPECT_EQ(plan.newSerial, c.newSerial);
        for (const RegionWrite& region : plan.regions) {
            SCOPED_TRACE(bootRegionName(region.kind));
            const std::size_t offset = region.firstSector * c.deviceSector;
            const std::size_t length = std::size_t{region.sectorCount} * c.deviceSector;
            ASSERT_LE(offset + length, c.image.size());
            ASSERT_EQ(region.before.size(), length);
            EXPECT_EQ(region.before, Bytes(c.image.begin() + offset, c.image.begin() + offset + length));
            EXPECT_EQ(region.after, expectedAfter(region.before, plan, region.kind));
            EXPECT_NE(region.after, region.before);
        }
    }
}

TEST(PlanChange, NtfsRegionsDifferOnlyInTheSerialField) {
    MemoryDevice device(512, ntfsImage());
    const PlanResult result = planChange(device, 0x0123456789ABCDEFull);
    ASSERT_EQ(result.planError, PlanError::None);
    ASSERT_EQ(result.plan.regions.size(), 2u);
    for (const RegionWrite& region : result.plan.regions) {
        SCOPED_TRACE(bootRegionName(region.kind));
        EXPECT_EQ(test::differingOffsets(region.before, region.after),
                  (std::vector<std::size_t>{72, 73, 74, 75, 76, 77, 78, 79}));
        EXPECT_EQ(test::getLe(region.after, 72, 8), 0x0123456789ABCDEFull);
    }
}

TEST(PlanChange, RewritesAnOlderSerialInTheFat32Copy) {
    // The copy's own serial is not compared with the main one: it gets the new serial, nothing else changes.
    MemoryDevice device(512, fat32Image());
    const PlanResult result = planChange(device, 0x55667788);
    ASSERT_EQ(result.planError, PlanError::None);
    ASSERT_EQ(result.plan.regions.size(), 2u);
    const RegionWrite& copy = result.plan.regions[0];
    EXPECT_EQ(test::getLe(copy.before, 67, 4), 0x0BAD0BADu);
    EXPECT_EQ(test::getLe(copy.after, 67, 4), 0x55667788u);
    EXPECT_EQ(test::differingOffsets(copy.before, copy.after), (std::vector<std::size_t>{67, 68, 69, 70}));
}

// --- raw recovery -------------------------------------------------------------------------------------------

// The image after the plan's regions are written, done here by hand.
Bytes applied(Bytes image, const ChangePlan& plan, std::uint32_t deviceSector) {
    for (const RegionWrite& region : plan.regions) test::place(image, region.firstSector * deviceSector, region.after);
    return image;
}

BootSectorBackup backupOf(const ChangePlan& plan, std::uint32_t deviceSector) {
    BootSectorBackup backup;
    backup.fsType = plan.fsType;
    backup.bytesPerSector = plan.bytesPerSector;
    backup.deviceSector = deviceSector;
    backup.volumeSectors = plan.totalSectors;
    backup.serialBytes = plan.serialWidth;
    backup.oldSerial = plan.oldSerial;
    backup.newSerial = plan.newSerial;
    for (const RegionWrite& region : plan.regions)
        backup.regions.push_back({region.kind, region.firstSector, region.sectorCount, region.before});
    return backup;
}

struct RawCase {
    const char* name;
    std::uint32_t deviceSector;
    Bytes original;
    VolumeSerial changedTo;
};

TEST(PlanRawRecovery, WritesEverySavedRegionBackExactly) {
    const RawCase cases[] = {
        {"FAT16", 512, fat16Image(), 0x99887766},
        {"FAT32", 512, fat32Image(), 0x99887766},
        {"FAT32 with 4096-byte sectors", 512, fat32Image([](Fat32Image& s) { s.boot.bytesPerSector = 4096; }), 5},
        {"NTFS", 512, ntfsImage(), 0x1122334455667788ull},
        {"exFAT", 512, exfatImage(), 0x99887766},
        {"exFAT on a 4096-byte device", 4096, exfatImage(12), 0x99887766},
    };
    for (const RawCase& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDevice planning(c.deviceSector, c.original);
        const PlanResult change = planChange(planning, c.changedTo);
        ASSERT_EQ(change.planError, PlanError::None);
        const BootSectorBackup backup = backupOf(change.plan, c.deviceSector);
        const Bytes changed = applied(c.original, change.plan, c.deviceSector);

        MemoryDevice device(c.deviceSector, changed);
        const PlanResult raw = planRawRecovery(device, backup);
        ASSERT_EQ(raw.planError, PlanError::None);
        EXPECT_EQ(raw.detectStatus, DetectStatus::Ok);
        EXPECT_EQ(raw.systemError, 0u);
        EXPECT_EQ(device.writes(), 0u);
        const ChangePlan& plan = raw.plan;
        EXPECT_EQ(plan.fsType, backup.fsType);
        EXPECT_EQ(plan.bytesPerSector, backup.bytesPerSector);
        EXPECT_EQ(plan.totalSectors, backup.volumeSectors);
        EXPECT_EQ(plan.serialWidth, backup.serialBytes);
        EXPECT_EQ(plan.serial, 0u);
        EXPECT_EQ(plan.serialOffset, 0u);
        EXPECT_EQ(plan.backupBootSector, 0u);
        EXPECT_EQ(plan.oldSerial, c.changedTo);
        EXPECT_EQ(plan.newSerial, change.plan.oldSerial);
        EXPECT_TRUE(plan.notes.empty());
        ASSERT_EQ(plan.regions.size(), backup.regions.size());
        for (std::size_t i = 0; i < plan.regions.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(plan.regions[i].kind, backup.regions[i].kind);
            EXPECT_EQ(plan.regions[i].firstSector, backup.regions[i].firstSector);
            EXPECT_EQ(plan.regions[i].sectorCount, backup.regions[i].sectorCount);
            EXPECT_EQ(plan.regions[i].before, change.plan.regions[i].after);
            EXPECT_EQ(plan.regions[i].after, backup.regions[i].bytes);
        }
        EXPECT_EQ(applied(changed, plan, c.deviceSector), c.original);

        // Once written back, there is nothing left to do.
        MemoryDevice restored(c.deviceSector, c.original);
        const PlanResult again = planRawRecovery(restored, backup);
        EXPECT_EQ(again.planError, PlanError::NothingToRestore);
        EXPECT_TRUE(planIsEmpty(again.plan));
    }
}

struct RawFixture {
    Bytes original;
    Bytes changed;
    BootSectorBackup backup;
};

RawFixture fat32Changed() {
    RawFixture f;
    f.original = fat32Image();
    MemoryDevice device(512, f.original);
    const PlanResult change = planChange(device, 0x99887766);
    f.backup = backupOf(change.plan, 512);
    f.changed = applied(f.original, change.plan, 512);
    return f;
}

TEST(PlanRawRecovery, SkipsRegionsTheDiskAlreadyHolds) {
    RawFixture f = fat32Changed();
    // The main boot sector is already back; only the copy differs.
    test::place(f.changed, 0, Bytes(f.original.begin(), f.original.begin() + 512));
    MemoryDevice device(512, f.changed);
    const PlanResult raw = planRawRecovery(device, f.backup);
    ASSERT_EQ(raw.planError, PlanError::None);
    ASSERT_EQ(raw.plan.regions.size(), 1u);
    EXPECT_EQ(raw.plan.regions[0].kind, BootRegion::BackupBootSector);
    EXPECT_EQ(raw.plan.regions[0].firstSector, 6u);
    EXPECT_EQ(raw.plan.oldSerial, 0x1234ABCDu);  // the main sector already carries the old serial again
}

TEST(PlanRawRecovery, RepairsAnUnrecognisableBootSector) {
    RawFixture f = fat32Changed();
    test::place(f.changed, 0, Bytes(512, 0));
    MemoryDevice device(512, f.changed);
    const PlanResult raw = planRawRecovery(device, f.backup);
    ASSERT_EQ(raw.planError, PlanError::None);
    EXPECT_EQ(raw.plan.oldSerial, f.backup.newSerial);
    EXPECT_EQ(raw.plan.newSerial, f.backup.oldSerial);
    ASSERT_EQ(raw.plan.regions.size(), 2u);
    EXPECT_EQ(raw.plan.regions[1].before, Bytes(512, 0));
    EXPECT_EQ(raw.plan.regions[1].after, f.backup.regions[1].bytes);
}

TEST(PlanRawRecovery, WritesSavedExFatRegionsAsSavedWithoutResealing) {
    // A saved region is written as saved even when its checksum sector is wrong.
    Bytes saved = exfatImage(9, [](Bytes&, Bytes& backup) { backup[11 * 512 + 4] ^= 0xFF; });
    MemoryDevice device(512, exfatImage());
    BootSectorBackup backup;
    backup.fsType = FsType::exFAT;
    backup.bytesPerSector = 512;
    backup.deviceSector = 512;
    backup.oldSerial = 0x6F9BAD74;
    backup.newSerial = 0x6F9BAD74;
    backup.regions.push_back(
        {BootRegion::ExFatBackupRegion, 12, 12, Bytes(saved.begin() + 12 * 512, saved.begin() + 24 * 512)});
    const PlanResult raw = planRawRecovery(device, backup);
    ASSERT_EQ(raw.planError, PlanError::None);
    ASSERT_EQ(raw.plan.regions.size(), 1u);
    EXPECT_EQ(raw.plan.regions[0].after, backup.regions[0].bytes);
    EXPECT_EQ(test::differingOffsets(raw.plan.regions[0].before, raw.plan.regions[0].after),
              (std::vector<std::size_t>{11 * 512 + 4}));
}

TEST(PlanRawRecovery, RefusesWhatItCannotPlan) {
    struct Case {
        const char* name;
        std::uint32_t deviceSector;
        std::function<void(BootSectorBackup&)> change;
        std::optional<unsigned> failingRead;
        PlanError planError;
        std::uint32_t systemError;
    };
    const Case cases[] = {
        {"backup from a 512-byte device on a 4096-byte one", 4096, {}, {}, PlanError::SectorSizeMismatch, 0},
        {"backup from a 4096-byte device on a 512-byte one", 512, [](BootSectorBackup& b) { b.deviceSector = 4096; },
         {}, PlanError::SectorSizeMismatch, 0},
        {"region bytes not whole sectors", 512, [](BootSectorBackup& b) { b.regions[1].bytes.resize(256); }, {},
         PlanError::SectorSizeMismatch, 0},
        {"region bytes shorter than its count", 512, [](BootSectorBackup& b) { b.regions[0].sectorCount = 2; }, {},
         PlanError::SectorSizeMismatch, 0},
        {"first saved region unreadable", 512, {}, 2, PlanError::ReadFailed, kErrorCrc},
        {"second saved region unreadable", 512, {}, 3, PlanError::ReadFailed, kErrorCrc},
        {"saved region past the device's end", 512, [](BootSectorBackup& b) { b.regions[0].firstSector = 40; }, {},
         PlanError::ReadFailed, kErrorEof},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawFixture f = fat32Changed();
        if (c.change) c.change(f.backup);
        Bytes image = f.changed;
        if (c.deviceSector != 512) image.resize(image.size() * 2, 0);
        MemoryDevice inner(c.deviceSector, image);
        FaultDevice device(inner);
        if (c.failingRead) device.failRead(*c.failingRead, kErrorCrc);
        const PlanResult raw = planRawRecovery(device, f.backup);
        EXPECT_EQ(raw.planError, c.planError);
        EXPECT_EQ(raw.systemError, c.systemError);
        EXPECT_EQ(raw.detectStatus, DetectStatus::Ok);
        EXPECT_TRUE(planIsEmpty(raw.plan));
        EXPECT_EQ(device.writes(), 0u);
    }
}

// --- real images --------------------------------------------------------------------------------------------

struct ImageCase {
    const char* tool;
    const char* command;  // the image path is appended
    std::uint64_t size;
    std::size_t prefix;  // bytes of the image the plan needs; 0 for all
    VolumeSerial newSerial;
    std::vector<BootRegion> regions;
    const char* judge;  // run on the image; exit 0 means consistent
};

// Applies the plan to an image made by a real formatting tool and lets the file-system checkers judge it.
TEST(PlanChange, ImagesFromTheFormattingToolsStayConsistent) {
    using R = BootRegion;
    const ImageCase cases[] = {
        {"mkfs.fat", "mkfs.fat -F 12 -i 0A1B2C3D", 2u << 20, 0, 0x13572468, {R::BootSector}, "fsck.fat -n"},
        {"mkfs.fat", "mkfs.fat -F 16 -i 0123ABCD", 32u << 20, 1u << 20, 0x13572468, {R::BootSector}, "fsck.fat -n"},
        {"mkfs.fat", "mkfs.fat -F 32 -i DEADBEEF", 40u << 20, 1u << 20, 0x13572468,
         {R::BackupBootSector, R::BootSector}, "fsck.fat -n"},
        {"mkfs.fat", "mkfs.fat -F 32 -S 4096 -s 1 -i 00C0FFEE", 300u << 20, 1u << 20, 0x13572468,
         {R::BackupBootSector, R::BootSector}, "fsck.fat -n"},
        {"mkfs.exfat", "mkfs.exfat", 8u << 20, 1u << 20, 0x13572468, {R::ExFatBackupRegion, R::ExFatMainRegion},
         "fsck.exfat -n"},
        {"mkntfs", "mkntfs -F -Q", 8u << 20, 0, 0x0123456713572468ull, {R::BackupBootSector, R::BootSector},
         "ntfsfix -n"},
        {"mkntfs", "mkntfs -F -Q -s 4096", 16u << 20, 0, 0x0123456713572468ull, {R::BackupBootSector, R::BootSector},
         "ntfsfix -n"},
    };
    if (!test::toolAvailable("blkid")) GTEST_SKIP() << "blkid is not installed";
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.command);
        if (!test::toolAvailable(c.tool)) {
            ADD_FAILURE() << c.tool << " is not installed";
            continue;
        }
        test::ScratchImage image(c.size);
        ASSERT_FALSE(image.path().empty());
        const test::ToolRun made = test::runTool(std::string(c.command) + " '" + image.path() + "'");
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const auto bytes = image.read(c.prefix ? c.prefix : SIZE_MAX);
        ASSERT_TRUE(bytes.has_value());

        MemoryDevice device(512, *bytes);
        device.setReportedCount(c.size / 512);
        const PlanResult result = planChange(device, c.newSerial);
        ASSERT_EQ(result.planError, PlanError::None);
        std::vector<BootRegion> kinds;
        for (const RegionWrite& region : result.plan.regions) kinds.push_back(region.kind);
        EXPECT_EQ(kinds, c.regions);
        EXPECT_TRUE(result.plan.notes.empty());

        // A judge that would pass anything proves nothing: the serial stored in the main sector alone must fail it.
        if (c.regions.size() > 1) {
            Bytes mainOnly = *bytes;
            test::putLe(mainOnly, result.plan.serialOffset, result.plan.serialWidth, c.newSerial);
            ASSERT_TRUE(image.writePrefix(mainOnly));
            const test::ToolRun judged = test::runTool(std::string(c.judge) + " '" + image.path() + "'");
            EXPECT_TRUE(judged.exitCode != 0 || judged.output.find("differences") != std::string::npos)
                << judged.output;
        }

        ASSERT_TRUE(image.writePrefix(applied(*bytes, result.plan, 512)));
        const test::ToolRun judged = test::runTool(std::string(c.judge) + " '" + image.path() + "'");
        EXPECT_EQ(judged.exitCode, 0) << judged.output;
        EXPECT_EQ(judged.output.find("differences"), std::string::npos) << judged.output;
        EXPECT_EQ(test::blkidSerial(image.path()), test::blkidSerialText(c.newSerial, result.plan.serialWidth));
    }
}

}  // namespace
}  // namespace tlx
