#pragma once
// How the main window's controls follow a size change, and the list views' last column.
#include <array>
#include <span>

namespace tlx {

// Anchor bits: GrowX widens, GrowY grows taller; FollowRight / FollowBottom take part in that direction
// at all (alone they move the control).
enum Anchor : unsigned { GrowX = 1, GrowY = 2, FollowRight = 4, FollowBottom = 8 };

struct ControlRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const ControlRect&, const ControlRect&) = default;
};

struct AnchoredControl {
    int id;
    unsigned anchor;
};
// The 18 resizable controls of the main window, by id.
extern const std::array<AnchoredControl, 18> kAnchorTable;

// The control's rectangle after the client area grew by dx, dy since `captured` was taken.
[[nodiscard]] ControlRect anchoredRect(const ControlRect& captured, int dx, int dy, unsigned anchor);

// The last column fills the client width left by the others, but never below 40 pixels.
[[nodiscard]] int lastColumnWidth(int clientWidth, std::span<const int> otherColumnWidths);

}  // namespace tlx
