#pragma once
// errno to Windows error codes, translated once, at the system call.
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace tlx::posix {

[[nodiscard]] std::uint32_t windowsError(int errnoValue);
// windowsError(errno), for the line right after a failing call.
[[nodiscard]] std::uint32_t lastWindowsError();

// Codes of our own for what Linux can tell and Windows has no code for (bit 29 marks application codes);
// errorText gives their sentences.
inline constexpr std::uint32_t kErrorFileImmutable = 0x20000001;
inline constexpr std::uint32_t kErrorFileAppendOnly = 0x20000002;
inline constexpr std::uint32_t kErrorFoundSymbolicLink = 0x20000003;
inline constexpr std::uint32_t kErrorFoundFifo = 0x20000004;
inline constexpr std::uint32_t kErrorFoundFolder = 0x20000005;
inline constexpr std::uint32_t kErrorFoundDevice = 0x20000006;
inline constexpr std::uint32_t kErrorFoundSocket = 0x20000007;
inline constexpr std::uint32_t kErrorLinkInPath = 0x20000008;
// A backups folder that a less privileged user could have planted or may still change.
inline constexpr std::uint32_t kErrorFolderIsLink = 0x20000009;
inline constexpr std::uint32_t kErrorFolderOfAnotherUser = 0x2000000A;
inline constexpr std::uint32_t kErrorFolderWritableByOthers = 0x2000000B;

// The code naming what a file of this mode is when a regular file was expected; 0 for a regular file.
[[nodiscard]] std::uint32_t notAFileError(mode_t mode);
// After a failed open or create at path: what stands there instead of a regular file (not following a
// symbolic link), else `fallback`.
[[nodiscard]] std::uint32_t whatStandsAt(const std::string& path, std::uint32_t fallback);
// After EPERM on opening path for writing: immutable or append-only when the file says so, else `fallback`.
[[nodiscard]] std::uint32_t writeRefusal(const std::string& path, std::uint32_t fallback);

}  // namespace tlx::posix
