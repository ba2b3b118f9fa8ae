// The exFAT boot checksum, region verification and storing a serial into boot-sector copies.
#include "bootsector/boot_region.h"

#include <gtest/gtest.h>

#include <set>

#include "mkfs_images.h"
#include "sector_builders.h"

namespace tlx {
namespace {

using test::Bytes;

const std::uint8_t kShifts[] = {9, 10, 11, 12};

Bytes regionFor(std::uint8_t shift) {
    test::ExFatParams p;
    p.sectorShift = shift;
    p.volumeFlags = 0x0002;
    p.percentInUse = 37;
    return test::exfatRegion(p);
}

TEST(ExFatBootChecksum, MatchesTheChecksumMkfsExfatWrites) {
    if (!test::toolAvailable("mkfs.exfat")) GTEST_SKIP() << "mkfs.exfat is not installed";
    test::ScratchImage image(8u << 20);
    ASSERT_FALSE(image.path().empty());
    const test::ToolRun made = test::runTool("mkfs.exfat '" + image.path() + "'");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const auto bytes = image.read(24 * 512);
    ASSERT_TRUE(bytes.has_value());
    ASSERT_EQ(bytes->size(), 24u * 512);
    for (std::size_t regionStart : {std::size_t{0}, std::size_t{12 * 512}}) {
        SCOPED_TRACE(regionStart);
        const std::span<const std::uint8_t> region(bytes->data() + regionStart, 12 * 512);
        const std::uint32_t stored = static_cast<std::uint32_t>(test::getLe(*bytes, regionStart + 11 * 512, 4));
        EXPECT_EQ(exfatBootChecksum(region, 512), stored);
        EXPECT_TRUE(verifyExfatBootRegion(region, 512));
    }
}

TEST(ExFatBootChecksum, AgreesWithTheReferenceForEverySectorSize) {
    for (std::uint8_t shift : kShifts) {
        const std::uint32_t bps = 1u << shift;
        SCOPED_TRACE(bps);
        Bytes region = regionFor(shift);
        for (std::size_t i = 0; i < region.size(); i += 97) region[i] ^= static_cast<std::uint8_t>(i);
        EXPECT_EQ(exfatBootChecksum(region, bps), test::referenceChecksum(region, bps));
        test::sealRegion(region, bps);
        EXPECT_TRUE(verifyExfatBootRegion(region, bps));
    }
}

TEST(ExFatBootChecksum, SkipsOnlyVolumeFlagsAndPercentInUse) {
    for (std::uint8_t shift : {std::uint8_t{9}, std::uint8_t{12}}) {
        const std::size_t bps = std::size_t{1} << shift;
        const Bytes region = regionFor(shift);
        const std::uint32_t original = exfatBootChecksum(region, static_cast<std::uint32_t>(bps));
        const std::pair<std::size_t, bool> cases[] = {
            {106, false}, {107, false}, {112, false},         {0, true},
            {100, true},  {105, true},  {108, true},          {111, true},
            {113, true},  {511, true},  {5 * bps + 17, true}, {11 * bps - 1, true},
            {11 * bps, false},  // the checksum sector itself
            {12 * bps - 1, false},
        };
        for (const auto& [offset, changes] : cases) {
            SCOPED_TRACE(testing::Message() << "bps " << bps << " offset " << offset);
            Bytes changed = region;
            changed[offset] ^= 0x5A;
            EXPECT_EQ(exfatBootChecksum(changed, static_cast<std::uint32_t>(bps)) != original, changes);
        }
    }
}

TEST(VerifyExFatBootRegion, RefusesAnyWrongWordOrShortRegion) {
    for (std::uint8_t shift : kShifts) {
        const std::size_t bps = std::size_t{1} << shift;
        const std::uint32_t b = static_cast<std::uint32_t>(bps);
        const Bytes region = regionFor(shift);
        SCOPED_TRACE(bps);
        ASSERT_TRUE(verifyExfatBootRegion(region, b));
        // The checksum sector holds bps / 4 copies; each one counts.
        for (std::size_t word : {std::size_t{0}, bps / 8, bps / 4 - 1}) {
            SCOPED_TRACE(word);
            Bytes bad = region;
            bad[11 * bps + word * 4 + 2] ^= 0x01;
            EXPECT_FALSE(verifyExfatBootRegion(bad, b));
        }
        Bytes damaged = region;
        damaged[3 * bps + 9] ^= 0x80;
        EXPECT_FALSE(verifyExfatBootRegion(damaged, b));
        // Flags and usage may change without resealing.
        Bytes flags = region;
        flags[106] ^= 0x04;
        flags[112] = 99;
        EXPECT_TRUE(verifyExfatBootRegion(flags, b));
        EXPECT_FALSE(verifyExfatBootRegion(std::span(region).first(region.size() - 1), b));
        EXPECT_FALSE(verifyExfatBootRegion({}, b));
        // Bytes beyond the 12 sectors are not part of the region.
        Bytes longer = region;
        longer.resize(region.size() + bps, 0xEE);
        EXPECT_TRUE(verifyExfatBootRegion(longer, b));
    }
    // A sector size too small to hold the checksummed fields never verifies, even when the words would agree.
    EXPECT_FALSE(verifyExfatBootRegion(Bytes(64, 0), 0));
    EXPECT_FALSE(verifyExfatBootRegion(Bytes(12 * 4, 0), 4));
    // A 512-byte region read as if it had 4096-byte sectors is too short.
    EXPECT_FALSE(verifyExfatBootRegion(regionFor(9), 4096));
}

TEST(WriteSerialField, ChangesOnlyTheFieldLittleEndian) {
    struct Case {
        std::uint32_t offset;
        std::uint32_t width;
        VolumeSerial serial;
        std::vector<std::uint8_t> field;  // the bytes expected at offset
    };
    const Case cases[] = {
        {39, 4, 0x0123ABCD, {0xCD, 0xAB, 0x23, 0x01}},
        {67, 4, 0xA1B2C3D4, {0xD4, 0xC3, 0xB2, 0xA1}},
        {100, 4, 0, {0, 0, 0, 0}},
        {72, 8, 0x0123456789ABCDEFull, {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}},
        // A 4-byte field takes the low half only.
        {39, 4, 0xFFFFFFFF11223344ull, {0x44, 0x33, 0x22, 0x11}},
        {508, 4, 0x11223344, {0x44, 0x33, 0x22, 0x11}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " width " << c.width);
        Bytes sector(512);
        for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<std::uint8_t>(0xA5 ^ i);
        const Bytes before = sector;
        writeSerialField(sector, c.offset, c.width, c.serial);
        EXPECT_EQ(Bytes(sector.begin() + c.offset, sector.begin() + c.offset + c.width), c.field);
        for (std::size_t i : test::differingOffsets(before, sector)) {
            EXPECT_GE(i, c.offset);
            EXPECT_LT(i, c.offset + c.width);
        }
    }
}

TEST(WriteExFatRegionSerial, RewritesTheSerialAndTheChecksumSectorOnly) {
    for (std::uint8_t shift : kShifts) {
        const std::size_t bps = std::size_t{1} << shift;
        SCOPED_TRACE(bps);
        const Bytes before = regionFor(shift);
        const BootSectorInfo info = detectBootSector(before);
        ASSERT_EQ(info.status, DetectStatus::Ok);
        ASSERT_EQ(info.bytesPerSector, bps);
        Bytes after = before;
        writeExfatRegionSerial(after, info, 0xCAFEF00D);

        EXPECT_TRUE(verifyExfatBootRegion(after, info.bytesPerSector));
        EXPECT_EQ(detectBootSector(after).serial, 0xCAFEF00Du);
        EXPECT_EQ(test::getLe(after, 11 * bps, 4), test::referenceChecksum(after, bps));
        std::set<std::size_t> expected = {100, 101, 102, 103};
        const std::uint32_t oldSum = static_cast<std::uint32_t>(test::getLe(before, 11 * bps, 4));
        const std::uint32_t newSum = static_cast<std::uint32_t>(test::getLe(after, 11 * bps, 4));
        ASSERT_NE(oldSum, newSum);
        for (std::size_t word = 0; word < bps / 4; ++word)
            for (unsigned byte = 0; byte < 4; ++byte)
                if (((oldSum ^ newSum) >> (8 * byte)) & 0xFF) expected.insert(11 * bps + word * 4 + byte);
        const std::vector<std::size_t> diff = test::differingOffsets(before, after);
        EXPECT_EQ(std::set<std::size_t>(diff.begin(), diff.end()), expected);
    }
}

TEST(WriteExFatRegionSerial, GivesEachRegionTheChecksumOfItsOwnContents) {
    // A backup region that differs from the main one (other flags, other boot code) keeps its own checksum.
    Bytes main = regionFor(9);
    Bytes backup = main;
    backup[300] ^= 0xFF;
    test::sealRegion(backup, 512);
    const BootSectorInfo info = detectBootSector(main);
    writeExfatRegionSerial(main, info, 0x01020304);
    writeExfatRegionSerial(backup, info, 0x01020304);
    EXPECT_TRUE(verifyExfatBootRegion(main, 512));
    EXPECT_TRUE(verifyExfatBootRegion(backup, 512));
    EXPECT_NE(test::getLe(main, 11 * 512, 4), test::getLe(backup, 11 * 512, 4));
}

}  // namespace
}  // namespace tlx
