// The Linux catalogue: mount table, blkid values, and records of real images and loop devices.
#include "catalog/posix/probe_fields.h"
#include "catalog/posix/udev_data.h"
#include "catalog/posix/visibility.h"
#include "catalog/resolve.h"
#include "device/posix/fuse_source.h"
#include "device/posix/mount_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

#include "device/posix_fixtures.h"
#include "platform/text.h"

namespace tlx {
namespace {

using testing::TempDir;

TEST(MountInfo, ParsesEntriesWithEscapesAndFlags) {
    const std::string text =
        "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
        "40 28 7:3 / /mnt/my\\040disk rw,nosuid shared:5 master:1 - vfat /dev/loop3 ro,fmask=0022\n"
        "41 28 0:52 / /media/usb ro,relatime - fuseblk /dev/sdb1 rw,user_id=0\n"
        "42 28 0:53 /sub /srv\\011tab\\134x rw - fuse.fusefat fusefat rw\n"
        "garbage line\n"
        "43 28 8:1 / /short rw -\n";
    const auto entries = posix::parseMountInfo(text);
    ASSERT_EQ(entries.size(), 4u);
    struct Expected { unsigned major, minor; std::string mountPoint, fsType, source; bool readOnly; };
    const std::vector<Expected> expected = {
        {254, 0, "/", "ext4", "/dev/vda", false},
        {7, 3, "/mnt/my disk", "vfat", "/dev/loop3", true},  // read-only file system under a rw mount
        {0, 52, "/media/usb", "fuseblk", "/dev/sdb1", true},  // read-only mount of a rw file system
        {0, 53, "/srv\ttab\\x", "fuse.fusefat", "fusefat", false},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i].major, expected[i].major);
        EXPECT_EQ(entries[i].minor, expected[i].minor);
        EXPECT_EQ(entries[i].mountPoint, expected[i].mountPoint);
        EXPECT_EQ(entries[i].fsType, expected[i].fsType);
        EXPECT_EQ(entries[i].source, expected[i].source);
        EXPECT_EQ(entries[i].readOnly, expected[i].readOnly);
    }
}

TEST(Partitions, NameTheWholeLoopDevicesWithSectors) {
    const std::string text =
        "major minor  #blocks  name\n"
        "\n"
        " 254        0  268435456 vda\n"
        " 254        1     524288 vda1\n"
        "   7        0      65536 loop0\n"
        " 259        0      16384 loop0p1\n"
        "   7       12        512 loop12\n"
        "   7       13        512 loopy\n"
        "   7       14\n";
    EXPECT_EQ(posix::loopDevicesIn(text), (std::vector<std::string>{"loop0", "loop12"}));
    EXPECT_TRUE(posix::loopDevicesIn("").empty());
}

