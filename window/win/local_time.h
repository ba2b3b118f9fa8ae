#pragma once
// The current time zone's local time for a UTC time, as the window shows backup times.
#include "platform/system.h"

namespace tlx::win {

// False, leaving time as it was, when Windows cannot convert it (an impossible date, for one).
[[nodiscard]] bool toLocalTime(UtcTime& time);

}  // namespace tlx::win
