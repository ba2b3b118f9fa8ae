// Raw sector access to block devices and image files on POSIX.
#include "device/posix/volume_device.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "device/device_path.h"
#include "device/posix/device_users.h"
#include "platform/posix/errors.h"
#include "platform/text.h"

namespace tlx::posix {

namespace {

constexpr std::uint32_t kInUse = 170;
constexpr std::uint32_t kEndOfFile = 38;
constexpr std::uint32_t kNotSupported = 50;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kSharingViolation = 32;
constexpr std::uint32_t kWriteProtect = 19;
constexpr std::uint64_t kLargestTransfer = 4294967295ull;
// Below the kernel's per-call limit (0x7ffff000) and a multiple of every sector size.
constexpr std::uint64_t kChunk = 1ull << 30;

bool validSectorSize(std::uint32_t size) {
    return size >= 512 && size <= 4096 && (size & (size - 1)) == 0;
}

std::wstring trimmed(const std::wstring& text) {
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// Only block devices and regular files hold volumes; a folder is refused as Windows refuses it.
std::uint32_t kindRefusal(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return kAccessDenied;
    if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) return kNotSupported;
    return 0;
}

// Why a drive text gave no device path, as precisely as the file system can tell.
std::uint32_t refusalFor(const std::wstring& driveSpec) {
    const std::wstring text = trimmed(driveSpec);
    if (text.empty()) return 123;
    if (text.starts_with(L"UUID=") || text.starts_with(L"LABEL=") || text.starts_with(L"PARTUUID=")) return 2;
    struct stat st{};
    if (stat(toUtf8(text).c_str(), &st) != 0) return lastWindowsError();
    const std::uint32_t refusal = kindRefusal(st);
    return refusal != 0 ? refusal : 123;
}

// Opens for writing only the very file the path named when it was resolved. The path is canonical,
// so no part of it may be a symbolic link now: one put there since (the image swapped for a link
// to a disk while the question waited) would send the writes to a volume nobody confirmed.
int openResolved(const std::string& path, int flags, DeviceAccess access) {
    if (access != DeviceAccess::ReadWrite) return ::open(path.c_str(), flags);
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
    // Kernels before 5.6 (or a filter that refuses the call): at least the last part must be no link.
    return ::open(path.c_str(), flags | O_NOFOLLOW);
}

}  // namespace

std::unique_ptr<VolumeDevice> VolumeDevice::open(const std::wstring& driveSpec, DeviceAccess access,
                                                 std::uint32_t& error) {
    error = 0;
    const std::optional<std::wstring> path = devicePathFor(driveSpec);
    if (!path) {
        error = refusalFor(driveSpec);
        return nullptr;
    }
    return openPath(toUtf8(*path), access, error);
}

std::unique_ptr<VolumeDevice> VolumeDevice::openPath(const std::string& path, DeviceAccess access,
                                                     std::uint32_t& error, bool tryDirect) {
    error = 0;
    // Checked before opening: opening a FIFO or a terminal has effects of its own.
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) {
        error = lastWindowsError();
        return nullptr;
    }
    if ((error = kindRefusal(st)) != 0)
        return nullptr;

    const int mode = (access == DeviceAccess::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_DSYNC;
    bool direct = tryDirect;
    UniqueFd fd(openResolved(path, direct ? mode | O_DIRECT : mode, access));
    if (!fd.valid() && direct && errno == EINVAL) {
        // tmpfs and some FUSE file systems refuse O_DIRECT; reads are then made cache-proof.
        direct = false;
        fd.reset(openResolved(path, mode, access));
    }
    if (!fd.valid()) {
        const bool refused = errno == EPERM && access == DeviceAccess::ReadWrite;
        // A non-blocking open is refused while another process holds a lease on the file: another
        // writer is between its check and its last write.
        error = errno == EWOULDBLOCK ? kSharingViolation : errno == ELOOP ? kErrorLinkInPath : lastWindowsError();
        // Root may write anything but a file marked immutable or append-only; say which.
        if (refused) error = writeRefusal(path, error);
        return nullptr;
    }
    if (fstat(fd.get(), &st) != 0) {
        error = lastWindowsError();
        return nullptr;
    }
    if ((error = kindRefusal(st)) != 0)
        return nullptr;
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = lastWindowsError();
        return nullptr;
    }

