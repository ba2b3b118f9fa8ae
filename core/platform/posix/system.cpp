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
    case 32: return L"The process cannot access the file because it is being used by another process.";
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
    case posix::kErrorFileImmutable: return L"The file is immutable; remove the flag with chattr -i first.";
    case posix::kErrorFileAppendOnly: return L"The file is append-only; remove the flag with chattr -a first.";
    case posix::kErrorFoundSymbolicLink: return L"A symbolic link stands where a regular file was expected.";
    case posix::kErrorFoundFifo: return L"A FIFO (named pipe) stands where a regular file was expected.";
    case posix::kErrorFoundFolder: return L"A folder stands where a regular file was expected.";
    case posix::kErrorFoundDevice: return L"A device stands where a regular file was expected.";
    case posix::kErrorFoundSocket: return L"A socket stands where a regular file was expected.";
    case posix::kErrorLinkInPath: return L"A symbolic link was put in the path after it was checked.";
    case posix::kErrorFolderIsLink: return L"The folder is a symbolic link.";
    case posix::kErrorFolderOfAnotherUser: return L"The folder belongs to another user.";
    case posix::kErrorFolderWritableByOthers: return L"Other users can write to the folder.";
    default: break;
    }
    return L"Error " + std::to_wstring(code) + L".";
}

}  // namespace tlx
