// Volume fields from libblkid's probe values; the catalogue never reads boot sectors itself.
#include "catalog/posix/probe_fields.h"

#include <blkid/blkid.h>
#include <memory>
#include <strings.h>
#include <unistd.h>

#include "bootsector/detect.h"
#include "platform/text.h"

namespace tlx::posix {

namespace {

struct ProbeFree {
    void operator()(blkid_struct_probe* p) const { blkid_free_probe(p); }
};

std::string valueOf(blkid_probe probe, const char* name) {
    const char* data = nullptr;
    if (blkid_probe_lookup_value(probe, name, &data, nullptr) != 0 || data == nullptr) return {};
    return data;
}

std::optional<std::uint64_t> parseHex(const std::string& text) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return std::nullopt;
        value = (value << 4) | digit;
    }
    return value;
}

// "XXXX-XXXX", as blkid writes FAT and exFAT serials.
std::optional<std::uint32_t> dashedSerial(const std::string& uuid) {
    if (uuid.size() != 9 || uuid[4] != '-') return std::nullopt;
    const auto high = parseHex(uuid.substr(0, 4));
    const auto low = parseHex(uuid.substr(5, 4));
    if (!high || !low) return std::nullopt;
    return static_cast<std::uint32_t>((*high << 16) | *low);
}

void setSerial(VolumeInfo& info, std::optional<std::uint32_t> serial) {
    info.serial = serial.value_or(0);
    info.hasSerial = serial.has_value();
}

bool equalsIgnoreCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

}  // namespace

ProbeValues probeVolume(const std::string& path, bool partitionEntry) {
    ProbeValues values;
    std::unique_ptr<blkid_struct_probe, ProbeFree> probe(blkid_new_probe_from_filename(path.c_str()));
    if (!probe) return values;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(),
                                      BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_VERSION);
    if (partitionEntry) {
        blkid_probe_enable_partitions(probe.get(), 1);
        blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
    }
    // The full probe reads about 1 MB per volume (ZFS labels at both ends, RAID superblocks near the
    // end), so the types this program works on are asked first: a few KB from the start of the volume.
    // A RAID member is among them, so that a FAT mirror half is never taken for a plain FAT volume.
    char vfat[] = "vfat", exfat[] = "exfat", ntfs[] = "ntfs", bitLocker[] = "BitLocker", raid[] = "linux_raid_member";
    char* ours[] = {vfat, exfat, ntfs, bitLocker, raid, nullptr};
    blkid_probe_filter_superblocks_type(probe.get(), BLKID_FLTR_ONLYIN, ours);
    if (blkid_do_safeprobe(probe.get()) < 0) return values;  // unreadable, or claimed twice
    values.partEntryType = valueOf(probe.get(), "PART_ENTRY_TYPE");
    if (valueOf(probe.get(), "TYPE").empty()) {
        // None of them: the full probe names the rest (ext4, ZFS, LVM ...); the partition entry is known.
        blkid_probe_enable_partitions(probe.get(), 0);
        blkid_probe_reset_superblocks_filter(probe.get());
        if (blkid_do_safeprobe(probe.get()) != 0) return values;
    }
    values.type = valueOf(probe.get(), "TYPE");
    values.version = valueOf(probe.get(), "VERSION");
    values.label = valueOf(probe.get(), "LABEL");
    values.uuid = valueOf(probe.get(), "UUID");
    // A BitLocker volume keeps a FAT-like BPB that libblkid takes for vfat. Its sector 0 is in the
    // page cache now that libblkid has read it, so this look costs one cached read, no disk I/O.
    if (values.type == "vfat" || values.type == "exfat" || values.type == "ntfs") {
        std::uint8_t first[512];
        const int fd = blkid_probe_get_fd(probe.get());
        if (fd >= 0 && pread(fd, first, sizeof first, 0) == static_cast<ssize_t>(sizeof first))
            values.bitLocker = isBitLockerBootSector(first);
    }
    return values;
}

void applyProbeValues(VolumeInfo& info, const ProbeValues& values) {
    if (values.bitLocker || values.type == "BitLocker") {
        info.fileSystem = L"BitLocker";
        info.label = fromUtf8(values.label);
        info.bitLockerProtection = 1;
        info.bitLockerHint = true;
        return;
    }
    if (values.type.empty()) return;
    info.mediaPresent = true;
    info.hasSerial = false;  // until a 32-bit serial is read below
    info.label = fromUtf8(values.label);
    if (values.type == "vfat") {
        info.fileSystem = values.version == "FAT32" ? L"FAT32" : L"FAT";
        setSerial(info, dashedSerial(values.uuid));
    } else if (values.type == "exfat") {
        info.fileSystem = L"exFAT";
        setSerial(info, dashedSerial(values.uuid));
    } else if (values.type == "ntfs") {
        info.fileSystem = L"NTFS";
        if (values.uuid.size() == 16) {
            if (const auto full = parseHex(values.uuid)) {
                info.fullSerial = *full;
                setSerial(info, static_cast<std::uint32_t>(*full));
            }
        }
    } else {
        info.fileSystem = fromUtf8(values.type);
    }
    info.supported = isSupportedFileSystemName(info.fileSystem);
}

PartitionRole partitionRoleFor(const std::string& partEntryType) {
    if (equalsIgnoreCase(partEntryType, "c12a7328-f81f-11d2-ba4b-00a0c93ec93b") || equalsIgnoreCase(partEntryType, "0xef"))
        return PartitionRole::EfiSystem;
    if (equalsIgnoreCase(partEntryType, "de94bba4-06d1-4d40-a16a-bfd50179d6ac") || equalsIgnoreCase(partEntryType, "0x27"))
        return PartitionRole::Recovery;
    return PartitionRole::None;
}

}  // namespace tlx::posix