    std::uint32_t sectorSize = 512;
    std::uint64_t length = static_cast<std::uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode)) {
        int logical = 0;
        if (ioctl(fd.get(), BLKSSZGET, &logical) != 0) {
            error = lastWindowsError();
            return nullptr;
        }
        sectorSize = logical > 0 ? static_cast<std::uint32_t>(logical) : 0;
        std::uint64_t bytes = 0;
        length = ioctl(fd.get(), BLKGETSIZE64, &bytes) == 0 ? bytes : 0;
        // A read-only device opens for writing and then refuses every write, the write-back too.
        int readOnly = 0;
        if (access == DeviceAccess::ReadWrite && ioctl(fd.get(), BLKROGET, &readOnly) == 0 && readOnly != 0) {
            error = kWriteProtect;
            return nullptr;
        }
    }
    if (!validSectorSize(sectorSize)) {
        error = kNotSupported;
        return nullptr;
    }

    std::unique_ptr<VolumeDevice> device(new VolumeDevice());
    device->fd_ = std::move(fd);
    device->path_ = path;
    device->blockDevice_ = S_ISBLK(st.st_mode);
    device->identity_ = identityOf(st);
    device->direct_ = direct;
    device->sectorSize_ = sectorSize;
    device->sectorCount_ = length / sectorSize;
    return device;
}

bool VolumeDevice::ensureBuffer(std::uint64_t bytes) {
    if (ioBufferSize_ >= bytes) return true;
    ioBuffer_.reset();
    ioBufferSize_ = 0;
    const long page = sysconf(_SC_PAGESIZE);
    const std::size_t alignment = page >= static_cast<long>(sectorSize_) ? static_cast<std::size_t>(page) : sectorSize_;
    void* memory = nullptr;
    const int result = posix_memalign(&memory, alignment, static_cast<std::size_t>(bytes));
    if (result != 0) {
        lastError_ = windowsError(result);
        return false;
    }
    ioBuffer_.reset(memory);
    ioBufferSize_ = bytes;
    ++bufferAllocations_;
    return true;
}

bool VolumeDevice::dropDirectIo() {
    const int flags = fcntl(fd_.get(), F_GETFL);
    if (flags < 0 || fcntl(fd_.get(), F_SETFL, flags & ~O_DIRECT) != 0) return false;
    direct_ = false;
    return true;
}

// Moves count sectors between the device and the transfer buffer.
bool VolumeDevice::transfer(bool write, std::uint64_t first, std::uint32_t count) {
    const std::uint64_t bytes = std::uint64_t{count} * sectorSize_;
    if (first > (static_cast<std::uint64_t>(INT64_MAX) - bytes) / sectorSize_) {
        lastError_ = 87;
        return false;
    }
    const std::uint64_t offset = first * sectorSize_;
    auto* buffer = static_cast<unsigned char*>(ioBuffer_.get());
    std::uint64_t done = 0;
    while (done < bytes) {
        const std::uint64_t chunk = std::min(bytes - done, kChunk);
        const off_t at = static_cast<off_t>(offset + done);
        if (!write && !direct_) {
            // Whatever the page cache holds must not answer a verification read.
            if (fdatasync(fd_.get()) != 0 && errno != EINVAL && errno != EROFS) {
                lastError_ = lastWindowsError();
                return false;
            }
            // The kernel keeps partial pages at the ends of the range, so drop whole pages around it.
            const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
            const std::uint64_t from = (offset + done) / page * page;
            const std::uint64_t to = (offset + done + chunk + page - 1) / page * page;
            posix_fadvise(fd_.get(), static_cast<off_t>(from), static_cast<off_t>(to - from), POSIX_FADV_DONTNEED);
        }
        const ssize_t n = write ? pwrite(fd_.get(), buffer + done, chunk, at) : pread(fd_.get(), buffer + done, chunk, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            // Files on a disk with larger sectors refuse 512-byte direct transfers; go through the cache.
            if (errno == EINVAL && direct_ && !blockDevice_ && dropDirectIo()) continue;
            // Writing through a device opened for reading is refused as on Windows.
            lastError_ = (write && errno == EBADF) ? kAccessDenied : lastWindowsError();
            return false;
        }
        done += static_cast<std::uint64_t>(n);
        if (static_cast<std::uint64_t>(n) < chunk) break;
    }
    if (done < bytes) {
        lastError_ = kEndOfFile;
        return false;
    }
    return true;
}

bool VolumeDevice::readSectors(std::uint64_t first, std::uint32_t count, void* destination) {
    const std::uint64_t bytes = std::uint64_t{count} * sectorSize_;
    if (bytes > kLargestTransfer) return false;
    if (bytes == 0) return true;
    if (!ensureBuffer(bytes)) return false;
    if (!transfer(false, first, count)) return false;
    std::memcpy(destination, ioBuffer_.get(), static_cast<std::size_t>(bytes));
    return true;
}

