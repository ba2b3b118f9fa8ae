// Writing and reading the .tlxbak format.
#include "backup/backup_file.h"

#include <array>
#include <charconv>
#include <limits>
#include <string_view>

#include "backup/sha256.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tlx {

namespace {

constexpr std::string_view kMagic = "TLXBAK ";
constexpr std::string_view kFirstLine = "TLXBAK 1";
constexpr std::uint32_t kMinimumDeviceSector = 512;
constexpr std::uint32_t kErrorFileTooLarge = 223;

// The file's vocabulary for file systems; BitLocker and Unknown are never written or accepted.
constexpr std::array<FsType, 5> kFileSystems = {FsType::FAT12, FsType::FAT16, FsType::FAT32, FsType::exFAT,
                                                FsType::NTFS};
constexpr std::array<BootRegion, 4> kRegionKinds = {BootRegion::BootSector, BootRegion::BackupBootSector,
                                                    BootRegion::ExFatMainRegion, BootRegion::ExFatBackupRegion};

std::optional<FsType> fileSystemNamed(std::string_view name) {
    for (const FsType type : kFileSystems)
        if (name == fsTypeName(type))
            return type;
    return std::nullopt;
}

std::optional<BootRegion> regionNamed(std::string_view name) {
    for (const BootRegion kind : kRegionKinds)
        if (const char* text = bootRegionName(kind); text && name == text)
            return kind;
    return std::nullopt;
}

// Digits of the base only, at least one, fitting T: no sign, blanks or prefix.
template <typename T>
std::optional<T> parseNumber(std::string_view text, int base) {
    if (text.empty())
        return std::nullopt;
    for (const char c : text) {
        const bool digit = (c >= '0' && c <= '9') ||
                           (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit)
            return std::nullopt;
    }
    T value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string decimal(std::uint64_t value) {
    return std::to_string(value);
}

std::string upperHex(std::uint64_t value) {
    std::array<char, 17> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, 16);
    (void)error;  // 17 characters always hold a 64-bit value
    std::string text(buffer.data(), end);
    for (char& c : text)
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Split at every single space; a trailing space adds no field.
std::vector<std::string_view> splitFields(std::string_view value) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start < value.size()) {
        const std::size_t space = value.find(' ', start);
        if (space == std::string_view::npos) {
            fields.push_back(value.substr(start));
            break;
        }
        fields.push_back(value.substr(start, space - start));
        start = space + 1;
    }
    return fields;
}

struct ParsedRegion {
    BackupRegion region;
    std::string_view digest;
};

std::optional<ParsedRegion> parseRegionLine(std::string_view value) {
    const std::vector<std::string_view> fields = splitFields(value);
    if (fields.size() != 4)
        return std::nullopt;
    const auto kind = regionNamed(fields[0]);
    const auto first = parseNumber<std::uint64_t>(fields[1], 10);
    const auto count = parseNumber<std::uint32_t>(fields[2], 10);
    if (!kind || !first || !count || *count == 0 || fields[3].size() != 64)
        return std::nullopt;
    ParsedRegion parsed;
    parsed.region.kind = *kind;
    parsed.region.firstSector = *first;
    parsed.region.sectorCount = *count;
    parsed.digest = fields[3];
    return parsed;
}

BackupReadResult failure(BackupParseError error) {
    BackupReadResult result;
    result.parseError = error;
    return result;
}

}  // namespace

const char* backupParseErrorName(BackupParseError value) {
    switch (value) {
    case BackupParseError::None: return "None";
    case BackupParseError::BadMagic: return "BadMagic";
    case BackupParseError::UnsupportedVersion: return "UnsupportedVersion";
    case BackupParseError::BadHeader: return "BadHeader";
    case BackupParseError::Truncated: return "Truncated";
    case BackupParseError::ChecksumMismatch: return "ChecksumMismatch";
    }
    return "?";
}

