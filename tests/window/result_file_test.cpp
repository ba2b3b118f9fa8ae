// The result file: written byte for byte, read leniently in layout and strictly in its numbers.
#include "result_file.h"

#include <gtest/gtest.h>

namespace tlx {
namespace {

const char* const kFreshText =
    "ran=0\ndifferentVolume=0\nparseError=0\nerror=0\nsystemError=0\nplanError=0\ndetect=0\nmode=0\nmatch=0\n"
    "encryption=2\nrestartRequired=0\napplyOutcome=0\napplyFailure=0\napplyRegion=0\napplySystemError=0\nfs=0\n"
    "serialBytes=0\noldSerial=0\nnewSerial=0\nbackupPath=\nbackupDigest=\nbackupError=0\n";

ElevatedResult fullResult() {
    ElevatedResult result;
    result.ran = true;
    result.cancelled = true;   // never written
    result.launchError = 740;  // never written
    result.differentVolume = true;
    result.parseError = BackupParseError::ChecksumMismatch;
    ChangeResult& change = result.change;
    change.error = ApplyFailure::Apply;
    change.systemError = 0xFFFFFFFFu;
    change.planError = PlanError::ChecksumDamaged;
    change.detect = DetectStatus::NoSerial;
    change.mode = WriteMode::InPlace;
    change.match = 2;
    change.encryption = 1;
    change.restartRequired = true;
    change.applyOutcome = ApplyOutcome::RollbackFailed;
    change.applyFailure = ApplyStep::VerifyFailed;
    change.applyRegion = 0xFFFFFFFFFFFFFFFFull;
    change.applySystemError = 1117;
    change.plan.fsType = FsType::NTFS;
    change.plan.serialWidth = 8;
    change.plan.oldSerial = 0x0123456789ABCDEFull;
    change.plan.newSerial = 0xFEDCBA9876543210ull;
    change.plan.notes = {PlanNote::NtfsBackupNotCopy, PlanNote::Fat32NoBackup, PlanNote::NtfsBackupNotCopy};
    result.backupPath = L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\Volume{x}\\Žluť 1.tlxbak";
    result.backupDigest = Sha256Digest{};
    result.backupDigest->fill(0xAB);
    result.backupError = 112;
    return result;
}

const char* const kFullText =
    "ran=1\ndifferentVolume=1\nparseError=5\nerror=5\nsystemError=4294967295\nplanError=6\ndetect=4\nmode=1\n"
    "match=2\nencryption=1\nrestartRequired=1\napplyOutcome=3\napplyFailure=5\napplyRegion=18446744073709551615\n"
    "applySystemError=1117\nfs=5\nserialBytes=8\noldSerial=81985529216486895\nnewSerial=18364758544493064720\n"
    "note=4\nnote=0\nnote=4\n"
    "backupPath=C:\\ProgramData\\Morvane\\Plinthos\\Backups\\Volume{x}\\\xC5\xBDlu\xC5\xA5 1.tlxbak\n"
    "backupDigest=abababababababababababababababababababababababababababababababab\n"
    "backupError=112\n";

void expectSame(const ElevatedResult& a, const ElevatedResult& b) {
    EXPECT_EQ(writeResultFile(a), writeResultFile(b));
    EXPECT_EQ(a.backupPath, b.backupPath);
    EXPECT_EQ(a.backupDigest, b.backupDigest);
    EXPECT_EQ(a.cancelled, b.cancelled);
    EXPECT_EQ(a.launchError, b.launchError);
}

TEST(ResultFile, WrittenByteForByte) {
    EXPECT_EQ(writeResultFile(ElevatedResult{}), kFreshText);
    EXPECT_EQ(writeResultFile(fullResult()), kFullText);
}

TEST(ResultFile, RoundTripOfAFullResult) {
    ElevatedResult read;
    ASSERT_TRUE(readResultFile(writeResultFile(fullResult()), read));
    ElevatedResult expected = fullResult();
    expected.cancelled = false;
    expected.launchError = 0;
    expectSame(read, expected);
    EXPECT_EQ(read.change.plan.notes, fullResult().change.plan.notes);
}

TEST(ResultFile, LayoutIsReadLeniently) {
    ElevatedResult read;
    ASSERT_TRUE(readResultFile("future=x y\nnewSerial=7\nnote=3\nno equals sign\nran=1\nnote=1\n"
                               "serialBytes=4\nerror=1\nerror=6\nbackupPath=a=b\r\nnote=2\nmatch=2",
                               read));
    EXPECT_TRUE(read.ran);
    EXPECT_EQ(read.change.error, ApplyFailure::BackupMismatch);  // the last of a repeated key
    EXPECT_EQ(read.change.match, 2);                             // last line without a line feed
    EXPECT_EQ(read.change.plan.newSerial, 7u);
    EXPECT_EQ(read.change.plan.serialWidth, 4u);
    EXPECT_EQ(read.change.plan.notes,
              (std::vector<PlanNote>{PlanNote::NtfsBackupUnreachable, PlanNote::Fat32BackupNotCopy,
                                     PlanNote::ExFatBackupInconsistent}));
    EXPECT_EQ(read.backupPath, L"a=b\r");  // a carriage return stays part of the value
    // Missing keys read as 0, including the probe's answer.
    EXPECT_EQ(read.change.encryption, 0);
    EXPECT_EQ(read.change.systemError, 0u);
    EXPECT_EQ(read.backupError, 0u);
}

TEST(ResultFile, EmptyValuesAndWideNumbers) {
    ElevatedResult read;
    ASSERT_TRUE(readResultFile("ran=\nsystemError=4294967301\napplyRegion=18446744073709551615\n"
                               "oldSerial=0018\nrestartRequired=2\n",
                               read));
    EXPECT_FALSE(read.ran);
    EXPECT_EQ(read.change.systemError, 5u);  // a 32-bit field takes the low 32 bits
    EXPECT_EQ(read.change.applyRegion, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(read.change.plan.oldSerial, 18u);
    EXPECT_TRUE(read.change.restartRequired);
}

TEST(ResultFile, FailedReadsLeaveTheRecordAlone) {
    const std::string everythingButRan = std::string(kFullText).substr(std::string("ran=1\n").size());
    const std::string oversized = "ran=1\n" + std::string(kMaxResultFileBytes, '\n');
    const std::string cases[] = {
        "",
        "\n\n",
        everythingButRan,
        "Ran=1\n",
        "ran 1\n",
        "ran=1\r\n",
        "ran=x\n",
        "ran=1\nerror=-1\n",
        "ran=1\nerror=+1\n",
        "ran=1\nerror= 1\n",
        "ran=1\nerror=1 \n",
        "ran=1\nerror=0x10\n",
        "ran=1\nerror=1.0\n",
        "ran=1\noldSerial=18446744073709551616\n",
        "ran=1\napplyRegion=99999999999999999999\n",
        "ran=1\nnote=\xFF\n",
        "ran=1\nnote=1\nnote=18446744073709551616\n",
        "ran=1\nerror=1\nerror=bad\n",
        oversized,
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text.substr(0, 80));
        ElevatedResult result = fullResult();
        EXPECT_FALSE(readResultFile(text, result));
        expectSame(result, fullResult());
    }
}

TEST(ResultFile, AnEarlierBadValueOfARepeatedKeyIsReplaced) {
    ElevatedResult read;
    ASSERT_TRUE(readResultFile("ran=1\nerror=bad\nerror=3\nunknown=-1\n", read));
    EXPECT_EQ(read.change.error, ApplyFailure::VolumeInUse);
}

TEST(ResultFile, ADigestIsSixtyFourHexDigitsOrNothing) {
    ElevatedResult read;
    EXPECT_FALSE(readResultFile("ran=1\nbackupDigest=abc\n", read));
    EXPECT_FALSE(readResultFile("ran=1\nbackupDigest=" + std::string(64, 'g') + "\n", read));
    ASSERT_TRUE(readResultFile("ran=1\nbackupDigest=\n", read));
    EXPECT_FALSE(read.backupDigest);
    ASSERT_TRUE(readResultFile("ran=1\nbackupDigest=" + std::string(64, 'F') + "\n", read));
    ASSERT_TRUE(read.backupDigest);
    EXPECT_EQ((*read.backupDigest)[31], 0xFF);
}

// The parent trusts what its child left only after exit code 0 and with the file's last key.
TEST(ChildResult, OnlyACompleteFileAfterExitCodeZero) {
    struct Case {
        const char* what;
        std::uint32_t exitCode;
        std::string bytes;
        bool trusted;
        std::uint32_t launchError;
    };
    const std::string complete = writeResultFile(fullResult());
    const Case cases[] = {
        {"complete, exit 0", 0, complete, true, 0},
        {"complete, exit 3", 3, complete, false, 3},
        {"stopped before its last key", 0, "ran=1\nerror=0\n", false, 13},
        {"written, then exit 3", 3, "ran=1\nerror=0\nbackupError=0\n", false, 3},
        {"the last key alone", 0, "backupError=0\n", false, 13},
        {"a longer key is not the last key", 0, "ran=1\nbackupErrorX=0\n", false, 13},
        {"empty", 0, "", false, 13},
        {"killed", 0xC0000409u, "", false, 0xC0000409u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ElevatedResult result;
        result.ran = true;
        EXPECT_EQ(readChildResult(c.exitCode, c.bytes, result), c.trusted);
        EXPECT_EQ(result.ran, c.trusted);
        EXPECT_EQ(result.launchError, c.launchError);
    }
}

}  // namespace
}  // namespace tlx
