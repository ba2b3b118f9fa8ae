// list and get: reading only, as a table, a report or one JSON line.
#include <algorithm>

#include "bootsector/detect.h"
#include "catalog/display.h"
#include "catalog/resolve.h"
#include "catalog/same_serial.h"
#include "commands.h"
#include "device/volume_access.h"
#include "output.h"
#include "platform/system.h"
#include "usage.h"

namespace tlx {

namespace {

std::wstring withoutTrailingBackslash(const std::wstring& text) {
    if (!text.empty() && text.back() == L'\\') return text.substr(0, text.size() - 1);
    return text;
}

const wchar_t* boolText(bool value) {
    return value ? L"true" : L"false";
}

// "-" without media, and where the file system has no 32-bit serial.
std::wstring serialText(const VolumeInfo& info) {
    return info.mediaPresent && info.hasSerial ? formatSerial32(info.serial) : L"-";
}

// The value of get's serial line, with where it came from when that wasn't the boot sector.
std::wstring serialLineValue(const VolumeInfo& info) {
    switch (info.readout) {
    case Readout::Udev: return serialText(info) + L"  (read from udev; run as root to read the boot sector)";
    case Readout::MountTable: return serialText(info) + L"  (run as root to read the boot sector)";
    case Readout::NoAccess: return L"- (no access)";
    case Readout::NoFileSystem: return L"- (no file system)";
    case Readout::Device: break;
    }
    return info.mediaPresent ? serialText(info) : std::wstring(L"- (no media)");
}

std::wstring sizeText(const VolumeInfo& info) {
    return info.sizeBytes == 0 ? L"-" : formatSize(info.sizeBytes);
}

std::wstring jsonOrNull(const std::wstring& text) {
    return text.empty() ? L"null" : jsonString(text);
}

// `[]` or `["a","b"]`.
std::wstring jsonStrings(const std::vector<std::wstring>& texts) {
    std::wstring out = L"[";
    for (std::size_t i = 0; i < texts.size(); ++i) out += (i == 0 ? L"" : L",") + jsonString(texts[i]);
    return out + L"]";
}

// The volume object without its closing brace, so get can extend it.
std::wstring volumeJsonOpen(const VolumeInfo& info) {
    std::wstring out = L"{\"drive\":" + jsonString(displayDrive(info));
    out += L",\"volume\":" + jsonString(withoutTrailingBackslash(info.volume));
    out += L",\"mountPoints\":" + jsonStrings(info.mountPoints);
    out += L",\"label\":" + jsonString(info.label);
    out += L",\"fileSystem\":" + jsonString(info.fileSystem);
    out += L",\"serial\":" + (info.mediaPresent && info.hasSerial ? jsonString(serialText(info)) : std::wstring(L"null"));
    out += L",\"sizeBytes\":" + std::to_wstring(info.sizeBytes);
    out += L",\"type\":" + jsonString(driveTypeName(info.type));
    out += L",\"mediaPresent\":" + std::wstring(boolText(info.mediaPresent));
    out += L",\"supported\":" + std::wstring(boolText(info.supported));
    out += L",\"system\":" + std::wstring(boolText(info.windowsDrive));
    out += L",\"readOnly\":" + std::wstring(boolText(info.readOnly));
    out += L",\"bitLockerHint\":" + std::wstring(boolText(info.bitLockerHint));
    return out;
}

}  // namespace

std::wstring volumeJson(const VolumeInfo& info) {
    return volumeJsonOpen(info) + L",\"sameSerialAs\":" + jsonStrings(info.sameSerialAs) + L"}";
}

std::wstring getJson(const VolumeInfo& info, const std::wstring& fullSerial, const std::wstring& encryption) {
    return volumeJsonOpen(info) + L",\"fullSerial\":" + jsonOrNull(fullSerial) + L",\"encryption\":" +
           jsonOrNull(encryption) + L",\"sameSerialAs\":" + jsonStrings(info.sameSerialAs) + L"}";
}

std::vector<std::wstring> listLines(const std::vector<VolumeInfo>& volumes) {
    return listLines(volumes, platformWording());
}

std::vector<std::wstring> listLines(const std::vector<VolumeInfo>& volumes, Wording wording) {
    using Row = std::vector<std::wstring>;
    std::vector<Row> rows{{L"Drive", L"Serial", L"FS", L"Size", L"Type", L"Label", L"Status"}};
    for (const VolumeInfo& info : volumes)
        rows.push_back({displayDrive(info), serialText(info), info.fileSystem.empty() ? L"-" : info.fileSystem,
                        sizeText(info), driveTypeName(info.type), info.label, statusText(info, wording)});
    // Windows tables keep their minimum widths; Linux device paths are long, so there each column is
    // as wide as its longest cell.
    std::vector<std::size_t> widths{6, 9, 6, 9, 9, 16};
    if (wording == Wording::Linux) {
        for (std::size_t column = 0; column < widths.size(); ++column) {
            widths[column] = 0;
            for (const Row& row : rows) widths[column] = std::max(widths[column], row[column].size());
        }
    }
    std::vector<std::wstring> lines;
    for (const Row& row : rows) {
        std::wstring line;
        for (std::size_t column = 0; column < widths.size(); ++column) line += padColumn(row[column], widths[column]);
        lines.push_back(line + row.back());
    }
    return lines;
}

std::vector<std::wstring> getLines(const VolumeInfo& info, const std::wstring& fullSerial,
                                   const std::wstring& encryption) {
    return getLines(info, fullSerial, encryption, platformWording());
}

std::vector<std::wstring> getLines(const VolumeInfo& info, const std::wstring& fullSerial,
                                   const std::wstring& encryption, Wording wording) {
    std::vector<std::wstring> lines;
    std::wstring drive = L"Drive:        " + displayDrive(info);
    if (!info.label.empty()) drive += L"  (" + info.label + L")";
    lines.push_back(drive);
    lines.push_back(L"Serial:       " + serialLineValue(info));
    if (!info.sameSerialAs.empty()) {
        std::wstring same = L"Same serial:  " + info.sameSerialAs.front();
        for (std::size_t i = 1; i < info.sameSerialAs.size(); ++i) same += L", " + info.sameSerialAs[i];
        lines.push_back(same);
    }
    if (!fullSerial.empty()) lines.push_back(L"Full serial:  " + fullSerial + L"  (NTFS, 64-bit)");
    std::wstring fileSystem = L"File system:  " + (info.fileSystem.empty() ? std::wstring(L"-") : info.fileSystem);
    if (info.mediaPresent && !info.supported) fileSystem += L"  (not supported)";
    lines.push_back(fileSystem);
    lines.push_back(L"Size:         " + sizeText(info));
    std::wstring type = L"Type:         " + driveTypeName(info.type);
    if (info.windowsDrive) type += std::wstring(L", ") + systemDriveWord(wording);
    lines.push_back(type);
    if (!encryption.empty())
        lines.push_back(L"Encryption:   " + encryption);
    else if (info.bitLockerHint)
        lines.push_back(wording == Wording::Windows
                            ? L"Encryption:   BitLocker (as reported by Windows, run elevated to check)"
                            : L"Encryption:   BitLocker (by its signature, run as root to check)");
    lines.push_back(L"Volume:       " + withoutTrailingBackslash(info.volume));
    return lines;
}

int listCommand(const CommandLine& line) {
    std::vector<VolumeInfo> volumes = enumerateVolumes();
    if (!line.all) std::erase_if(volumes, [](const VolumeInfo& info) { return info.hidden; });
    markSameSerials(volumes, displayDrive);
    if (line.json) {
        std::wstring out = L"[";
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            if (i != 0) out += L',';
            out += volumeJson(volumes[i]);
        }
        printLine(out + L"]");
        return 0;
    }
    for (const std::wstring& text : listLines(volumes)) printLine(text);
    return 0;
}

