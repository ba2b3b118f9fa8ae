// A restore's second questions: when they are asked, and what runs again after them.
#include "flow_steps.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tlx
