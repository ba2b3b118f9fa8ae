// The volumes of this machine from /sys/class/block, libblkid and the mount table.
#include <algorithm>
#include <charconv>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "catalog/posix/probe_fields.h"
#include "catalog/posix/visibility.h"
#include "catalog/resolve.h"
#include "catalog/volume_info.h"
#include "device/device_path.h"
#include "device/posix/mount_table.h"
#include "platform/text.h"

namespace tlx {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

bool exists(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    UniqueDir dir(opendir(folder.c_str()));
    if (!dir) return names;
    while (const dirent* e = readdir(dir.get()))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    std::sort(names.begin(), names.end());
    return names;
}

std::uint64_t numberIn(const std::string& path) {
    const auto line = posix::readFirstLine(path);
    std::uint64_t value = 0;
    if (!line || std::from_chars(line->data(), line->data() + line->size(), value).ec != std::errc()) return 0;
    return value;
}

bool hasPartitions(const std::string& base, const std::string& name) {
    for (const std::string& entry : entriesOf(base))
        if (entry.starts_with(name) && exists(base + "/" + entry + "/partition")) return true;
    return false;
}

DriveType driveTypeOf(const std::string& base, const std::string& name, bool partition) {
    if (name.starts_with("loop")) return DriveType::Fixed;
    if (name.starts_with("sr")) return DriveType::CdDvd;
    // A partition's removable flag is its disk's, one folder up in the device tree.
    const std::string flag = partition ? base + "/../removable" : base + "/removable";
    return numberIn(flag) == 1 ? DriveType::Removable : DriveType::Fixed;
}

struct Candidate {
    std::string name, path;
    dev_t rdev = 0;
    bool partition = false;
    bool partitioned = false;  // a whole disk that carries a partition table
    bool held = false;         // claimed by another block device: device-mapper, RAID, bcache ...
};

std::optional<Candidate> candidateFor(const std::string& name) {
    if (name.starts_with("ram") || name.starts_with("zram")) return std::nullopt;
    const std::string base = "/sys/class/block/" + name;
    Candidate c;
    c.name = name;
    c.partition = exists(base + "/partition");
    // An unbacked loop device is no volume.
    if (name.starts_with("loop") && !c.partition && !exists(base + "/loop/backing_file")) return std::nullopt;
    // An extended partition holds only a table.
    if (c.partition && numberIn(base + "/size") <= 2) return std::nullopt;
    c.partitioned = !c.partition && hasPartitions(base, name);
    c.held = !entriesOf(base + "/holders").empty();
    c.path = "/dev/" + name;
    struct stat st{};
    if (stat(c.path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
    c.rdev = st.st_rdev;
    return c;
}

VolumeInfo describe(const Candidate& c, const std::vector<posix::MountEntry>& mounts) {
    const std::string base = "/sys/class/block/" + c.name;
    VolumeInfo info;
    info.volume = fromUtf8(c.path);
    info.type = driveTypeOf(base, c.name, c.partition);
    info.sizeBytes = numberIn(base + "/size") * 512;
    std::string mountedType;
    for (const posix::MountEntry& m : mounts) {
        if (!((m.major == major(c.rdev) && m.minor == minor(c.rdev)) || m.source == c.path)) continue;
        if (info.mountPoints.empty()) {
            info.readOnly = m.readOnly;
            mountedType = m.fsType;
        }
        info.mountPoints.push_back(fromUtf8(m.mountPoint));
        if (m.mountPoint == "/") info.windowsDrive = true;
    }
    posix::DeviceFacts facts;
    facts.mounted = !info.mountPoints.empty();
    facts.partitioned = c.partitioned;
    facts.held = c.held;
    if (facts.partitioned && !facts.mounted) {
        // Its partitions are the volumes; the disk itself shows only with --all.
        info.mediaPresent = true;
        info.hasSerial = false;
        info.hidden = posix::isHiddenDevice(facts);
        return info;
    }
    // Only an unmounted volume is given a partition role, so only then is its partition entry read.
    const bool roleShown = !facts.mounted && (info.type == DriveType::Removable || info.type == DriveType::Fixed);
    const posix::ProbeValues values = posix::probeVolume(c.path, roleShown);
    posix::applyProbeValues(info, values);
    if (!info.mediaPresent && !mountedType.empty()) {
        // Unreadable to us (no permission on the device) but mounted: the kernel names its file system.
        info.mediaPresent = true;
        info.fileSystem = mountedType == "vfat" ? L"FAT" : fromUtf8(mountedType);
        info.supported = isSupportedFileSystemName(info.fileSystem);
        info.hasSerial = false;
    }
    if (roleShown)
        info.partitionRole = posix::partitionRoleFor(values.partEntryType);
    facts.type = values.type;
    facts.bitLocker = values.bitLocker;
    facts.readable = !values.type.empty() || access(c.path.c_str(), R_OK) == 0;
    info.hidden = posix::isHiddenDevice(facts);
    return info;
}

// The record of a block device of /sys/class/block, hidden or not, if it can hold a volume.
std::optional<VolumeInfo> listedVolume(const std::string& name, const std::vector<posix::MountEntry>& mounts) {
    const std::optional<Candidate> c = candidateFor(name);
    if (!c) return std::nullopt;
    return describe(*c, mounts);
}

// The name under /sys/class/block of a block device, from its device number.
std::optional<std::string> blockNameOf(dev_t rdev) {
    const std::string link = "/sys/dev/block/" + std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev));
    char target[4096];
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) return std::nullopt;
    const std::string_view path(target, static_cast<std::size_t>(length));
    return std::string(path.substr(path.rfind('/') + 1));
}

