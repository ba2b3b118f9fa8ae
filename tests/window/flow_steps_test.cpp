// A restore's second questions: when they are asked, and what runs again after them.
#include "flow_steps.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "result_file.h"

namespace tlx {
namespace {

ElevatedResult ran() {
    ElevatedResult result;
    result.ran = true;
    return result;
}

ElevatedResult otherVolume() {
    ElevatedResult result = ran();
    result.differentVolume = true;
    return result;
}

ElevatedResult mismatch(std::int32_t match) {
    ElevatedResult result = ran();
    result.change.error = ApplyFailure::BackupMismatch;
    result.change.match = match;
    return result;
}

ElevatedResult notStarted() {
    ElevatedResult result;
    result.launchError = 2;
    return result;
}

struct Case {
    const char* name;
    bool raw;
    bool preconfirmed;
    std::vector<ElevatedResult> results;  // what each run returns, in turn
    std::vector<bool> answers;            // the user's answers, in turn
    std::string runs;                     // each run's request: "s" skip, "f" force, "-" neither
    std::string questions;                // "D" different volume, "U" unrecognised boot sector
    bool presented;
};

TEST(RunRestore, SecondQuestionsAndTheirRuns) {
    const Case cases[] = {
        {"plain restore", false, false, {ran()}, {}, "-", "", true},
        {"not started", false, false, {notStarted()}, {}, "-", "", true},
        {"other volume, declined", false, false, {otherVolume()}, {false}, "-", "D", false},
        {"other volume, accepted", false, false, {otherVolume(), ran()}, {true}, "-s", "D", true},
        {"unrecognised, declined", true, false, {mismatch(2)}, {false}, "-", "U", false},
        {"unrecognised, accepted", true, false, {mismatch(2), ran()}, {true}, "-f", "U", true},
        {"unrecognised, not raw", false, false, {mismatch(2)}, {}, "-", "", true},
        {"another volume's sectors", true, false, {mismatch(1)}, {}, "-", "", true},
        {"recover now", true, true, {mismatch(2)}, {}, "f", "", true},
        {"other volume, then unrecognised", true, false, {otherVolume(), mismatch(2), ran()}, {true, true}, "-ssf",
         "DU", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string runs, questions;
        std::size_t nextResult = 0, nextAnswer = 0;
        ElevatedRequest request;
        request.volume = L"\\\\?\\Volume{x}\\";
        request.backupFile = L"b.tlxbak";
        request.raw = c.raw;
        request.force = !c.preconfirmed;  // replaced by the preconfirmed flag
        request.skipVolumeCheck = true;   // never taken from the caller
        const std::optional<ElevatedResult> result = runRestore(
            request, c.preconfirmed,
            [&](const ElevatedRequest& r) {
                EXPECT_EQ(r.operation, ElevatedOperation::Restore);
                EXPECT_EQ(r.volume, request.volume);
                EXPECT_EQ(r.backupFile, request.backupFile);
                EXPECT_EQ(r.raw, c.raw);
                runs += r.skipVolumeCheck && r.force ? "sf" : r.skipVolumeCheck ? "s" : r.force ? "f" : "-";
                return c.results.at(nextResult++);
            },
            [&](RestoreQuestion q) {
                questions += q == RestoreQuestion::DifferentVolume ? "D" : "U";
                return c.answers.at(nextAnswer++);
            });
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(questions, c.questions);
        EXPECT_EQ(result.has_value(), c.presented);
        if (result) {
            EXPECT_EQ(nextResult, c.results.size());
            EXPECT_EQ(writeResultFile(*result), writeResultFile(c.results.back()));
        }
    }
}

// "Recover Now" writes unasked: only the very file the elevated instance wrote, inside the backups folder.
TEST(RecoverNow, OnlyTheChildsOwnBackupInsideTheBackupsFolder) {
    const std::wstring folder = L"C:\\ProgramData\\Morvane\\Plinthos\\Backups";
    Sha256Digest written{};
    written.fill(7);
    Sha256Digest other{};
    other.fill(8);
    struct Case {
        const wchar_t* path;
        std::optional<Sha256Digest> reported;
        std::optional<Sha256Digest> onDisk;
        bool usable;
    };
    const Case cases[] = {
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\Volume{x}\\a.tlxbak", written, written, true},
        {L"c:\\programdata\\morvane\\plinthos\\backups\\Volume{x}\\a.tlxbak", written, written, true},
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\Volume{x}\\a.tlxbak", written, other, false},  // swapped
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\Volume{x}\\a.tlxbak", std::nullopt, written, false},
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\Volume{x}\\a.tlxbak", written, std::nullopt, false},
        {L"C:\\Users\\me\\AppData\\Local\\Temp\\a.tlxbak", written, written, false},
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\..\\..\\..\\Users\\a.tlxbak", written, written, false},
        {L"C:\\ProgramData\\Morvane\\Plinthos\\BackupsX\\a.tlxbak", written, written, false},
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\Volume{x}/../a.tlxbak", written, written, false},
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\a.tlxbak:stream", written, written, false},
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\\\a.tlxbak", written, written, false},
        {L"C:\\ProgramData\\Morvane\\Plinthos\\Backups\\", written, written, false},
        {L"", written, written, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path, c.path + std::wcslen(c.path)));
        ElevatedResult result;
        result.backupPath = c.path;
        result.backupDigest = c.reported;
        EXPECT_EQ(usableForRecoverNow(result, folder, c.onDisk), c.usable);
    }
    EXPECT_TRUE(liesInFolder(L"C:\\B\\x", L"C:\\B\\"));
}

}  // namespace
}  // namespace tlx
