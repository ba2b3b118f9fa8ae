// Boot-sector recognition, the BitLocker signature, reading sector 0 and the copy test.
#include "bootsector/detect.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "device/fault_device.h"
#include "device/memory_device.h"
#include "mkfs_images.h"
#include "sector_builders.h"

namespace tlx {

void PrintTo(const BootSectorInfo& i, std::ostream* os) {
    *os << "{status " << static_cast<int>(i.status) << ", " << fsTypeName(i.fsType) << ", bps " << i.bytesPerSector
        << ", total " << i.totalSectors << ", serial 0x" << std::hex << i.serial << std::dec << ", width "
        << i.serialWidth << ", offset " << i.serialOffset << ", backup " << i.backupBootSector << "}";
}

bool operator==(const BootSectorInfo& a, const BootSectorInfo& b) {
    return a.status == b.status && a.fsType == b.fsType && a.bytesPerSector == b.bytesPerSector &&
           a.totalSectors == b.totalSectors && a.serial == b.serial && a.serialWidth == b.serialWidth &&
           a.serialOffset == b.serialOffset && a.backupBootSector == b.backupBootSector;
}

namespace {

using test::Bytes;

BootSectorInfo failure(DetectStatus status, FsType type = FsType::Unknown) {
    BootSectorInfo info;
    info.status = status;
    info.fsType = type;
    return info;
}

BootSectorInfo ok(FsType type, std::uint32_t bps, std::uint64_t total, VolumeSerial serial, std::uint32_t width,
                  std::uint32_t offset, std::uint32_t backup = 0) {
    return {DetectStatus::Ok, type, bps, total, serial, width, offset, backup};
}

const std::uint8_t kBitLockerGuid[16] = {0x3B, 0xD6, 0x67, 0x49, 0x29, 0x2E, 0xD8, 0x4A,
                                         0x83, 0x99, 0xF6, 0xA3, 0x39, 0xE3, 0xD0, 0x01};

Bytes withGuidAt(Bytes sector, std::size_t offset) {
    std::memcpy(sector.data() + offset, kBitLockerGuid, 16);
    return sector;
}

Bytes with(Bytes sector, const std::function<void(Bytes&)>& change) {
    change(sector);
    return sector;
}

test::Fat32Params fat32(std::function<void(test::Fat32Params&)> change = {}) {
    test::Fat32Params p;
    if (change) change(p);
    return p;
}

struct DetectCase {
    const char* name;
    Bytes bytes;
    BootSectorInfo expected;
};

std::vector<DetectCase> detectCases() {
    using namespace test;
    const Fat1xParams fat12 = fat1xWithClusters(4084);
    const Bytes fat12Sector = fat1xSector(fat12);
    const std::uint32_t fat12Total = fat12.totalSectors;
    auto fat1x = [](std::function<void(Fat1xParams&)> change) {
        Fat1xParams p = fat1xWithClusters(2000);
        change(p);
        return fat1xSector(p);
    };
    auto exfat = [](std::function<void(ExFatParams&)> change) {
        ExFatParams p;
        change(p);
        return exfatSector(p);
    };
    auto ntfs = [](std::function<void(NtfsParams&)> change) {
        NtfsParams p;
        change(p);
        return ntfsSector(p);
    };
    return {
        {"511 bytes", Bytes(fat12Sector.begin(), fat12Sector.begin() + 511), failure(DetectStatus::TooShort)},
        {"empty", Bytes{}, failure(DetectStatus::TooShort)},
        {"512 zeros", Bytes(512, 0), failure(DetectStatus::NoSignature)},
        {"FVE name without signature", with(Bytes(512, 0), [](Bytes& s) { putOem(s, "-FVE-FS-"); }),
         failure(DetectStatus::BitLocker, FsType::BitLocker)},
        {"FVE name over a FAT BPB", with(fat12Sector, [](Bytes& s) { putOem(s, "-FVE-FS-"); }),
         failure(DetectStatus::BitLocker, FsType::BitLocker)},
        {"BitLocker identifier at 160", withGuidAt(Bytes(512, 0), 160),
         failure(DetectStatus::BitLocker, FsType::BitLocker)},
        {"BitLocker identifier at 424", withGuidAt(fat12Sector, 424),
         failure(DetectStatus::BitLocker, FsType::BitLocker)},
        {"identifier one byte off", withGuidAt(fat12Sector, 161),
         ok(FsType::FAT12, 512, fat12Total, 0x12345678, 4, 39)},
        {"FVE name in lower case", with(Bytes(512, 0), [](Bytes& s) { putOem(s, "-fve-fs-"); }),
         failure(DetectStatus::NoSignature)},
        {"only 0x55", with(fat12Sector, [](Bytes& s) { s[511] = 0; }), failure(DetectStatus::NoSignature)},
        {"signature reversed", with(fat12Sector, [](Bytes& s) { s[510] = 0xAA; s[511] = 0x55; }),
         failure(DetectStatus::NoSignature)},

        {"exFAT", exfat([](ExFatParams&) {}), ok(FsType::exFAT, 512, 16384, 0x6F9BAD74, 4, 100)},
        {"exFAT shift 12", exfat([](ExFatParams& p) { p.sectorShift = 12; p.volumeLength = 1ull << 40; }),
         ok(FsType::exFAT, 4096, 1ull << 40, 0x6F9BAD74, 4, 100)},
        {"exFAT shift 13", with(exfatSector({}), [](Bytes& s) { s[108] = 13; }), failure(DetectStatus::Unrecognised)},
        {"exFAT shift 8", with(exfatSector({}), [](Bytes& s) { s[108] = 8; }), failure(DetectStatus::Unrecognised)},
        {"exFAT byte 11 set", with(exfatSector({}), [](Bytes& s) { s[11] = 2; }), failure(DetectStatus::Unrecognised)},
        {"exFAT byte 63 set", with(exfatSector({}), [](Bytes& s) { s[63] = 1; }), failure(DetectStatus::Unrecognised)},
        {"exFAT byte 64 is the partition offset", with(exfatSector({}), [](Bytes& s) { s[64] = 1; }),
         ok(FsType::exFAT, 512, 16384, 0x6F9BAD74, 4, 100)},
        {"exFAT name in lower case", with(exfatSector({}), [](Bytes& s) { putOem(s, "exfat   "); }),
         failure(DetectStatus::Unrecognised)},

        {"NTFS", ntfs([](NtfsParams&) {}), ok(FsType::NTFS, 512, 16383, 0x0772BC612FE6D5CDull, 8, 72)},
        {"NTFS 4096-byte sectors", ntfs([](NtfsParams& p) { p.bytesPerSector = 4096; p.totalSectors = 99; }),
         ok(FsType::NTFS, 4096, 99, 0x0772BC612FE6D5CDull, 8, 72)},
        {"NTFS large-cluster encoding", ntfs([](NtfsParams& p) { p.sectorsPerCluster = 0xF4; }),
         ok(FsType::NTFS, 512, 16383, 0x0772BC612FE6D5CDull, 8, 72)},
        {"NTFS cluster 0", ntfs([](NtfsParams& p) { p.sectorsPerCluster = 0; }), failure(DetectStatus::Unrecognised)},
        {"NTFS 520-byte sectors", with(ntfsSector({}), [](Bytes& s) { test::putLe(s, 11, 2, 520); }),
         failure(DetectStatus::Unrecognised)},
        {"NTFS 256-byte sectors", with(ntfsSector({}), [](Bytes& s) { test::putLe(s, 11, 2, 256); }),
         failure(DetectStatus::Unrecognised)},
        {"NTFS 8192-byte sectors", with(ntfsSector({}), [](Bytes& s) { test::putLe(s, 11, 2, 8192); }),
         failure(DetectStatus::Unrecognised)},
        {"NTFS no length", ntfs([](NtfsParams& p) { p.totalSectors = 0; }), failure(DetectStatus::Unrecognised)},

        {"4084 clusters", fat12Sector, ok(FsType::FAT12, 512, fat12Total, 0x12345678, 4, 39)},
        {"4085 clusters", fat1xSector(fat1xWithClusters(4085)),
         ok(FsType::FAT16, 512, fat1xWithClusters(4085).totalSectors, 0x12345678, 4, 39)},
        {"65524 clusters", fat1xSector(fat1xWithClusters(65524)),
         ok(FsType::FAT16, 512, fat1xWithClusters(65524).totalSectors, 0x12345678, 4, 39)},
        {"65525 clusters", fat1xSector(fat1xWithClusters(65525)), failure(DetectStatus::Unrecognised)},
        {"jump 0x90", fat1x([](Fat1xParams& p) { p.jump = 0x90; }), failure(DetectStatus::Unrecognised)},
        {"jump 0xE9", fat1x([](Fat1xParams& p) { p.jump = 0xE9; }),
         ok(FsType::FAT12, 512, fat1xWithClusters(2000).totalSectors, 0x12345678, 4, 39)},
        {"FAT 1000-byte sectors", with(fat12Sector, [](Bytes& s) { test::putLe(s, 11, 2, 1000); }),
         failure(DetectStatus::Unrecognised)},
        {"FAT 3 sectors per cluster", fat1x([](Fat1xParams& p) { p.sectorsPerCluster = 3; }),
         failure(DetectStatus::Unrecognised)},
        {"FAT 0 sectors per cluster", fat1x([](Fat1xParams& p) { p.sectorsPerCluster = 0; }),
         failure(DetectStatus::Unrecognised)},
        {"FAT 0 reserved", fat1x([](Fat1xParams& p) { p.reservedSectors = 0; }), failure(DetectStatus::Unrecognised)},
        {"FAT no FATs", fat1x([](Fat1xParams& p) { p.fatCount = 0; }), failure(DetectStatus::Unrecognised)},
        {"FAT both totals 0", fat1x([](Fat1xParams& p) { p.totalSectors = 0; }), failure(DetectStatus::Unrecognised)},
        {"FAT data starts at the end", fat1x([](Fat1xParams& p) { p.totalSectors = firstDataSector(p); }),
         failure(DetectStatus::Unrecognised)},
        {"FAT16 signature 0x28", fat1x([](Fat1xParams& p) { p.extendedSignature = 0x28; }),
         ok(FsType::FAT12, 512, fat1xWithClusters(2000).totalSectors, 0x12345678, 4, 39)},
        {"FAT12 without extended signature", fat1x([](Fat1xParams& p) { p.extendedSignature = 0; }),
         failure(DetectStatus::NoSerial, FsType::FAT12)},
        {"FAT16 without extended signature",
         with(fat1xSector(fat1xWithClusters(5000)), [](Bytes& s) { s[38] = 0x27; }),
         failure(DetectStatus::NoSerial, FsType::FAT16)},

        {"FAT32", fat32Sector(fat32()), ok(FsType::FAT32, 512, 1048576, 0x1234ABCD, 4, 67, 6)},
        {"FAT32 without extended signature", fat32Sector(fat32([](Fat32Params& p) { p.extendedSignature = 0; })),
         failure(DetectStatus::NoSerial, FsType::FAT32)},
        {"FAT32 backup 0xFFFF", fat32Sector(fat32([](Fat32Params& p) { p.backupBootSector = 0xFFFF; })),
         ok(FsType::FAT32, 512, 1048576, 0x1234ABCD, 4, 67, 0)},
        {"FAT32 backup at the reserved count", fat32Sector(fat32([](Fat32Params& p) { p.backupBootSector = 32; })),
         ok(FsType::FAT32, 512, 1048576, 0x1234ABCD, 4, 67, 0)},
        {"FAT32 backup just below it", fat32Sector(fat32([](Fat32Params& p) { p.backupBootSector = 31; })),
         ok(FsType::FAT32, 512, 1048576, 0x1234ABCD, 4, 67, 31)},
        {"FAT32 backup 0", fat32Sector(fat32([](Fat32Params& p) { p.backupBootSector = 0; })),
         ok(FsType::FAT32, 512, 1048576, 0x1234ABCD, 4, 67, 0)},
        {"FAT32 no FAT size", fat32Sector(fat32([](Fat32Params& p) { p.sectorsPerFat = 0; })),
         failure(DetectStatus::Unrecognised)},
        {"FAT32 16-bit total", with(fat32Sector(fat32()), [](Bytes& s) { test::putLe(s, 19, 2, 60000); }),
         ok(FsType::FAT32, 512, 60000, 0x1234ABCD, 4, 67, 6)},
        {"FAT32 4096-byte sectors", fat32Sector(fat32([](Fat32Params& p) { p.bytesPerSector = 4096; })),
         ok(FsType::FAT32, 4096, 1048576, 0x1234ABCD, 4, 67, 6)},
        {"signature only at the end of a 4096-byte sector",
         with(fat32Sector(fat32([](Fat32Params& p) { p.bytesPerSector = 4096; p.signature = false; })),
              [](Bytes& s) { s[4094] = 0x55; s[4095] = 0xAA; }),
         failure(DetectStatus::NoSignature)},
    };
}

TEST(DetectBootSector, RecognisesEachLayoutAndRefusesBrokenOnes) {
    for (const DetectCase& c : detectCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detectBootSector(c.bytes), c.expected);
    }
}

TEST(DetectBootSector, ExaminesOnlyTheFirst512Bytes) {
    // Whatever follows byte 511 changes nothing, and a buffer of exactly the examined size is enough
    // (the sanitizers catch a read past it).
    for (const DetectCase& c : detectCases()) {
        if (c.bytes.size() < 512) continue;
        SCOPED_TRACE(c.name);
        const Bytes exact(c.bytes.begin(), c.bytes.begin() + 512);
        Bytes longer = exact;
        longer.resize(4096);
        for (std::size_t i = 512; i < longer.size(); ++i) longer[i] = static_cast<std::uint8_t>(i * 13 + 5);
        EXPECT_EQ(detectBootSector(exact), c.expected);
        EXPECT_EQ(detectBootSector(longer), c.expected);
    }
}

TEST(DetectBootSector, EveryShortLengthIsTooShort) {
    const Bytes sector = test::fat32Sector(fat32());
    for (std::size_t length = 0; length < 512; ++length) {
        SCOPED_TRACE(length);
        const Bytes prefix(sector.begin(), sector.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(detectBootSector(prefix).status, DetectStatus::TooShort);
        EXPECT_FALSE(isBitLockerBootSector(prefix));
    }
    Bytes shortFve(511, 0);
    test::putOem(shortFve, "-FVE-FS-");
    EXPECT_FALSE(isBitLockerBootSector(shortFve));
}

TEST(FsTypeName, NamesEachKindAndUnknownOtherwise) {
    const std::pair<int, const char*> cases[] = {{0, "Unknown"}, {1, "FAT12"}, {2, "FAT16"},     {3, "FAT32"},
                                                 {4, "exFAT"},   {5, "NTFS"},  {6, "BitLocker"}, {7, "Unknown"},
                                                 {-1, "Unknown"}};
    for (const auto& [value, name] : cases) {
        SCOPED_TRACE(value);
        EXPECT_STREQ(fsTypeName(static_cast<FsType>(value)), name);
    }
}

TEST(ReadBootSector, ReadsOneDeviceSectorAndRecognisesIt) {
    struct Case {
        const char* name;
        std::uint32_t deviceSector;
        Bytes image;
        ReadStatus readStatus;
        DetectStatus detectStatus;
        FsType fsType;
    };
    Bytes fat32At4096 = test::fat32Sector(fat32([](test::Fat32Params& p) { p.bytesPerSector = 4096; }));
    fat32At4096.resize(8 * 4096);
    Bytes ntfs = test::ntfsSector({});
    ntfs.resize(8 * 512);
    const Case cases[] = {
        {"FAT32 on a 4096-byte device", 4096, fat32At4096, ReadStatus::Ok, DetectStatus::Ok, FsType::FAT32},
        {"NTFS on a 512-byte device", 512, ntfs, ReadStatus::Ok, DetectStatus::Ok, FsType::NTFS},
        {"zeros", 512, Bytes(4096, 0), ReadStatus::NotRecognised, DetectStatus::NoSignature, FsType::Unknown},
        {"FAT32 without serial", 512, test::fat32Sector(fat32([](test::Fat32Params& p) { p.extendedSignature = 0; })),
         ReadStatus::NotRecognised, DetectStatus::NoSerial, FsType::FAT32},
        {"BitLocker", 512, withGuidAt(Bytes(512, 0), 424), ReadStatus::NotRecognised, DetectStatus::BitLocker,
         FsType::BitLocker},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDevice device(c.deviceSector, c.image);
        const BootSectorRead read = readBootSector(device);
        EXPECT_EQ(device.reads(), 1u);
        EXPECT_EQ(read.readStatus, c.readStatus);
        EXPECT_EQ(read.detectStatus, c.detectStatus);
        EXPECT_EQ(read.systemError, 0u);
        BootSectorInfo expected = detectBootSector(c.image);
        EXPECT_EQ(expected.status, c.detectStatus);
        EXPECT_EQ(read.info, expected);
        EXPECT_EQ(read.info.fsType, c.fsType);
    }
}

TEST(ReadBootSector, ReportsTheDevicesErrorWhenTheReadFails) {
    MemoryDevice inner(512, test::fat32Sector(fat32()));
    FaultDevice device(inner);
    device.failRead(1, 1117);
    const BootSectorRead read = readBootSector(device);
    EXPECT_EQ(read.readStatus, ReadStatus::ReadFailed);
    EXPECT_EQ(read.detectStatus, DetectStatus::Ok);
    EXPECT_EQ(read.systemError, 1117u);
    EXPECT_EQ(read.info.fsType, FsType::Unknown);
    EXPECT_EQ(read.info.serial, 0u);
    EXPECT_NE(read.info.status, DetectStatus::Ok);

    MemoryDevice empty(512, {});
    const BootSectorRead none = readBootSector(empty);
    EXPECT_EQ(none.readStatus, ReadStatus::ReadFailed);
    EXPECT_EQ(none.systemError, 38u);
}

TEST(ReadBootSector, RefusesDeviceSectorsTooSmallForABootSector) {
    MemoryDevice device(256, test::fat32Sector(fat32()));
    const BootSectorRead read = readBootSector(device);
    EXPECT_EQ(read.readStatus, ReadStatus::ReadFailed);
    EXPECT_EQ(read.systemError, 50u);
    EXPECT_EQ(device.reads(), 0u);
}

TEST(SameFileSystem, ComparesKindAndSectorSizeOnly) {
    const BootSectorInfo main = detectBootSector(test::fat32Sector(fat32()));
    ASSERT_EQ(main.status, DetectStatus::Ok);
    struct Case {
        const char* name;
        Bytes candidate;
        bool same;
    };
    const Case cases[] = {
        {"identical", test::fat32Sector(fat32()), true},
        {"older serial and other length",
         test::fat32Sector(fat32([](test::Fat32Params& p) { p.serial = 1; p.totalSectors = 99999; })), true},
        {"other backup position", test::fat32Sector(fat32([](test::Fat32Params& p) { p.backupBootSector = 0; })), true},
        {"other sector size", test::fat32Sector(fat32([](test::Fat32Params& p) { p.bytesPerSector = 1024; })), false},
        {"no serial field", test::fat32Sector(fat32([](test::Fat32Params& p) { p.extendedSignature = 0; })), false},
        {"no signature", test::fat32Sector(fat32([](test::Fat32Params& p) { p.signature = false; })), false},
        {"FAT16", test::fat1xSector(test::fat1xWithClusters(5000)), false},
        {"NTFS", test::ntfsSector({}), false},
        {"zeros", Bytes(512, 0), false},
        {"short", Bytes(100, 0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sameFileSystem(c.candidate, main), c.same);
    }
}

// The layouts the real formatting tools write, judged by blkid.
TEST(DetectBootSector, AgreesWithBlkidOnImagesFromTheFormattingTools) {
    struct Case {
        const char* tool;
        const char* command;  // the image path is appended
        std::uint64_t size;
        FsType fsType;
        std::uint32_t bytesPerSector;
    };
    const Case cases[] = {
        {"mkfs.fat", "mkfs.fat -F 12 -i 0A1B2C3D", 2u << 20, FsType::FAT12, 512},
        {"mkfs.fat", "mkfs.fat -F 16 -i 0123ABCD", 32u << 20, FsType::FAT16, 512},
        {"mkfs.fat", "mkfs.fat -F 32 -i DEADBEEF", 40u << 20, FsType::FAT32, 512},
        {"mkfs.fat", "mkfs.fat -F 32 -S 4096 -i 00C0FFEE", 300u << 20, FsType::FAT32, 4096},
        {"mkfs.exfat", "mkfs.exfat", 8u << 20, FsType::exFAT, 512},
        {"mkntfs", "mkntfs -F -Q", 8u << 20, FsType::NTFS, 512},
        {"mkntfs", "mkntfs -F -Q -s 4096", 16u << 20, FsType::NTFS, 4096},
    };
    if (!test::toolAvailable("blkid")) GTEST_SKIP() << "blkid is not installed";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        if (!test::toolAvailable(c.tool)) {
            ADD_FAILURE() << c.tool << " is not installed";
            continue;
        }
        test::ScratchImage image(c.size);
        ASSERT_FALSE(image.path().empty());
        const test::ToolRun made = test::runTool(std::string(c.command) + " '" + image.path() + "'");
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const auto bytes = image.read(4096);
        ASSERT_TRUE(bytes.has_value());
        const BootSectorInfo info = detectBootSector(*bytes);
        EXPECT_EQ(info.status, DetectStatus::Ok);
        EXPECT_EQ(info.fsType, c.fsType);
        EXPECT_EQ(info.bytesPerSector, c.bytesPerSector);
        EXPECT_EQ(test::blkidSerialText(info.serial, info.serialWidth), test::blkidSerial(image.path()));
        if (c.fsType == FsType::FAT32) {
            EXPECT_EQ(info.backupBootSector, 6u);
        }
        EXPECT_LE(info.totalSectors * info.bytesPerSector, c.size);
    }
}

}  // namespace
}  // namespace tlx
