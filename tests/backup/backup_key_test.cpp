// The name a block device's backups are kept under: udev's stablest name of it, else the device path.
#include "backup/backup_key.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "backup_samples.h"

namespace tlx {
namespace {

namespace fs = std::filesystem;

TEST(BackupKey, UdevsStablestNameOfABlockDevice) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a device node needs root";
    struct Case {
        const char* name;
        std::vector<std::string> links;  // "kind/name" leading to the device; "kind/name!" to another
        std::string expected;            // below the links folder; empty: the device path itself
    };
    const Case cases[] = {
        {"by-id first", {"by-path/pci-0-part1", "by-partuuid/abcd-01", "by-id/wwn-0x5-part1", "by-id/ata-X-part1"},
         "by-id/ata-X-part1"},
        {"then by-partuuid", {"by-path/pci-0-part1", "by-partuuid/abcd-01", "by-id/ata-Y-part1!"}, "by-partuuid/abcd-01"},
        {"then by-path", {"by-path/pci-0-part1"}, "by-path/pci-0-part1"},
        {"none", {"by-id/ata-Y-part1!"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TemporaryFolder root;
        const fs::path device = root.path() / "sdz1";
        const fs::path other = root.path() / "sdz2";
        // Nodes of a device that need not exist: only their numbers are compared.
        ASSERT_EQ(::mknod(device.c_str(), S_IFBLK | 0600, makedev(259, 4000)), 0);
        ASSERT_EQ(::mknod(other.c_str(), S_IFBLK | 0600, makedev(259, 4001)), 0);
        const fs::path links = root.path() / "disk";
        for (std::string link : c.links) {
            const bool toOther = link.back() == '!';
            if (toOther)
                link.pop_back();
            fs::create_directories((links / link).parent_path());
            fs::create_symlink(toOther ? other : device, links / link);
        }
        const std::wstring expected = c.expected.empty() ? device.wstring() : (links / c.expected).wstring();
        EXPECT_EQ(backupKeyFor(device.wstring(), links.string()), expected);
    }
    test::TemporaryFolder root;
    const fs::path image = root.path() / "disk.img";
    test::writeBytes(image, {1, 2, 3});
    EXPECT_EQ(backupKeyFor(image.wstring(), "/nonexistent"), image.wstring()) << "an image is its own key";
}

}  // namespace
}  // namespace tlx