bool VolumeDevice::writeSectors(std::uint64_t first, std::uint32_t count, const void* source) {
    const std::uint64_t bytes = std::uint64_t{count} * sectorSize_;
    if (bytes > kLargestTransfer) return false;
    if (bytes == 0) return true;
    // An image file would silently grow; a volume ends where it ends.
    if ((!blockDevice_ || sectorCount_ != 0) && (first >= sectorCount_ || count > sectorCount_ - first)) {
        lastError_ = kEndOfFile;
        return false;
    }
    if (!ensureBuffer(bytes)) return false;
    std::memcpy(ioBuffer_.get(), source, static_cast<std::size_t>(bytes));
    return transfer(true, first, count);
}

VolumeDevice::~VolumeDevice() {
    // Closing gives up the writer lock before the lease: a writer that waited for the lease and
    // then takes a lock of its own (ntfslabel does) must find the file free.
    fd_.reset();
    if (lease_) sigaction(SIGIO, &previousSigio_, nullptr);
}

// Takes a write lease and keeps it. The kernel grants it only to the file's sole opener, and while
// it is held every other open waits for it. True when held, false when someone else has the file
// open, absent where leases are unavailable (file system, ownership).
std::optional<bool> VolumeDevice::holdLease() {
    // Another open raises SIGIO at the holder, whose default ends the process; the opener simply
    // waits until the lease is given up, so the signal is ignored while it is held.
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction previous{};
    if (sigaction(SIGIO, &ignore, &previous) != 0) return std::nullopt;
    if (fcntl(fd_.get(), F_SETLEASE, F_WRLCK) == 0) {
        previousSigio_ = previous;
        lease_ = true;
        return true;
    }
    const int error = errno;
    sigaction(SIGIO, &previous, nullptr);
    if (error == EAGAIN || error == EBUSY) return false;
    return std::nullopt;
}

void VolumeDevice::dropLease() {
    if (!lease_) return;
    fcntl(fd_.get(), F_SETLEASE, F_UNLCK);
    sigaction(SIGIO, &previousSigio_, nullptr);
    lease_ = false;
}

std::uint32_t VolumeDevice::tryLock() {
    // Writers that take this lock (other qorin processes) exclude each other through it alone;
    // it stays until the device is destroyed, also when the volume ends up written in place.
    if (!writerLock_) {
        struct flock whole{};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (fcntl(fd_.get(), F_OFD_SETLK, &whole) != 0) {
            if (errno == EAGAIN || errno == EACCES) {
                otherWriter_ = true;
                return kInUse;
            }
            if (errno == EBADF) return kAccessDenied;  // opened for reading only
            return lastWindowsError();
        }
        writerLock_ = true;
    }
    mounted_ = namedByMount(path_, identity_);
    if (mounted_) return kInUse;
    if (blockDevice_) {
        // The kernel refuses an exclusive open while the device is mounted or claimed.
        UniqueFd claim(::open(path_.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC | O_NONBLOCK));
        if (!claim.valid()) return lastWindowsError();
        const int ours[] = {fd_.get(), claim.get()};
        // A FUSE mount holds the device open without claiming it; a loop device is only as free
        // as the file behind it.
        if (openedElsewhere(path_, identity_, ours) || loopBackingInUse(fd_.get())) return kInUse;
        exclusive_ = std::move(claim);
        return 0;
    }
    const std::optional<bool> lease = holdLease();
    if (lease == false) return kInUse;
    if (!lease) {
        // Without a lease nothing can be held against other openers; the engine's reading of
        // each region right before its write is then the only guard.
        const int own[] = {fd_.get()};
        if (openedElsewhere(path_, identity_, own)) return kInUse;
    }
    if (backsLoopDevice(identity_)) {
        dropLease();
        return kInUse;
    }
    return 0;
}

bool VolumeDevice::lock() {
    if (locked_) return true;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::uint32_t error = tryLock();
        if (error == 0) {
            locked_ = true;
            return true;
        }
        lastError_ = error;
        // Another writer keeps its lock until it has finished; waiting here would only keep
        // this handle open and so keep it from finishing.
        if (otherWriter_) return false;
    }
    return false;
}

bool VolumeDevice::dismount() {
    if (locked_) return true;
    lastError_ = kInUse;
    return false;
}

}  // namespace tlx::posix
