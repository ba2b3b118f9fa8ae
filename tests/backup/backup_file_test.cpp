// The .tlxbak writer and reader: exact bytes, every refusal, round trips of every plan shape.
#include "backup/backup_file.h"
#include "platform/posix/errors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backup/sha256.h"
#include "backup_samples.h"

namespace tlx {
namespace {

using test::Bytes;

std::string asText(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> asBytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

BootSectorBackup sampleBackup() {
    const ChangePlan plan = test::planFor({"FAT32", FsType::FAT32, 512, 512, true});
    return backupFromPlan(plan, L"\\\\?\\Volume{11111111-2222-3333-4444-555555555555}\\", L"E:\\", "3.0.2",
                          "2024-03-05T14:07:09Z");
}

std::string sampleFile() {
    return asText(serializeBackup(sampleBackup()).value());
}

std::string hexOf(const Bytes& bytes) {
    return digestHex(sha256(bytes).value());
}

void expectSameBackup(const BootSectorBackup& expected, const BootSectorBackup& actual) {
    EXPECT_EQ(expected.volume, actual.volume);
    EXPECT_EQ(expected.mount, actual.mount);
    EXPECT_EQ(expected.fsType, actual.fsType);
    EXPECT_EQ(expected.bytesPerSector, actual.bytesPerSector);
    EXPECT_EQ(expected.deviceSector, actual.deviceSector);
    EXPECT_EQ(expected.volumeSectors, actual.volumeSectors);
    EXPECT_EQ(expected.serialBytes, actual.serialBytes);
    EXPECT_EQ(expected.oldSerial, actual.oldSerial);
    EXPECT_EQ(expected.newSerial, actual.newSerial);
    EXPECT_EQ(expected.created, actual.created);
    EXPECT_EQ(expected.app, actual.app);
    ASSERT_EQ(expected.regions.size(), actual.regions.size());
    for (std::size_t i = 0; i < expected.regions.size(); ++i) {
        SCOPED_TRACE("region " + std::to_string(i));
        EXPECT_EQ(expected.regions[i].kind, actual.regions[i].kind);
        EXPECT_EQ(expected.regions[i].firstSector, actual.regions[i].firstSector);
        EXPECT_EQ(expected.regions[i].sectorCount, actual.regions[i].sectorCount);
        EXPECT_EQ(expected.regions[i].bytes, actual.regions[i].bytes);
    }
}

TEST(BackupFile, WorkedExampleHasExactHeaderAndPayload) {
    test::Fat32Params p;
    p.serial = 0x1A2B3C4D;
    p.totalSectors = 62521344;
    const Bytes boot = test::fat32Sector(p);
    Bytes backupCopy = boot;
    backupCopy[0x1F0] = 0x42;  // the copy differs, so that the order of the two regions shows

    ChangePlan plan;
    plan.fsType = FsType::FAT32;
    plan.bytesPerSector = 512;
    plan.totalSectors = 62521344;
    plan.serialWidth = 4;
    plan.oldSerial = 0x1A2B3C4D;
    plan.newSerial = 0x0000BEEF;
    plan.regions.push_back(test::regionWrite(BootRegion::BackupBootSector, 6, 1, backupCopy));
    plan.regions.push_back(test::regionWrite(BootRegion::BootSector, 0, 1, boot));
    const std::wstring volume = L"\\\\?\\Volume{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}\\";
    const auto bytes = serializeBackup(backupFromPlan(plan, volume, L"E:\\", "3.0.2", "2024-03-05T14:07:09Z"));
    ASSERT_TRUE(bytes);

    const std::string expectedHeader =
        "TLXBAK 1\n"
        "volume=\\\\?\\Volume{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}\\\n"
        "mount=E:\\\n"
        "fs=FAT32\n"
        "bytesPerSector=512\n"
        "deviceSector=512\n"
        "volumeSectors=62521344\n"
        "serialBytes=4\n"
        "oldSerial=1A2B3C4D\n"
        "newSerial=BEEF\n"
        "created=2024-03-05T14:07:09Z\n"
        "app=3.0.2\n"
        "region=BackupBootSector 6 1 " + hexOf(backupCopy) + "\n"
        "region=BootSector 0 1 " + hexOf(boot) + "\n"
        "\n";
    const std::string text = asText(*bytes);
    ASSERT_EQ(text.size(), expectedHeader.size() + 1024);
    EXPECT_EQ(text.substr(0, expectedHeader.size()), expectedHeader);
    EXPECT_EQ(text.substr(expectedHeader.size(), 512), asText(backupCopy));
    EXPECT_EQ(text.substr(expectedHeader.size() + 512), asText(boot));
}

TEST(BackupFile, ValuesAreWrittenInTheirShortestForms) {
    struct Case {
        const char* name;
        VolumeSerial oldSerial;
        VolumeSerial newSerial;
        std::uint64_t volumeSectors;
        const char* expectedLines;
    };
    const Case cases[] = {
        {"zero", 0, 0, 0, "volumeSectors=0\nserialBytes=4\noldSerial=0\nnewSerial=0\n"},
        {"leading zeros dropped", 0x0012ABCD, 0x00000001, 7, "volumeSectors=7\nserialBytes=4\noldSerial=12ABCD\nnewSerial=1\n"},
        {"64-bit", 0xFFFFFFFFFFFFFFFFull, 0x0ABCDEF012345678ull, 18446744073709551615ull,
         "volumeSectors=18446744073709551615\nserialBytes=4\noldSerial=FFFFFFFFFFFFFFFF\nnewSerial=ABCDEF012345678\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BootSectorBackup backup = sampleBackup();
        backup.oldSerial = c.oldSerial;
        backup.newSerial = c.newSerial;
        backup.volumeSectors = c.volumeSectors;
        const std::string text = asText(serializeBackup(backup).value());
        EXPECT_NE(text.find(std::string("\n") + c.expectedLines), std::string::npos) << text.substr(0, 400);
    }
}

TEST(BackupFile, EveryPlanShapeRoundTrips) {
    for (const test::PlanShape& shape : test::allPlanShapes()) {
        SCOPED_TRACE(shape.name);
        const ChangePlan plan = test::planFor(shape);
        // Non-ASCII and non-BMP text must survive the UTF-8 header.
        const BootSectorBackup backup = backupFromPlan(plan, L"/dev/disk/\u00e9t\u00e9-\U0001F4BE", L"/mnt/\u00fcber",
                                                       "3.0.1", "2031-12-31T23:59:59Z");
        EXPECT_EQ(backup.deviceSector, shape.deviceSector);
        EXPECT_EQ(backup.serialBytes, plan.serialWidth);
        ASSERT_EQ(backup.regions.size(), plan.regions.size());
        for (std::size_t i = 0; i < plan.regions.size(); ++i)
            EXPECT_EQ(backup.regions[i].bytes, plan.regions[i].before) << "the saved bytes are the old ones";

        const auto bytes = serializeBackup(backup);
        ASSERT_TRUE(bytes);
        const BackupReadResult read = parseBackup(*bytes);
        ASSERT_EQ(read.parseError, BackupParseError::None) << backupParseErrorName(read.parseError);
        EXPECT_EQ(read.systemError, 0u);
        expectSameBackup(backup, read.backup);
    }
}

TEST(BackupFile, RawInputsAreRefusedWithTheRightError) {
    struct Case {
        const char* name;
        std::string bytes;
        BackupParseError expected;
    };
    const std::string valid = sampleFile();
    const std::size_t headerEnd = valid.find("\n\n") + 2;
    std::string crlf = valid.substr(0, headerEnd);
    for (std::size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2))
        crlf.replace(at, 1, "\r\n");
    ASSERT_EQ(valid.find("\n\n", headerEnd), std::string::npos) << "sample payload must hold no two line feeds";
    crlf += valid.substr(headerEnd);

    const std::string rest = valid.substr(valid.find('\n'));
    const Case cases[] = {
        {"empty", "", BackupParseError::BadMagic},
        {"six bytes", "TLXBAK", BackupParseError::BadMagic},
        {"no space after magic", "TLXBAK\n", BackupParseError::BadMagic},
        {"lower-case magic", "tlxbak 1\n\n", BackupParseError::BadMagic},
        {"first line only", "TLXBAK 1\n", BackupParseError::Truncated},
        {"first line then empty line", "TLXBAK 1\n\n", BackupParseError::BadHeader},
        {"carriage-return line ends", crlf, BackupParseError::Truncated},
        {"version 2", "TLXBAK 2" + rest, BackupParseError::UnsupportedVersion},
        {"version 10", "TLXBAK 10" + rest, BackupParseError::UnsupportedVersion},
        {"version 2 without header end", "TLXBAK 2\nfs=FAT32\n", BackupParseError::Truncated},
        {"first line with trailing blank", "TLXBAK 1 " + rest, BackupParseError::UnsupportedVersion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BackupReadResult read = parseBackup(asBytes(c.bytes));
        EXPECT_EQ(read.parseError, c.expected) << backupParseErrorName(read.parseError);
        EXPECT_EQ(read.systemError, 0u);
        EXPECT_TRUE(read.backup.regions.empty());
    }
}

std::string digestOfLine(const std::string& file, const std::string& linePrefix) {
    const std::size_t at = file.find(linePrefix);
    return at == std::string::npos ? std::string() : file.substr(at + linePrefix.size(), 64);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "fixture lacks: " << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

TEST(BackupFile, MalformedHeaderLinesAreBadHeader) {
    const std::string valid = sampleFile();
    const std::string digest = digestOfLine(valid, "region=BootSector 0 1 ");
    ASSERT_EQ(digest.size(), 64u);
    struct Case {
        const char* name;
        std::string from;
        std::string to;
    };
    const Case cases[] = {
        {"fs in lower case", "fs=FAT32\n", "fs=fat32\n"},
        {"fs BitLocker", "fs=FAT32\n", "fs=BitLocker\n"},
        {"fs Unknown", "fs=FAT32\n", "fs=Unknown\n"},
        {"fs with trailing blank", "fs=FAT32\n", "fs=FAT32 \n"},
        {"deviceSector 511", "deviceSector=512\n", "deviceSector=511\n"},
        {"deviceSector 0", "deviceSector=512\n", "deviceSector=0\n"},
        {"deviceSector beyond 32 bits", "deviceSector=512\n", "deviceSector=4294967296\n"},
        {"serialBytes 6", "serialBytes=4\n", "serialBytes=6\n"},
        {"oldSerial with 0x", "oldSerial=1A2B3C4D\n", "oldSerial=0x1A2B\n"},
        {"oldSerial empty", "oldSerial=1A2B3C4D\n", "oldSerial=\n"},
        {"oldSerial of 17 digits", "oldSerial=1A2B3C4D\n", "oldSerial=10000000000000000\n"},
        {"newSerial with letter g", "newSerial=BEEF\n", "newSerial=BEEG\n"},
        {"bytesPerSector -1", "bytesPerSector=512\n", "bytesPerSector=-1\n"},
        {"bytesPerSector +512", "bytesPerSector=512\n", "bytesPerSector=+512\n"},
        {"bytesPerSector with leading blank", "bytesPerSector=512\n", "bytesPerSector= 512\n"},
        {"bytesPerSector in hex", "bytesPerSector=512\n", "bytesPerSector=1FF\n"},
        {"volumeSectors beyond 64 bits", "volumeSectors=1048576\n", "volumeSectors=18446744073709551616\n"},
        {"line without equals", "app=3.0.2\n", "app=3.0.2\ncomment\n"},
        {"missing fs", "fs=FAT32\n", ""},
        {"missing bytesPerSector", "bytesPerSector=512\n", ""},
        {"missing deviceSector", "deviceSector=512\n", ""},
        {"missing oldSerial", "oldSerial=1A2B3C4D\n", ""},
        {"missing newSerial", "newSerial=BEEF\n", ""},
        {"region digest of 63 digits", "region=BootSector 0 1 " + digest, "region=BootSector 0 1 " + digest.substr(1)},
        {"region count 0", "region=BootSector 0 1 ", "region=BootSector 0 0 "},
        {"region of five fields", "region=BootSector 0 1 " + digest, "region=BootSector 0 1 " + digest + " x"},
        {"region with two spaces", "region=BootSector 0 1 ", "region=BootSector 0  1 "},
        {"region with unknown kind", "region=BootSector 0 1 ", "region=MainSector 0 1 "},
        {"region first sector not decimal", "region=BootSector 0 1 ", "region=BootSector x 1 "},
        {"region count beyond 32 bits", "region=BootSector 0 1 ", "region=BootSector 0 4294967297 "},
        {"region kind in lower case", "region=BootSector 0 1 ", "region=bootsector 0 1 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BackupReadResult read = parseBackup(asBytes(replaced(valid, c.from, c.to)));
        EXPECT_EQ(read.parseError, BackupParseError::BadHeader) << backupParseErrorName(read.parseError);
    }
}

TEST(BackupFile, HeaderWithoutAnyRegionIsBadHeader) {
    const std::string valid = sampleFile();
    std::string text = valid.substr(0, valid.find("region="));
    text += "\n";  // the header still ends with an empty line, all other keys valid
    const BackupReadResult read = parseBackup(asBytes(text));
    EXPECT_EQ(read.parseError, BackupParseError::BadHeader) << backupParseErrorName(read.parseError);
}

TEST(BackupFile, TolerableHeaderVariationsAreAccepted) {
    const std::string valid = sampleFile();
    const std::string digest = digestOfLine(valid, "region=BootSector 0 1 ");
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        void (*check)(const BootSectorBackup&);
        const char* appendToHeader = "";
    };
    const Case cases[] = {
        {"deviceSector with leading zero", "deviceSector=512\n", "deviceSector=0512\n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.deviceSector, 512u); }},
        {"serial in lower case", "oldSerial=1A2B3C4D\n", "oldSerial=1a2b3c4d\n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.oldSerial, 0x1A2B3C4Du); }},
        {"any bytesPerSector", "bytesPerSector=512\n", "bytesPerSector=0\n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.bytesPerSector, 0u); }},
        {"unknown key ignored", "app=3.0.2\n", "app=3.0.2\ncomment=anything=at all\n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.app, "3.0.2"); }},
        {"empty key ignored", "app=3.0.2\n", "app=3.0.2\n=x\n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.regions.size(), 2u); }},
        {"repeated key overwrites", "app=3.0.2\n", "app=3.0.2\napp=9.9\n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.app, "9.9"); }},
        {"value keeps further equals signs", "app=3.0.2\n", "app=a=b=\n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.app, "a=b="); }},
        {"key order free", "fs=FAT32\n", "",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.fsType, FsType::NTFS); }, "fs=NTFS\n"},
        {"trailing space after digest", "region=BootSector 0 1 " + digest + "\n",
         "region=BootSector 0 1 " + digest + " \n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.regions.back().kind, BootRegion::BootSector); }},
        {"leading zeros in region numbers", "region=BootSector 0 1 ", "region=BootSector 000 01 ",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.regions.back().sectorCount, 1u); }},
        {"optional keys absent", "volumeSectors=1048576\nserialBytes=4\n", "",
         [](const BootSectorBackup& b) {
             EXPECT_EQ(b.volumeSectors, 0u);
             EXPECT_EQ(b.serialBytes, 4u);
         }},
        {"serialBytes 8", "serialBytes=4\n", "serialBytes=8\n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.serialBytes, 8u); }},
        {"empty volume and mount", "mount=E:\\\n", "mount=\nvolume=\n",
         [](const BootSectorBackup& b) {
             EXPECT_TRUE(b.volume.empty());
             EXPECT_TRUE(b.mount.empty());
         }},
        {"malformed UTF-8 in mount kept as replacement", "mount=E:\\\n", "mount=E\xff\n",
         [](const BootSectorBackup& b) { EXPECT_EQ(b.mount, L"E\uFFFD"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = replaced(valid, c.from, c.to);
        text.insert(text.find("\n\n") + 1, c.appendToHeader);
        const BackupReadResult read = parseBackup(asBytes(text));
        ASSERT_EQ(read.parseError, BackupParseError::None) << backupParseErrorName(read.parseError);
        c.check(read.backup);
    }
}

TEST(BackupFile, PayloadMustMatchTheRegionsExactly) {
    const std::string valid = sampleFile();
    const std::size_t payload = valid.find("\n\n") + 2;
    const std::string digest = digestOfLine(valid, "region=BootSector 0 1 ");
    std::string upperDigest = digest;
    for (char& ch : upperDigest)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ASSERT_NE(upperDigest, digest);

    std::string changedFirst = valid;
    changedFirst[payload + 100] ^= 0x01;
    std::string changedLast = valid;
    changedLast.back() ^= 0x80;
    struct Case {
        const char* name;
        std::string bytes;
        BackupParseError expected;
    };
    const Case cases[] = {
        {"one byte missing", valid.substr(0, valid.size() - 1), BackupParseError::Truncated},
        {"no payload at all", valid.substr(0, payload), BackupParseError::Truncated},
        {"one byte extra", valid + "X", BackupParseError::BadHeader},
        {"byte changed in first region", changedFirst, BackupParseError::ChecksumMismatch},
        {"byte changed in last region", changedLast, BackupParseError::ChecksumMismatch},
        {"digest in upper case", replaced(valid, digest, upperDigest), BackupParseError::ChecksumMismatch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BackupReadResult read = parseBackup(asBytes(c.bytes));
        EXPECT_EQ(read.parseError, c.expected) << backupParseErrorName(read.parseError);
        EXPECT_TRUE(read.backup.regions.empty()) << "nothing is partly returned";
    }
}

TEST(BackupFile, ParseErrorNames) {
    const std::pair<BackupParseError, const char*> cases[] = {
        {BackupParseError::None, "None"},
        {BackupParseError::BadMagic, "BadMagic"},
        {BackupParseError::UnsupportedVersion, "UnsupportedVersion"},
        {BackupParseError::BadHeader, "BadHeader"},
        {BackupParseError::Truncated, "Truncated"},
        {BackupParseError::ChecksumMismatch, "ChecksumMismatch"},
        {static_cast<BackupParseError>(6), "?"},
        {static_cast<BackupParseError>(-1), "?"},
    };
    for (const auto& [value, name] : cases)
        EXPECT_STREQ(backupParseErrorName(value), name);
}

TEST(BackupFile, FailedHashingNeverYieldsAFileOrAcceptsOne) {
    const BootSectorBackup backup = sampleBackup();
    const auto bytes = serializeBackup(backup);
    ASSERT_TRUE(bytes);
    {
        test::FailingSha256 broken(0);
        EXPECT_FALSE(serializeBackup(backup)) << "a file without true digests must not be written";
        const BackupReadResult read = parseBackup(*bytes);
        EXPECT_EQ(read.parseError, BackupParseError::ChecksumMismatch) << backupParseErrorName(read.parseError);
    }
    {
        test::FailingSha256 secondFails(1);
        EXPECT_FALSE(serializeBackup(backup)) << "the second region's digest failed";
    }
    {
        test::FailingSha256 secondFails(1);
        EXPECT_EQ(parseBackup(*bytes).parseError, BackupParseError::ChecksumMismatch);
    }
    EXPECT_EQ(parseBackup(*bytes).parseError, BackupParseError::None) << "the provider is restored";
}

TEST(BackupFile, ReadingFiles) {
    test::TemporaryFolder folder;
    const auto valid = serializeBackup(sampleBackup()).value();
    test::writeBytes(folder.path() / "good.tlxbak", valid);
    {
        const BackupReadResult read = readBackupFile((folder.path() / "good.tlxbak").wstring());
        ASSERT_EQ(read.parseError, BackupParseError::None);
        EXPECT_EQ(read.systemError, 0u);
        expectSameBackup(sampleBackup(), read.backup);
    }
    struct Case {
        const char* name;
        std::filesystem::path path;
        BackupParseError expected;
        std::uint32_t systemError;
    };
    const Case cases[] = {
        {"missing file", folder.path() / "absent.tlxbak", BackupParseError::Truncated, 2},
        {"missing folder", folder.path() / "no" / "x.tlxbak", BackupParseError::Truncated, 2},
        {"under a file", folder.path() / "good.tlxbak" / "x.tlxbak", BackupParseError::Truncated, 3},
        {"a folder", folder.path(), BackupParseError::Truncated, posix::kErrorFoundFolder},
        {"a FIFO", folder.path() / "fifo.tlxbak", BackupParseError::Truncated, posix::kErrorFoundFifo},
        {"a device", "/dev/null", BackupParseError::Truncated, posix::kErrorFoundDevice},
    };
    // The FIFO has a writer, so that even a reader that waits for one gets through to judge it.
    ASSERT_EQ(::mkfifo((folder.path() / "fifo.tlxbak").c_str(), 0600), 0);
    const int writer = ::open((folder.path() / "fifo.tlxbak").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BackupReadResult read = readBackupFile(c.path.wstring());
        EXPECT_EQ(read.parseError, c.expected) << backupParseErrorName(read.parseError);
        EXPECT_EQ(read.systemError, c.systemError);
    }
    ::close(writer);
}

TEST(BackupFile, FilesBeyondTheLimitAreNotRead) {
    test::TemporaryFolder folder;
    struct Case {
        const char* name;
        std::uint64_t size;
        BackupParseError expected;
        std::uint32_t systemError;
    };
    // Sparse files of zeros: at the limit the bytes are read and judged (no magic), above it they are not.
    const Case cases[] = {
        {"exactly the limit", kMaxBackupFileBytes, BackupParseError::BadMagic, 0},
        {"one byte more", kMaxBackupFileBytes + 1, BackupParseError::Truncated, 223},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path path = folder.path() / "big.tlxbak";
        test::writeBytes(path, {'T', 'L', 'X'});
        std::filesystem::resize_file(path, c.size);
        const BackupReadResult read = readBackupFile(path.wstring());
        EXPECT_EQ(read.parseError, c.expected) << backupParseErrorName(read.parseError);
        EXPECT_EQ(read.systemError, c.systemError);
    }
}

}  // namespace
}  // namespace tlx
