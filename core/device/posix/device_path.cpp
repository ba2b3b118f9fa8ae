// What a drive text names on POSIX: a block device or image file, by path, mount or tag.
#include "device/device_path.h"

#include <blkid/blkid.h>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <vector>

#include "device/posix/mount_table.h"
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

std::optional<std::string> deviceForTag(const std::string& tag) {
    // No cache object: the answer is checked against the devices as they are now.
    CString device(blkid_evaluate_tag(tag.c_str(), nullptr, nullptr), &std::free);
    if (!device || !isVolumeFile(device.get())) return std::nullopt;
    return canonicalPath(device.get());
}

// The device or image (ntfs-3g mounts image files) mounted at a folder; the last entry for the
// folder is the one that covers the others.
std::optional<std::string> deviceMountedAt(const std::string& folder) {
    std::optional<std::string> source;
    for (const posix::MountEntry& m : posix::readMountTable())
        if (m.mountPoint == folder) source = m.source;
    if (!source || !source->starts_with("/") || !isVolumeFile(*source)) return std::nullopt;
    return canonicalPath(*source);
}

}  // namespace

std::optional<std::wstring> devicePathFor(std::wstring_view driveSpec) {
    const auto first = driveSpec.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos) return std::nullopt;
    const std::string text = toUtf8(driveSpec.substr(first, driveSpec.find_last_not_of(L" \t") - first + 1));

    std::optional<std::string> path;
    if (text.starts_with("UUID=") || text.starts_with("LABEL=") || text.starts_with("PARTUUID=")) {
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
    return fromUtf8(*path);
}

}  // namespace tlx