int getCommand(const CommandLine& line) {
    if (line.arguments.size() != 1) return argumentsError(line.command);
    const std::wstring& argument = line.arguments[0];
    std::optional<VolumeInfo> info = findDrive(argument);
    if (!info) return 2;
    if (info->imageFile && info->readout == Readout::NoFileSystem) {
        // A file that holds no boot sector is no volume (qorin get /etc/passwd).
        printErrorLine(notFoundText(argument));
        return 2;
    }
    std::wstring fullSerial;
    std::wstring encryption;
    if (isElevated()) {
        VolumeAccess& volumes = systemVolumes();
        std::uint32_t error = 0;
        if (std::unique_ptr<LockableDevice> device = volumes.open(argument, DeviceAccess::Read, error)) {
            const BootSectorRead read = readBootSector(*device);
            if (read.readStatus == ReadStatus::Ok && read.info.serialWidth == 8)
                fullSerial = formatSerial64(read.info.serial);
        }
        encryption = diskEncryptionText(volumes.probe(argument));
    }
    if (fullSerial.empty() && info->fullSerial) fullSerial = formatSerial64(*info->fullSerial);
    // Against the volumes list shows; only a volume that can match at all costs the listing.
    if (takesPartInSameSerial(*info)) {
        std::vector<VolumeInfo> listed = enumerateVolumes();
        std::erase_if(listed, [](const VolumeInfo& other) { return other.hidden; });
        info->sameSerialAs = sameSerialVolumes(*info, listed, displayDrive);
    }
    if (line.json)
        printLine(getJson(*info, fullSerial, encryption));
    else
        for (const std::wstring& text : getLines(*info, fullSerial, encryption)) printLine(text);
    if (info->readout == Readout::NoAccess) {
        printErrorLine(readingNeedsRootText(displayDrive(*info)));
        return 3;
    }
    return 0;
}

std::wstring readingNeedsRootText(const std::wstring& drive) {
    return L"Reading " + drive + L" requires root rights. Please run qorin as root (for example with sudo).";
}

}  // namespace tlx
