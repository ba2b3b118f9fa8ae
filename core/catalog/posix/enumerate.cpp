// The volumes of this machine from /sys/class/block, libblkid and the mount table.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "catalog/posix/probe_fields.h"
#include "catalog/posix/udev_data.h"
#include "catalog/posix/visibility.h"
#include "catalog/resolve.h"
#include "catalog/volume_info.h"
#include "device/device_path.h"
#include "device/posix/fuse_source.h"
#include "device/posix/mount_table.h"
#include "platform/text.h"

namespace tlx {

namespace {

// The mount table with the volumes FUSE daemons serve named.
std::vector<posix::MountEntry> mountTable() {
    std::vector<posix::MountEntry> mounts = posix::readMountTable();
    posix::nameFuseSources(mounts);
    return mounts;
}

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

std::vector<std::string> partitionsOf(const std::string& base, const std::string& name) {
    std::vector<std::string> partitions;
    for (const std::string& entry : entriesOf(base))
        if (entry.starts_with(name) && exists(base + "/" + entry + "/partition")) partitions.push_back(entry);
    return partitions;
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
    std::vector<std::string> partitions;  // of a whole disk that carries a partition table
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
    if (!c.partition) c.partitions = partitionsOf(base, name);
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
    // losetup -r and write-protected media: the kernel refuses every write.
    info.readOnly = numberIn(base + "/ro") == 1;
    std::string mountedType;
    for (const posix::MountEntry& m : mounts) {
        if (!((m.major == major(c.rdev) && m.minor == minor(c.rdev)) || m.source == c.path)) continue;
        if (info.mountPoints.empty()) {
            info.readOnly = info.readOnly || m.readOnly;
            mountedType = m.fsType;
        }
        info.mountPoints.push_back(fromUtf8(m.mountPoint));
        if (m.mountPoint == "/") info.windowsDrive = true;
    }
    posix::DeviceFacts facts;
    facts.mounted = !info.mountPoints.empty();
    facts.partitioned = !c.partitions.empty();
    facts.held = c.held;
    if (facts.partitioned && !facts.mounted) {
        // Its partitions are the volumes; the disk itself shows only with --all.
        info.mediaPresent = true;
        info.hasSerial = false;
        for (const std::string& partition : c.partitions) info.partitions.push_back(fromUtf8("/dev/" + partition));
        info.hidden = posix::isHiddenDevice(facts);
        return info;
    }
    // Only an unmounted volume is given a partition role, so only then is its partition entry read.
    const bool roleShown = !facts.mounted && (info.type == DriveType::Removable || info.type == DriveType::Fixed);
    posix::ProbeValues values = posix::probeVolume(c.path, roleShown);
    posix::applyProbeValues(info, values);
    const bool denied = values.openError == EACCES || values.openError == EPERM;
    if (denied) {
        // What lsblk shows an ordinary user comes from udev's database.
        info.readout = Readout::NoAccess;
        if (std::optional<posix::ProbeValues> udev = posix::udevValues(major(c.rdev), minor(c.rdev))) {
            values = std::move(*udev);
            posix::applyProbeValues(info, values);
            info.readout = Readout::Udev;
        }
    } else if (values.openError == 0 && values.type.empty() && !values.bitLocker) {
        info.readout = Readout::NoFileSystem;
    }
    if (!info.mediaPresent && !mountedType.empty()) {
        // Unreadable to us (no permission on the device) but mounted: the kernel names its file system.
        info.mediaPresent = true;
        info.fileSystem = mountedType == "vfat" ? L"FAT" : fromUtf8(mountedType);
        info.supported = isSupportedFileSystemName(info.fileSystem);
        info.hasSerial = false;
        if (denied) info.readout = Readout::MountTable;
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
    info.imageFile = true;
    info.sizeBytes = static_cast<std::uint64_t>(image.st_size);
    // FUSE drivers such as ntfs-3g and fusefat mount image files directly.
    for (const posix::MountEntry& m : mountTable()) {
        struct stat source{};
        if (!m.source.starts_with("/") || stat(m.source.c_str(), &source) != 0) continue;
        if (source.st_dev != image.st_dev || source.st_ino != image.st_ino || !S_ISREG(source.st_mode)) continue;
        if (info.mountPoints.empty()) info.readOnly = m.readOnly;
        info.mountPoints.push_back(fromUtf8(m.mountPoint));
    }
    const posix::ProbeValues values = posix::probeVolume(toUtf8(volumeName), false);
    posix::applyProbeValues(info, values);
    if (values.openError == EACCES || values.openError == EPERM) info.readout = Readout::NoAccess;
    else if (values.openError == 0 && values.type.empty() && !values.bitLocker) info.readout = Readout::NoFileSystem;
    return info;
}

}  // namespace

std::vector<VolumeInfo> enumerateVolumes() {
    const std::vector<posix::MountEntry> mounts = mountTable();
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
    std::optional<VolumeInfo> info = listedVolume(*name, mountTable());
    // Listed under another name (a device node outside /dev): not the volume the user named.
    if (info && info->volume != volumeName) return std::nullopt;
    return info;
}

}  // namespace tlx
