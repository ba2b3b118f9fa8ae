// The current time zone's local time for a UTC time.
#include "win/local_time.h"

#include "platform/win/windows.h"

namespace tlx::win {

bool toLocalTime(UtcTime& time) {
    // A field read with a sign can wrap around; such a time is shown as stored, never truncated into a valid one.
    for (const unsigned field : {time.year, time.month, time.day, time.hour, time.minute, time.second})
        if (field > 0xFFFF) return false;
    SYSTEMTIME utc{};
    utc.wYear = static_cast<WORD>(time.year);
    utc.wMonth = static_cast<WORD>(time.month);
    utc.wDay = static_cast<WORD>(time.day);
    utc.wHour = static_cast<WORD>(time.hour);
    utc.wMinute = static_cast<WORD>(time.minute);
    utc.wSecond = static_cast<WORD>(time.second);
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
    time = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
    return true;
}

}  // namespace tlx::win
