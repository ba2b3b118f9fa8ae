#pragma once
// The few words that differ between the Windows and the Linux build: how the system volume is called,
// when an in-place change takes effect, and which tool repairs a file system. Both sets are plain data,
// so the tests of either build check both; the platform file picks the one the program speaks.
#include <string>

#include "bootsector/detect.h"

namespace tlx {

enum class Wording { Windows, Linux };

// The platform's choice (win/ and posix/ implementations).
[[nodiscard]] Wording platformWording();

// Status word and get's type suffix of the volume that holds the system: "Windows drive" or "system drive".
[[nodiscard]] const wchar_t* systemDriveWord(Wording wording);
// Report line after an in-place change of a volume the system keeps in use.
[[nodiscard]] std::wstring inPlaceLine(const std::wstring& drive, Wording wording);
// Confirmation warning for the system volume.
[[nodiscard]] std::wstring systemDriveWarning(const std::wstring& drive, Wording wording);
// The refusal of a change to a read-only volume (Linux: losetup -r, a write-protected card, a read-only
// mount); empty on Windows, which leaves it to the write.
[[nodiscard]] std::wstring readOnlyRefusal(const std::wstring& drive, Wording wording);
// The command that checks and repairs the file system: "chkdsk E: /f", "fsck.exfat /dev/sdb1" ...
[[nodiscard]] std::wstring repairCommand(const std::wstring& drive, FsType fsType, Wording wording);

}  // namespace tlx
