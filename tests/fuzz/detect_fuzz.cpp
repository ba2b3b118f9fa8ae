// Boot-sector recognition and change planning over arbitrary bytes: no crash, no read past the buffer,
// and every plan rewrites nothing but serial fields and exFAT checksum sectors.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "bootsector/boot_region.h"
#include "bootsector/detect.h"
#include "bootsector/plan.h"
#include "device/memory_device.h"
#include "fuzz_check.h"

using tlx::fuzz::require;

namespace {

constexpr tlx::VolumeSerial kNewSerial = 0x5EED1234;
constexpr std::size_t kSectorBytes = 512;

std::uint64_t readLe(const std::uint8_t* p, std::uint32_t width) {
    std::uint64_t value = 0;
    for (std::uint32_t i = width; i-- > 0;)
        value = value << 8 | p[i];
    return value;
}

bool isPowerOfTwoBetween(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
    return value >= low && value <= high && (value & (value - 1)) == 0;
}

void checkDetection(std::span<const std::uint8_t> bytes) {
    // An exactly sized heap copy, so the sanitizer sees any read past the end.
    const std::vector<std::uint8_t> exact(bytes.begin(), bytes.end());
    const tlx::BootSectorInfo info = tlx::detectBootSector(exact);
    const bool bitLocker = tlx::isBitLockerBootSector(exact);
    require(tlx::sameFileSystem(exact, info) == (info.status == tlx::DetectStatus::Ok),
            "sameFileSystem of a sector with its own recognition");

    if (exact.size() < kSectorBytes) {
        require(info.status == tlx::DetectStatus::TooShort && !bitLocker, "short buffers are TooShort");
        return;
    }
    require(!bitLocker || info.status == tlx::DetectStatus::BitLocker, "a BitLocker mark wins");

    // Only the first 512 bytes count: any tail gives the same answer.
    std::vector<std::uint8_t> head(exact.begin(), exact.begin() + kSectorBytes);
    const tlx::BootSectorInfo headInfo = tlx::detectBootSector(head);
    require(headInfo.status == info.status &&
            headInfo.fsType == info.fsType && headInfo.bytesPerSector == info.bytesPerSector &&
            headInfo.totalSectors == info.totalSectors && headInfo.serial == info.serial &&
            headInfo.serialWidth == info.serialWidth && headInfo.serialOffset == info.serialOffset &&
            headInfo.backupBootSector == info.backupBootSector, "recognition looks past 512 bytes");

    if (info.status != tlx::DetectStatus::Ok) {
        require(info.bytesPerSector == 0 && info.totalSectors == 0 && info.serial == 0 && info.serialWidth == 0 &&
                info.serialOffset == 0 && info.backupBootSector == 0, "a failed recognition leaves the fields 0");
        return;
    }
    require(info.fsType >= tlx::FsType::FAT12 && info.fsType <= tlx::FsType::NTFS, "kind of a recognised sector");
    require(info.serialWidth == (info.fsType == tlx::FsType::NTFS ? 8u : 4u), "serial width");
    require(info.serialOffset + info.serialWidth <= kSectorBytes, "serial field inside the sector");
    require(info.serial == readLe(exact.data() + info.serialOffset, info.serialWidth), "serial read from its field");
    require(isPowerOfTwoBetween(info.bytesPerSector, 512, 4096), "sector size");
    require(exact[510] == 0x55 && exact[511] == 0xAA, "recognised without a signature");
    if (info.fsType == tlx::FsType::FAT32 && info.backupBootSector != 0)
        require(info.backupBootSector < readLe(exact.data() + 14, 2), "backup boot sector inside the reserved area");
    if (info.fsType != tlx::FsType::FAT32)
        require(info.backupBootSector == 0, "backup boot sector outside FAT32");
}

// Bytes of a region that a change may rewrite: the serial field, and in exFAT the checksum sector.
bool mayChange(const tlx::ChangePlan& plan, const tlx::RegionWrite& region, std::size_t offset) {
    if (offset >= plan.serialOffset && offset < plan.serialOffset + plan.serialWidth)
        return true;
    const bool exfat = region.kind == tlx::BootRegion::ExFatMainRegion || region.kind == tlx::BootRegion::ExFatBackupRegion;
    return exfat && offset >= 11u * plan.bytesPerSector && offset < 12u * plan.bytesPerSector;
}

void checkPlan(std::span<const std::uint8_t> input) {
    if (input.empty())
        return;
    const std::uint8_t control = input[0];
    const std::uint32_t sectorSize = (control & 1) ? 4096 : 512;
    std::vector<std::uint8_t> image(input.begin() + 1, input.end());
    image.resize((image.size() + sectorSize - 1) / sectorSize * sectorSize, 0);
    const std::vector<std::uint8_t> original = image;

    tlx::MemoryDevice device(sectorSize, image);
    // A device that claims more than it holds, so reads past its bytes fail.
    if (control & 2)
        device.setReportedCount(image.size() / sectorSize + (control >> 2));

    const tlx::PlanResult result = tlx::planChange(device, kNewSerial);
    require(device.writes() == 0 && device.bytes() == original, "planning wrote to the device");

    const tlx::ChangePlan& plan = result.plan;
    if (result.planError != tlx::PlanError::None) {
        require(plan.regions.empty() && plan.notes.empty() && plan.fsType == tlx::FsType::Unknown, "a failed plan is empty");
        require((result.systemError != 0) == (result.planError == tlx::PlanError::ReadFailed), "system error only for failed reads");
        return;
    }
    require(!plan.regions.empty() && plan.regions.size() <= 2, "region count");
    require(plan.newSerial == kNewSerial && plan.oldSerial == plan.serial && plan.oldSerial != kNewSerial, "plan serials");
    require(plan.bytesPerSector % sectorSize == 0 && plan.bytesPerSector >= sectorSize, "file-system sector size");
    const std::uint32_t n = plan.bytesPerSector / sectorSize;
    const bool exfat = plan.fsType == tlx::FsType::exFAT;

    const tlx::RegionWrite& last = plan.regions.back();
    require(last.firstSector == 0 && last.kind == (exfat ? tlx::BootRegion::ExFatMainRegion : tlx::BootRegion::BootSector),
            "the main boot sector is written last");

    for (const tlx::RegionWrite& region : plan.regions) {
        const std::uint64_t bytes = std::uint64_t{region.sectorCount} * sectorSize;
        require(region.sectorCount == (exfat ? tlx::kExFatRegionSectors * n : n), "region length");
        require(region.before.size() == bytes && region.after.size() == bytes, "before and after sizes");
        require(region.firstSector + region.sectorCount <= image.size() / sectorSize, "region inside the device");
        require(std::memcmp(region.before.data(), original.data() + region.firstSector * sectorSize, bytes) == 0,
                "before holds what the device holds");
        require(readLe(region.after.data() + plan.serialOffset, plan.serialWidth) == kNewSerial, "new serial stored");
        for (std::size_t i = 0; i < bytes; ++i)
            require(region.before[i] == region.after[i] || mayChange(plan, region, i), "a byte outside the serial changed");
        if (region.kind == tlx::BootRegion::ExFatMainRegion)
            require(tlx::verifyExfatBootRegion(region.before, plan.bytesPerSector), "a damaged main region planned");
        if (exfat)
            require(tlx::verifyExfatBootRegion(region.after, plan.bytesPerSector), "rewritten exFAT region checksum");
        else
            require(tlx::sameFileSystem(region.after, tlx::detectBootSector(original)), "rewritten copy still recognised");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    checkDetection(input);
    if (size > 0)
        checkDetection(input.subspan(1));
    checkPlan(input);
    return 0;
}
