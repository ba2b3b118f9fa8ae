// Finding other users of a device through /proc and /sys, without any helper program.
#include "device/posix/device_users.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "device/posix/mount_table.h"

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

bool sameBlockDevice(const std::string& node, dev_t rdev) {
    struct stat st{};
    return stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == rdev;
}

}  // namespace

bool openedElsewhere(const std::string& path, bool blockDevice, dev_t rdev, std::span<const int> ownFds) {
    UniqueDir proc(opendir("/proc"));
    if (!proc) return false;
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
            const std::string target = linkTarget(fdFolder + "/" + fd->d_name, denied);
            // One refused descriptor means the whole table is hidden from us: skip the rest of it.
            if (denied) break;
            if (target == path) return true;
            // Only device nodes are stat'ed: a stat of a file on a stuck FUSE mount could hang.
            if (blockDevice && target.starts_with("/dev/") && sameBlockDevice(target, rdev)) return true;
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

bool namedByMount(const std::string& path, bool blockDevice, dev_t rdev) {
    struct stat own{};
    const bool known = stat(path.c_str(), &own) == 0;
    for (const MountEntry& m : readMountTable()) {
        if (blockDevice && m.major == major(rdev) && m.minor == minor(rdev)) return true;
        if (m.source == path) return true;
        if (!known || !m.source.starts_with("/")) continue;
        // Another name of the same file or device (a symbolic link, another node): one stat, where
        // resolving the name would read every link on its way.
        struct stat source{};
        if (stat(m.source.c_str(), &source) != 0) continue;
        if (source.st_dev == own.st_dev && source.st_ino == own.st_ino) return true;
        if (blockDevice && S_ISBLK(source.st_mode) && source.st_rdev == rdev) return true;
    }
    return false;
}

namespace {

// Counts the loop devices backed by the file at `path`. Only loop devices with a size are looked
// at: /proc/partitions leaves out the unbacked ones (most of them), so the cost follows the loop
// devices in use, not all that exist, and a device with no sectors cannot write anything anyway.
int loopDevicesBackedBy(const std::string& path) {
    const std::optional<std::string> partitions = readSmallFile("/proc/partitions");
    if (!partitions) return 0;
    int count = 0;
    for (const std::string& name : loopDevicesIn(*partitions)) {
        const auto backing = readFirstLine("/sys/block/" + name + "/loop/backing_file");
        if (backing && *backing == path) ++count;
    }
    return count;
}

}  // namespace

bool backsLoopDevice(const std::string& path) {
    return loopDevicesBackedBy(path) > 0;
}

bool loopBackingInUse(dev_t rdev) {
    const std::string device = "/sys/dev/block/" + std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev));
    // A partition of a loop device has its loop attributes on the whole device, one folder up.
    std::optional<std::string> backing = readFirstLine(device + "/loop/backing_file");
    if (!backing) backing = readFirstLine(device + "/../loop/backing_file");
    if (!backing || backing->empty()) return false;
    return loopDevicesBackedBy(*backing) > 1 || namedByMount(*backing, false, 0) ||
           openedElsewhere(*backing, false, 0, {});
}

}  // namespace tlx::posix
