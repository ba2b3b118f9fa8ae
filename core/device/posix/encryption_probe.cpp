// Whether the stored first sector under a volume carries the BitLocker signature.
#include "device/encryption.h"

#include <cstdio>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#include "bootsector/detect.h"
#include "device/device_path.h"
#include "device/posix/volume_device.h"
#include "platform/text.h"

namespace tlx {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

std::string kernelName(dev_t rdev) {
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(rdev), minor(rdev));
    char target[4096];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return {};
    const std::string path(target, static_cast<std::size_t>(n));
    return path.substr(path.rfind('/') + 1);
}

// A device-mapper device over exactly one device (dm-crypt's BitLocker mode, dislocker) stores its
// sectors there; anything else is judged by its own first sector.
std::string storedDevice(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return path;
    const std::string name = kernelName(st.st_rdev);
    if (!name.starts_with("dm-")) return path;
    std::unique_ptr<DIR, DirCloser> slaves(opendir(("/sys/class/block/" + name + "/slaves").c_str()));
    if (!slaves) return path;
    std::vector<std::string> below;
    while (const dirent* e = readdir(slaves.get()))
        if (e->d_name[0] != '.') below.emplace_back(e->d_name);
    if (below.size() != 1) return path;
    return "/dev/" + below.front();
}

}  // namespace

EncryptionProbe probeDiskEncryption(const std::wstring& driveSpec) {
    EncryptionProbe probe;
    const std::optional<std::wstring> path = devicePathFor(driveSpec);
    if (!path) {
        probe.error = 123;
        return probe;
    }
    std::uint32_t error = 0;
    auto device = posix::VolumeDevice::openPath(storedDevice(toUtf8(*path)), DeviceAccess::Read, error);
    if (!device) {
        probe.error = error;
        return probe;
    }
    std::vector<std::uint8_t> sector(device->sectorSize());
    if (!device->readSectors(0, 1, sector.data())) {
        probe.error = device->lastError();
        return probe;
    }
    probe.answer = isBitLockerBootSector(sector) ? DiskEncryption::BitLocker : DiskEncryption::None;
    return probe;
}

}  // namespace tlx
