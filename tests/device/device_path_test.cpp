// Forming Windows device paths from drive texts, with a fake mount-point query.
#include "device/device_path.h"
#include "device/encryption.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "platform/text.h"

namespace tlx {
namespace {

const std::wstring kGuid = L"{6f2c8e1a-0b1d-4c3e-9a7f-1234567890ab}";

struct FakeMounts {
    std::map<std::wstring, std::wstring> answers;  // folder with trailing backslash -> volume name
    std::vector<std::wstring> asked;
    MountPointQuery query() {
        return [this](const std::wstring& folder) -> std::optional<std::wstring> {
            asked.push_back(folder);
            const auto it = answers.find(folder);
            if (it == answers.end()) return std::nullopt;
            return it->second;
        };
    }
};

TEST(WindowsDevicePath, FormsThePathOfEveryKindOfDriveText) {
    struct Case {
        std::wstring driveSpec;
        std::optional<std::wstring> expected;
        bool queries;  // whether the mount-point query must be asked
    };
    const std::wstring guidPath = L"\\\\?\\Volume" + kGuid;
    const std::vector<Case> cases = {
        {L"e", L"\\\\.\\E:", false},
        {L"E:", L"\\\\.\\E:", false},
        {L"e:\\", L"\\\\.\\E:", false},
        {L"\\\\.\\e:", L"\\\\.\\E:", false},
        {L"\\\\.\\E:\\", L"\\\\.\\E:", false},
        {L" \tE: \t", L"\\\\.\\E:", false},
        {L"z", L"\\\\.\\Z:", false},
        {L"\\\\.\\Volume" + kGuid + L"\\", guidPath, false},
        {L"\\\\?\\Volume" + kGuid + L"\\", guidPath, false},
        {L"\\\\?\\Volume" + kGuid, guidPath, false},
        {L"  \\\\.\\Volume" + kGuid + L"  ", guidPath, false},
        {L"\\\\.\\", std::nullopt, false},
        {L"\\\\.\\E", std::nullopt, false},
        {L"\\\\.\\EF:", std::nullopt, false},
        {L"\\\\.\\1:", std::nullopt, false},
        {L"\\\\.\\E:\\\\", std::nullopt, false},  // only one trailing backslash is removed
        {L"", std::nullopt, false},
        {L" \t ", std::nullopt, false},
        // Lower-case "volume" is no GUID path; it is tried as a folder.
        {L"\\\\?\\volume" + kGuid, std::nullopt, true},
        {L"1:", std::nullopt, true},
        {L"E:\\x", std::nullopt, true},
        {L"C:\\Mount\\Data", L"\\\\?\\Volume{data}", true},
        {L"C:\\Mount\\Data\\", L"\\\\?\\Volume{data}", true},
        {L"C:\\Mount\\Bare", L"\\\\?\\Volume{bare}", true},
        {L"C:\\NotAMount", std::nullopt, true},
        {L"C:\\Empty", std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.driveSpec));
        FakeMounts mounts;
        mounts.answers[L"C:\\Mount\\Data\\"] = L"\\\\?\\Volume{data}\\";
        mounts.answers[L"C:\\Mount\\Bare\\"] = L"\\\\?\\Volume{bare}";
        mounts.answers[L"C:\\Empty\\"] = L"\\";
        EXPECT_EQ(windowsDevicePathFor(c.driveSpec, mounts.query()), c.expected);
        EXPECT_EQ(!mounts.asked.empty(), c.queries);
    }
}

TEST(WindowsDevicePath, AsksForTheFolderWithOneTrailingBackslash) {
    for (const std::wstring driveSpec : {L"C:\\Mount\\Data", L"C:\\Mount\\Data\\", L" C:\\Mount\\Data\t"}) {
        SCOPED_TRACE(toUtf8(driveSpec));
        FakeMounts mounts;
        (void)windowsDevicePathFor(driveSpec, mounts.query());
        ASSERT_EQ(mounts.asked.size(), 1u);
        EXPECT_EQ(mounts.asked.front(), L"C:\\Mount\\Data\\");
    }
}

TEST(DiskEncryptionText, NamesEveryAnswer) {
    EXPECT_STREQ(diskEncryptionText(DiskEncryption::None), L"none");
    EXPECT_STREQ(diskEncryptionText(DiskEncryption::BitLocker), L"BitLocker");
    EXPECT_STREQ(diskEncryptionText(DiskEncryption::Undetermined), L"unknown");
    EXPECT_STREQ(diskEncryptionText(static_cast<DiskEncryption>(7)), L"unknown");
}

}  // namespace
}  // namespace tlx
