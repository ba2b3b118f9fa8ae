#pragma once
// The whole outcome of an operation, compared field by field.
#include <gtest/gtest.h>

#include <cstdint>

#include "engine/change_result.h"

namespace tlx::test {

struct ExpectedResult {
    ApplyFailure error = ApplyFailure::None;
    std::uint32_t systemError = 0;
    PlanError planError = PlanError::None;
    DetectStatus detect = DetectStatus::Ok;
    WriteMode mode = WriteMode::Locked;
    std::int32_t match = 0;
    std::int32_t encryption = 0;
    ApplyOutcome applyOutcome = ApplyOutcome::Success;
    ApplyStep applyFailure = ApplyStep::None;
    std::uint64_t applyRegion = 0;
    std::uint32_t applySystemError = 0;
    bool restartRequired = false;
    // The plan the result carries; all zero when none was applied.
    FsType fsType = FsType::Unknown;
    VolumeSerial oldSerial = 0;
    VolumeSerial newSerial = 0;
    std::size_t regions = 0;
};

inline void expectResult(const ChangeResult& actual, const ExpectedResult& expected) {
    EXPECT_EQ(actual.error, expected.error) << applyFailureName(actual.error);
    EXPECT_EQ(actual.systemError, expected.systemError);
    EXPECT_EQ(actual.planError, expected.planError);
    EXPECT_EQ(actual.detect, expected.detect);
    EXPECT_EQ(actual.mode, expected.mode);
    EXPECT_EQ(actual.match, expected.match);
    EXPECT_EQ(actual.encryption, expected.encryption);
    EXPECT_EQ(actual.applyOutcome, expected.applyOutcome) << applyOutcomeName(actual.applyOutcome);
    EXPECT_EQ(actual.applyFailure, expected.applyFailure);
    EXPECT_EQ(actual.applyRegion, expected.applyRegion);
    EXPECT_EQ(actual.applySystemError, expected.applySystemError);
    EXPECT_EQ(actual.restartRequired, expected.restartRequired);
    EXPECT_EQ(actual.plan.fsType, expected.fsType);
    EXPECT_EQ(actual.plan.oldSerial, expected.oldSerial);
    EXPECT_EQ(actual.plan.newSerial, expected.newSerial);
    EXPECT_EQ(actual.plan.regions.size(), expected.regions);
}

}  // namespace tlx::test