TEST(FatRootDirectory, LiesAfterTheFatsOfAFat12Or16BootSector) {
    std::vector<std::uint8_t> sector(512, 0);
    const auto set16 = [&](std::size_t at, unsigned value) {
        sector[at] = static_cast<std::uint8_t>(value);
        sector[at + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    set16(11, 512);  // bytes per sector
    set16(14, 4);    // reserved sectors
    sector[16] = 2;  // FATs
    set16(17, 512);  // root entries
    set16(22, 32);   // sectors per FAT
    const auto root = posix::fixedRootDirectory(sector);
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->offset, (4u + 2u * 32u) * 512u);
    EXPECT_EQ(root->bytes, 512u * 32u);
    EXPECT_EQ(root->sectorSize, 512u);
    EXPECT_FALSE(posix::fixedRootDirectory(std::span(sector.data(), 100)).has_value());
    set16(22, 0);  // FAT32: the root is a cluster chain
    EXPECT_FALSE(posix::fixedRootDirectory(sector).has_value());
    set16(22, 32);
    set16(11, 500);
    EXPECT_FALSE(posix::fixedRootDirectory(sector).has_value());
}

TEST(FatRootDirectory, LabelIsTheFirstVolumeEntry) {
    const auto entry = [](std::string name, std::uint8_t attributes) {
        std::vector<std::uint8_t> bytes(32, 0);
        std::copy(name.begin(), name.end(), bytes.begin());
        bytes[11] = attributes;
        return bytes;
    };
    struct Case {
        const char* name;
        std::vector<std::vector<std::uint8_t>> entries;
        std::optional<std::string> label;
        bool ended;
    };
    const std::vector<Case> cases = {
        {"first entry", {entry("MY DISK    ", 0x08)}, "MY DISK", true},
        {"after a file and a long name", {entry("FILE    TXT", 0x20), entry("A", 0x0F), entry("LBL        ", 0x28)}, "LBL", true},
        {"deleted label skipped", {entry("\xE5OLD       ", 0x08), entry("NEW        ", 0x08)}, "NEW", true},
        {"0x05 stands for 0xE5", {entry("\x05" "BC        ", 0x08)}, "\xE5" "BC", true},
        {"folder with the volume bit is no label", {entry("DIR        ", 0x18)}, std::nullopt, false},
        {"blank label", {entry("           ", 0x08)}, std::nullopt, true},
        {"inner blanks and bytes kept", {entry("\x82" "BC D\xE9   x ", 0x0E)}, "\x82" "BC D\xE9   x", true},
        {"end mark before the label", {entry("", 0), entry("LBL        ", 0x08)}, std::nullopt, true},
        {"no label in these entries", {entry("FILE    TXT", 0x20)}, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes;
        for (const auto& e : c.entries) bytes.insert(bytes.end(), e.begin(), e.end());
        bool ended = false;
        EXPECT_EQ(posix::fatLabelIn(bytes, ended), c.label);
        EXPECT_EQ(ended, c.ended);
    }
}

TEST(ProbeValues, FillTheFileSystemFieldsOfARecord) {
    struct Case {
        posix::ProbeValues values;
        std::wstring fileSystem;
        std::uint32_t serial;
        std::optional<std::uint64_t> fullSerial;
        bool supported;
    };
    const std::vector<Case> cases = {
        {{"vfat", "FAT12", "A", "1234-ABCD", ""}, L"FAT", 0x1234ABCD, std::nullopt, true},
        {{"vfat", "FAT16", "", "00ff-0001", ""}, L"FAT", 0x00FF0001, std::nullopt, true},
        {{"vfat", "FAT32", "", "DEAD-BEEF", ""}, L"FAT32", 0xDEADBEEF, std::nullopt, true},
        {{"vfat", "", "", "DEAD-BEEF", ""}, L"FAT", 0xDEADBEEF, std::nullopt, true},
        {{"exfat", "1.0", "", "CAFE-F00D", ""}, L"exFAT", 0xCAFEF00D, std::nullopt, true},
        {{"ntfs", "", "", "0123456789ABCDEF", ""}, L"NTFS", 0x89ABCDEF, 0x0123456789ABCDEFull, true},
        {{"ntfs", "", "", "0123456789abcdef", ""}, L"NTFS", 0x89ABCDEF, 0x0123456789ABCDEFull, true},
        {{"ntfs", "", "", "0123456789ABCDE", ""}, L"NTFS", 0, std::nullopt, true},
        {{"vfat", "FAT32", "", "12345-678", ""}, L"FAT32", 0, std::nullopt, true},
        {{"vfat", "FAT32", "", "12G4-5678", ""}, L"FAT32", 0, std::nullopt, true},
        {{"ext4", "1.0", "", "3c1c8a52-4c7e-4f0e-a1b6-2d9f4f1c2e33", ""}, L"ext4", 0, std::nullopt, false},
        {{"BitLocker", "", "", "", ""}, L"BitLocker", 0, std::nullopt, false},
        // A BitLocker volume's FAT-like BPB fools libblkid; the signature decides.
        {{"vfat", "FAT16", "", "1234-ABCD", "", true}, L"BitLocker", 0, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values.type + " " + c.values.uuid);
        VolumeInfo info;
        posix::applyProbeValues(info, c.values);
        // Like a locked volume on Windows: present, but its file system cannot be read.
        const bool bitLocker = c.fileSystem == L"BitLocker";
        EXPECT_EQ(info.mediaPresent, !bitLocker);
        EXPECT_EQ(info.bitLockerHint, bitLocker);
        EXPECT_EQ(info.fileSystem, c.fileSystem);
        EXPECT_EQ(info.serial, c.serial);
        EXPECT_EQ(info.fullSerial, c.fullSerial);
        EXPECT_EQ(info.supported, c.supported);
        EXPECT_EQ(info.label, fromUtf8(c.values.label));
        // Only a serial that was read counts as one: ext4 and unreadable UUIDs have none, a real 0 has one.
        if (!bitLocker) EXPECT_EQ(info.hasSerial, c.serial != 0);
    }
    VolumeInfo zero;
    posix::applyProbeValues(zero, {"vfat", "FAT16", "", "0000-0000", ""});
    EXPECT_TRUE(zero.hasSerial);
    VolumeInfo nothing;
    posix::applyProbeValues(nothing, {"", "", "", "", ""});
    EXPECT_FALSE(nothing.mediaPresent);
    EXPECT_TRUE(nothing.fileSystem.empty());
    EXPECT_FALSE(nothing.supported);
}

TEST(UdevRecord, GivesTheFileSystemValuesLsblkShows) {
    const std::optional<posix::ProbeValues> fat = posix::parseUdevRecord(
        "S:disk/by-uuid/1234-ABCD\nI:1234\nE:ID_FS_LABEL=MY_DISK\nE:ID_FS_LABEL_ENC=MY\\x20DISK\n"
        "E:ID_FS_UUID=1234-ABCD\nE:ID_FS_VERSION=FAT32\nE:ID_FS_TYPE=vfat\nE:ID_PART_ENTRY_TYPE=0xef\n"
        "G:systemd\n");
    ASSERT_TRUE(fat);
    EXPECT_EQ(fat->type, "vfat");
    EXPECT_EQ(fat->version, "FAT32");
    EXPECT_EQ(fat->uuid, "1234-ABCD");
    EXPECT_EQ(fat->label, "MY DISK");
    EXPECT_EQ(fat->partEntryType, "0xef");
    VolumeInfo info;
    posix::applyProbeValues(info, *fat);
    EXPECT_EQ(info.fileSystem, L"FAT32");
    EXPECT_EQ(info.serial, 0x1234ABCDu);
    EXPECT_EQ(posix::partitionRoleFor(fat->partEntryType), PartitionRole::EfiSystem);

    // Without the encoded label the plain one stands; a bad escape stays as it is.
    const auto ntfs = posix::parseUdevRecord("E:ID_FS_TYPE=ntfs\nE:ID_FS_UUID=0123456789ABCDEF\nE:ID_FS_LABEL=A_B");
    ASSERT_TRUE(ntfs);
    EXPECT_EQ(ntfs->label, "A_B");
    EXPECT_EQ(posix::parseUdevRecord("E:ID_FS_TYPE=exfat\nE:ID_FS_LABEL_ENC=a\\xZZ\\x4")->label, "a\\xZZ\\x4");
    // A record without a file system (a whole disk, an empty device) tells nothing.
    EXPECT_FALSE(posix::parseUdevRecord("E:ID_PART_TABLE_TYPE=dos\nE:ID_FS_UUID=x\n"));
    EXPECT_FALSE(posix::parseUdevRecord(""));
}

TEST(FuseConnection, ComesFromTheFdinfoOfDevFuse) {
    EXPECT_EQ(posix::fuseConnectionIn("pos:\t0\nflags:\t0100002\nmnt_id:\t24\nino:\t89\nfuse_connection:\t43\n"), 43u);
    EXPECT_EQ(posix::fuseConnectionIn("fuse_connection: 7"), 7u);
    EXPECT_FALSE(posix::fuseConnectionIn("pos:\t0\nflags:\t0100002\n"));
    EXPECT_FALSE(posix::fuseConnectionIn("x_fuse_connection:\t4\n"));
    EXPECT_FALSE(posix::fuseConnectionIn("fuse_connection:\t\n"));
}

TEST(ProbeValues, PartitionTypesGiveTheirRoles) {
    struct Case { std::string type; PartitionRole role; };
    const std::vector<Case> cases = {
        {"c12a7328-f81f-11d2-ba4b-00a0c93ec93b", PartitionRole::EfiSystem},
        {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", PartitionRole::EfiSystem},
        {"0xef", PartitionRole::EfiSystem},
        {"de94bba4-06d1-4d40-a16a-bfd50179d6ac", PartitionRole::Recovery},
        {"0x27", PartitionRole::Recovery},
        {"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", PartitionRole::None},
        {"0x7", PartitionRole::None},
        {"0xefe", PartitionRole::None},
        {"", PartitionRole::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(posix::partitionRoleFor(c.type), c.role);
    }
}

struct Image {
    const char* name;
    const char* make;  // shell commands over $I
    std::wstring fileSystem;
    std::wstring label;
    std::uint32_t serial;
    std::optional<std::uint64_t> fullSerial;
    bool supported;
};

bool makeImage(const std::string& path, const char* commands) {
    return testing::run("I='" + path + "'; " + commands);
}

const std::vector<Image>& images() {
    static const std::vector<Image> list = {
        {"fat12", "truncate -s 8M \"$I\" && mkfs.fat -F 12 -i 0A1B2C3D -n PLFAT12 \"$I\"", L"FAT", L"PLFAT12", 0x0A1B2C3D, std::nullopt, true},
        {"fat16", "truncate -s 32M \"$I\" && mkfs.fat -F 16 -i 1234ABCD -n PLFAT16 \"$I\"", L"FAT", L"PLFAT16", 0x1234ABCD, std::nullopt, true},
        {"fat32", "truncate -s 64M \"$I\" && mkfs.fat -F 32 -i FEDC0123 -n PLFAT32 \"$I\"", L"FAT32", L"PLFAT32", 0xFEDC0123, std::nullopt, true},
        {"exfat", "truncate -s 16M \"$I\" && mkfs.exfat -L PLEX \"$I\" && tune.exfat -I 0xDEADBEEF \"$I\"", L"exFAT", L"PLEX", 0xDEADBEEF, std::nullopt, true},
        {"ntfs", "truncate -s 16M \"$I\" && mkntfs -F -Q -L PLNTFS \"$I\" && ntfslabel --new-serial=0123456789ABCDEF \"$I\"", L"NTFS", L"PLNTFS", 0x89ABCDEF, 0x0123456789ABCDEFull, true},
        {"ext4", "truncate -s 8M \"$I\" && mkfs.ext4 -q -F -L PLEXT \"$I\"", L"ext4", L"PLEXT", 0, std::nullopt, false},
        // A FAT mirror half of a Linux RAID (0.90 superblock 64 KiB before the end) is the array's, not FAT.
        {"raid", "truncate -s 8M \"$I\" && mkfs.fat -F 12 -n PLRAID \"$I\" && printf '\\374\\116\\053\\251\\0\\0\\0\\0\\132\\0\\0\\0' | dd of=\"$I\" bs=1 seek=8323072 conv=notrunc status=none", L"linux_raid_member", L"", 0, std::nullopt, false},
    };
    return list;
}

TEST(FindVolume, DescribesAnImageFileFromItsFileSystem) {
    TempDir dir;
    for (const Image& image : images()) {
        SCOPED_TRACE(image.name);
        const std::string path = dir / (std::string(image.name) + ".img");
        ASSERT_TRUE(makeImage(path, image.make)) << "could not make the image";
        const auto found = findVolume(fromUtf8("  " + path + " "));
        ASSERT_TRUE(found);
        EXPECT_EQ(found->volume, fromUtf8(std::filesystem::canonical(path).string()));
        EXPECT_TRUE(found->mountPoints.empty());
        EXPECT_EQ(found->type, DriveType::Fixed);
        EXPECT_EQ(found->sizeBytes, std::filesystem::file_size(path));
        EXPECT_TRUE(found->mediaPresent);
        EXPECT_EQ(found->fileSystem, image.fileSystem);
        EXPECT_EQ(found->label, image.label);
        EXPECT_EQ(found->serial, image.serial);
        EXPECT_EQ(found->fullSerial, image.fullSerial);
        EXPECT_EQ(found->supported, image.supported);
        EXPECT_FALSE(found->windowsDrive);
        EXPECT_EQ(displayDrive(*found), found->volume);
    }
}

TEST(FindVolume, NamesNothingForMissingFilesAndFindsBlankImages) {
    TempDir dir;
    testing::writeFile(dir / "blank.img", std::vector<std::uint8_t>(1 << 20, 0));
    ASSERT_EQ(symlink((dir / "blank.img").c_str(), (dir / "link.img").c_str()), 0);
    const auto blank = findVolume(fromUtf8(dir / "link.img"));
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->volume, fromUtf8(std::filesystem::canonical(dir / "blank.img").string()));
    EXPECT_FALSE(blank->mediaPresent);
    EXPECT_FALSE(blank->supported);
    EXPECT_EQ(blank->serial, 0u);
    EXPECT_EQ(blank->sizeBytes, 1u << 20);
    EXPECT_FALSE(findVolume(fromUtf8(dir / "missing.img")));
    EXPECT_FALSE(findVolume(fromUtf8(dir.path())));  // a folder that is no mount point
    EXPECT_FALSE(findVolume(L""));
}

TEST(FindVolume, AnImageMountedThroughFuseHasItsMountPoint) {
    if (geteuid() != 0 || !testing::hasTool("ntfs-3g")) GTEST_SKIP() << "SKIP: needs root and ntfs-3g";
    TempDir dir;
    const std::string path = dir / "mounted-ntfs.img";
    ASSERT_TRUE(makeImage(path, images()[4].make));
    const std::string folder = dir / "mnt";
    mkdir(folder.c_str(), 0700);
    if (!testing::run("ntfs-3g -o ro '" + path + "' '" + folder + "'")) GTEST_SKIP() << "SKIP: FUSE mounts are not possible here";
    const auto byFolder = findVolume(fromUtf8(folder));
    const auto byPath = findVolume(fromUtf8(path));
    testing::run("umount '" + folder + "'");
    ASSERT_TRUE(byFolder);
    ASSERT_TRUE(byPath);
    EXPECT_EQ(byFolder->volume, fromUtf8(std::filesystem::canonical(path).string()));
    EXPECT_EQ(byPath->mountPoints, std::vector<std::wstring>{fromUtf8(folder)});
    EXPECT_TRUE(byPath->readOnly);
    EXPECT_EQ(byPath->fullSerial, images()[4].fullSerial);
    EXPECT_EQ(displayDrive(*byPath), fromUtf8(folder));
}

TEST(Visibility, EveryFileSystemShowsOtherDevicesOnlyWithAll) {
    using posix::DeviceFacts;
    auto facts = [](bool mounted, bool partitioned, bool held, bool readable, std::string type, bool bitLocker = false) {
        return DeviceFacts{mounted, partitioned, held, readable, std::move(type), bitLocker};
    };
    struct Case { const char* name; DeviceFacts facts; bool hidden; };
    const std::vector<Case> cases = {
        {"unmounted FAT", facts(false, false, false, true, "vfat"), false},
        {"unmounted ext4", facts(false, false, false, true, "ext4"), false},
        {"unmounted BitLocker", facts(false, false, false, true, "", true), false},
        {"no file system", facts(false, false, false, true, ""), true},
        {"unreadable to us", facts(false, false, false, false, ""), false},
        {"partitioned disk", facts(false, true, false, true, ""), true},
        {"device-mapper member", facts(false, false, true, true, "vfat"), true},
        {"swap", facts(false, false, false, true, "swap"), true},
        {"LVM member", facts(false, false, false, true, "LVM2_member"), true},
        {"RAID member", facts(false, false, false, true, "linux_raid_member"), true},
        {"LUKS", facts(false, false, false, true, "crypto_LUKS"), true},
        {"mounted always shows", facts(true, true, true, true, "swap"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(posix::isHiddenDevice(c.facts), c.hidden);
    }
}

TEST(EnumerateVolumes, ListsALoopDeviceWithItsFileSystem) {
    if (geteuid() != 0 || !testing::hasTool("losetup")) GTEST_SKIP() << "SKIP: loop devices need root and losetup";
    TempDir dir;
    const Image& fat = images()[2];
    const std::string path = dir / "listed.img";
    ASSERT_TRUE(makeImage(path, fat.make));
    std::wstring device;
    {
        testing::LoopDevice loop(path);
        ASSERT_FALSE(loop.path().empty());
        device = fromUtf8(loop.path());
        const std::vector<VolumeInfo> list = enumerateVolumes();
        const auto found = findVolumeIn(list, device);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->fileSystem, L"FAT32");
        EXPECT_EQ(found->serial, 0xFEDC0123u);
        EXPECT_EQ(found->label, L"PLFAT32");
        EXPECT_EQ(found->type, DriveType::Fixed);
        EXPECT_EQ(found->sizeBytes, std::filesystem::file_size(path));
        EXPECT_TRUE(found->mountPoints.empty());
        EXPECT_TRUE(found->supported);
        EXPECT_EQ(found->partitionRole, PartitionRole::None);
        EXPECT_TRUE(found->hasSerial);
        EXPECT_FALSE(found->hidden) << "an unmounted volume with a file system is what a user came to change";

        // Hidden volumes come after every mounted one.
        const auto firstHidden = std::find_if(list.begin(), list.end(), [](const VolumeInfo& v) { return v.mountPoints.empty(); });
        EXPECT_TRUE(std::all_of(firstHidden, list.end(), [](const VolumeInfo& v) { return v.mountPoints.empty(); }));
        // The volume mounted at "/" plays the Windows drive, and only that one.
        for (const VolumeInfo& v : list) {
            SCOPED_TRACE(toUtf8(v.volume));
            const bool atRoot = std::find(v.mountPoints.begin(), v.mountPoints.end(), L"/") != v.mountPoints.end();
            EXPECT_EQ(v.windowsDrive, atRoot);
        }
        const auto byName = findVolume(device);
        ASSERT_TRUE(byName);
        EXPECT_EQ(byName->volume, device);
    }
    // Once detached, an unbacked loop device is no volume. Tests running beside this one may take
    // the freed device at once, so the check holds only while it stays unbacked throughout.
    const std::string backing = "/sys/block/" + toUtf8(device).substr(5) + "/loop/backing_file";
    const bool unbackedBefore = !std::filesystem::exists(backing);
    const bool listed = findVolumeIn(enumerateVolumes(), device).has_value();
    if (unbackedBefore && !std::filesystem::exists(backing)) EXPECT_FALSE(listed);
}

TEST(EnumerateVolumes, GivesAMountedVolumeItsMountPointAndReadOnlyFlag) {
    if (geteuid() != 0 || !testing::hasTool("losetup") || !testing::hasTool("mkfs.ext4"))
        GTEST_SKIP() << "SKIP: needs root, losetup and mkfs.ext4";
    TempDir dir;
    const std::string path = dir / "mounted.img";
    ASSERT_TRUE(makeImage(path, images()[5].make));
    testing::LoopDevice loop(path);
    ASSERT_FALSE(loop.path().empty());
    const std::string folder = dir / "mnt point";
    mkdir(folder.c_str(), 0700);
    if (!testing::run("mount -t ext4 -o ro " + loop.path() + " '" + folder + "'"))
        GTEST_SKIP() << "SKIP: the kernel refuses to mount ext4 here";
    const std::vector<VolumeInfo> list = enumerateVolumes();
    const auto byFolder = findVolume(fromUtf8(folder + "/"));
    testing::run("umount '" + folder + "'");

    const auto found = findVolumeIn(list, fromUtf8(loop.path()));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->mountPoints, std::vector<std::wstring>{fromUtf8(folder)});
    EXPECT_TRUE(found->readOnly);
    EXPECT_FALSE(found->supported);
    EXPECT_EQ(found->fileSystem, L"ext4");
    EXPECT_EQ(displayDrive(*found), fromUtf8(folder));
    ASSERT_TRUE(byFolder);
    EXPECT_EQ(byFolder->volume, fromUtf8(loop.path()));
}

}  // namespace
}  // namespace tlx
