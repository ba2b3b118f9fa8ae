// How controls follow the window's size, and the list views' last column.
#include "layout.h"

#include <gtest/gtest.h>

#include "resources/resource.h"

namespace tlx {
namespace {

TEST(AnchoredRect, EveryAnchorOfTheTable) {
    const ControlRect captured{10, 20, 110, 50};
    struct Case { unsigned anchor; ControlRect result; };
    const std::vector<Case> cases = {
        {0, {10, 20, 110, 50}},
        {15, {10, 20, 140, 70}},   // widens and grows taller
        {13, {10, 40, 140, 70}},   // widens, moves down
        {9, {10, 40, 110, 70}},    // moves down
        {12, {40, 40, 140, 70}},   // moves right and down
        {4, {40, 20, 140, 50}},    // moves right only
        {GrowX | GrowY, {10, 20, 110, 50}},  // growing without following does nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.anchor);
        EXPECT_EQ(anchoredRect(captured, 30, 20, c.anchor), c.result);
    }
    EXPECT_EQ(anchoredRect(captured, -5, -5, 12), (ControlRect{5, 15, 105, 45}));
}

TEST(AnchorTable, EighteenControlsInIdOrder) {
    ASSERT_EQ(kAnchorTable.size(), 18u);
    for (std::size_t i = 0; i < kAnchorTable.size(); ++i) EXPECT_EQ(kAnchorTable[i].id, IDC_VOLUME_LIST + int(i));
    auto anchorOf = [](int id) {
        for (const AnchoredControl& c : kAnchorTable)
            if (c.id == id) return c.anchor;
        return 99u;
    };
    EXPECT_EQ(anchorOf(IDC_VOLUME_LIST), 15u);
    for (int id : {IDC_SELECTED_GROUP, IDC_DESCRIPTION, IDC_CURRENT_SERIAL, IDC_FORMAT_HINT, IDC_BACKUP_LIST, IDC_FOOTNOTE,
                   IDC_SKIPPED_BACKUPS})
        EXPECT_EQ(anchorOf(id), 13u) << id;
    for (int id : {IDC_CURRENT_LABEL, IDC_NEW_LABEL, IDC_NEW_SERIAL, IDC_RANDOM, IDC_FULL64, IDC_BACKUPS_LABEL})
        EXPECT_EQ(anchorOf(id), 9u) << id;
    for (int id : {IDC_CHANGE, IDC_RESTORE, IDC_OPEN_FOLDER, IDC_WHATS_THIS}) EXPECT_EQ(anchorOf(id), 12u) << id;
}

TEST(LastColumnWidth, FillsButNeverBelowForty) {
    const std::vector<int> others = {58, 110, 74, 70, 76, 80};
    EXPECT_EQ(lastColumnWidth(618, others), 150);
    EXPECT_EQ(lastColumnWidth(508, others), 40);
    EXPECT_EQ(lastColumnWidth(300, others), 40);  // the fixed columns already exceed the width
    EXPECT_EQ(lastColumnWidth(300, {}), 300);
}

}  // namespace
}  // namespace tlx
