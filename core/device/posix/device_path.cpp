// What a drive text names on POSIX: a block device or image file, by path, mount or tag.
#include "device/device_path.h"

#include <blkid/blkid.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <vector>

#include "device/posix/fuse_source.h"
#include "device/posix/mount_table.h"
#include "device/posix/tag_devices.h"
#include "platform/text.h"

namespace tlx {

namespace {

using CString = std::unique_ptr<char, decltype(&std::free)>;

// One run resolves the same volume several times (catalogue, device, encryption probe); a path this
// process has already found canonical is not walked again with readlink.
std::optional<std::string> canonicalPath(const std::string& path) {
    static std::mutex lock;
    static std::vector<std::string> known;
    {
        const std::lock_guard guard(lock);
        for (const std::string& k : known)
            if (k == path) return path;
    }
    CString resolved(realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    std::string result(resolved.get());
    const std::lock_guard guard(lock);
    known.push_back(result);
    return result;
}

bool isVolumeFile(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode));
}

bool isTag(const std::string& text) {
    return text.starts_with("UUID=") || text.starts_with("LABEL=") || text.starts_with("PARTUUID=");
}

// A tag that names two volumes (cloned disks share serials) names none: picking one could write the other.
std::optional<std::string> deviceForTag(const std::string& tag) {
    const std::vector<std::string> devices = posix::devicesWithTag(tag);
    if (devices.size() != 1) return std::nullopt;
    return devices.front();
}

// The device or image (FUSE drivers mount image files) mounted at a folder; the last entry for the
// folder is the one that covers the others.
std::optional<std::string> deviceMountedAt(const std::string& folder) {
    std::optional<std::string> source;
    std::vector<posix::MountEntry> mounts = posix::readMountTable();
    posix::nameFuseSources(mounts);  // fusefat names no source
    for (const posix::MountEntry& m : mounts)
        if (m.mountPoint == folder) source = m.source;
    if (!source || !source->starts_with("/") || !isVolumeFile(*source)) return std::nullopt;
    return canonicalPath(*source);
}

}  // namespace

namespace posix {

std::vector<std::string> devicesWithTag(const std::string& tag) {
    // One run resolves its drive text several times; every device is probed once, and every
    // resolution of the run sees the same answer.
    static std::mutex lock;
    static std::vector<std::pair<std::string, std::vector<std::string>>> known;
    const std::lock_guard guard(lock);
    for (const auto& [knownTag, devices] : known)
        if (knownTag == tag) return devices;
    std::vector<std::string> devices;
    const auto add = [&devices](const char* name) {
        if (!name || !isVolumeFile(name)) return;
        const std::optional<std::string> path = canonicalPath(name);
        if (path && std::find(devices.begin(), devices.end(), *path) == devices.end()) devices.push_back(*path);
    };
    // No cache file: every device is probed as it is now. The udev links libblkid prefers name one
    // device per tag, so all devices are searched as well.
    CString chosen(blkid_evaluate_tag(tag.c_str(), nullptr, nullptr), &std::free);
    add(chosen.get());
    const std::size_t equals = tag.find('=');
    blkid_cache cache = nullptr;
    if (equals == std::string::npos || blkid_get_cache(&cache, "/dev/null") != 0) return devices;
    const std::string name = tag.substr(0, equals);
    const std::string value = tag.substr(equals + 1);
    blkid_probe_all(cache);
    if (blkid_dev_iterate iterator = blkid_dev_iterate_begin(cache)) {
        blkid_dev_set_search(iterator, name.c_str(), value.c_str());
        blkid_dev device = nullptr;
        while (blkid_dev_next(iterator, &device) == 0)
            if (blkid_dev verified = blkid_verify(cache, device)) add(blkid_dev_devname(verified));
        blkid_dev_iterate_end(iterator);
    }
    blkid_put_cache(cache);
    std::sort(devices.begin(), devices.end());
    known.emplace_back(tag, devices);
    return devices;
}

}  // namespace posix

std::optional<std::wstring> devicePathFor(std::wstring_view driveSpec) {
    const auto first = driveSpec.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos) return std::nullopt;
    const std::string text = toUtf8(driveSpec.substr(first, driveSpec.find_last_not_of(L" \t") - first + 1));

    std::optional<std::string> path;
    if (isTag(text)) {
        path = deviceForTag(text);
    } else {
        struct stat st{};
        if (stat(text.c_str(), &st) != 0) return std::nullopt;
        if (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode)) {
            path = canonicalPath(text);
        } else if (S_ISDIR(st.st_mode)) {
            if (const auto folder = canonicalPath(text)) path = deviceMountedAt(*folder);
        }
    }
    if (!path) return std::nullopt;
    return fromSystemBytes(*path);
}

}  // namespace tlx