// A disk-image file; it is never listed.
VolumeInfo imageVolume(const std::wstring& volumeName, const struct stat& image) {
    VolumeInfo info;
    info.volume = volumeName;
    info.type = DriveType::Fixed;
    info.sizeBytes = static_cast<std::uint64_t>(image.st_size);
    // FUSE drivers such as ntfs-3g mount image files directly and name them as the source.
    for (const posix::MountEntry& m : posix::readMountTable()) {
        struct stat source{};
        if (!m.source.starts_with("/") || stat(m.source.c_str(), &source) != 0) continue;
        if (source.st_dev != image.st_dev || source.st_ino != image.st_ino || !S_ISREG(source.st_mode)) continue;
        if (info.mountPoints.empty()) info.readOnly = m.readOnly;
        info.mountPoints.push_back(fromUtf8(m.mountPoint));
    }
    posix::applyProbeValues(info, posix::probeVolume(toUtf8(volumeName), false));
    return info;
}

}  // namespace

std::vector<VolumeInfo> enumerateVolumes() {
    const std::vector<posix::MountEntry> mounts = posix::readMountTable();
    std::vector<VolumeInfo> volumes;
    for (const std::string& name : entriesOf("/sys/class/block"))
        if (std::optional<VolumeInfo> info = listedVolume(name, mounts)) volumes.push_back(std::move(*info));
    sortVolumesNaturally(volumes);
    return volumes;
}

std::optional<std::wstring> volumeNameFor(const std::wstring& driveSpec) {
    return devicePathFor(driveSpec);
}

std::optional<VolumeInfo> describeVolume(const std::wstring& volumeName) {
    // Only the named device or image is probed: the others may be many, slow or asleep.
    const std::string path = toUtf8(volumeName);
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    if (S_ISREG(st.st_mode)) return imageVolume(volumeName, st);
    if (!S_ISBLK(st.st_mode)) return std::nullopt;
    const std::optional<std::string> name = blockNameOf(st.st_rdev);
    if (!name) return std::nullopt;
    std::optional<VolumeInfo> info = listedVolume(*name, posix::readMountTable());
    // Listed under another name (a device node outside /dev): not the volume the user named.
    if (info && info->volume != volumeName) return std::nullopt;
    return info;
}

}  // namespace tlx
