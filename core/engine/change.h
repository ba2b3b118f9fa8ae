#pragma once
// Giving a volume a new serial, end to end.
#include <memory>
#include <string>

#include "bootsector/serial.h"
#include "device/sector_device.h"
#include "engine/change_result.h"
#include "engine/change_window.h"

namespace tlx {

class BackupSink;
class VolumeAccess;

// Opens for reading and writing and records the probe's answer; on failure sets OpenFailed.
[[nodiscard]] std::unique_ptr<LockableDevice> openForChange(VolumeAccess& volumes, const std::wstring& driveSpec,
                                                            ChangeResult& result);

// keepHighHalf: only 32 bits were given, so a 64-bit field keeps its upper half.
// window: what the program holds off while the volume is half written (Ctrl+C, signals).
[[nodiscard]] ChangeResult changeSerial(VolumeAccess& volumes, const std::wstring& driveSpec, VolumeSerial newSerial,
                                        bool keepHighHalf, BackupSink& sink,
                                        ChangeWindow& window = noChangeWindow());
[[nodiscard]] ChangeResult changeSerial(const std::wstring& driveSpec, VolumeSerial newSerial, bool keepHighHalf,
                                        BackupSink& sink, ChangeWindow& window = noChangeWindow());
// A serial saved from a field of savedWidth bytes: all of it where the volume's field has that width,
// else its low 32 bits, the volume's own high half kept.
[[nodiscard]] ChangeResult changeToSavedSerial(VolumeAccess& volumes, const std::wstring& driveSpec,
                                               VolumeSerial saved, std::uint32_t savedWidth, BackupSink& sink,
                                               ChangeWindow& window = noChangeWindow());

}  // namespace tlx
