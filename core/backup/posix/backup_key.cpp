// Keys that stay with a volume on Linux: a loop device's backing file, udev's stable names of a disk.
#include "backup/backup_key.h"

#include <algorithm>
#include <fcntl.h>
#include <linux/loop.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

#include "device/posix/mount_table.h"
#include "platform/files.h"
#include "platform/posix/unique_fd.h"
#include "platform/text.h"

namespace tlx {

namespace {

// The file behind a whole loop device, when the name the kernel reports still leads to that very file
// (a renamed or deleted one no longer does).
std::optional<std::string> loopBackingFile(const std::string& device, dev_t rdev) {
    const std::string sys = "/sys/dev/block/" + std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev));
    const std::optional<std::string> name = posix::readFirstLine(sys + "/loop/backing_file");
    if (!name || name->empty() || name->front() != '/')
        return std::nullopt;
    posix::UniqueFd fd(::open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    loop_info64 info{};
    struct stat file {};
    if (!fd.valid() || ::ioctl(fd.get(), LOOP_GET_STATUS64, &info) != 0 || ::stat(name->c_str(), &file) != 0)
        return std::nullopt;
    if (static_cast<std::uint64_t>(file.st_dev) != info.lo_device || file.st_ino != info.lo_inode)
        return std::nullopt;
    return name;
}

// The first link, in name order, of one of udev's folders that leads to the device.
std::optional<std::string> udevName(const std::string& folder, dev_t rdev) {
    std::vector<std::wstring> names = listFolder(fromSystemBytes(folder));
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
        const std::string link = folder + "/" + toUtf8(name);
        struct stat target {};
        if (::stat(link.c_str(), &target) == 0 && S_ISBLK(target.st_mode) && target.st_rdev == rdev)
            return link;
    }
    return std::nullopt;
}

}  // namespace

std::wstring backupKeyFor(const std::wstring& volume) {
    return backupKeyFor(volume, "/dev/disk");
}

std::wstring backupKeyFor(const std::wstring& volume, const std::string& diskLinks) {
    const std::string path = toUtf8(volume);
    struct stat device {};
    if (path.empty() || path.front() != '/' || ::stat(path.c_str(), &device) != 0 || !S_ISBLK(device.st_mode))
        return volume;
    if (const auto backing = loopBackingFile(path, device.st_rdev))
        return fromSystemBytes(*backing);
    for (const char* kind : {"/by-id", "/by-partuuid", "/by-path"})
        if (const auto name = udevName(diskLinks + kind, device.st_rdev))
            return fromSystemBytes(*name);
    return volume;
}

}  // namespace tlx
