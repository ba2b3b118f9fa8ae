#include "volume_rows.h"

#include <algorithm>

#include "bootsector/serial.h"
#include "catalog/display.h"
#include "catalog/resolve.h"
#include "catalog/same_serial.h"
#include "natural_order.h"

namespace tlx {
namespace {

bool isEmptyIn(const VolumeInfo& info, int column, const PendingRestarts& pending) {
    switch (column) {
    case 1: return info.label.empty();
    case 2: return info.fileSystem.empty();
    case 3: return info.sizeBytes == 0;
    case 5: return !info.mediaPresent;
    case 6: return listStatusText(info, pending).empty();
    default: return false;
    }
}

template <typename T>
int compareValues(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// 0 a drive letter, 1 a mounted folder, 2 no mount points.
int driveGroup(const VolumeInfo& info) {
    if (info.mountPoints.empty()) return 2;
    const std::wstring drive = listDriveText(info);
    return drive.size() == 2 && drive[1] == L':' ? 0 : 1;
}

int sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

int compareIn(const VolumeInfo& a, const VolumeInfo& b, int column, const PendingRestarts& pending) {
    switch (column) {
    case 0: {
        const int groupA = driveGroup(a), groupB = driveGroup(b);
        if (groupA != groupB) return compareValues(groupA, groupB);
        if (groupA == 2) return sign(compareOrdinalIgnoreCase(a.volume, b.volume));
        return sign(compareListText(listDriveText(a), listDriveText(b)));
    }
    case 1: return sign(compareListText(a.label, b.label));
    case 2: return sign(compareListText(a.fileSystem, b.fileSystem));
    case 3: return compareValues(a.sizeBytes, b.sizeBytes);
    case 4: return sign(compareListText(driveTypeName(a.type), driveTypeName(b.type)));
    case 5: return compareValues(a.serial, b.serial);
    case 6: return sign(compareListText(listStatusText(a, pending), listStatusText(b, pending)));
    default: return 0;
    }
}

}  // namespace

std::wstring shortVolumeText(const std::wstring& volume) {
    const std::size_t at = volume.find(L"Volume{");
    if (at == std::wstring::npos) return volume;
    return volume.substr(at, 15) + L"\u2026}";
}

std::wstring listDriveText(const VolumeInfo& info) {
    return info.mountPoints.empty() ? shortVolumeText(info.volume) : displayDrive(info);
}

std::wstring listStatusText(const VolumeInfo& info, const PendingRestarts& pending) {
    std::wstring text = statusText(info);
    if (info.mountPoints.empty()) text = text.empty() ? L"hidden" : L"hidden, " + text;
    if (pending.contains(info.volume)) text += text.empty() ? L"restart pending" : L", restart pending";
    return text;
}

std::wstring cellText(const VolumeInfo& info, int column, const PendingRestarts& pending) {
    switch (column) {
    case 0: return listDriveText(info);
    case 1: return info.label;
    case 2: return info.fileSystem.empty() ? L"-" : info.fileSystem;
    case 3: return info.sizeBytes == 0 ? L"-" : formatSize(info.sizeBytes);
    case 4: return driveTypeName(info.type);
    case 5: return info.mediaPresent ? formatSerial32(info.serial) : L"-";
    case 6: return listStatusText(info, pending);
    default: return {};
    }
}

std::vector<VolumeInfo> shownVolumes(std::vector<VolumeInfo> catalogue, bool showHidden) {
    if (!showHidden)
        std::erase_if(catalogue, [](const VolumeInfo& info) { return info.mountPoints.empty(); });
    markSameSerials(catalogue, listDriveText);
    return catalogue;
}

void sortVolumes(std::vector<VolumeInfo>& volumes, int column, bool descending, const PendingRestarts& pending) {
    std::stable_sort(volumes.begin(), volumes.end(), [&](const VolumeInfo& a, const VolumeInfo& b) {
        const bool emptyA = isEmptyIn(a, column, pending), emptyB = isEmptyIn(b, column, pending);
        if (emptyA != emptyB) return emptyB;
        int r = emptyA ? 0 : compareIn(a, b, column, pending);
        if (descending) r = -r;
        // Ties go by drive; a column out of range leaves the catalogue order alone.
        if (r == 0 && column >= 1 && column < kVolumeColumnCount) r = compareIn(a, b, 0, pending);
        return r < 0;
    });
}

int rowToSelect(const std::vector<VolumeInfo>& volumes, const std::wstring& selectedVolume) {
    if (volumes.empty()) return -1;
    for (std::size_t i = 0; i < volumes.size(); ++i)
        if (!selectedVolume.empty() && volumes[i].volume == selectedVolume) return static_cast<int>(i);
    for (std::size_t i = 0; i < volumes.size(); ++i)
        if (volumes[i].type == DriveType::Removable && volumes[i].supported) return static_cast<int>(i);
    return 0;
}

}  // namespace tlx
