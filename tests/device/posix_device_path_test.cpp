// What drive texts name on POSIX, and the on-disk BitLocker probe over images and devices.
#include "device/device_path.h"
#include "device/encryption.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

#include "device/posix_fixtures.h"
#include "platform/text.h"

namespace tlx {
namespace {

using testing::TempDir;

std::optional<std::string> pathFor(const std::string& driveSpec) {
    const auto path = devicePathFor(fromUtf8(driveSpec));
    if (!path) return std::nullopt;
    return toUtf8(*path);
}

std::string canonical(const std::string& path) {
    return std::filesystem::canonical(path).string();
}

// A serial no other test run on this machine is likely to use.
std::string runSerial() {
    char text[10];
    std::snprintf(text, sizeof text, "%04X-%04X", 0xB000u | (getpid() & 0xFFF), static_cast<unsigned>(getpid() >> 12) & 0xFFFF);
    return text;
}

TEST(PosixDevicePath, NamesImageFilesByTheirCanonicalPath) {
    TempDir dir;
    const std::string image = dir / "volume.img";
    testing::writeFile(image, std::vector<std::uint8_t>(4096, 0));
    ASSERT_EQ(symlink(image.c_str(), (dir / "link.img").c_str()), 0);
    mkdir((dir / "folder").c_str(), 0700);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string expected = canonical(image);

    struct Case { std::string driveSpec; std::optional<std::string> path; };
    const std::vector<Case> cases = {
        {image, expected},
        {"  " + image + "\t", expected},
        {dir.path() + "//./folder/../volume.img", expected},
        {dir / "link.img", expected},
        {dir / "missing.img", std::nullopt},
        {dir / "folder", std::nullopt},  // not a mount point
        {dir / "fifo", std::nullopt},
        {"/dev/null", std::nullopt},
        {"", std::nullopt},
        {" \t ", std::nullopt},
        {"E:", std::nullopt},
        {"UUID=", std::nullopt},
        {"LABEL=no-such-label-plinthos", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driveSpec);
        EXPECT_EQ(pathFor(c.driveSpec), c.path);
    }
}

class TaggedLoopDevice : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "SKIP: loop devices need root";
        if (!testing::hasTool("losetup") || !testing::hasTool("mkfs.fat"))
            GTEST_SKIP() << "SKIP: losetup or mkfs.fat is not installed";
        image = dir / "fat.img";
        serial = runSerial();
        label = "PL" + std::to_string(getpid() % 100000000);
        std::string id = serial;
        id.erase(4, 1);
        ASSERT_TRUE(testing::run("mkfs.fat -C -F 12 -i " + id + " -n " + label + " '" + image + "' 8192"));
    }
    TempDir dir;
    std::string image, serial, label;
};

TEST_F(TaggedLoopDevice, UuidAndLabelNameTheDevice) {
    testing::LoopDevice loop(image);
    ASSERT_FALSE(loop.path().empty());
    struct Case { std::string driveSpec; std::optional<std::string> path; };
    const std::vector<Case> cases = {
        {"UUID=" + serial, loop.path()},
        {" LABEL=" + label + " ", loop.path()},
        {loop.path(), loop.path()},
        {"UUID=" + serial + "0", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driveSpec);
        EXPECT_EQ(pathFor(c.driveSpec), c.path);
    }
}

