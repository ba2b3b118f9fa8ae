// A fstab-style tag that several volumes carry names none of them.
#include "catalog/resolve.h"
#include "device/posix/tag_devices.h"
#include "platform/text.h"

namespace tlx {

std::vector<std::wstring> ambiguousVolumesFor(const std::wstring& driveSpec) {
    const auto first = driveSpec.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return {};
    const std::string text = toUtf8(driveSpec.substr(first, driveSpec.find_last_not_of(L" \t") - first + 1));
    if (!text.starts_with("UUID=") && !text.starts_with("LABEL=") && !text.starts_with("PARTUUID=")) return {};
    const std::vector<std::string> devices = posix::devicesWithTag(text);
    if (devices.size() < 2) return {};
    std::vector<std::wstring> volumes;
    for (const std::string& device : devices) volumes.push_back(fromSystemBytes(device));
    return volumes;
}

}  // namespace tlx
