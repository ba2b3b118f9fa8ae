#include "catalog/display.h"

#include <cstdio>

#include "catalog/same_serial.h"
#include "catalog/wording.h"

namespace tlx {

std::wstring formatSize(std::uint64_t bytes) {
    constexpr double kMiB = 1048576.0, kGiB = 1073741824.0;
    char buffer[32];
    if (bytes < 1073741824ull)
        std::snprintf(buffer, sizeof buffer, "%.0f MB", static_cast<double>(bytes) / kMiB);
    else
        std::snprintf(buffer, sizeof buffer, "%.1f GB", static_cast<double>(bytes) / kGiB);
    return std::wstring(buffer, buffer + std::char_traits<char>::length(buffer));
}

std::wstring driveTypeName(DriveType type) {
    switch (type) {
    case DriveType::Removable: return L"Removable";
    case DriveType::Fixed: return L"Fixed";
    case DriveType::Network: return L"Network";
    case DriveType::CdDvd: return L"CD/DVD";
    case DriveType::RamDisk: return L"RAM disk";
    case DriveType::Unknown: break;
    }
    return L"Unknown";
}

namespace {

// Why nothing is shown: Linux tells an unreadable device and an empty one from a drive without media.
const wchar_t* absenceWord(Readout readout) {
    if (readout == Readout::NoAccess) return L"no access";
    if (readout == Readout::NoFileSystem) return L"no file system";
    return L"no media";
}

}  // namespace

std::wstring statusText(const VolumeInfo& info) {
    return statusText(info, platformWording());
}

std::wstring statusText(const VolumeInfo& info, Wording wording) {
    std::wstring text;
    auto add = [&text](const wchar_t* word) {
        if (!text.empty()) text += L", ";
        text += word;
    };
    if (info.partitionRole == PartitionRole::EfiSystem) add(L"EFI system partition");
    else if (info.partitionRole == PartitionRole::Recovery) add(L"recovery partition");
    if (!info.mediaPresent) add(absenceWord(info.readout));
    else if (!info.supported) add(L"unsupported");
    if (info.windowsDrive) add(systemDriveWord(wording));
    if (info.bitLockerHint) add(L"BitLocker");
    if (info.readOnly) add(L"read-only");
    if (!info.sameSerialAs.empty()) add(sameSerialText(info).c_str());
    return text;
}

}  // namespace tlx
