// Changes and raw recoveries on images made by the real mkfs tools, judged by blkid, fsck and a byte diff.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "backup/backup_file.h"
#include "engine/change.h"
#include "engine/fake_volumes.h"
#include "engine/restore.h"

namespace tlx {
namespace {

namespace fs = std::filesystem;
using test::FakeVolumes;
using test::RecordingSink;

struct Command {
    int status = -1;
    std::string output;
};

Command run(const std::string& command) {
    Command result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe)) result.output += chunk;
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool haveTool(const std::string& tool) { return run("command -v " + tool).status == 0; }

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::vector<std::uint8_t> bytes(fs::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string upper(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

std::string blkidSerial(const fs::path& image) {
    std::string text = run("blkid -p -o value -s UUID '" + image.string() + "'").output;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return upper(text);
}

std::string expectedBlkidSerial(VolumeSerial serial, std::uint32_t width) {
    char text[24];
    if (width == 8)
        std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(serial));
    else
        std::snprintf(text, sizeof text, "%04X-%04X", static_cast<unsigned>(serial >> 16) & 0xFFFF,
                      static_cast<unsigned>(serial) & 0xFFFF);
    return text;
}

struct RealCase {
    const char* name;
    std::vector<std::string> tools;
    std::string make;  // %s is the image path
    VolumeSerial newSerial;
    bool keepHighHalf;
    std::string judge;  // %s is the image path; must exit 0
    std::string judgeMustNotSay;
};

const std::vector<RealCase>& realCases() {
    static const std::vector<RealCase> cases = {
        {"FAT16", {"mkfs.fat", "fsck.fat"}, "truncate -s 16M %s && mkfs.fat -F 16 -i 1A2B3C4D %s", 0xBEEF1234, true,
         "fsck.fat -n %s", "differences between boot sector and its backup"},
        {"FAT32", {"mkfs.fat", "fsck.fat"}, "truncate -s 34M %s && mkfs.fat -F 32 -s 1 -i 1A2B3C4D %s", 0xBEEF1234, true,
         "fsck.fat -n %s", "differences between boot sector and its backup"},
        {"exFAT", {"mkfs.exfat", "tune.exfat", "fsck.exfat"},
         "truncate -s 16M %s && mkfs.exfat %s && tune.exfat -I 0x1A2B3C4D %s", 0xBEEF1234, true, "fsck.exfat -n %s",
         ""},
        {"NTFS, low half only", {"mkntfs", "ntfsfix"}, "truncate -s 16M %s && mkntfs -F -Q -q %s", 0xBEEF1234, true,
         "ntfsfix -n %s", ""},
        {"NTFS, all 64 bits", {"mkntfs", "ntfsfix"}, "truncate -s 16M %s && mkntfs -F -Q -q %s",
         0x0A0B0C0DBEEF1234ull, false, "ntfsfix -n %s", ""},
    };
    return cases;
}

std::string withPath(std::string command, const fs::path& path) {
    const std::string quoted = "'" + path.string() + "'";
    for (std::size_t at; (at = command.find("%s")) != std::string::npos;) command.replace(at, 2, quoted);
    return command;
}

// Byte offsets a serial change may alter: the serial field of each boot-sector copy and, for exFAT,
// the checksum sectors of both regions.
bool onlyAllowedBytesDiffer(const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& after,
                            const ChangePlan& plan) {
    if (before.size() != after.size()) return false;
    for (auto at = std::mismatch(before.begin(), before.end(), after.begin()); at.first != before.end();
         at = std::mismatch(at.first + 1, before.end(), at.second + 1)) {
        const auto i = static_cast<std::size_t>(at.first - before.begin());
        bool allowed = false;
        for (const RegionWrite& region : plan.regions) {
            const std::size_t start = region.firstSector * 512;
            if (i < start || i >= start + region.before.size()) continue;
            const std::size_t inRegion = i - start;
            if (inRegion >= plan.serialOffset && inRegion < plan.serialOffset + plan.serialWidth) allowed = true;
            if (plan.fsType == FsType::exFAT && inRegion >= std::size_t{11} * plan.bytesPerSector) allowed = true;
        }
        if (!allowed) return false;
    }
    return true;
}

TEST(RealImages, ChangeThenRecoverRaw) {
    std::random_device random;
    const fs::path folder = fs::temp_directory_path() / ("plinthos-engine-" + std::to_string(random()));
    fs::create_directories(folder);
    for (const RealCase& c : realCases()) {
        SCOPED_TRACE(c.name);
        bool tools = haveTool("blkid");
        for (const std::string& tool : c.tools) tools = tools && haveTool(tool);
        if (!tools) {
            ADD_FAILURE() << "missing tools for " << c.name << " (scripts/setup installs them)";
            continue;
        }
        const fs::path image = folder / "volume.img";
        fs::remove(image);
        const Command made = run(withPath(c.make, image));
        ASSERT_EQ(made.status, 0) << made.output;
        const auto original = readFile(image);

        FakeVolumes volumes(512, original);
        RecordingSink sink;
        const ChangeResult changed = changeSerial(volumes, test::kVolumeName, c.newSerial, c.keepHighHalf, sink);
        ASSERT_EQ(changed.error, ApplyFailure::None) << applyFailureName(changed.error);
        EXPECT_TRUE(changed.plan.notes.empty());
        const std::size_t copies = changed.plan.fsType == FsType::FAT16 ? 1 : 2;
        EXPECT_EQ(changed.plan.regions.size(), copies);
        const VolumeSerial expected =
            c.keepHighHalf && changed.plan.serialWidth == 8 ? withLowHalf(changed.plan.oldSerial, c.newSerial)
                                                            : c.newSerial;
        EXPECT_EQ(changed.plan.newSerial, expected);

        writeFile(image, volumes.memory.bytes());
        EXPECT_EQ(blkidSerial(image), expectedBlkidSerial(expected, changed.plan.serialWidth));
        const Command judged = run(withPath(c.judge, image));
        EXPECT_EQ(judged.status, 0) << judged.output;
        if (!c.judgeMustNotSay.empty()) {
            EXPECT_EQ(judged.output.find(c.judgeMustNotSay), std::string::npos) << judged.output;
        }
        EXPECT_TRUE(onlyAllowedBytesDiffer(original, volumes.memory.bytes(), changed.plan));

        // The backup the change saved brings the volume back byte for byte.
        ASSERT_TRUE(sink.seen.has_value());
        const BootSectorBackup backup = backupFromPlan(*sink.seen, test::kVolumeName, L"", "3.0.2",
                                                       "2026-12-01T10:00:00Z");
        RecordingSink recoverySink;
        const ChangeResult recovered = recoverRaw(volumes, test::kVolumeName, backup, recoverySink, false);
        EXPECT_EQ(recovered.error, ApplyFailure::None) << applyFailureName(recovered.error);
        EXPECT_EQ(recovered.match, 0);
        EXPECT_EQ(recovered.plan.newSerial, changed.plan.oldSerial);
        EXPECT_TRUE(volumes.memory.bytes() == original);
        writeFile(image, volumes.memory.bytes());
        EXPECT_EQ(blkidSerial(image), expectedBlkidSerial(changed.plan.oldSerial, changed.plan.serialWidth));
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tlx
