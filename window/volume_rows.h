#pragma once
// What the volume list shows and in which order: drive and status texts, the sort rule, the row to select.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "catalog/volume_info.h"

namespace tlx {

// Serials written in place, by volume path, until the next start of the program.
using PendingRestarts = std::map<std::wstring, std::uint64_t>;

inline constexpr int kVolumeColumnCount = 7;  // Drive, Label, File system, Size, Type, Serial, Status

// "Volume{1a2b3c4d…}" for a GUID path; the whole text when it holds no "Volume{".
[[nodiscard]] std::wstring shortVolumeText(const std::wstring& volume);
// The first column: the drive or first mounted folder, else the short GUID form.
[[nodiscard]] std::wstring listDriveText(const VolumeInfo& info);
// The status words of the catalogue, "hidden" first for a volume without mount points and
// "restart pending" last for a volume in `pending`.
[[nodiscard]] std::wstring listStatusText(const VolumeInfo& info, const PendingRestarts& pending);

// The text of one cell, columns 0 to 6.
[[nodiscard]] std::wstring cellText(const VolumeInfo& info, int column, const PendingRestarts& pending);

// The records the list shows, in catalogue order: those with mount points, or all with showHidden;
// each marked with the shown volumes that share its serial.
[[nodiscard]] std::vector<VolumeInfo> shownVolumes(std::vector<VolumeInfo> catalogue, bool showHidden);

// Stable sort by `column`; empty values last in both directions, ties by drive ascending. A column
// outside 0 to 6 compares every row equal, so the catalogue order stays.
void sortVolumes(std::vector<VolumeInfo>& volumes, int column, bool descending, const PendingRestarts& pending);

// The row to select after filling: the one showing `selectedVolume`, else the first supported removable
// volume, else row 0; -1 for an empty list.
[[nodiscard]] int rowToSelect(const std::vector<VolumeInfo>& volumes, const std::wstring& selectedVolume);

}  // namespace tlx
