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

}  // namespace
}  // namespace tlx
