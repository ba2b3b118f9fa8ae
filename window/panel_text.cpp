#include "panel_text.h"

#include "bootsector/serial.h"
#include "catalog/display.h"
#include "catalog/resolve.h"
#include "catalog/same_serial.h"

namespace tlx {

std::wstring panelDescription(const VolumeInfo* volume, const PendingRestarts& pending) {
    if (!volume) return L"Select a volume above.";
    std::wstring text = volume->mountPoints.empty() ? volume->volume : displayDrive(*volume);
    if (!volume->label.empty()) text += L" " + volume->label;
    text += L" (";
    text += volume->fileSystem.empty() ? L"no file system" : volume->fileSystem;
    if (volume->sizeBytes != 0) text += L", " + formatSize(volume->sizeBytes);
    text += L", " + driveTypeName(volume->type);
    // The same-serial mark ends the line instead of hiding among the status words.
    VolumeInfo unmarked = *volume;
    unmarked.sameSerialAs.clear();
    if (const std::wstring status = listStatusText(unmarked, pending); !status.empty()) text += L", " + status;
    text += L")";
    if (!volume->sameSerialAs.empty()) text += L"; " + sameSerialText(*volume);
    return text;
}

std::wstring currentSerialLine(const VolumeInfo& volume, bool full64, const PendingRestarts& pending) {
    if (!volume.mediaPresent) return L"-";
    std::wstring text;
    if (!full64)
        text = formatSerial32(volume.serial);
    else if (volume.fullSerial)
        text = formatSerial64(*volume.fullSerial);
    else
        text = formatSerial32(volume.serial) + L"   (Windows doesn't report the full 64-bit serial on this version)";
    if (const auto found = pending.find(volume.volume); found != pending.end()) {
        const std::uint64_t next = found->second;
        text += L"   (" + (full64 ? formatSerial64(next) : formatSerial32(static_cast<std::uint32_t>(next))) +
                L" after you restart)";
    }
    if (!volume.supported) text += L"   This file system isn't supported.";
    return text;
}

bool canChangeSerial(const VolumeInfo* volume) {
    return volume && volume->mediaPresent && volume->supported && !volume->readOnly;
}

bool isNtfs(const VolumeInfo* volume) {
    return volume && compareOrdinalIgnoreCase(volume->fileSystem, L"NTFS") == 0;
}

std::optional<std::wstring> switchedEntry(const std::wstring& text, bool to64,
                                          std::optional<std::uint64_t> fullSerial) {
    if (to64) {
        const std::optional<VolumeSerial> typed = parseHexSerial(text, 8);
        if (!typed || !fullSerial) return std::nullopt;
        return formatSerial64(withLowHalf(*fullSerial, *typed));
    }
    const std::optional<VolumeSerial> typed = parseHexSerial(text, 16);
    if (!typed) return std::nullopt;
    return formatSerial32(static_cast<std::uint32_t>(*typed));
}

std::wstring randomEntryText(std::uint64_t value, bool full64) {
    return full64 ? formatSerial64(value) : formatSerial32(static_cast<std::uint32_t>(value));
}

EntryRules entryRules(bool full64) {
    if (full64)
        return {L"Enter all 16 hex digits. Windows shows the last 8.", L"XXXX-XXXX-XXXX-XXXX", 19, 16,
                L"Use 16 hexadecimal digits (0-9 and A-F)."};
    return {L"Format: XXXX-XXXX (hexadecimal)", L"XXXX-XXXX", 9, 8,
            L"Use XXXX-XXXX (8 hexadecimal digits, 0-9 and A-F)."};
}

}  // namespace tlx
