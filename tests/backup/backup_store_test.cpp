// The backups folder over a real temporary folder: names, crash-safe saves, failures, listing.
#include "backup/backup_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

#include "backup_samples.h"
#include "platform/system.h"
#include "platform/text.h"

namespace tlx {
namespace {

namespace fs = std::filesystem;

const std::wstring kVolume = L"\\\\?\\Volume{5e1f2a3b-0000-4c4d-8e8f-123456789abc}\\";
const char* kVolumeFolder = "Volume{5e1f2a3b-0000-4c4d-8e8f-123456789abc}";

ChangePlan fat32Plan() {
    return test::planFor({"FAT32", FsType::FAT32, 512, 512, true});
}

std::string stampOf(const UtcTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04u%02u%02u-%02u%02u%02uZ", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}

bool sameSecond(const UtcTime& a, const UtcTime& b) {
    return stampOf(a) == stampOf(b);
}

bool anyTemporaryFile(const fs::path& root) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator(); ++it)
        if (it->path().extension() == ".tmp")
            return true;
    return false;
}

TEST(BackupStore, FolderNames) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\\\\?\\Volume{abc}\\", L"Volume{abc}"},
        {L"\\\\?\\Volume{abc}", L"Volume{abc}"},
        {L"Volume{", L"Volume{"},
        {L"prefix Volume{x}\\", L"Volume{x}"},
        {L"Volume", L"Volume"},
        {L"\\\\?\\volume{abc}\\", L"\\\\?\\volume{abc}"},  // the match is case-sensitive
        {L"E:", L"E:"},
        {L"", L""},
        {L"/dev/sdb1", L"dev_sdb1"},
        {L"/dev/mapper/crypt-home", L"dev_mapper_crypt-home"},
        {L"/srv/images/usb.img", L"srv_images_usb.img"},
        {L"/dev/loop0/", L"dev_loop0"},
        {L"/..", L"_.."},
        {L"/../etc", L".._etc"},
        // Two paths that differ only in '/' against '_' keep folders of their own.
        {L"/srv/a_b/x.img", L"srv_a%5Fb_x.img"},
        {L"/srv/a/b_x.img", L"srv_a_b%5Fx.img"},
        {L"/srv/100%/x.img", L"srv_100%25_x.img"},
    };
    for (const auto& [volume, expected] : cases) {
        EXPECT_EQ(backupFolderName(volume), expected) << "for " << fs::path(volume).string();
    }
}

TEST(BackupStore, JoiningPaths) {
    struct Case {
        std::wstring left;
        std::wstring right;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"", L"Volume{x}", L"Volume{x}"},
        {L"D:\\bk", L"Volume{x}", L"D:\\bk\\Volume{x}"},
        {L"D:\\bk\\", L"Volume{x}", L"D:\\bk\\Volume{x}"},
        {L"D:/bk/", L"Volume{x}", L"D:/bk/Volume{x}"},
        {L"D:", L"Volume{x}", L"D:Volume{x}"},
        {L"d:", L"Volume{x}", L"d:Volume{x}"},
        {L"/var/lib/plinthos/backups", L"dev_sdb1", L"/var/lib/plinthos/backups/dev_sdb1"},
        {L"/var/lib/", L"dev_sdb1", L"/var/lib/dev_sdb1"},
        {L"backups", L"dev_sdb1", L"backups/dev_sdb1"},  // a relative folder on this platform
        {L"C:\\Program Data/x", L"y", L"C:\\Program Data/x/y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fs::path(c.left).string());
        EXPECT_EQ(joinPath(c.left, c.right), c.expected);
    }
}

