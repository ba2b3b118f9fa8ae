// The in-memory and fault-injecting devices the planner and engine tests stand on.
#include "device/memory_device.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/fault_device.h"

namespace tlx {
namespace {

std::vector<std::uint8_t> numberedSectors(std::uint32_t sectorSize, unsigned count) {
    std::vector<std::uint8_t> bytes(std::size_t{sectorSize} * count);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i / sectorSize + 1);
    return bytes;
}

TEST(MemoryDevice, TransfersOnlyWholeSectorsInsideTheImage) {
    struct Case {
        std::uint64_t first;
        std::uint32_t count;
        bool ok;
    };
    const Case cases[] = {
        {0, 1, true},
        {7, 1, true},
        {0, 8, true},
        {8, 0, true},
        {7, 2, false},
        {8, 1, false},
        {0, 9, false},
        // Positions whose byte offset does not fit 64 bits must fail, not wrap around to the start.
        {1ull << 55, 1, false},
        {(1ull << 55) + 1, 1, false},
        {~0ull, 1, false},
        {~0ull / 512, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first " << c.first << " count " << c.count);
        MemoryDevice device(512, numberedSectors(512, 8));
        std::vector<std::uint8_t> buffer(std::size_t{c.count} * 512 + 1, 0xEE);
        EXPECT_EQ(device.readSectors(c.first, c.count, buffer.data()), c.ok);
        EXPECT_EQ(device.writeSectors(c.first, c.count, buffer.data()), c.ok);
        if (c.ok) {
            EXPECT_EQ(device.lastError(), 0u);
        } else {
            EXPECT_EQ(device.lastError(), 38u);
            EXPECT_EQ(device.bytes(), numberedSectors(512, 8));  // a refused write leaves the image alone
        }
        EXPECT_EQ(buffer.back(), 0xEE);  // never more than count sectors
    }
}

TEST(MemoryDevice, ReadsAndWritesTheAddressedSectors) {
    MemoryDevice device(4096, numberedSectors(4096, 4));
    std::vector<std::uint8_t> buffer(2 * 4096);
    ASSERT_TRUE(device.readSectors(1, 2, buffer.data()));
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(buffer[4096], 3);
    std::vector<std::uint8_t> ones(4096, 0x11);
    ASSERT_TRUE(device.writeSectors(3, 1, ones.data()));
    EXPECT_EQ(device.bytes()[3 * 4096], 0x11);
    EXPECT_EQ(device.bytes()[3 * 4096 - 1], 3);
    EXPECT_EQ(device.reads(), 1u);
    EXPECT_EQ(device.writes(), 1u);
    EXPECT_EQ(device.sectorCount(), 4u);
    device.setReportedCount(0);
    EXPECT_EQ(device.sectorCount(), 0u);
    device.setReportedCount(99);
    EXPECT_EQ(device.sectorCount(), 99u);
}

TEST(FaultDevice, FailsAndAltersOnlyTheChosenTransfers) {
    MemoryDevice inner(512, numberedSectors(512, 4));
    FaultDevice device(inner);
    device.failRead(2, 23);
    device.corruptRead(3);
    device.failWrite(1, 19);
    unsigned hookRanAtRead = 0;
    device.beforeRead(4, [&] {
        hookRanAtRead = device.reads();
        inner.bytes()[0] = 0x77;
    });

    std::vector<std::uint8_t> buffer(512);
    EXPECT_TRUE(device.readSectors(0, 1, buffer.data()));
    EXPECT_EQ(buffer[0], 1);
    EXPECT_FALSE(device.readSectors(0, 1, buffer.data()));
    EXPECT_EQ(device.lastError(), 23u);
    EXPECT_TRUE(device.readSectors(1, 1, buffer.data()));
    EXPECT_EQ(buffer[0], 2 ^ 0xFF);
    EXPECT_EQ(buffer[1], 2);
    EXPECT_TRUE(device.readSectors(0, 1, buffer.data()));
    EXPECT_EQ(hookRanAtRead, 4u);
    EXPECT_EQ(buffer[0], 0x77);
    EXPECT_EQ(device.lastError(), 23u);  // kept until the next failure

    const std::vector<std::uint8_t> zeros(512, 0);
    EXPECT_FALSE(device.writeSectors(2, 1, zeros.data()));
    EXPECT_EQ(device.lastError(), 19u);
    EXPECT_EQ(inner.bytes()[2 * 512], 3);
    EXPECT_TRUE(device.writeSectors(2, 1, zeros.data()));
    EXPECT_EQ(inner.bytes()[2 * 512], 0);
    // Failures of the inner device come through with its code.
    EXPECT_FALSE(device.readSectors(4, 1, buffer.data()));
    EXPECT_EQ(device.lastError(), 38u);
    EXPECT_EQ(device.reads(), 5u);
    EXPECT_EQ(device.writes(), 2u);
}

}  // namespace
}  // namespace tlx
