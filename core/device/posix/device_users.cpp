// Finding other users of a device through /proc and /sys, without any helper program.
#include "device/posix/device_users.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#include "device/posix/mount_table.h"
#include "platform/posix/unique_fd.h"

namespace tlx::posix {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

bool isNumber(const char* name) {
    if (*name == '\0') return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9') return false;
    return true;
}

// Empty when the link cannot be read; denied is set when the process hides its descriptors.
std::string linkTarget(const std::string& link, bool& denied) {
    char buffer[4096];
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0) {
        denied = n < 0 && errno == EACCES;
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(n));
}

// Mount points of FUSE file systems other than the one holding `id`: a stat of a file there asks
// the FUSE daemon, and a stuck daemon would hang the check.
std::vector<std::string> foreignFuseMounts(const FileIdentity& id) {
    std::vector<std::string> points;
    for (const MountEntry& m : readMountTable()) {
        const bool fuse = m.fsType == "fuse" || m.fsType == "fuseblk" || m.fsType.starts_with("fuse.");
        const bool ours = !id.blockDevice && m.major == major(id.dev) && m.minor == minor(id.dev);
        if (fuse && !ours) points.push_back(m.mountPoint);
    }
    return points;
}

bool under(const std::vector<std::string>& points, const std::string& target) {
    for (const std::string& point : points) {
        if (point == "/" || target == point) return true;
        if (target.size() > point.size() && target.starts_with(point) && target[point.size()] == '/') return true;
    }
    return false;
}

}  // namespace

FileIdentity identityOf(const struct stat& st) {
    FileIdentity id;
    id.blockDevice = S_ISBLK(st.st_mode);
    id.rdev = st.st_rdev;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    return id;
}

bool sameIdentity(const FileIdentity& id, const struct stat& st) {
    if (id.blockDevice) return S_ISBLK(st.st_mode) && st.st_rdev == id.rdev;
    return !S_ISBLK(st.st_mode) && st.st_dev == id.dev && st.st_ino == id.ino;
}

bool openedElsewhere(const std::string& path, const FileIdentity& id, std::span<const int> ownFds) {
    UniqueDir proc(opendir("/proc"));
    if (!proc) return false;
    const std::vector<std::string> unsafe = foreignFuseMounts(id);
    const std::string self = std::to_string(getpid());
    while (const dirent* process = readdir(proc.get())) {
        if (!isNumber(process->d_name)) continue;
        const bool ours = self == process->d_name;
        const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd";
        UniqueDir fds(opendir(fdFolder.c_str()));
        if (!fds) continue;
        while (const dirent* fd = readdir(fds.get())) {
            if (!isNumber(fd->d_name)) continue;
            if (ours && std::find(ownFds.begin(), ownFds.end(), std::atoi(fd->d_name)) != ownFds.end()) continue;
            bool denied = false;
            const std::string link = fdFolder + "/" + fd->d_name;
            const std::string target = linkTarget(link, denied);
            // One refused descriptor means the whole table is hidden from us: skip the rest of it.
            if (denied) break;
            if (!path.empty() && target == path) return true;
            // Pipes, sockets and anonymous files have no path; files on another FUSE mount are not
            // looked at, since a stat there could hang.
            if (!target.starts_with("/") || under(unsafe, target)) continue;
            // The link leads to the open file itself, whatever name it was opened by.
            struct stat st{};
            if (stat(link.c_str(), &st) == 0 && sameIdentity(id, st)) return true;
        }
    }
    return false;
}

std::optional<bool> fileOpenedElsewhere(int fd) {
    // A lease break in the instant the lease is held would raise SIGIO, whose default ends the
    // process; nothing has been written yet at this point, but it is ignored for that instant.
    struct sigaction ignore{}, previous{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGIO, &ignore, &previous) != 0) return std::nullopt;
    std::optional<bool> answer;
    if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        fcntl(fd, F_SETLEASE, F_UNLCK);
        answer = false;
    } else if (errno == EAGAIN || errno == EBUSY) {
        answer = true;
    }
    sigaction(SIGIO, &previous, nullptr);
    return answer;
}

bool namedByMount(const std::string& path, const FileIdentity& id) {
    for (const MountEntry& m : readMountTable()) {
        if (id.blockDevice && m.major == major(id.rdev) && m.minor == minor(id.rdev)) return true;
        if (!path.empty() && m.source == path) return true;
        if (!m.source.starts_with("/")) continue;
        // Another name of the same file or device (a symbolic link, a hard link, a bind mount,
        // another node): one stat, where resolving the name would read every link on its way.
        struct stat source{};
        if (stat(m.source.c_str(), &source) == 0 && sameIdentity(id, source)) return true;
    }
    return false;
}

namespace {

// The file behind an open loop device, as the kernel holds it; absent for a device that is no
// loop device or has no file.
std::optional<FileIdentity> loopBacking(int fd) {
    loop_info64 info{};
    if (ioctl(fd, LOOP_GET_STATUS64, &info) != 0) return std::nullopt;
    FileIdentity id;
    id.dev = static_cast<dev_t>(info.lo_device);
    id.ino = static_cast<ino_t>(info.lo_inode);
    return id;
}

// Counts the loop devices backed by `file`. Only loop devices with a size are looked at:
// /proc/partitions leaves out the unbacked ones (most of them), so the cost follows the loop
// devices in use, not all that exist, and a device with no sectors cannot write anything anyway.
int loopDevicesBackedBy(const FileIdentity& file) {
    const std::optional<std::string> partitions = readSmallFile("/proc/partitions");
    if (!partitions) return 0;
    int count = 0;
    for (const std::string& name : loopDevicesIn(*partitions)) {
        UniqueFd device(::open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!device.valid()) continue;
        const std::optional<FileIdentity> backing = loopBacking(device.get());
        if (backing && backing->dev == file.dev && backing->ino == file.ino) ++count;
    }
    return count;
}

}  // namespace

bool backsLoopDevice(const FileIdentity& file) {
    return loopDevicesBackedBy(file) > 0;
}

bool loopBackingInUse(int fd) {
    // The loop ioctls answer on a partition of a loop device as on the whole device.
    const std::optional<FileIdentity> backing = loopBacking(fd);
    if (!backing) return false;
    struct stat st{};
    if (fstat(fd, &st) != 0) return false;
    const std::string device = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    // The name is only a shortcut for the searches below; the identity decides.
    std::optional<std::string> name = readFirstLine(device + "/loop/backing_file");
    if (!name) name = readFirstLine(device + "/../loop/backing_file");
    const std::string path = name.value_or(std::string());
    return loopDevicesBackedBy(*backing) > 1 || namedByMount(path, *backing) || openedElsewhere(path, *backing, {});
}

}  // namespace tlx::posix
