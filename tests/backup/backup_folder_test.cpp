// Where the backups folder lies by default on each platform.
#include "backup/backup_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace tlx {
namespace {

TEST(BackupFolder, WindowsRule) {
    const std::wstring suffix = L"\\Morvane\\Plinthos\\Backups";
    const std::wstring fallback = L"C:\\ProgramData" + suffix;
    const std::wstring long259 = L"D:\\" + std::wstring(256, L'p');
    struct Case {
        const char* name;
        std::optional<std::wstring> programData;
        std::wstring expected;
    };
    const Case cases[] = {
        {"usual value", L"C:\\ProgramData", fallback},
        {"other drive", L"D:\\Shared", L"D:\\Shared" + suffix},
        {"unset", std::nullopt, fallback},
        {"empty", L"", fallback},
        {"259 characters fit", long259, long259 + suffix},
        {"260 characters do not", long259 + L"q", fallback},
        {"trailing backslash kept", L"E:\\Data\\", L"E:\\Data\\" + suffix},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(windowsBackupDirectoryFrom(c.programData), c.expected);
    }
}

TEST(BackupFolder, PosixRule) {
    struct Case {
        const char* name;
        bool root;
        std::optional<std::wstring> stateHome;
        std::optional<std::wstring> home;
        std::wstring expected;
    };
    const Case cases[] = {
        {"root ignores the environment", true, L"/x/state", L"/home/u", L"/var/lib/plinthos/backups"},
        {"user with a state folder", false, L"/x/state", L"/home/u", L"/x/state/plinthos/backups"},
        {"state folder with trailing slash", false, L"/x/state/", L"/home/u", L"/x/state/plinthos/backups"},
        {"no state folder", false, std::nullopt, L"/home/u", L"/home/u/.local/state/plinthos/backups"},
        {"empty state folder", false, L"", L"/home/u", L"/home/u/.local/state/plinthos/backups"},
        {"relative state folder is ignored", false, L"state", L"/home/u", L"/home/u/.local/state/plinthos/backups"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(posixBackupDirectoryFrom(c.root, c.stateHome, c.home), c.expected);
    }
}

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(BackupFolder, DefaultFollowsTheProcess) {
    ScopedEnvironment state("XDG_STATE_HOME", "/tmp/plinthos-state");
    ScopedEnvironment home("HOME", "/tmp/plinthos-home");
    const std::wstring expected =
        ::geteuid() == 0 ? L"/var/lib/plinthos/backups" : L"/tmp/plinthos-state/plinthos/backups";
    EXPECT_EQ(defaultBackupDirectory(), expected);
}

}  // namespace
}  // namespace tlx
