#pragma once
// The selected-volume panel's texts and rules: description, current serial, entry width and limits.
#include <cstdint>
#include <optional>
#include <string>

#include "catalog/volume_info.h"
#include "volume_rows.h"

namespace tlx {

// "E: BACKUP (exFAT, 58.2 GB, Removable)", then "; same serial as F:" for a marked volume;
// "Select a volume above." without a volume.
[[nodiscard]] std::wstring panelDescription(const VolumeInfo* volume, const PendingRestarts& pending);
// The current-serial line with its remarks (pending restart, missing 64-bit serial, unsupported).
[[nodiscard]] std::wstring currentSerialLine(const VolumeInfo& volume, bool full64, const PendingRestarts& pending);

// A volume whose serial may be changed from the panel: present, supported, writable.
[[nodiscard]] bool canChangeSerial(const VolumeInfo* volume);
[[nodiscard]] bool isNtfs(const VolumeInfo* volume);

// The entry's text after the width switch, or nothing when it stays as typed. Towards 64 bits the
// volume's upper half is kept in front of the typed 32 bits.
[[nodiscard]] std::optional<std::wstring> switchedEntry(const std::wstring& text, bool to64,
                                                        std::optional<std::uint64_t> fullSerial);
// The entry's text for a drawn value.
[[nodiscard]] std::wstring randomEntryText(std::uint64_t value, bool full64);

// What the entry shows and accepts at one width.
struct EntryRules {
    std::wstring hint;
    std::wstring cueBanner;
    unsigned maxLength = 0;
    unsigned maxDigits = 0;
    std::wstring balloonText;  // shown under the title "Not a serial number"
};
[[nodiscard]] EntryRules entryRules(bool full64);

}  // namespace tlx