// A disk image with one MBR partition from sector 2048 to the end, under the given disk signature.
std::vector<std::uint8_t> mbrDisk(std::uint32_t bytes, std::uint32_t signature) {
    std::vector<std::uint8_t> disk(bytes, 0);
    auto put32 = [&disk](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) disk[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put32(440, signature);
    disk[446 + 4] = 0x0C;  // FAT32 LBA; the file system inside does not have to match
    put32(446 + 8, 2048);
    put32(446 + 12, bytes / 512 - 2048);
    disk[510] = 0x55;
    disk[511] = 0xAA;
    return disk;
}

TEST_F(TaggedLoopDevice, PartitionUuidNamesThePartition) {
    const std::string disk = dir / "disk.img";
    const std::uint32_t signature = 0x50000000u | (static_cast<std::uint32_t>(getpid()) & 0x0FFFFFFF);
    testing::writeFile(disk, mbrDisk(8 << 20, signature));
    char partuuid[32];
    std::snprintf(partuuid, sizeof partuuid, "PARTUUID=%08x-01", signature);
    const auto loop = testing::commandOutput("losetup -f --show -P '" + disk + "'");
    ASSERT_TRUE(loop);
    const std::string partition = *loop + "p1";
    struct stat st{};
    if (stat(partition.c_str(), &st) != 0) {
        testing::run("losetup -d " + *loop);
        GTEST_SKIP() << "SKIP: this kernel does not read partition tables of loop devices";
    }
    const bool made = testing::run("mkfs.fat -F 12 " + partition);
    std::optional<std::string> found;
    if (made) found = pathFor(partuuid);
    testing::run("losetup -d " + *loop);
    ASSERT_TRUE(made);
    EXPECT_EQ(found, partition);
}

TEST_F(TaggedLoopDevice, AMountedFolderNamesItsDevice) {
    if (!testing::hasTool("mkfs.ext4")) GTEST_SKIP() << "SKIP: mkfs.ext4 is not installed";
    ASSERT_TRUE(testing::run("mkfs.ext4 -q -F '" + image + "'"));
    testing::LoopDevice loop(image);
    ASSERT_FALSE(loop.path().empty());
    const std::string folder = dir / "mnt";
    mkdir(folder.c_str(), 0700);
    if (!testing::run("mount -t ext4 " + loop.path() + " '" + folder + "'"))
        GTEST_SKIP() << "SKIP: the kernel refuses to mount ext4 here";
    const auto plain = pathFor(folder);
    const auto slashed = pathFor(folder + "/");
    mkdir((folder + "/inner").c_str(), 0700);
    const auto inner = pathFor(folder + "/inner");
    ASSERT_TRUE(testing::run("umount '" + folder + "'"));
    EXPECT_EQ(plain, loop.path());
    EXPECT_EQ(slashed, loop.path());
    EXPECT_EQ(inner, std::nullopt);  // a folder inside a mount is no mount point
    EXPECT_EQ(pathFor(folder), std::nullopt);
}

TEST(PosixDevicePath, AFolderWhereAnImageIsMountedNamesTheImage) {
    if (geteuid() != 0 || !testing::hasTool("mkntfs") || !testing::hasTool("ntfs-3g"))
        GTEST_SKIP() << "SKIP: needs root, mkntfs and ntfs-3g";
    TempDir dir;
    const std::string image = dir / "ntfs.img";
    const std::string folder = dir / "mnt";
    mkdir(folder.c_str(), 0700);
    ASSERT_TRUE(testing::run("truncate -s 16M '" + image + "' && mkntfs -F -Q '" + image + "'"));
    if (!testing::run("ntfs-3g '" + image + "' '" + folder + "'")) GTEST_SKIP() << "SKIP: FUSE mounts are not possible here";
    const auto found = pathFor(folder);
    testing::run("umount '" + folder + "'");
    EXPECT_EQ(found, canonical(image));
}

std::vector<std::uint8_t> sectorWith(std::size_t size, std::size_t offset, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> sector(size, 0);
    std::copy(bytes.begin(), bytes.end(), sector.begin() + static_cast<std::ptrdiff_t>(offset));
    return sector;
}

const std::vector<std::uint8_t> kFveName = {'-', 'F', 'V', 'E', '-', 'F', 'S', '-'};
const std::vector<std::uint8_t> kBitLockerGuid = {0x3B, 0xD6, 0x67, 0x49, 0x29, 0x2E, 0xD8, 0x4A,
                                                  0x83, 0x99, 0xF6, 0xA3, 0x39, 0xE3, 0xD0, 0x01};

TEST(PosixEncryptionProbe, JudgesTheFirstSectorOfAnImage) {
    TempDir dir;
    struct Case {
        std::string name;
        std::optional<std::vector<std::uint8_t>> content;  // absent: no file
        DiskEncryption answer;
        std::uint32_t error;
    };
    std::vector<std::uint8_t> ntfs = sectorWith(4096, 3, {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '});
    ntfs[510] = 0x55;
    ntfs[511] = 0xAA;
    const std::vector<Case> cases = {
        {"fve.img", sectorWith(4096, 3, kFveName), DiskEncryption::BitLocker, 0},
        {"guid160.img", sectorWith(4096, 160, kBitLockerGuid), DiskEncryption::BitLocker, 0},
        {"ntfs.img", ntfs, DiskEncryption::None, 0},
        {"zero.img", std::vector<std::uint8_t>(4096, 0), DiskEncryption::None, 0},
        {"fve-second-sector.img", sectorWith(4096, 512 + 3, kFveName), DiskEncryption::None, 0},
        {"empty.img", std::vector<std::uint8_t>{}, DiskEncryption::Undetermined, 38},
        {"missing.img", std::nullopt, DiskEncryption::Undetermined, 123},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.content) testing::writeFile(dir / c.name, *c.content);
        const EncryptionProbe probe = probeDiskEncryption(fromUtf8(dir / c.name));
        EXPECT_EQ(probe.answer, c.answer);
        EXPECT_EQ(probe.error, c.error);
    }
}

TEST(PosixEncryptionProbe, ReadsAWholeLargeSectorOfADevice) {
    if (geteuid() != 0 || !testing::hasTool("losetup")) GTEST_SKIP() << "SKIP: loop devices need root and losetup";
    TempDir dir;
    // The signature GUID at 424 lies past any 512-byte prefix trick only if the whole sector is read.
    std::vector<std::uint8_t> bytes(64 * 4096, 0);
    std::copy(kBitLockerGuid.begin(), kBitLockerGuid.end(), bytes.begin() + 424);
    testing::writeFile(dir / "bl.img", bytes);
    testing::LoopDevice loop(dir / "bl.img", 4096);
    ASSERT_FALSE(loop.path().empty());
    const EncryptionProbe probe = probeDiskEncryption(fromUtf8(loop.path()));
    EXPECT_EQ(probe.answer, DiskEncryption::BitLocker);
    EXPECT_EQ(probe.error, 0u);
}

TEST(PosixEncryptionProbe, ADeviceMapperVolumeIsJudgedByTheDeviceBelowIt) {
    if (geteuid() != 0 || !testing::hasTool("dmsetup") || !testing::hasTool("losetup"))
        GTEST_SKIP() << "SKIP: device-mapper tests need root, dmsetup and losetup";
    if (!testing::run("dmsetup version")) GTEST_SKIP() << "SKIP: the kernel has no device-mapper driver";
    TempDir dir;
    // The mapped device starts 8 sectors in: its own first sector is blank, the one below is BitLocker's.
    testing::writeFile(dir / "under.img", sectorWith(1 << 20, 3, kFveName));
    testing::LoopDevice loop(dir / "under.img");
    ASSERT_FALSE(loop.path().empty());
    const std::string name = "plinthos-probe-" + std::to_string(getpid());
    ASSERT_TRUE(testing::run("dmsetup create " + name + " --table '0 1024 linear " + loop.path() + " 8'"));
    const EncryptionProbe probe = probeDiskEncryption(fromUtf8("/dev/mapper/" + name));
    testing::run("dmsetup remove " + name);
    EXPECT_EQ(probe.answer, DiskEncryption::BitLocker);
}

}  // namespace
}  // namespace tlx
