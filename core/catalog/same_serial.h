#pragma once
// Volumes that share a serial, as cloned or re-imaged disks do: software keyed on the serial mixes them up.
#include <string>
#include <vector>

#include "catalog/volume_info.h"

namespace tlx {

// How a list names a volume: displayDrive for the console, the window's own drive text.
using DriveTextOf = std::wstring (*)(const VolumeInfo&);

// A volume takes part when it shows a serial that can be changed: supported, with media and a serial.
[[nodiscard]] bool takesPartInSameSerial(const VolumeInfo& info);
// Fills sameSerialAs of every volume in the list (the caller has left out what it doesn't show):
// the other volumes whose serial, as Windows shows it (the low 32 bits), is the same, in list order.
void markSameSerials(std::vector<VolumeInfo>& volumes, DriveTextOf driveText);
// The drive texts of the volumes in `others`, other than `info` itself, with the same serial.
[[nodiscard]] std::vector<std::wstring> sameSerialVolumes(const VolumeInfo& info,
                                                          const std::vector<VolumeInfo>& others,
                                                          DriveTextOf driveText);
// "same serial as E:", "same serial as E: and 2 more", or empty when the mark is empty.
[[nodiscard]] std::wstring sameSerialText(const VolumeInfo& info);

}  // namespace tlx
