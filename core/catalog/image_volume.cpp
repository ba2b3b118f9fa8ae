// A volume record from an image's boot sector, for systems that have no file-system probe to ask.
#include "catalog/image_volume.h"

#include "bootsector/detect.h"

namespace tlx {
namespace {

constexpr std::size_t kLabelLength = 11;
constexpr std::uint8_t kExtendedSignatureWithLabel = 0x29;

const wchar_t* windowsName(FsType type) {
    switch (type) {
    case FsType::FAT12:
    case FsType::FAT16: return L"FAT";
    case FsType::FAT32: return L"FAT32";
    case FsType::exFAT: return L"exFAT";
    case FsType::NTFS: return L"NTFS";
    default: return L"";
    }
}

// The label field follows the serial, and is only there with the 0x29 extended boot signature.
std::wstring fatLabel(std::span<const std::uint8_t> sector, std::uint32_t serialOffset) {
    if (serialOffset == 0 || serialOffset + 4 + kLabelLength > sector.size() ||
        sector[serialOffset - 1] != kExtendedSignatureWithLabel)
        return {};
    std::wstring label;
    for (std::size_t i = 0; i < kLabelLength; ++i) label += static_cast<wchar_t>(sector[serialOffset + 4 + i]);
    while (!label.empty() && (label.back() == L' ' || label.back() == L'\0')) label.pop_back();
    // mkfs and Windows write this when the volume has no label.
    if (label == L"NO NAME") return {};
    return label;
}

}  // namespace

void describeImageBootSector(VolumeInfo& info, std::span<const std::uint8_t> sector) {
    const BootSectorInfo boot = detectBootSector(sector);
    if (boot.status == DetectStatus::BitLocker) {
        info.fileSystem = L"BitLocker";
        info.bitLockerProtection = 1;
        info.bitLockerHint = true;
        return;
    }
    if (boot.status != DetectStatus::Ok) return;
    info.mediaPresent = true;
    info.fileSystem = windowsName(boot.fsType);
    info.serial = static_cast<std::uint32_t>(boot.serial);
    if (boot.fsType == FsType::NTFS && boot.serialWidth == 8) info.fullSerial = boot.serial;
    if (boot.fsType == FsType::FAT12 || boot.fsType == FsType::FAT16 || boot.fsType == FsType::FAT32)
        info.label = fatLabel(sector, boot.serialOffset);
    info.supported = isSupportedFileSystemName(info.fileSystem);
}

}  // namespace tlx
