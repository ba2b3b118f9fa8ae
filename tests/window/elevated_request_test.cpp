// The elevated instance's command line: what the window builds and what the child accepts.
#include "elevated_request.h"

#include <gtest/gtest.h>

#include "window/command_line_splitter.h"

namespace tlx {
namespace {

using test::splitParameters;

const std::wstring kResult = L"C:\\Users\\A B\\AppData\\Local\\Temp\\Dravik-4242-123456.tlxresult";
const std::wstring kVolume = L"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61e}\\";

std::vector<std::wstring> argvOf(const std::wstring& parameters) {
    std::vector<std::wstring> argv = splitParameters(parameters);
    argv.insert(argv.begin(), L"C:\\Program Files\\Plinthos\\Dravik.exe");
    return argv;
}

void expectSameRequest(const ElevatedRequest& a, const ElevatedRequest& b) {
    EXPECT_EQ(a.operation, b.operation);
    EXPECT_EQ(a.volume, b.volume);
    EXPECT_EQ(a.serial, b.serial);
    EXPECT_EQ(a.full64, b.full64);
    EXPECT_EQ(a.backupFile, b.backupFile);
    EXPECT_EQ(a.backupDigest, b.backupDigest);
    EXPECT_EQ(a.raw, b.raw);
    EXPECT_EQ(a.force, b.force);
    EXPECT_EQ(a.skipVolumeCheck, b.skipVolumeCheck);
}

TEST(ElevatedRequest, ResultFileName) {
    EXPECT_EQ(resultFileName(4242, 123456), L"Dravik-4242-123456.tlxresult");
    EXPECT_EQ(resultFileName(0xFFFFFFFFu, 0xFFFFFFFFFFFFFFFFull),
              L"Dravik-4294967295-18446744073709551615.tlxresult");
}

TEST(ElevatedRequest, ChangeOfSerialZeroIsSixteenZerosThenFlag) {
    ElevatedRequest request;
    request.volume = kVolume;
    EXPECT_EQ(childParameters(L"C:\\T\\r.tlxresult", request),
              L"--elevated-op \"C:\\T\\r.tlxresult\" change "
              L"\"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61e}\\\\\" 0000000000000000 0");
    request.serial = 0x1234ABCD;
    request.full64 = true;
    EXPECT_EQ(childParameters(L"r.tlxresult", request),
              L"--elevated-op \"r.tlxresult\" change \"" + kVolume + L"\\\" 000000001234ABCD 1");
}

const std::wstring kDigestText = L"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

Sha256Digest digest() {
    Sha256Digest value{};
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>((i % 16) * 0x11);
    return value;
}

TEST(ElevatedRequest, RestoreCarriesTheConfirmedDigestThenThreeFlagsInOrder) {
    ElevatedRequest request;
    request.operation = ElevatedOperation::Restore;
    request.volume = kVolume;
    request.backupFile = L"D:\\my backups\\a.tlxbak";
    request.backupDigest = digest();
    request.force = true;
    EXPECT_EQ(childParameters(L"r.tlxresult", request), L"--elevated-op \"r.tlxresult\" restore \"" + kVolume +
                                                            L"\\\" \"D:\\my backups\\a.tlxbak\" " + kDigestText + L" 0 1 0");
}

TEST(ElevatedRequest, WhatTheWindowBuildsTheChildReadsBack) {
    std::vector<ElevatedRequest> requests(5);
    requests[0].volume = kVolume;
    requests[1].volume = kVolume;
    requests[1].serial = 0xFEDCBA9876543210ull;
    requests[1].full64 = true;
    requests[2].volume = L"E:\\";
    requests[2].serial = 0xFFFFFFFFull;
    for (std::size_t i = 3; i < 5; ++i) {
        requests[i].operation = ElevatedOperation::Restore;
        requests[i].volume = kVolume;
        requests[i].backupFile = L"C:\\ProgramData\\with \"quote\\\" and space\\x.tlxbak";
        requests[i].backupDigest = digest();
    }
    requests[3].skipVolumeCheck = true;
    requests[4].raw = true;
    requests[4].force = true;
    for (const ElevatedRequest& request : requests) {
        const std::optional<ChildArguments> parsed = parseChildArguments(argvOf(childParameters(kResult, request)));
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->resultFile, kResult);
        expectSameRequest(parsed->request, request);
    }
}

TEST(ElevatedRequest, ChildChecksItsArguments) {
    struct Case {
        const wchar_t* parameters;
        bool accepted;
    };
    const Case cases[] = {
        {L"--elevated-op r.TLXRESULT change E:\\ 0123456789abcdef 0", true},
        {L"--elevated-op .tlxresult change E:\\ 1 1", true},
        {L"--elevated-op r.tlxresult restore E:\\ b.tlxbak 00112233445566778899AABBCCDDEEFF00112233445566778899aabbccddeeff 1 1 1",
         true},
        {L"--elevated-op r.tlxresult restore E:\\ b.tlxbak 1 1 1", false},          // no digest
        {L"--elevated-op r.tlxresult restore E:\\ b.tlxbak 0011223344556677 1 1 1", false},
        {L"--elevated-op r.tlxresult restore E:\\ b.tlxbak "
         L"g0112233445566778899aabbccddeeff00112233445566778899aabbccddeeff 1 1 1", false},
        {L"--elevated-op r.tlxresult change E:\\ 0000000000000000", false},          // 6 arguments
        {L"--elevated-op r.tlxresult change E:\\ 0000000000000000 0 0", false},      // 8
        {L"--elevated-op r.tlxresult Change E:\\ 0000000000000000 0", false},        // word case
        {L"--elevated-op r.tlxresult restore E:\\ b.tlxbak 1 1", false},             // 8 arguments
        {L"--elevated-op r.tlxresult restore E:\\ b.tlxbak 1 1 1 1 1", false},       // 11
        {L"--elevated-op r.tlxresult remove E:\\ 0000000000000000 0", false},
        {L"--elevated-op r.txt change E:\\ 0000000000000000 0", false},              // no extension
        {L"--elevated-op tlxresult change E:\\ 0000000000000000 0", false},          // 9 characters
        {L"--elevated-op r.tlxresult.txt change E:\\ 0000000000000000 0", false},
        {L"--elevated-op r.tlxresult change", false},                                // fewer than 5
        {L"--elevated-op r.tlxresult change E:\\ zz 0", false},                      // not hexadecimal
        {L"--elevated-op r.tlxresult change E:\\ \"\" 0", false},
        {L"--elevated-op r.tlxresult change E:\\ 0x12 0", false},
        {L"--elevated-op r.tlxresult change E:\\ -1 0", false},
        {L"--elevated-op r.tlxresult change E:\\ 11111111111111111 0", false},       // 17 digits
        {L"--Elevated-op r.tlxresult change E:\\ 0000000000000000 0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.parameters, c.parameters + wcslen(c.parameters)));
        EXPECT_EQ(parseChildArguments(argvOf(c.parameters)).has_value(), c.accepted);
    }
}

TEST(ElevatedRequest, FlagsAreTrueOnlyWhenExactlyOne) {
    auto parsed = parseChildArguments(argvOf(L"--elevated-op r.tlxresult change E:\\ 1A2b 01"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->request.serial, 0x1A2Bu);
    EXPECT_FALSE(parsed->request.full64);
    parsed = parseChildArguments(argvOf(L"--elevated-op r.tlxresult restore E:\\ b.tlxbak " + kDigestText + L" true 1 2"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->request.operation, ElevatedOperation::Restore);
    EXPECT_EQ(parsed->request.backupFile, L"b.tlxbak");
    EXPECT_FALSE(parsed->request.raw);
    EXPECT_TRUE(parsed->request.force);
    EXPECT_FALSE(parsed->request.skipVolumeCheck);
}

TEST(ElevatedRequest, FlagsAreReadAfterTheDigest) {
    const auto parsed =
        parseChildArguments(argvOf(L"--elevated-op r.tlxresult restore E:\\ b.tlxbak " + kDigestText + L" 0 0 1"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->request.backupDigest, digest());
    EXPECT_TRUE(parsed->request.skipVolumeCheck);
}

// The child writes to a volume or a drive root; a disk image only over a boot sector and never with force.
TEST(ElevatedRequest, WhatTheChildMayWrite) {
    struct Case {
        const wchar_t* volume;
        bool volumeOrRoot;
    };
    const Case cases[] = {
        {L"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61e}\\", true},
        {L"\\\\?\\Volume{5EB1C0DE-0000-4000-8000-00000000E61E}\\", true},
        {L"E:\\", true},
        {L"z:\\", true},
        {L"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61e}", false},  // no trailing backslash
        {L"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61g}\\", false},
        {L"\\\\?\\Volume{5eb1c0de00000-4000-8000-00000000e61e}\\", false},
        {L"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61e}\\x", false},
        {L"\\\\.\\PhysicalDrive0", false},
        {L"E:", false},
        {L"E:\\victim.ini", false},
        {L"1:\\", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.volume, c.volume + wcslen(c.volume)));
        EXPECT_EQ(namesVolumeOrDriveRoot(c.volume), c.volumeOrRoot);
    }
    ElevatedRequest request;
    EXPECT_TRUE(childMayWriteImage(request, true));
    EXPECT_FALSE(childMayWriteImage(request, false));
    request.force = true;
    EXPECT_FALSE(childMayWriteImage(request, true));
}

}  // namespace
}  // namespace tlx