TEST(BackupStore, FileNames) {
    struct Case {
        const char* name;
        VolumeSerial oldSerial;
        VolumeSerial newSerial;
        std::uint32_t width;
        unsigned attempt;
        std::wstring expected;
    };
    const Case cases[] = {
        {"32-bit", 0x1A2B3C4D, 0x0000BEEF, 4, 0, L"20240305-140709Z_1A2B3C4D_0000BEEF.tlxbak"},
        {"first suffix", 0x1A2B3C4D, 0x0000BEEF, 4, 1, L"20240305-140709Z_1A2B3C4D_0000BEEF-1.tlxbak"},
        {"last suffix", 0x1A2B3C4D, 0x0000BEEF, 4, 99, L"20240305-140709Z_1A2B3C4D_0000BEEF-99.tlxbak"},
        {"64-bit", 0x0772BC612FE6D5CDull, 0xBEEF, 8, 0,
         L"20240305-140709Z_0772BC612FE6D5CD_000000000000BEEF.tlxbak"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChangePlan plan;
        plan.oldSerial = c.oldSerial;
        plan.newSerial = c.newSerial;
        plan.serialWidth = c.width;
        EXPECT_EQ(backupFileName("20240305-140709Z", plan, c.attempt), c.expected);
    }
}

TEST(BackupStore, SaveWritesAVerifiedFileUnderTheVolumeFolder) {
    test::TemporaryFolder root;
    const ChangePlan plan = fat32Plan();
    FileBackupSink sink(root.wide() + L"/backups", kVolume, L"E:\\", "3.0.2");
    const UtcTime before = utcNow();
    ASSERT_TRUE(sink.save(plan)) << "error " << sink.lastError();
    const UtcTime after = utcNow();
    EXPECT_EQ(sink.lastError(), 0u);

    const fs::path saved(sink.lastPath());
    EXPECT_EQ(saved.parent_path(), root.path() / "backups" / kVolumeFolder);
    const std::string name = saved.filename().string();
    ASSERT_EQ(name.size(), std::string("20240305-140709Z_1A2B3C4D_0000BEEF.tlxbak").size()) << name;
    EXPECT_EQ(name.substr(16), "_1A2B3C4D_0000BEEF.tlxbak");
    const std::string stamp = name.substr(0, 16);
    EXPECT_TRUE(stamp == stampOf(before) || stamp == stampOf(after)) << stamp;
    EXPECT_EQ(test::entryNames(saved.parent_path()), std::vector<std::string>{name});

    const BackupReadResult read = readBackupFile(sink.lastPath());
    ASSERT_EQ(read.parseError, BackupParseError::None);
    const BootSectorBackup& b = read.backup;
    EXPECT_EQ(b.volume, kVolume);
    EXPECT_EQ(b.mount, L"E:\\");
    EXPECT_EQ(b.app, "3.0.2");
    EXPECT_EQ(b.fsType, FsType::FAT32);
    EXPECT_EQ(b.oldSerial, plan.oldSerial);
    EXPECT_EQ(b.newSerial, plan.newSerial);
    // created and the name's stamp are the same instant.
    const std::string created = stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + "T" +
                                stamp.substr(9, 2) + ":" + stamp.substr(11, 2) + ":" + stamp.substr(13, 2) + "Z";
    EXPECT_EQ(b.created, created);
    ASSERT_EQ(b.regions.size(), 2u);
    EXPECT_EQ(b.regions[0].bytes, plan.regions[0].before);
    EXPECT_EQ(b.regions[1].bytes, plan.regions[1].before);
}

TEST(BackupStore, SameSecondSavesGetSuffixesAndNeverOverwrite) {
    const ChangePlan plan = fat32Plan();
    // The clock is real: retry until both saves fall in the same second (nearly always the first time).
    for (int tries = 0; tries < 10; ++tries) {
        test::TemporaryFolder root;
        FileBackupSink sink(root.wide(), kVolume, L"", "3.0.2");
        ASSERT_TRUE(sink.save(plan));
        const std::wstring first = sink.lastPath();
        const auto firstBytes = test::readBytes(first);
        ASSERT_TRUE(sink.save(plan));
        const std::wstring second = sink.lastPath();
        const std::string a = fs::path(first).filename().string();
        const std::string b = fs::path(second).filename().string();
        if (a.substr(0, 16) != b.substr(0, 16))
            continue;
        EXPECT_EQ(b, a.substr(0, a.size() - 7) + "-1.tlxbak");
        EXPECT_EQ(test::readBytes(first), firstBytes) << "the first backup is untouched";
        // Both were written within the second; the one written last is the latest backup.
        fs::last_write_time(first, fs::last_write_time(second) - std::chrono::milliseconds(5));
        const auto listed = listVolumeBackups(root.wide(), kVolume);
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(listed[0].path, second);
        EXPECT_EQ(listed[1].path, first);
        return;
    }
    GTEST_SKIP() << "SKIP: the clock never stayed within one second for two saves";
}

TEST(BackupStore, AllHundredNamesTakenFailsWithFileExists) {
    const ChangePlan plan = fat32Plan();
    for (int tries = 0; tries < 10; ++tries) {
        test::TemporaryFolder root;
        const fs::path folder = root.path() / kVolumeFolder;
        fs::create_directories(folder);
        const UtcTime now = utcNow();
        for (unsigned n = 0; n < 100; ++n)
            test::writeBytes(folder / backupFileName(stampOf(now), plan, n), {'x'});
        FileBackupSink sink(root.wide(), kVolume, L"", "3.0.2");
        const bool saved = sink.save(plan);
        if (!sameSecond(now, utcNow())) {
            continue;
        }
        EXPECT_FALSE(saved);
        EXPECT_EQ(sink.lastError(), 80u);
        EXPECT_TRUE(sink.lastPath().empty());
        EXPECT_FALSE(anyTemporaryFile(root.path()));
        EXPECT_EQ(test::entryNames(folder).size(), 100u);
        for (const auto& name : test::entryNames(folder))
            EXPECT_EQ(test::readBytes(folder / name), std::vector<std::uint8_t>{'x'}) << name;
        return;
    }
    GTEST_SKIP() << "SKIP: the clock never stayed within one second for the save";
}

TEST(BackupStore, FailuresLeaveNoTemporaryFile) {
    test::TemporaryFolder root;
    test::writeBytes(root.path() / "plain-file", {'x'});
    const ChangePlan plan = fat32Plan();
    struct Case {
        const char* name;
        std::wstring directory;
        std::wstring volume;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"empty per-volume folder path", L"", L"", 3},
        {"backups folder under a regular file", (root.path() / "plain-file" / "backups").wstring(), kVolume, 3},
        {"per-volume folder is a regular file", root.wide(), L"/plain-file", 183},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileBackupSink sink(c.directory, c.volume, L"", "3.0.2");
        EXPECT_FALSE(sink.save(plan));
        EXPECT_EQ(sink.lastError(), c.error);
        EXPECT_TRUE(sink.lastPath().empty());
        EXPECT_FALSE(anyTemporaryFile(root.path()));
    }
    EXPECT_EQ(test::entryNames(root.path()), std::vector<std::string>{"plain-file"});
}

