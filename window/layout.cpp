#include "layout.h"

#include "resources/resource.h"

namespace tlx {

const std::array<AnchoredControl, 18> kAnchorTable = {{
    {IDC_VOLUME_LIST, 15},    {IDC_SELECTED_GROUP, 13}, {IDC_DESCRIPTION, 13},    {IDC_CURRENT_LABEL, 9},
    {IDC_CURRENT_SERIAL, 13}, {IDC_NEW_LABEL, 9},       {IDC_NEW_SERIAL, 9},      {IDC_RANDOM, 9},
    {IDC_FULL64, 9},          {IDC_FORMAT_HINT, 13},    {IDC_CHANGE, 12},         {IDC_BACKUPS_LABEL, 9},
    {IDC_BACKUP_LIST, 13},    {IDC_RESTORE, 12},        {IDC_OPEN_FOLDER, 12},    {IDC_FOOTNOTE, 13},
    {IDC_WHATS_THIS, 12},     {IDC_SKIPPED_BACKUPS, 13},
}};

ControlRect anchoredRect(const ControlRect& captured, int dx, int dy, unsigned anchor) {
    ControlRect r = captured;
    if (anchor & FollowRight) {
        if (!(anchor & GrowX)) r.left += dx;
        r.right += dx;
    }
    if (anchor & FollowBottom) {
        if (!(anchor & GrowY)) r.top += dy;
        r.bottom += dy;
    }
    return r;
}

int lastColumnWidth(int clientWidth, std::span<const int> otherColumnWidths) {
    int width = clientWidth;
    for (int other : otherColumnWidths) width -= other;
    return width < 40 ? 40 : width;
}

}  // namespace tlx