BootSectorBackup backupFromPlan(const ChangePlan& plan, std::wstring volume, std::wstring mount, std::string app,
                                std::string created) {
    BootSectorBackup backup;
    backup.volume = std::move(volume);
    backup.mount = std::move(mount);
    backup.fsType = plan.fsType;
    backup.bytesPerSector = plan.bytesPerSector;
    backup.volumeSectors = plan.totalSectors;
    backup.serialBytes = plan.serialWidth;
    backup.oldSerial = plan.oldSerial;
    backup.newSerial = plan.newSerial;
    backup.created = std::move(created);
    backup.app = std::move(app);
    for (const RegionWrite& write : plan.regions) {
        if (backup.deviceSector == 0 && write.sectorCount != 0)
            backup.deviceSector = static_cast<std::uint32_t>(write.before.size() / write.sectorCount);
        backup.regions.push_back(BackupRegion{write.kind, write.firstSector, write.sectorCount, write.before});
    }
    return backup;
}

std::optional<std::vector<std::uint8_t>> serializeBackup(const BootSectorBackup& backup) {
    std::string header;
    header += kFirstLine;
    header += '\n';
    const auto line = [&header](std::string_view key, std::string_view value) {
        header += key;
        header += '=';
        header += value;
        header += '\n';
    };
    line("volume", toReadableUtf8(backup.volume));
    line("mount", toReadableUtf8(backup.mount));
    line("fs", fsTypeName(backup.fsType));
    line("bytesPerSector", decimal(backup.bytesPerSector));
    line("deviceSector", decimal(backup.deviceSector));
    line("volumeSectors", decimal(backup.volumeSectors));
    line("serialBytes", decimal(backup.serialBytes));
    line("oldSerial", upperHex(backup.oldSerial));
    line("newSerial", upperHex(backup.newSerial));
    line("created", backup.created);
    line("app", backup.app);
    std::size_t payloadSize = 0;
    for (const BackupRegion& region : backup.regions) {
        const auto digest = sha256(region.bytes);
        if (!digest)
            return std::nullopt;
        const char* name = bootRegionName(region.kind);
        line("region", std::string(name ? name : "?") + ' ' + decimal(region.firstSector) + ' ' +
                           decimal(region.sectorCount) + ' ' + digestHex(*digest));
        payloadSize += region.bytes.size();
    }
    header += '\n';

    std::vector<std::uint8_t> bytes;
    bytes.reserve(header.size() + payloadSize);
    bytes.insert(bytes.end(), header.begin(), header.end());
    for (const BackupRegion& region : backup.regions)
        bytes.insert(bytes.end(), region.bytes.begin(), region.bytes.end());
    return bytes;
}

