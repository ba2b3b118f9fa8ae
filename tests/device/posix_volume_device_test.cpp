// The POSIX volume device over real image files, loop devices and a second process.
#include "device/posix/volume_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <optional>
#include <sys/stat.h>

#include "device/posix/device_users.h"
#include "device/posix_fixtures.h"
#include "platform/text.h"

namespace tlx {
namespace {

using posix::VolumeDevice;
using testing::TempDir;

std::unique_ptr<VolumeDevice> openImage(const std::string& path, DeviceAccess access, std::uint32_t& error) {
    return VolumeDevice::open(fromUtf8(path), access, error);
}

class ImageDevice : public ::testing::Test {
protected:
    static constexpr std::uint64_t kSize = 40 * 512 + 100;  // a partial last sector is not addressable
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        image = dir / "volume.img";
        testing::writeFile(image, testing::patternBytes(kSize));
    }
    TempDir dir;
    std::string image;
};

TEST_F(ImageDevice, OpensWithSectorSizeAndCountOfTheFile) {
    std::uint32_t error = 99;
    auto device = openImage(image, DeviceAccess::Read, error);
    ASSERT_TRUE(device) << error;
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(device->sectorSize(), 512u);
    EXPECT_EQ(device->sectorCount(), 40u);
    EXPECT_FALSE(device->isBlockDevice());
    EXPECT_EQ(device->lastError(), 0u);
    EXPECT_EQ(device->ioBufferSize(), 0u);  // nothing allocated before the first transfer
}

TEST_F(ImageDevice, ReadsTheBytesOfTheFile) {
    std::uint32_t error = 0;
    auto device = openImage(image, DeviceAccess::Read, error);
    ASSERT_TRUE(device);
    struct Case { std::uint64_t first; std::uint32_t count; };
    for (const Case c : {Case{0, 1}, Case{5, 1}, Case{3, 8}, Case{39, 1}, Case{0, 40}}) {
        SCOPED_TRACE(std::to_string(c.first) + "+" + std::to_string(c.count));
        std::vector<std::uint8_t> got(c.count * 512u, 0);
        ASSERT_TRUE(device->readSectors(c.first, c.count, got.data())) << device->lastError();
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], testing::patternByte(c.first * 512 + i)) << "byte " << i;
    }
}