TEST(BackupStore, FailedDigestWritesNothing) {
    test::TemporaryFolder root;
    test::FailingSha256 broken(0);
    FileBackupSink sink(root.wide() + L"/backups", kVolume, L"", "3.0.2");
    EXPECT_FALSE(sink.save(fat32Plan()));
    EXPECT_EQ(sink.lastError(), 31u);
    EXPECT_TRUE(sink.lastPath().empty());
    EXPECT_FALSE(fs::exists(root.path() / "backups")) << "not even the folder is created";
}

// Deleted, so that no listing shows a backup the user was told was not saved.
TEST(BackupStore, ReadBackThatFailsToVerifyFailsTheSaveAndRemovesTheFile) {
    test::TemporaryFolder root;
    // The two digests of the writer succeed; the read-back's hashing fails.
    test::FailingSha256 readBackFails(2);
    FileBackupSink sink(root.wide(), kVolume, L"", "3.0.2");
    EXPECT_FALSE(sink.save(fat32Plan()));
    EXPECT_EQ(sink.lastError(), 23u);
    EXPECT_TRUE(sink.lastPath().empty());
    EXPECT_EQ(test::entryNames(root.path() / kVolumeFolder), std::vector<std::string>{});
    EXPECT_TRUE(listVolumeBackups(root.wide(), kVolume).empty());
}

TEST(BackupStore, LastPathAndErrorDescribeOnlyTheLatestSave) {
    test::TemporaryFolder root;
    test::writeBytes(root.path() / "plain-file", {'x'});
    FileBackupSink good(root.wide(), kVolume, L"", "3.0.2");
    ASSERT_TRUE(good.save(fat32Plan()));
    EXPECT_FALSE(good.lastPath().empty());
    {
        test::FailingSha256 broken(0);
        EXPECT_FALSE(good.save(fat32Plan()));
    }
    EXPECT_TRUE(good.lastPath().empty());
    EXPECT_EQ(good.lastError(), 31u);
    ASSERT_TRUE(good.save(fat32Plan()));
    EXPECT_EQ(good.lastError(), 0u);
}

