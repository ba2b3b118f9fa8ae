// Clock, random bits, elevation and error texts on POSIX.
#include "platform/system.h"

#include <cerrno>
#include <ctime>
#include <string>
#include <sys/random.h>
#include <unistd.h>

namespace tlx {

UtcTime utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    UtcTime t;
    t.year = static_cast<unsigned>(parts.tm_year + 1900);
    t.month = static_cast<unsigned>(parts.tm_mon + 1);
    t.day = static_cast<unsigned>(parts.tm_mday);
    t.hour = static_cast<unsigned>(parts.tm_hour);
    t.minute = static_cast<unsigned>(parts.tm_min);
    // A leap second reads as 59, as Windows never reports 60.
    t.second = static_cast<unsigned>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    return t;
}

std::optional<std::uint64_t> randomBits64() {
    unsigned char bytes[8];
    std::size_t have = 0;
    while (have < sizeof bytes) {
        const ssize_t got = getrandom(bytes + have, sizeof bytes - have, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        have += static_cast<std::size_t>(got);
    }
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

bool isElevated() {
    return geteuid() == 0;
}

std::wstring errorText(std::uint32_t code) {
    // The Windows texts of the codes the POSIX layer produces.
    switch (code) {
    case 0: return L"The operation completed successfully.";
    case 1: return L"Incorrect function.";
    case 2: return L"The system cannot find the file specified.";
    case 3: return L"The system cannot find the path specified.";
    case 4: return L"The system cannot open the file.";
    case 5: return L"Access is denied.";
    case 8: return L"Not enough memory resources are available to process this command.";
    case 17: return L"The system cannot move the file to a different disk drive.";
    case 19: return L"The media is write protected.";
    case 21: return L"The device is not ready.";
    case 31: return L"A device attached to the system is not functioning.";
    case 33: return L"The process cannot access the file because another process has locked a portion of the file.";
    case 38: return L"Reached the end of the file.";
    case 50: return L"The request is not supported.";
    case 80: return L"The file exists.";
    case 87: return L"The parameter is incorrect.";
    case 112: return L"There is not enough space on the disk.";
    case 123: return L"The filename, directory name, or volume label syntax is incorrect.";
    case 145: return L"The directory is not empty.";
    case 170: return L"The requested resource is in use.";
    case 183: return L"Cannot create a file when that file already exists.";
    case 206: return L"The filename or extension is too long.";
    case 223: return L"The file size exceeds the limit allowed and cannot be saved.";
    case 1117: return L"The request could not be performed because of an I/O device error.";
    default: break;
    }
    return L"Error " + std::to_wstring(code) + L".";
}

}  // namespace tlx
