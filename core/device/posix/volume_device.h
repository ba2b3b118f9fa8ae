#pragma once
// A block device or disk-image file opened for raw sector access, with an exclusive lock for writing.
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "device/posix/device_users.h"
#include "device/sector_device.h"
#include "platform/posix/unique_fd.h"

namespace tlx::posix {

class VolumeDevice final : public LockableDevice {
public:
    // Resolves driveSpec with devicePathFor. Null on failure with error set to a Windows code:
    // 2 nothing found, 5 a folder that is no mounted volume, 50 neither a block device nor a
    // regular file (or an unsupported sector size), 123 an unusable name, else the open's error.
    [[nodiscard]] static std::unique_ptr<VolumeDevice> open(const std::wstring& driveSpec, DeviceAccess access,
                                                            std::uint32_t& error);
    ~VolumeDevice() override;  // gives up the lease and the locks
    VolumeDevice(const VolumeDevice&) = delete;
    VolumeDevice& operator=(const VolumeDevice&) = delete;
    // Opens a path as it is, without resolving it. Without `tryDirect` the device starts in the
    // mode used where the file system refuses O_DIRECT.
    [[nodiscard]] static std::unique_ptr<VolumeDevice> openPath(const std::string& path, DeviceAccess access,
                                                                std::uint32_t& error, bool tryDirect = true);

    std::uint32_t sectorSize() const override { return sectorSize_; }
    std::uint64_t sectorCount() const override { return sectorCount_; }
    bool readSectors(std::uint64_t first, std::uint32_t count, void* destination) override;
    bool writeSectors(std::uint64_t first, std::uint32_t count, const void* source) override;
    std::uint32_t lastError() const override { return lastError_; }
    // 5 attempts 200 ms apart; fails with 170 while another user holds or uses the volume, at once
    // when another writer holds it. Held until the device is destroyed: an image keeps a write
    // lease, so every other open waits (or fails, when non-blocking) until then.
    bool lock() override;
    // Once the lock is held nothing else keeps the file system on the volume.
    bool dismount() override;
    // The refused lock found the volume mounted, and no other writer holds it.
    bool mountedInUse() const override { return mounted_ && writerLock_; }

    const std::string& path() const { return path_; }
    bool isBlockDevice() const { return blockDevice_; }
    bool directIo() const { return direct_; }  // false: page cache bypassed by flush and drop instead
    bool locked() const { return locked_; }
    std::uint64_t ioBufferSize() const { return ioBufferSize_; }
    unsigned bufferAllocations() const { return bufferAllocations_; }

private:
    struct FreeDeleter {
        void operator()(void* p) const { std::free(p); }
    };

    VolumeDevice() = default;
    bool ensureBuffer(std::uint64_t bytes);
    bool transfer(bool write, std::uint64_t first, std::uint32_t count);
    bool dropDirectIo();
    std::uint32_t tryLock();
    std::optional<bool> holdLease();
    void dropLease();

    UniqueFd fd_;
    UniqueFd exclusive_;  // the O_EXCL claim on a block device while locked
    std::string path_;
    bool blockDevice_ = false;
    FileIdentity identity_;  // what other users are matched by
    bool direct_ = false;
    std::uint32_t sectorSize_ = 0;
    std::uint64_t sectorCount_ = 0;
    std::uint32_t lastError_ = 0;
    bool locked_ = false;
    bool writerLock_ = false;   // an OFD write lock on fd_: writers that take it exclude each other
    bool otherWriter_ = false;  // that lock is held by someone else
    bool mounted_ = false;      // the last refusal found a mount of the volume
    bool lease_ = false;        // a write lease on the image file
    struct sigaction previousSigio_{};
    std::unique_ptr<void, FreeDeleter> ioBuffer_;
    std::uint64_t ioBufferSize_ = 0;
    unsigned bufferAllocations_ = 0;
};

}  // namespace tlx::posix