// A small tmpfs shows the system's own refusals; it needs the right to mount.
class MountedTmpfs {
public:
    explicit MountedTmpfs(const fs::path& at, const char* options) : at_(at) {
        fs::create_directories(at_);
        mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options) == 0;
    }
    ~MountedTmpfs() {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    MountedTmpfs(const MountedTmpfs&) = delete;
    MountedTmpfs& operator=(const MountedTmpfs&) = delete;
    bool mounted() const { return mounted_; }
    bool makeReadOnly() {
        return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    fs::path at_;
    bool mounted_ = false;
};

TEST(BackupStore, ReadOnlyFolderFailsWithTheSystemsCode) {
    test::TemporaryFolder root;
    MountedTmpfs tmpfs(root.path() / "mnt", "size=1m");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "SKIP: cannot mount a tmpfs here";
    fs::create_directories(root.path() / "mnt" / kVolumeFolder);
    ASSERT_TRUE(tmpfs.makeReadOnly());
    FileBackupSink sink((root.path() / "mnt").wstring(), kVolume, L"", "3.0.2");
    EXPECT_FALSE(sink.save(fat32Plan()));
    EXPECT_EQ(sink.lastError(), 19u);  // write protected
    EXPECT_TRUE(test::entryNames(root.path() / "mnt" / kVolumeFolder).empty());
}

TEST(BackupStore, FullDiskFailsAndRemovesTheTemporaryFile) {
    test::TemporaryFolder root;
    MountedTmpfs tmpfs(root.path() / "mnt", "size=64k");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "SKIP: cannot mount a tmpfs here";
    // Two 4096-byte exFAT regions make a 96 KiB file: more than the disk holds.
    const ChangePlan plan = test::planFor({"exFAT", FsType::exFAT, 4096, 512, true});
    FileBackupSink sink((root.path() / "mnt").wstring(), kVolume, L"", "3.0.2");
    EXPECT_FALSE(sink.save(plan));
    EXPECT_EQ(sink.lastError(), 112u);  // disk full
    EXPECT_TRUE(test::entryNames(root.path() / "mnt" / kVolumeFolder).empty());
}

TEST(BackupStore, ListingKeepsOnlyReadableBackupsNewestFirst) {
    test::TemporaryFolder root;
    const fs::path folder = root.path() / kVolumeFolder;
    fs::create_directories(folder / "sub.tlxbak");
    const auto valid = serializeBackup(backupFromPlan(fat32Plan(), kVolume, L"E:\\", "3.0.2", "x")).value();
    auto damaged = valid;
    damaged.pop_back();
    const std::pair<const char*, const std::vector<std::uint8_t>*> files[] = {
        {"20240305-140709Z_1A2B3C4D_0000BEEF.tlxbak", &valid},
        {"20240305-140709Z_1A2B3C4D_0000BEEF-1.tlxbak", &valid},
        {"20250101-000000Z_0000BEEF_1A2B3C4D.tlxbak", &valid},
        {"20231231-235959Z_1A2B3C4D_0000BEEF.tlxbak", &valid},
        {"a\xee\x80\x80.tlxbak", &valid},          // U+E000
        {"a\xf0\x9f\x98\x80.tlxbak", &valid},      // U+1F600, a surrogate pair in UTF-16
        {"20260101-000000Z_00000001_00000002.tlxbak", &damaged},
        {"x.TLXBAK", &valid},
        {"x.tlxbak.tmp", &valid},
        {"x.tlxbakx", &valid},
        {"notes.txt", &valid},
    };
    // One write time for all: the order here is the path order (ties inside a second are tested apart).
    const fs::file_time_type written = fs::file_time_type::clock::now();
    for (const auto& [name, bytes] : files) {
        test::writeBytes(folder / name, *bytes);
        fs::last_write_time(folder / name, written);
    }

    const auto listed = listVolumeBackups(root.wide(), kVolume);
    std::vector<std::string> names;
    for (const BackupListEntry& entry : listed) {
        const fs::path path(toUtf8(entry.path));  // the names are not all representable in this locale
        EXPECT_EQ(path.parent_path(), folder);
        EXPECT_EQ(entry.backup.regions.size(), 2u);
        names.push_back(path.filename().string());
    }
    // Descending by UTF-16 code units: U+E000 is above the lead surrogate 0xD83D of U+1F600.
    const std::vector<std::string> expected = {
        "a\xee\x80\x80.tlxbak",
        "a\xf0\x9f\x98\x80.tlxbak",
        "20250101-000000Z_0000BEEF_1A2B3C4D.tlxbak",
        "20240305-140709Z_1A2B3C4D_0000BEEF.tlxbak",
        "20240305-140709Z_1A2B3C4D_0000BEEF-1.tlxbak",
        "20231231-235959Z_1A2B3C4D_0000BEEF.tlxbak",
    };
    EXPECT_EQ(names, expected);
    EXPECT_TRUE(fs::exists(folder / "20260101-000000Z_00000001_00000002.tlxbak")) << "damaged file stays on disk";
}

TEST(BackupStore, ListingKeepsNamesThatAreNotUtf8AndMarksFilesOthersCouldHaveWritten) {
    test::TemporaryFolder root;
    const fs::path folder = root.path() / kVolumeFolder;
    fs::create_directories(folder);
    const auto valid = serializeBackup(backupFromPlan(fat32Plan(), kVolume, L"E:\\", "3.0.2", "x")).value();
    test::writeBytes(folder / "20240101-000000Z_1A2B3C4D_0000BEEF.tlxbak", valid);
    test::writeBytes(folder / "\xff.tlxbak", valid);
    const bool asRoot = ::geteuid() == 0;
    if (asRoot)
        ASSERT_EQ(::chown((folder / "20240101-000000Z_1A2B3C4D_0000BEEF.tlxbak").c_str(), 65534, 65534), 0);

    const auto listed = listVolumeBackups(root.wide(), kVolume);
    ASSERT_EQ(listed.size(), 2u) << "a name with the byte 0xFF is read under that very name";
    EXPECT_EQ(toUtf8(listed[0].path), (folder / "\xff.tlxbak").string());
    EXPECT_FALSE(listed[0].untrusted);
    EXPECT_EQ(listed[1].untrusted, asRoot) << "owned by another user";
}

// Stamps have whole seconds; within one second the file written last is the latest change.
TEST(BackupStore, ListingOrdersOneSecondByWriteTime) {
    struct File {
        const char* name;
        int writtenMs;  // write time, relative to the others
    };
    struct Case {
        const char* name;
        std::vector<File> files;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"one second, the lower serial text written last",
         {{"20240305-140709Z_F0000000_00000001.tlxbak", 0}, {"20240305-140709Z_00000001_00000002.tlxbak", 300}},
         {"20240305-140709Z_00000001_00000002.tlxbak", "20240305-140709Z_F0000000_00000001.tlxbak"}},
        {"one second, the higher serial text written last",
         {{"20240305-140709Z_00000001_F0000000.tlxbak", 0}, {"20240305-140709Z_F0000000_00000002.tlxbak", 300}},
         {"20240305-140709Z_F0000000_00000002.tlxbak", "20240305-140709Z_00000001_F0000000.tlxbak"}},
        {"one second, the same change retried",
         {{"20240305-140709Z_1A2B3C4D_0000BEEF.tlxbak", 0}, {"20240305-140709Z_1A2B3C4D_0000BEEF-1.tlxbak", 300}},
         {"20240305-140709Z_1A2B3C4D_0000BEEF-1.tlxbak", "20240305-140709Z_1A2B3C4D_0000BEEF.tlxbak"}},
        {"one second, equal write times keep the path order",
         {{"20240305-140709Z_00000001_00000002.tlxbak", 0}, {"20240305-140709Z_F0000000_00000001.tlxbak", 0}},
         {"20240305-140709Z_F0000000_00000001.tlxbak", "20240305-140709Z_00000001_00000002.tlxbak"}},
        {"distinct seconds follow the stamps, not the write times",
         {{"20240305-140710Z_00000001_00000002.tlxbak", 0},
          {"20240305-140709Z_F0000000_00000001.tlxbak", 5000},
          {"20240305-140708Z_00000003_00000004.tlxbak", 9000}},
         {"20240305-140710Z_00000001_00000002.tlxbak", "20240305-140709Z_F0000000_00000001.tlxbak",
          "20240305-140708Z_00000003_00000004.tlxbak"}},
        {"a second group among others",
         {{"20240305-140710Z_00000001_00000002.tlxbak", 0},
          {"20240305-140709Z_00000005_00000006.tlxbak", 700},
          {"20240305-140709Z_F0000000_00000005.tlxbak", 600},
          {"20240305-140709Z_AAAAAAAA_F0000000.tlxbak", 500},
          {"20240305-140708Z_00000003_00000004.tlxbak", 900}},
         {"20240305-140710Z_00000001_00000002.tlxbak", "20240305-140709Z_00000005_00000006.tlxbak",
          "20240305-140709Z_F0000000_00000005.tlxbak", "20240305-140709Z_AAAAAAAA_F0000000.tlxbak",
          "20240305-140708Z_00000003_00000004.tlxbak"}},
        {"names without a stamp keep the path order",
         {{"a.tlxbak", 0}, {"b.tlxbak", -300}, {"2024030-140709Z_1_2.tlxbak", 0}, {"2024030-140709Z_3_4.tlxbak", -300}},
         {"b.tlxbak", "a.tlxbak", "2024030-140709Z_3_4.tlxbak", "2024030-140709Z_1_2.tlxbak"}},
    };
    const auto valid = serializeBackup(backupFromPlan(fat32Plan(), kVolume, L"", "3.0.2", "x")).value();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TemporaryFolder root;
        const fs::path folder = root.path() / kVolumeFolder;
        fs::create_directories(folder);
        const fs::file_time_type base = fs::file_time_type::clock::now() - std::chrono::hours(1);
        for (const File& file : c.files) {
            test::writeBytes(folder / file.name, valid);
            fs::last_write_time(folder / file.name, base + std::chrono::milliseconds(file.writtenMs));
        }
        std::vector<std::string> names;
        for (const BackupListEntry& entry : listVolumeBackups(root.wide(), kVolume))
            names.push_back(fs::path(entry.path).filename().string());
        EXPECT_EQ(names, c.expected);
    }
}

