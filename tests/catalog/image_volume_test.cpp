// A volume record from an image's first sector, judged against what mkfs wrote and blkid reads.
#include <gtest/gtest.h>

#include "../bootsector/mkfs_images.h"
#include "catalog/image_volume.h"

namespace tlx {
namespace {

using test::ScratchImage;

struct MkfsCase {
    const char* name;
    const char* command;  // %s is the image path
    std::uint64_t size;
    const wchar_t* fileSystem;
    std::uint32_t serial;
    const wchar_t* label;
};

TEST(ImageVolume, DescribesWhatMkfsWrote) {
    const MkfsCase cases[] = {
        {"FAT12", "mkfs.fat -F 12 -i 1234ABCD -n 'DATA DISK' %s", 2u << 20, L"FAT", 0x1234ABCD, L"DATA DISK"},
        {"FAT16", "mkfs.fat -F 16 -i 0BADF00D %s", 16u << 20, L"FAT", 0x0BADF00D, L""},
        {"FAT32", "mkfs.fat -F 32 -i C0FFEE00 -n BACKUPS %s", 40u << 20, L"FAT32", 0xC0FFEE00, L"BACKUPS"},
        {"exFAT", "mkfs.exfat -L ignored %s", 8u << 20, L"exFAT", 0, L""},
        {"NTFS", "mkntfs -F -q -Q -L ignored %s", 8u << 20, L"NTFS", 0, L""},
    };
    for (const MkfsCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tool = std::string(c.command).substr(0, std::string(c.command).find(' '));
        if (!test::toolAvailable(tool)) {
            GTEST_LOG_(INFO) << "no " << tool;
            continue;
        }
        ScratchImage image(c.size);
        ASSERT_FALSE(image.path().empty());
        char command[256];
        std::snprintf(command, sizeof command, c.command, ("'" + image.path() + "'").c_str());
        ASSERT_EQ(test::runTool(command).exitCode, 0) << command;
        const auto sector = image.read(512);
        ASSERT_TRUE(sector && sector->size() == 512);

        VolumeInfo info;
        describeImageBootSector(info, *sector);
        EXPECT_TRUE(info.mediaPresent && info.supported);
        EXPECT_EQ(info.fileSystem, c.fileSystem);
        // exFAT and NTFS keep their labels outside the boot sector; mkfs picks their serials.
        EXPECT_EQ(info.label, c.label);
        const std::string blkid = test::blkidSerial(image.path());
        if (info.fullSerial) {
            EXPECT_EQ(test::blkidSerialText(*info.fullSerial, 8), blkid);
            EXPECT_EQ(info.serial, static_cast<std::uint32_t>(*info.fullSerial));
        } else {
            EXPECT_EQ(test::blkidSerialText(info.serial, 4), blkid);
        }
        if (c.serial != 0) {
            EXPECT_EQ(info.serial, c.serial);
        }
        EXPECT_EQ(info.fullSerial.has_value(), std::wstring(c.fileSystem) == L"NTFS");
    }
}

TEST(ImageVolume, ShortBlankAndBitLockerSectors) {
    const std::vector<std::uint8_t> blank(512, 0);
    const std::vector<std::uint8_t> empty;
    for (const auto* sector : {&blank, &empty}) {
        VolumeInfo info;
        describeImageBootSector(info, *sector);
        EXPECT_FALSE(info.mediaPresent || info.supported);
        EXPECT_TRUE(info.fileSystem.empty() && info.label.empty() && info.serial == 0 && !info.fullSerial);
    }

    std::vector<std::uint8_t> bitLocker(512, 0);
    std::memcpy(bitLocker.data() + 3, "-FVE-FS-", 8);
    bitLocker[510] = 0x55;
    bitLocker[511] = 0xAA;
    VolumeInfo info;
    describeImageBootSector(info, bitLocker);
    EXPECT_EQ(info.fileSystem, L"BitLocker");
    EXPECT_FALSE(info.mediaPresent || info.supported);
    EXPECT_TRUE(info.bitLockerHint);
}

}  // namespace
}  // namespace tlx
