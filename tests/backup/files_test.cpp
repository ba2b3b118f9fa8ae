// The file primitives under the backup store: a save never writes through what stands at its name.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backup_samples.h"
#include "platform/posix/errors.h"
#include "platform/system.h"

namespace tlx {
namespace {

namespace fs = std::filesystem;

TEST(Files, WritingRefusesWhatIsNotAFileOfItsOwn) {
    test::TemporaryFolder root;
    const std::vector<std::uint8_t> victim = {'k', 'e', 'e', 'p'};
    test::writeBytes(root.path() / "victim", victim);
    fs::create_symlink(root.path() / "victim", root.path() / "link.tmp");
    fs::create_symlink(root.path() / "absent", root.path() / "dangling.tmp");
    ASSERT_EQ(::mkfifo((root.path() / "fifo.tmp").c_str(), 0600), 0);
    fs::create_directory(root.path() / "folder.tmp");
    const std::vector<std::uint8_t> bytes(3000, 0x5A);
    // Each refusal names what it found, so the user can tell what to remove.
    const std::pair<const char*, std::uint32_t> names[] = {{"link.tmp", posix::kErrorFoundSymbolicLink},
                                                           {"dangling.tmp", posix::kErrorFoundSymbolicLink},
                                                           {"fifo.tmp", posix::kErrorFoundFifo},
                                                           {"folder.tmp", posix::kErrorFoundFolder}};
    for (const auto& [name, error] : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(writeFileThrough((root.path() / name).wstring(), bytes), error);
        EXPECT_NE(errorText(error).find(name[0] == 'l' || name[0] == 'd' ? L"symbolic link"
                                        : name[0] == 'f' && name[1] == 'i' ? L"FIFO" : L"folder"),
                  std::wstring::npos);
    }
    EXPECT_EQ(test::readBytes(root.path() / "victim"), victim) << "a link's target is never written";
    EXPECT_FALSE(fs::exists(root.path() / "absent")) << "a dangling link creates nothing";
}

TEST(Files, WritingReplacesALeftoverFile) {
    test::TemporaryFolder root;
    const fs::path path = root.path() / "x.tlxbak.tmp";
    test::writeBytes(path, std::vector<std::uint8_t>(5000, 0x11));
    const std::vector<std::uint8_t> bytes = {1, 2, 3};
    ASSERT_EQ(writeFileThrough(path.wstring(), bytes), 0u);
    EXPECT_EQ(test::readBytes(path), bytes);
}

TEST(Files, AHardLinkAtTheNameLeavesTheLinkedFileAlone) {
    test::TemporaryFolder root;
    const std::vector<std::uint8_t> earlier(700, 0x42);
    test::writeBytes(root.path() / "earlier.tlxbak", earlier);
    fs::create_hard_link(root.path() / "earlier.tlxbak", root.path() / "next.tlxbak.tmp");
    const std::vector<std::uint8_t> bytes = {9, 8, 7};
    ASSERT_EQ(writeFileThrough((root.path() / "next.tlxbak.tmp").wstring(), bytes), 0u);
    EXPECT_EQ(test::readBytes(root.path() / "earlier.tlxbak"), earlier);
    EXPECT_EQ(fs::hard_link_count(root.path() / "earlier.tlxbak"), 1u);
    EXPECT_EQ(test::readBytes(root.path() / "next.tlxbak.tmp"), bytes);
}

// Who could have written a backup that root is about to trust.
TEST(Files, LessPrivilegedWriters) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root has less privileged users to fear";
    constexpr uid_t kNobody = 65534;
    struct Case {
        const char* name;
        mode_t folderMode;
        uid_t folderOwner;
        mode_t fileMode;
        uid_t fileOwner;
        bool expected;
    };
    const Case cases[] = {
        {"root's file in root's folder", 0755, 0, 0644, 0, false},
        {"owned by another user", 0755, 0, 0644, kNobody, true},
        {"writable by the group", 0755, 0, 0664, 0, true},
        {"writable by others", 0755, 0, 0646, 0, true},
        {"folder of another user", 0755, kNobody, 0644, 0, true},
        {"folder writable by others", 0757, 0, 0644, 0, true},
        {"sticky folder writable by others", 01777, 0, 0644, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TemporaryFolder root;
        const fs::path folder = root.path() / "Volume";
        fs::create_directory(folder);
        const fs::path file = folder / "x.tlxbak";
        test::writeBytes(file, {1, 2, 3});
        ASSERT_EQ(::chmod(file.c_str(), c.fileMode), 0);
        ASSERT_EQ(::chown(file.c_str(), c.fileOwner, 0), 0);
        ASSERT_EQ(::chown(folder.c_str(), c.folderOwner, 0), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
        EXPECT_EQ(lessPrivilegedCouldWrite(file.wstring()), c.expected);
    }
    test::TemporaryFolder root;
    test::writeBytes(root.path() / "target", {1});
    fs::create_symlink(root.path() / "target", root.path() / "link.tlxbak");
    EXPECT_TRUE(lessPrivilegedCouldWrite((root.path() / "link.tlxbak").wstring())) << "a link is no backup";
    EXPECT_TRUE(lessPrivilegedCouldWrite((root.path() / "absent.tlxbak").wstring()));
    fs::create_directory(root.path() / "real");
    test::writeBytes(root.path() / "real" / "x.tlxbak", {1});
    fs::create_directory_symlink(root.path() / "real", root.path() / "linked");
    EXPECT_FALSE(lessPrivilegedCouldWrite((root.path() / "real" / "x.tlxbak").wstring()));
    EXPECT_TRUE(lessPrivilegedCouldWrite((root.path() / "linked" / "x.tlxbak").wstring())) << "reached through a link";
}

// Folders that decide where root saves and what "the latest backup" is.
TEST(Files, UntrustedBackupFolders) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root has less privileged users to fear";
    constexpr uid_t kNobody = 65534;
    enum class Volume { Absent, Folder, Link };
    struct Case {
        const char* name;
        mode_t rootMode;
        uid_t rootOwner;
        Volume volume;
        mode_t volumeMode;
        uid_t volumeOwner;
        bool rootRefused;
        bool volumeRefused;
    };
    const Case cases[] = {
        {"root's folders", 0755, 0, Volume::Folder, 0755, 0, false, false},
        {"no per-volume folder yet", 0755, 0, Volume::Absent, 0, 0, false, false},
        {"sticky shared backups folder", 01777, 0, Volume::Folder, 0755, 0, false, false},
        {"shared backups folder", 0777, 0, Volume::Folder, 0755, 0, true, false},
        {"backups folder of another user", 0755, kNobody, Volume::Folder, 0755, 0, true, false},
        {"per-volume folder of another user", 01777, 0, Volume::Folder, 0755, kNobody, false, true},
        {"per-volume folder others may write", 0755, 0, Volume::Folder, 01777, 0, false, true},
        {"per-volume folder as a link", 01777, 0, Volume::Link, 0, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TemporaryFolder top;
        const fs::path root = top.path() / "backups";
        const fs::path volume = root / "Volume";
        fs::create_directory(root);
        fs::create_directory(top.path() / "elsewhere");
        if (c.volume == Volume::Folder) {
            fs::create_directory(volume);
            ASSERT_EQ(::chown(volume.c_str(), c.volumeOwner, 0), 0);
            ASSERT_EQ(::chmod(volume.c_str(), c.volumeMode), 0);
        } else if (c.volume == Volume::Link) {
            fs::create_directory_symlink(top.path() / "elsewhere", volume);
        }
        ASSERT_EQ(::chown(root.c_str(), c.rootOwner, 0), 0);
        ASSERT_EQ(::chmod(root.c_str(), c.rootMode), 0);
        const auto refusal = untrustedBackupFolder(root.wstring(), volume.wstring());
        ASSERT_EQ(refusal.has_value(), c.rootRefused || c.volumeRefused);
        if (refusal)
            EXPECT_EQ(refusal->folder, (c.rootRefused ? root : volume).wstring());
    }
}

}  // namespace
}  // namespace tlx