TEST(BackupStore, VolumesWithoutBackupsListNothing) {
    test::TemporaryFolder root;
    EXPECT_TRUE(listVolumeBackups(root.wide(), kVolume).empty()) << "no folder";
    fs::create_directories(root.path() / kVolumeFolder);
    EXPECT_TRUE(listVolumeBackups(root.wide(), kVolume).empty()) << "empty folder";
    EXPECT_TRUE(listVolumeBackups((root.path() / "absent").wstring(), kVolume).empty()) << "no backups folder";
    // Another volume's backups are not this volume's.
    FileBackupSink other(root.wide(), L"\\\\?\\Volume{other}\\", L"", "3.0.2");
    ASSERT_TRUE(other.save(fat32Plan()));
    EXPECT_TRUE(listVolumeBackups(root.wide(), kVolume).empty());
    EXPECT_EQ(listVolumeBackups(root.wide(), L"\\\\?\\Volume{other}\\").size(), 1u);
}

TEST(BackupStore, DriveSpecificationThatDoesNotResolveIsUsedAsTheVolume) {
    test::TemporaryFolder root;
    const std::wstring driveSpec = L"\\\\?\\Volume{not-on-this-machine}\\";
    FileBackupSink sink(root.wide(), driveSpec, "3.0.2");
    EXPECT_EQ(sink.volume(), driveSpec);
    ASSERT_TRUE(sink.save(fat32Plan()));
    EXPECT_EQ(fs::path(sink.lastPath()).parent_path(), root.path() / "Volume{not-on-this-machine}");
    const BackupReadResult read = readBackupFile(sink.lastPath());
    EXPECT_EQ(read.backup.volume, driveSpec);
    EXPECT_TRUE(read.backup.mount.empty());
}

