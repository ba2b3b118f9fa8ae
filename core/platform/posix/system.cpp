// Clock, random bits, elevation and error texts on POSIX.
#include "platform/system.h"

#include "platform/posix/errors.h"

#include <cerrno>
#include <chrono>
#include <string>
#include <sys/random.h>
#include <unistd.h>

namespace tlx {

UtcTime utcNow() {
    // Calendar arithmetic on the system clock: gmtime_r would read /etc/localtime first.
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date(day);
    const hh_mm_ss time(now - day);
    UtcTime t;
    t.year = static_cast<unsigned>(static_cast<int>(date.year()));
    t.month = static_cast<unsigned>(date.month());
    t.day = static_cast<unsigned>(date.day());
    t.hour = static_cast<unsigned>(time.hours().count());
    t.minute = static_cast<unsigned>(time.minutes().count());
    t.second = static_cast<unsigned>(time.seconds().count());  // the system clock has no leap second
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
    // In the words of strerror for the errno each code stands for (posix/errors.cpp), fixed so that
    // no locale changes them.
    switch (code) {
    case 0: return L"Success";
    case 1: return L"Function not implemented";
    case 2: return L"No such file or directory";
    case 3: return L"Not a directory";
    case 4: return L"Too many open files";
    case 5: return L"Permission denied";
    case 8: return L"Cannot allocate memory";
    case 17: return L"Invalid cross-device link";
    case 19: return L"Read-only file system";
    case 21: return L"No such device or address";
    case 31: return L"Unexpected system error";
    case 32: return L"Device or resource busy";
    case 33: return L"Resource temporarily unavailable";
    case 38: return L"Unexpected end of file";
    case 50: return L"Operation not supported";
    case 80: return L"File exists";
    case 87: return L"Invalid argument";
    case 109: return L"Broken pipe";
    case 112: return L"No space left on device";
    case 123: return L"Invalid argument";
    case 145: return L"Directory not empty";
    case 170: return L"Device or resource busy";
    case 183: return L"File exists";
    case 206: return L"File name too long";
    case 223: return L"File too large";
    case 1117: return L"Input/output error";
    case posix::kErrorFileImmutable: return L"The file is immutable; remove the flag with chattr -i first.";
    case posix::kErrorFileAppendOnly: return L"The file is append-only; remove the flag with chattr -a first.";
    case posix::kErrorFoundSymbolicLink: return L"A symbolic link stands where a regular file was expected.";
    case posix::kErrorFoundFifo: return L"A FIFO (named pipe) stands where a regular file was expected.";
    case posix::kErrorFoundFolder: return L"A folder stands where a regular file was expected.";
    case posix::kErrorFoundDevice: return L"A device stands where a regular file was expected.";
    case posix::kErrorFoundSocket: return L"A socket stands where a regular file was expected.";
    case posix::kErrorLinkInPath: return L"A symbolic link was put in the path after it was checked.";
    default: break;
    }
    return L"Error " + std::to_wstring(code) + L".";
}

}  // namespace tlx
