#include "platform/posix/errors.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/unique_fd.h"

namespace tlx::posix {

std::uint32_t windowsError(int errnoValue) {
    switch (errnoValue) {
    case 0: return 0;
    case EPERM:
    case EACCES: return 5;      // ERROR_ACCESS_DENIED
    case ENOENT: return 2;      // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return 3;     // ERROR_PATH_NOT_FOUND
    case EEXIST: return 80;     // ERROR_FILE_EXISTS
    case ENOSPC: return 112;    // ERROR_DISK_FULL
    case EROFS: return 19;      // ERROR_WRITE_PROTECT
    case EBUSY: return 170;     // ERROR_BUSY
    case EINVAL: return 87;     // ERROR_INVALID_PARAMETER
    case EIO: return 1117;      // ERROR_IO_DEVICE
    case ENXIO:
    case ENODEV: return 21;     // ERROR_NOT_READY
    case EISDIR: return 5;      // a folder cannot be opened as a file: access denied, as on Windows
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOMEM: return 8;      // ERROR_NOT_ENOUGH_MEMORY
    case EMFILE:
    case ENFILE: return 4;      // ERROR_TOO_MANY_OPEN_FILES
    case EAGAIN: return 33;     // ERROR_LOCK_VIOLATION (a held lock)
    case EOPNOTSUPP: return 50; // ERROR_NOT_SUPPORTED
    case ENOTEMPTY: return 145; // ERROR_DIR_NOT_EMPTY
    case EXDEV: return 17;      // ERROR_NOT_SAME_DEVICE
    case EFBIG: return 223;     // ERROR_FILE_TOO_LARGE
    case EPIPE: return 109;     // ERROR_BROKEN_PIPE
    default: return 31;         // ERROR_GEN_FAILURE
    }
}

std::uint32_t lastWindowsError() {
    return windowsError(errno);
}

std::uint32_t notAFileError(mode_t mode) {
    if (S_ISREG(mode)) return 0;
    if (S_ISLNK(mode)) return kErrorFoundSymbolicLink;
    if (S_ISFIFO(mode)) return kErrorFoundFifo;
    if (S_ISDIR(mode)) return kErrorFoundFolder;
    if (S_ISSOCK(mode)) return kErrorFoundSocket;
    return kErrorFoundDevice;
}

std::uint32_t whatStandsAt(const std::string& path, std::uint32_t fallback) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return fallback;
    const std::uint32_t kind = notAFileError(info.st_mode);
    return kind != 0 ? kind : fallback;
}

std::uint32_t writeRefusal(const std::string& path, std::uint32_t fallback) {
    // The flags can be read through a read-only descriptor, which the attributes do not forbid.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    int flags = 0;
    if (!fd.valid() || ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) return fallback;
    if (flags & FS_IMMUTABLE_FL) return kErrorFileImmutable;
    if (flags & FS_APPEND_FL) return kErrorFileAppendOnly;
    return fallback;
}

}  // namespace tlx::posix