BackupReadResult parseBackup(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.substr(0, kMagic.size()) != kMagic)
        return failure(BackupParseError::BadMagic);

    // The end of the header is looked for before the version is checked.
    const std::size_t headerEnd = text.find("\n\n");
    if (headerEnd == std::string_view::npos)
        return failure(BackupParseError::Truncated);
    const std::string_view header = text.substr(0, headerEnd + 1);
    std::size_t payloadOffset = headerEnd + 2;

    const std::size_t firstEnd = header.find('\n');
    if (header.substr(0, firstEnd) != kFirstLine)
        return failure(BackupParseError::UnsupportedVersion);
    if (firstEnd + 1 >= header.size())
        return failure(BackupParseError::BadHeader);

    BootSectorBackup backup;
    bool haveFs = false, haveBytesPerSector = false, haveDeviceSector = false, haveOld = false, haveNew = false;
    std::vector<std::string_view> digests;
    std::size_t lineStart = firstEnd + 1;
    while (lineStart < header.size()) {
        const std::size_t lineEnd = header.find('\n', lineStart);
        const std::string_view lineText = header.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        const std::size_t equals = lineText.find('=');
        if (equals == std::string_view::npos)
            return failure(BackupParseError::BadHeader);
        const std::string_view key = lineText.substr(0, equals);
        const std::string_view value = lineText.substr(equals + 1);

        if (key == "fs") {
            const auto type = fileSystemNamed(value);
            if (!type)
                return failure(BackupParseError::BadHeader);
            backup.fsType = *type;
            haveFs = true;
        } else if (key == "bytesPerSector") {
            const auto number = parseNumber<std::uint32_t>(value, 10);
            if (!number)
                return failure(BackupParseError::BadHeader);
            backup.bytesPerSector = *number;
            haveBytesPerSector = true;
        } else if (key == "deviceSector") {
            const auto number = parseNumber<std::uint32_t>(value, 10);
            if (!number || *number < kMinimumDeviceSector)
                return failure(BackupParseError::BadHeader);
            backup.deviceSector = *number;
            haveDeviceSector = true;
        } else if (key == "volumeSectors") {
            const auto number = parseNumber<std::uint64_t>(value, 10);
            if (!number)
                return failure(BackupParseError::BadHeader);
            backup.volumeSectors = *number;
        } else if (key == "serialBytes") {
            const auto number = parseNumber<std::uint32_t>(value, 10);
            if (!number || (*number != 4 && *number != 8))
                return failure(BackupParseError::BadHeader);
            backup.serialBytes = *number;
        } else if (key == "oldSerial" || key == "newSerial") {
            const auto number = parseNumber<std::uint64_t>(value, 16);
            if (!number)
                return failure(BackupParseError::BadHeader);
            (key == "oldSerial" ? backup.oldSerial : backup.newSerial) = *number;
            (key == "oldSerial" ? haveOld : haveNew) = true;
        } else if (key == "volume") {
            backup.volume = fromUtf8(value);
        } else if (key == "mount") {
            backup.mount = fromUtf8(value);
        } else if (key == "created") {
            backup.created = std::string(value);
        } else if (key == "app") {
            backup.app = std::string(value);
        } else if (key == "region") {
            auto parsed = parseRegionLine(value);
            if (!parsed)
                return failure(BackupParseError::BadHeader);
            backup.regions.push_back(std::move(parsed->region));
            digests.push_back(parsed->digest);
        }
    }
    if (!haveFs || !haveBytesPerSector || !haveDeviceSector || !haveOld || !haveNew || backup.regions.empty())
        return failure(BackupParseError::BadHeader);

    for (std::size_t i = 0; i < backup.regions.size(); ++i) {
        BackupRegion& region = backup.regions[i];
        const std::uint64_t need = std::uint64_t{region.sectorCount} * backup.deviceSector;
        if (need > bytes.size() - payloadOffset)
            return failure(BackupParseError::Truncated);
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(payloadOffset);
        region.bytes.assign(first, first + static_cast<std::ptrdiff_t>(need));
        payloadOffset += static_cast<std::size_t>(need);
        // A digest the provider could not compute is never taken as a match.
        const auto digest = sha256(region.bytes);
        if (!digest || digestHex(*digest) != digests[i])
            return failure(BackupParseError::ChecksumMismatch);
    }
    if (payloadOffset != bytes.size())
        return failure(BackupParseError::BadHeader);

    BackupReadResult result;
    result.backup = std::move(backup);
    return result;
}

BackupReadResult readBackupFile(const std::wstring& path) {
    FileRead read = readWholeFile(path, kMaxBackupFileBytes);
    if (read.tooLarge || read.error != 0) {
        BackupReadResult result = failure(BackupParseError::Truncated);
        // Nothing failed for an oversized file; name the reason rather than pass on a stale code.
        result.systemError = read.tooLarge ? kErrorFileTooLarge : read.error;
        return result;
    }
    BackupReadResult result = parseBackup(read.bytes);
    result.fileDigest = sha256(read.bytes);
    return result;
}

}  // namespace tlx
