// Volume fields from libblkid's probe values, and the FAT12/16 label from the root directory.
#include "catalog/posix/probe_fields.h"

#include <algorithm>
#include <cerrno>
#include <blkid/blkid.h>
#include <fcntl.h>
#include <memory>
#include <vector>
#include <strings.h>
#include <unistd.h>

#include "bootsector/detect.h"
#include "bootsector/le.h"
#include "platform/posix/unique_fd.h"
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

std::optional<FatRootDirectory> fixedRootDirectory(std::span<const std::uint8_t> bootSector) {
    if (bootSector.size() < 512) return std::nullopt;
    const std::uint32_t sectorSize = readLe16(bootSector, 11);
    const std::uint32_t reserved = readLe16(bootSector, 14);
    const std::uint32_t fats = bootSector[16];
    const std::uint32_t entries = readLe16(bootSector, 17);
    const std::uint32_t fatSectors = readLe16(bootSector, 22);  // 0 on FAT32, whose root is a cluster chain
    if ((sectorSize != 512 && sectorSize != 1024 && sectorSize != 2048 && sectorSize != 4096) || reserved == 0 ||
        fats == 0 || entries == 0 || fatSectors == 0)
        return std::nullopt;
    return FatRootDirectory{std::uint64_t{reserved + fats * fatSectors} * sectorSize, entries * 32u, sectorSize};
}

std::optional<std::string> fatLabelIn(std::span<const std::uint8_t> entries, bool& ended) {
    for (std::size_t at = 0; at + 32 <= entries.size(); at += 32) {
        const std::span<const std::uint8_t> entry = entries.subspan(at, 32);
        if (entry[0] == 0x00) {  // no entries follow
            ended = true;
            return std::nullopt;
        }
        const std::uint8_t attributes = entry[11];
        // Deleted entries, long-name parts, and folders are no label.
        if (entry[0] == 0xE5 || attributes == 0x0F || (attributes & 0x18) != 0x08) continue;
        ended = true;
        std::string label(entry.begin(), entry.begin() + 11);
        if (label[0] == '\x05') label[0] = '\xE5';  // a name starting with 0xE5 is stored as 0x05
        label.erase(label.find_last_not_of(' ') + 1);
        if (label.empty()) return std::nullopt;
        return label;
    }
    return std::nullopt;
}

namespace {

using Probe = std::unique_ptr<blkid_struct_probe, ProbeFree>;

// A probe of the first `size` bytes of the device (0: all of it) for the given types.
Probe probeOf(int fd, std::uint64_t size, char** types) {
    Probe probe(blkid_new_probe());
    if (!probe || blkid_probe_set_device(probe.get(), fd, 0, static_cast<blkid_loff_t>(size)) != 0) return nullptr;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(),
                                      BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_VERSION);
    if (types != nullptr) blkid_probe_filter_superblocks_type(probe.get(), BLKID_FLTR_ONLYIN, types);
    return probe;
}

void enablePartitionEntry(blkid_probe probe) {
    blkid_probe_enable_partitions(probe, 1);
    blkid_probe_set_partitions_flags(probe, BLKID_PARTS_ENTRY_DETAILS);
}

void takeSuperblock(blkid_probe probe, ProbeValues& values) {
    values.type = valueOf(probe, "TYPE");
    values.version = valueOf(probe, "VERSION");
    values.label = valueOf(probe, "LABEL");
    values.uuid = valueOf(probe, "UUID");
}

// The label of a FAT12/16 volume, read from its root directory a sector at a time up to the
// label entry (usually the first), where libblkid would read the whole directory.
std::string rootLabel(int fd, const FatRootDirectory& root) {
    std::vector<std::uint8_t> sector(root.sectorSize);
    for (std::uint64_t at = 0; at < root.bytes; at += root.sectorSize) {
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(root.sectorSize, root.bytes - at));
        if (pread(fd, sector.data(), length, static_cast<off_t>(root.offset + at)) != static_cast<ssize_t>(length))
            return {};
        bool ended = false;
        const std::optional<std::string> label = fatLabelIn(std::span(sector.data(), length), ended);
        if (ended) return label.value_or("");
    }
    return {};
}

}  // namespace

ProbeValues probeVolume(const std::string& path, bool partitionEntry) {
    ProbeValues values;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        values.openError = errno;
        return values;
    }
    std::uint8_t first[512];
    const bool firstRead = pread(fd.get(), first, sizeof first, 0) == static_cast<ssize_t>(sizeof first);

    // The full probe reads about 1 MB per volume (ZFS labels at both ends, RAID superblocks near the
    // end), so the types this program works on are asked first: a few KB from the start of the volume.
    // A RAID member is among them, so that a FAT mirror half is never taken for a plain FAT volume.
    char vfat[] = "vfat", exfat[] = "exfat", ntfs[] = "ntfs", bitLocker[] = "BitLocker", raid[] = "linux_raid_member";
    char* others[] = {exfat, ntfs, bitLocker, raid, nullptr};
    char* fatOnly[] = {vfat, nullptr};
    char* ours[] = {vfat, exfat, ntfs, bitLocker, raid, nullptr};
    Probe probe = probeOf(fd.get(), 0, others);
    if (!probe) return values;
    if (partitionEntry) enablePartitionEntry(probe.get());
    if (blkid_do_safeprobe(probe.get()) < 0) return values;  // unreadable, or claimed twice
    values.partEntryType = valueOf(probe.get(), "PART_ENTRY_TYPE");

    // FAT is asked alone, and of a FAT12/16 volume only up to its root directory: libblkid reads
    // the whole directory (up to 32 KB) for the label, which is read here up to the label alone.
    const std::optional<FatRootDirectory> root = fixedRootDirectory(std::span(first, firstRead ? sizeof first : 0));
    Probe fat = probeOf(fd.get(), root ? root->offset : 0, fatOnly);
    const bool isFat = fat && blkid_do_safeprobe(fat.get()) == 0 && !valueOf(fat.get(), "TYPE").empty();
    const bool isOther = !valueOf(probe.get(), "TYPE").empty();
    if (isFat && isOther) {
        // Both: libblkid judges them together, as one probe of all our types would.
        probe = probeOf(fd.get(), 0, ours);
        if (!probe || blkid_do_safeprobe(probe.get()) != 0) return values;
        takeSuperblock(probe.get(), values);
    } else if (isFat) {
        takeSuperblock(fat.get(), values);
        if (root) values.label = rootLabel(fd.get(), *root);
    } else if (isOther) {
        takeSuperblock(probe.get(), values);
    } else {
        // None of them: the full probe names the rest (ext4, ZFS, LVM ...); the partition entry is known.
        blkid_probe_enable_partitions(probe.get(), 0);
        blkid_probe_reset_superblocks_filter(probe.get());
        if (blkid_do_safeprobe(probe.get()) != 0) return values;
        takeSuperblock(probe.get(), values);
    }
    // A BitLocker volume keeps a FAT-like BPB that libblkid takes for vfat.
    if (firstRead && (values.type == "vfat" || values.type == "exfat" || values.type == "ntfs"))
        values.bitLocker = isBitLockerBootSector(first);
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
