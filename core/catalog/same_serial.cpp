// Which listed volumes share a serial, and the status words that say so.
#include "catalog/same_serial.h"

#include "catalog/resolve.h"

namespace tlx {

bool takesPartInSameSerial(const VolumeInfo& info) {
    return info.supported && info.mediaPresent && info.hasSerial;
}

std::vector<std::wstring> sameSerialVolumes(const VolumeInfo& info, const std::vector<VolumeInfo>& others,
                                            DriveTextOf driveText) {
    std::vector<std::wstring> drives;
    if (!takesPartInSameSerial(info)) return drives;
    for (const VolumeInfo& other : others) {
        if (&other == &info || !takesPartInSameSerial(other) || other.serial != info.serial) continue;
        // get compares its own record with a fresh listing, where the volume appears once more.
        if (compareOrdinalIgnoreCase(volumeNameOf(other), volumeNameOf(info)) == 0) continue;
        drives.push_back(driveText(other));
    }
    return drives;
}

void markSameSerials(std::vector<VolumeInfo>& volumes, DriveTextOf driveText) {
    for (VolumeInfo& info : volumes) info.sameSerialAs = sameSerialVolumes(info, volumes, driveText);
}

std::wstring sameSerialText(const VolumeInfo& info) {
    if (info.sameSerialAs.empty()) return {};
    std::wstring text = L"same serial as " + info.sameSerialAs.front();
    if (info.sameSerialAs.size() > 1) text += L" and " + std::to_wstring(info.sameSerialAs.size() - 1) + L" more";
    return text;
}

}  // namespace tlx
