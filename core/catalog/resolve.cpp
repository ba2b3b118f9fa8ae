// From what the user typed to one volume record, and the short drive text of a record.
#include "catalog/resolve.h"

namespace tlx {

std::optional<VolumeInfo> findVolume(const std::wstring& driveSpec) {
    const std::optional<std::wstring> name = volumeNameFor(driveSpec);
    if (!name) return std::nullopt;
    return describeVolume(*name);
}

std::optional<VolumeInfo> findVolumeIn(const std::vector<VolumeInfo>& volumes, const std::wstring& volumeName) {
    for (const VolumeInfo& info : volumes)
        if (compareOrdinalIgnoreCase(volumeNameOf(info), volumeName) == 0) return info;
    return std::nullopt;
}

std::wstring displayDrive(const VolumeInfo& info) {
    if (info.mountPoints.empty()) return info.volume;
    const std::wstring& first = info.mountPoints.front();
    if (first.size() == 3 && first[1] == L':') return first.substr(0, 2);
    return first;
}

std::wstring volumeNameOf(const VolumeInfo& info) {
    std::wstring name = info.volume;
    if (!name.empty() && name.back() == L'\\') name.pop_back();
    return name;
}

std::wstring notFoundText(const std::wstring& argumentAsTyped) {
    return notFoundText(argumentAsTyped, ambiguousVolumesFor(argumentAsTyped));
}

std::wstring notFoundText(const std::wstring& argumentAsTyped, const std::vector<std::wstring>& matches) {
    if (matches.size() < 2)
        return L"\"" + argumentAsTyped + L"\" isn't a volume on this computer. Run \"qorin list\" to see them.";
    std::wstring text = L"\"" + argumentAsTyped + L"\" names more than one volume: ";
    for (std::size_t i = 0; i < matches.size(); ++i) text += (i == 0 ? L"" : L", ") + matches[i];
    return text + L". Name the one you mean by its device path.";
}

std::wstring partitionsText(const VolumeInfo& info) {
    if (info.partitions.empty()) return {};
    std::wstring text = info.volume + L" holds partitions: ";
    for (std::size_t i = 0; i < info.partitions.size(); ++i) text += (i == 0 ? L"" : L", ") + info.partitions[i];
    return text + L".";
}

}  // namespace tlx
