#include "catalog/wording.h"

namespace tlx {

const wchar_t* systemDriveWord(Wording wording) {
    return wording == Wording::Windows ? L"Windows drive" : L"system drive";
}

std::wstring inPlaceLine(const std::wstring& drive, Wording wording) {
    if (wording == Wording::Windows)
        return drive + L" is in use by Windows. The new serial has been written and will take effect after you restart your computer.";
    return drive + L" is mounted. The new serial has been written and takes effect when the volume is mounted again.";
}

std::wstring systemDriveWarning(const std::wstring& drive, Wording wording) {
    if (wording == Wording::Windows)
        return drive + L" is your Windows drive. The new serial takes effect after you restart.";
    return drive + L" is your system drive. The new serial takes effect when the volume is mounted again.";
}

std::wstring readOnlyRefusal(const std::wstring& drive, Wording wording) {
    if (wording == Wording::Windows) return {};
    return drive + L" is read-only, so its serial can't be changed. Nothing was written.";
}

std::wstring repairCommand(const std::wstring& drive, FsType fsType, Wording wording) {
    if (wording == Wording::Windows) return L"chkdsk " + drive + L" /f";
    switch (fsType) {
    case FsType::FAT12:
    case FsType::FAT16:
    case FsType::FAT32: return L"fsck.fat " + drive;
    case FsType::NTFS: return L"ntfsfix " + drive;
    default: break;
    }
    // Only exFAT keeps a checksum that a change can find damaged.
    return L"fsck.exfat " + drive;
}

}  // namespace tlx