TEST(BackupStore, ImageFileResolvesToItsCanonicalPath) {
    test::TemporaryFolder root;
    const fs::path image = root.path() / "disk.img";
    test::writeBytes(image, std::vector<std::uint8_t>(64 * 1024, 0));
    // A relative path with a detour names the same volume as the canonical path.
    const fs::path detour = root.path() / "." / "disk.img";
    FileBackupSink sink((root.path() / "bk").wstring(), detour.wstring(), "3.0.2");
    const std::wstring canonical = fs::canonical(image).wstring();
    if (sink.volume() != canonical)
        GTEST_SKIP() << "SKIP: this platform's volume resolution does not describe image files";
    ASSERT_TRUE(sink.save(fat32Plan()));
    EXPECT_EQ(fs::path(sink.lastPath()).parent_path().filename().wstring(), backupFolderName(canonical));
    EXPECT_EQ(listVolumeBackups((root.path() / "bk").wstring(), canonical).size(), 1u);
}

TEST(BackupStore, LongPathsGetAShortenedStableFolderNameWithinOneComponent) {
    const std::wstring deep = L"/srv/" + std::wstring(120, L'd') + L"/" + std::wstring(120, L'e') + L"/disk_a.img";
    const std::wstring other = L"/srv/" + std::wstring(120, L'D') + L"/" + std::wstring(120, L'e') + L"/disk_a.img";
    const std::wstring cyrillic = L"/srv/" + std::wstring(200, L'\x0436') + L"/disk.img";  // 2 bytes each
    for (const std::wstring& path : {deep, other, cyrillic}) {
        SCOPED_TRACE(toUtf8(path));
        const std::wstring name = backupFolderName(path);
        EXPECT_LE(toUtf8(name).size(), 255u);
        EXPECT_GE(toUtf8(name).size(), 250u) << "keeps as much of the path as fits";
        EXPECT_EQ(name, backupFolderName(path)) << "stable";
        EXPECT_NE(name.find(L"%%"), std::wstring::npos);
        EXPECT_EQ(name.find(L'/'), std::wstring::npos);
    }
    EXPECT_NE(backupFolderName(deep).find(L"_disk%5Fa.img%%"), std::wstring::npos) << "the image's own name stays";
    EXPECT_NE(backupFolderName(deep), backupFolderName(other));
    // An escape is never cut in half.
    const std::wstring underscores = L"/" + std::wstring(300, L'_');
    const std::wstring shortened = backupFolderName(underscores);
    const std::wstring kept = shortened.substr(0, shortened.find(L"%%"));
    EXPECT_EQ(kept.size() % 3, 0u);
    EXPECT_TRUE(kept.starts_with(L"%5F"));
    // A name that fits is not touched.
    const std::wstring fits = L"/" + std::wstring(255, L'x');
    EXPECT_EQ(backupFolderName(fits), std::wstring(255, L'x'));
    EXPECT_NE(backupFolderName(fits + L"x").find(L"%%"), std::wstring::npos);

    // And a save through such a name works.
    test::TemporaryFolder root;
    FileBackupSink sink(root.wide(), deep, L"", "3.0.2");
    ASSERT_TRUE(sink.save(fat32Plan())) << sink.lastError();
    EXPECT_EQ(listVolumeBackups(root.wide(), deep).size(), 1u);
}

TEST(BackupStore, LineFeedInTheVolumeOrMountIsRefusedBeforeAnythingIsCreated) {
    test::TemporaryFolder root;
    struct Case { const char* name; std::wstring volume, mount; };
    const Case cases[] = {
        {"volume", L"/srv/new\nline.img", L""},
        {"mount point", L"/dev/loop3", L"/mnt/a\nb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileBackupSink sink(root.wide() + L"/backups", c.volume, c.mount, "3.0.2");
        EXPECT_FALSE(sink.save(fat32Plan()));
        EXPECT_EQ(sink.lastError(), 123u);
        EXPECT_TRUE(sink.lastPath().empty());
        EXPECT_FALSE(fs::exists(root.path() / "backups"));
    }
    EXPECT_FALSE(recordableInBackup(L"a\nb"));
    EXPECT_TRUE(recordableInBackup(L"a\tb \r"));
}

}  // namespace
}  // namespace tlx