TEST_F(ImageDevice, WritesReachTheFileAndNothingElseChanges) {
    std::uint32_t error = 0;
    auto device = openImage(image, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(device) << error;
    std::vector<std::uint8_t> sectors(2 * 512, 0xA5);
    ASSERT_TRUE(device->writeSectors(7, 2, sectors.data())) << device->lastError();

    std::vector<std::uint8_t> expected = testing::patternBytes(kSize);
    std::fill(expected.begin() + 7 * 512, expected.begin() + 9 * 512, 0xA5);
    EXPECT_EQ(testing::readFile(image), expected);

    std::vector<std::uint8_t> back(2 * 512, 0);
    ASSERT_TRUE(device->readSectors(7, 2, back.data()));
    EXPECT_EQ(back, sectors);
}

TEST_F(ImageDevice, TransfersCrossingTheEndFailWithEndOfFile) {
    std::uint32_t error = 0;
    auto device = openImage(image, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(device);
    struct Case { std::uint64_t first; std::uint32_t count; };
    for (const Case c : {Case{39, 2}, Case{40, 1}, Case{1000, 1}, Case{0, 41}}) {
        SCOPED_TRACE(std::to_string(c.first) + "+" + std::to_string(c.count));
        std::vector<std::uint8_t> buffer(c.count * 512u, 0x5A);
        EXPECT_FALSE(device->readSectors(c.first, c.count, buffer.data()));
        EXPECT_EQ(device->lastError(), 38u);
        // A write past the end would grow the image instead of failing like a volume.
        EXPECT_FALSE(device->writeSectors(c.first, c.count, buffer.data()));
        EXPECT_EQ(device->lastError(), 38u);
    }
    EXPECT_EQ(testing::readFile(image), testing::patternBytes(kSize));
}

TEST_F(ImageDevice, TransfersAbove4GiBAreRefusedWithoutTouchingLastError) {
    std::uint32_t error = 0;
    auto device = openImage(image, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(device);
    std::uint8_t sector[512];
    ASSERT_FALSE(device->readSectors(40, 1, sector));  // leaves 38 behind
    ASSERT_EQ(device->lastError(), 38u);
    const std::uint64_t before = device->ioBufferSize();
    std::uint8_t dummy = 0;  // never touched: the refusal comes before any copy
    EXPECT_FALSE(device->readSectors(0, 8388608, &dummy));  // 8388608 * 512 = 4 GiB
    EXPECT_EQ(device->lastError(), 38u);
    EXPECT_FALSE(device->writeSectors(0, 8388608, &dummy));
    EXPECT_EQ(device->lastError(), 38u);
    EXPECT_EQ(device->ioBufferSize(), before);
}

TEST_F(ImageDevice, TransferBufferGrowsOnlyForLargerTransfers) {
    std::uint32_t error = 0;
    auto device = openImage(image, DeviceAccess::Read, error);
    ASSERT_TRUE(device);
    std::vector<std::uint8_t> buffer(8 * 512);
    struct Step { std::uint32_t count; std::uint64_t size; unsigned allocations; };
    for (const Step s : {Step{1, 512, 1}, Step{8, 4096, 2}, Step{1, 4096, 2}, Step{8, 4096, 2}}) {
        SCOPED_TRACE(s.count);
        ASSERT_TRUE(device->readSectors(0, s.count, buffer.data()));
        EXPECT_EQ(device->ioBufferSize(), s.size);
        EXPECT_EQ(device->bufferAllocations(), s.allocations);
    }
}

TEST_F(ImageDevice, WritingThroughADeviceOpenedForReadingIsDenied) {
    std::uint32_t error = 0;
    auto device = openImage(image, DeviceAccess::Read, error);
    ASSERT_TRUE(device);
    std::vector<std::uint8_t> sector(512, 0);
    EXPECT_FALSE(device->writeSectors(0, 1, sector.data()));
    EXPECT_EQ(device->lastError(), 5u);
    EXPECT_FALSE(device->lock());
    EXPECT_EQ(device->lastError(), 5u);
    EXPECT_EQ(testing::readFile(image), testing::patternBytes(kSize));
}

TEST_F(ImageDevice, RefusesWhatIsNoVolumeFile) {
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    mkdir((dir / "folder").c_str(), 0700);
    struct Case { std::string driveSpec; std::uint32_t error; };
    const std::vector<Case> cases = {
        {dir / "missing.img", 2},
        {dir / "folder", 5},  // a folder that is no mount point
        {dir / "fifo", 50},   // and opening it must not wait for a writer
        {"/dev/null", 50},
        {"", 123},
        {" \t", 123},
        {"UUID=0000-0000-no-such", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driveSpec);
        std::uint32_t error = 0;
        EXPECT_EQ(openImage(c.driveSpec, DeviceAccess::ReadWrite, error), nullptr);
        EXPECT_EQ(error, c.error);
    }
}

TEST_F(ImageDevice, AnEmptyFileOpensWithNoSectors) {
    testing::writeFile(dir / "empty.img", {});
    std::uint32_t error = 0;
    auto device = openImage(dir / "empty.img", DeviceAccess::Read, error);
    ASSERT_TRUE(device) << error;
    EXPECT_EQ(device->sectorCount(), 0u);
    std::uint8_t sector[512];
    EXPECT_FALSE(device->readSectors(0, 1, sector));
    EXPECT_EQ(device->lastError(), 38u);
}

TEST_F(ImageDevice, AnUnreadableFileIsDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "SKIP: root reads any file, so permissions cannot refuse it";
    ASSERT_EQ(chmod(image.c_str(), 0), 0);
    std::uint32_t error = 0;
    EXPECT_EQ(openImage(image, DeviceAccess::Read, error), nullptr);
    EXPECT_EQ(error, 5u);
}

TEST(PosixVolumeDevice, FallsBackFromDirectIoWhereTheFileSystemRefusesIt) {
    TempDir dir("/dev/shm");
    const std::string image = dir / "volume.img";
    testing::writeFile(image, testing::patternBytes(16 * 512));
    posix::UniqueFd probe(::open(image.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC));
    if (probe.valid()) GTEST_SKIP() << "SKIP: tmpfs accepts O_DIRECT on this kernel (Linux 6.6 and later)";
    std::uint32_t error = 0;
    auto device = VolumeDevice::open(fromUtf8(image), DeviceAccess::Read, error);
    ASSERT_TRUE(device) << error;
    EXPECT_FALSE(device->directIo());
}

TEST_F(ImageDevice, WithoutDirectIoReadsSeeWhatReachedTheFile) {
    std::uint32_t error = 0;
    auto device = VolumeDevice::openPath(image, DeviceAccess::ReadWrite, error, false);
    ASSERT_TRUE(device) << error;
    EXPECT_FALSE(device->directIo());
    std::vector<std::uint8_t> sector(512, 0x3C), back(512, 0);
    ASSERT_TRUE(device->writeSectors(2, 1, sector.data())) << device->lastError();
    ASSERT_TRUE(device->readSectors(2, 1, back.data())) << device->lastError();
    EXPECT_EQ(back, sector);
    EXPECT_EQ(testing::readFile(image)[2 * 512], 0x3C);
    // A change made behind the device's back is what the next read returns.
    posix::UniqueFd other(::open(image.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(other.valid());
    const std::vector<std::uint8_t> fresh(512, 0x7E);
    ASSERT_EQ(pwrite(other.get(), fresh.data(), fresh.size(), 2 * 512), 512);
    ASSERT_TRUE(device->readSectors(2, 1, back.data()));
    EXPECT_EQ(back, fresh);
}

TEST_F(ImageDevice, LockIsExclusiveAndEndsWithTheDevice) {
    std::uint32_t error = 0;
    auto first = openImage(image, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->dismount());  // not without the lock
    ASSERT_TRUE(first->lock()) << first->lastError();
    EXPECT_TRUE(first->locked());
    EXPECT_TRUE(first->dismount());

    // The lock keeps a lease: a non-blocking open by anyone else is refused as a sharing violation.
    EXPECT_FALSE(openImage(image, DeviceAccess::ReadWrite, error));
    EXPECT_EQ(error, 32u);
    EXPECT_FALSE(openImage(image, DeviceAccess::Read, error));
    EXPECT_EQ(error, 32u);

    first.reset();
    auto second = openImage(image, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(second) << error;
    EXPECT_TRUE(second->lock()) << second->lastError();
}

// An ordinary open by another writer waits while the lock is held, so it cannot write between
// the engine's check and its last write.
TEST_F(ImageDevice, AnotherOpenWaitsUntilTheLockEnds) {
    std::uint32_t error = 0;
    auto device = openImage(image, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->lock()) << device->lastError();
    std::atomic<bool> opened = false;
    std::thread writer([&] {
        posix::UniqueFd other(::open(image.c_str(), O_RDWR | O_CLOEXEC));
        opened = other.valid();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(opened);
    device.reset();
    writer.join();
    EXPECT_TRUE(opened);
}

// Two writers that both opened before either locked: the first to take the writer lock keeps it,
// the other gives up at once, and so does not keep the first one out for long.
TEST_F(ImageDevice, AWriterLockHeldByAnotherRefusesAtOnce) {
    std::uint32_t error = 0;
    auto first = openImage(image, DeviceAccess::ReadWrite, error);
    auto second = openImage(image, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(first->lock());  // the second has the image open
    EXPECT_EQ(first->lastError(), 170u);
    EXPECT_FALSE(first->mountedInUse());
    EXPECT_FALSE(second->lock());
    EXPECT_EQ(second->lastError(), 170u);
    EXPECT_FALSE(second->mountedInUse());
    second.reset();
    EXPECT_TRUE(first->lock()) << first->lastError();
}

TEST_F(ImageDevice, LockIsRefusedWhileAnotherDescriptorHasTheImageOpen) {
    std::uint32_t error = 0;
    auto device = openImage(image, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(device);
    {
        posix::UniqueFd reader(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(reader.valid());
        EXPECT_FALSE(device->lock());
        EXPECT_EQ(device->lastError(), 170u);
    }
    EXPECT_TRUE(device->lock()) << device->lastError();
}

TEST_F(ImageDevice, LockIsRefusedWhileAnotherProcessHasTheImageOpen) {
    std::uint32_t error = 0;
    auto device = openImage(image, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(device);
    {
        testing::OtherProcessHolding holder(image);
        ASSERT_TRUE(holder.holding());
        EXPECT_FALSE(device->lock());
        EXPECT_EQ(device->lastError(), 170u);
    }
    EXPECT_TRUE(device->lock()) << device->lastError();
}

// The lease answers where the kernel grants leases; the /proc walk answers everywhere else. Both
// must agree on who else has an image open.
TEST_F(ImageDevice, LeaseAndProcWalkAgreeOnOtherOpeners) {
    posix::UniqueFd own(::open(image.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(own.valid());
    const int ownFds[] = {own.get()};
    const std::optional<bool> alone = posix::fileOpenedElsewhere(own.get());
    ASSERT_TRUE(alone.has_value()) << "leases are unavailable here";
    EXPECT_FALSE(*alone);
    struct stat st{};
    ASSERT_EQ(fstat(own.get(), &st), 0);
    const posix::FileIdentity id = posix::identityOf(st);
    EXPECT_FALSE(posix::openedElsewhere(image, id, ownFds));
    {
        testing::OtherProcessHolding holder(image);
        ASSERT_TRUE(holder.holding());
        EXPECT_EQ(posix::fileOpenedElsewhere(own.get()), std::optional<bool>(true));
        EXPECT_TRUE(posix::openedElsewhere(image, id, ownFds));
    }
    EXPECT_EQ(posix::fileOpenedElsewhere(own.get()), std::optional<bool>(false));
}

// A mount whose source is another name of the image (a symbolic link, as a FUSE driver may be given)
// names the image; a tmpfs mount takes any text as its source, so the image itself stays closed.
TEST_F(ImageDevice, AMountNamingTheImageByAnotherNameNamesIt) {
    if (geteuid() != 0) GTEST_SKIP() << "SKIP: mounting needs root";
    const std::string link = dir / "link.img", other = dir / "other.img", point = dir / "point";
    ASSERT_EQ(symlink(image.c_str(), link.c_str()), 0);
    testing::writeFile(other, testing::patternBytes(512));
    ASSERT_TRUE(std::filesystem::create_directory(point));
    struct stat st{};
    ASSERT_EQ(stat(image.c_str(), &st), 0);
    const posix::FileIdentity id = posix::identityOf(st);
    EXPECT_FALSE(posix::namedByMount(image, id));
    for (const auto& [source, named] : {std::pair{link, true}, std::pair{other, false}}) {
        SCOPED_TRACE(source);
        ASSERT_TRUE(testing::run("mount -t tmpfs '" + source + "' '" + point + "'"));
        EXPECT_EQ(posix::namedByMount(image, id), named);
        ASSERT_TRUE(testing::run("umount '" + point + "'"));
    }
}

class LoopDeviceTest : public ImageDevice {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "SKIP: loop devices need root";
        if (!testing::hasTool("losetup")) GTEST_SKIP() << "SKIP: losetup is not installed";
        ImageDevice::SetUp();
        testing::writeFile(image, testing::patternBytes(64 * 4096));
    }
};

TEST_F(LoopDeviceTest, ReportsTheLogicalSectorSizeOfTheDevice) {
    for (const unsigned size : {512u, 4096u}) {
        SCOPED_TRACE(size);
        testing::LoopDevice loop(image, size);
        ASSERT_FALSE(loop.path().empty()) << "losetup failed";
        std::uint32_t error = 0;
        auto device = VolumeDevice::open(fromUtf8(loop.path()), DeviceAccess::Read, error);
        ASSERT_TRUE(device) << error;
        EXPECT_TRUE(device->isBlockDevice());
        EXPECT_EQ(device->sectorSize(), size);
        EXPECT_EQ(device->sectorCount(), 64u * 4096 / size);
        std::vector<std::uint8_t> sector(size);
        ASSERT_TRUE(device->readSectors(3, 1, sector.data())) << device->lastError();
        for (unsigned i = 0; i < size; ++i) ASSERT_EQ(sector[i], testing::patternByte(3ull * size + i));
        EXPECT_FALSE(device->readSectors(device->sectorCount(), 1, sector.data()));
        EXPECT_EQ(device->lastError(), 38u);
    }
}

TEST_F(LoopDeviceTest, LockingTheDeviceIsRefusedWhileItIsUsed) {
    testing::LoopDevice loop(image);
    ASSERT_FALSE(loop.path().empty()) << "losetup failed";
    std::uint32_t error = 0;
    {
        // The image itself is in use while a loop device is backed by it.
        auto file = openImage(image, DeviceAccess::ReadWrite, error);
        ASSERT_TRUE(file);
        EXPECT_FALSE(file->lock());
        EXPECT_EQ(file->lastError(), 170u);
    }
    auto device = VolumeDevice::open(fromUtf8(loop.path()), DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(device) << error;
    {
        testing::OtherProcessHolding holder(loop.path());
        ASSERT_TRUE(holder.holding());
        EXPECT_FALSE(device->lock());
        EXPECT_EQ(device->lastError(), 170u);
    }
    ASSERT_TRUE(device->lock()) << device->lastError();
    // While locked, the kernel refuses anyone else's exclusive claim.
    posix::UniqueFd other(::open(loop.path().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC));
    EXPECT_FALSE(other.valid());
    EXPECT_EQ(errno, EBUSY);
    device.reset();
    posix::UniqueFd after(::open(loop.path().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC));
    EXPECT_TRUE(after.valid());
}

// The same image reached by another name (a hard link) is the same volume: a second loop device on
// it, or a process holding it open, makes the first loop device and the image itself in use.
TEST_F(LoopDeviceTest, TheImageUnderAnotherNameCountsAsInUse) {
    const std::string alias = dir / "alias.img";
    ASSERT_EQ(link(image.c_str(), alias.c_str()), 0);
    testing::LoopDevice loop(image);
    ASSERT_FALSE(loop.path().empty()) << "losetup failed";
    std::uint32_t error = 0;
    auto device = VolumeDevice::open(fromUtf8(loop.path()), DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(device) << error;
    {
        testing::LoopDevice second(alias);
        ASSERT_FALSE(second.path().empty()) << "losetup failed";
        EXPECT_FALSE(device->lock());
        EXPECT_EQ(device->lastError(), 170u);
    }
    {
        testing::OtherProcessHolding holder(alias);
        ASSERT_TRUE(holder.holding());
        EXPECT_FALSE(device->lock());
        EXPECT_EQ(device->lastError(), 170u);
    }
    ASSERT_TRUE(device->lock()) << device->lastError();
    device.reset();
    // The image by the other name is backing the loop device.
    auto file = openImage(alias, DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(file) << error;
    EXPECT_FALSE(file->lock());
    EXPECT_EQ(file->lastError(), 170u);
}

TEST_F(LoopDeviceTest, AMountedDeviceCannotBeLocked) {
    if (!testing::hasTool("mkfs.ext4")) GTEST_SKIP() << "SKIP: mkfs.ext4 is not installed";
    testing::writeFile(image, std::vector<std::uint8_t>(4 << 20, 0));
    ASSERT_TRUE(testing::run("mkfs.ext4 -q -F '" + image + "'"));
    testing::LoopDevice loop(image);
    ASSERT_FALSE(loop.path().empty());
    const std::string folder = dir / "mnt";
    mkdir(folder.c_str(), 0700);
    if (!testing::run("mount -t ext4 " + loop.path() + " '" + folder + "'"))
        GTEST_SKIP() << "SKIP: the kernel refuses to mount ext4 here";
    std::uint32_t error = 0;
    {
        auto device = VolumeDevice::open(fromUtf8(folder), DeviceAccess::ReadWrite, error);  // the folder names its device
        ASSERT_TRUE(device) << error;
        EXPECT_EQ(device->path(), loop.path());
        EXPECT_FALSE(device->lock());
        EXPECT_EQ(device->lastError(), 170u);
    }
    ASSERT_TRUE(testing::run("umount '" + folder + "'"));
    auto device = VolumeDevice::open(fromUtf8(loop.path()), DeviceAccess::ReadWrite, error);
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->lock()) << device->lastError();
}

}  // namespace
}  // namespace tlx

namespace tlx {
namespace {

TEST_F(LoopDeviceTest, WithoutDirectIoAVerificationReadIsNotServedByThePageCache) {
    testing::LoopDevice loop(image);
    ASSERT_FALSE(loop.path().empty());
    std::uint32_t error = 0;
    auto device = VolumeDevice::openPath(loop.path(), DeviceAccess::ReadWrite, error, false);
    ASSERT_TRUE(device) << error;
    ASSERT_FALSE(device->directIo());
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(device->readSectors(3, 1, sector.data()));  // now in the device's page cache

    // Change the sector underneath the loop device, where its cache cannot see it.
    posix::UniqueFd file(::open(image.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(file.valid());
    const std::vector<std::uint8_t> fresh(512, 0xE7);
    ASSERT_EQ(pwrite(file.get(), fresh.data(), fresh.size(), 3 * 512), 512);
    ASSERT_EQ(fsync(file.get()), 0);

    posix::UniqueFd cached(::open(loop.path().c_str(), O_RDONLY | O_CLOEXEC));
    std::vector<std::uint8_t> stale(512);
    ASSERT_EQ(pread(cached.get(), stale.data(), stale.size(), 3 * 512), 512);
    if (stale == fresh) GTEST_SKIP() << "SKIP: this kernel does not cache the loop device's sectors";

    ASSERT_TRUE(device->readSectors(3, 1, sector.data())) << device->lastError();
    EXPECT_EQ(sector, fresh);
}

}  // namespace
}  // namespace tlx

namespace tlx {
namespace {

// fusefat keeps the device open without claiming it and names itself, not the device, as the source.
TEST_F(LoopDeviceTest, AFuseMountedFatVolumeCannotBeLocked) {
    if (!testing::hasTool("fusefat") || !testing::hasTool("mkfs.fat")) GTEST_SKIP() << "SKIP: fusefat or mkfs.fat is missing";
    std::remove(image.c_str());
    ASSERT_TRUE(testing::run("mkfs.fat -C -F 32 '" + image + "' 65536"));
    const std::string folder = dir / "fat";
    mkdir(folder.c_str(), 0700);
    std::optional<testing::LoopDevice> loop;
    loop.emplace(image);
    ASSERT_FALSE(loop->path().empty());
    // First the loop device under the mount, then the image itself with no loop device left.
    for (const bool overLoop : {true, false}) {
        const std::string source = overLoop ? loop->path() : image;
        SCOPED_TRACE(source);
        std::uint32_t error = 0;
        auto device = VolumeDevice::open(fromUtf8(source), DeviceAccess::ReadWrite, error);
        ASSERT_TRUE(device) << error;
        if (!testing::run("fusefat -o rw+ '" + source + "' '" + folder + "'"))
            GTEST_SKIP() << "SKIP: FUSE mounts are not possible here";
        const bool locked = device->lock();
        const std::uint32_t lockError = device->lastError();
        testing::run("umount '" + folder + "'");
        EXPECT_FALSE(locked);
        EXPECT_EQ(lockError, 170u);
        device.reset();
        loop.reset();
    }
}

}  // namespace
}  // namespace tlx
