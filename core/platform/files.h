#pragma once
// File primitives the backup store is built from; each returns 0 or a Windows error code.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tlx {

// Creates the folder and any missing parents; an existing folder is not an error. Windows, run as
// administrator: each folder it creates gets a protected DACL (SYSTEM and Administrators full control,
// Users read and execute), so no less privileged user can add to it.
[[nodiscard]] std::uint32_t createDirectories(const std::wstring& path);
// 0 when an existing folder can be changed by administrators only, or is absent; 5 when a less privileged
// user could add, remove or replace entries, or the folder is a reparse point. Windows, run as
// administrator; elsewhere always 0 (restore passes over files others could have written instead).
[[nodiscard]] std::uint32_t checkAdministratorsOnlyFolder(const std::wstring& path);
// A backups folder, or the per-volume folder in it, that a less privileged user could have planted,
// swapped or may still change: the folder refused and the error that says why. The backups folder
// must belong to this user and be writable by no one else unless it is sticky; the per-volume folder,
// opened without following links, must be a folder of this user that no one else may write. Absent
// folders pass. POSIX, run as root; elsewhere never (Windows checks its ACLs on saving).
struct FolderRefusal {
    std::wstring folder;
    std::uint32_t error = 0;
};
[[nodiscard]] std::optional<FolderRefusal> untrustedBackupFolder(const std::wstring& directory,
                                                                 const std::wstring& volumeFolder);
// Removes a file left at the name, creates the file exclusively, writes through in pieces of at most
// 1 MiB, flushes, closes. On any failure the file is deleted. Never writes into anything that existed
// before: a symbolic link, folder or FIFO at the name (POSIX) or a reparse point (Windows) fails the call.
[[nodiscard]] std::uint32_t writeFileThrough(const std::wstring& path, std::span<const std::uint8_t> bytes);
// Renames without ever replacing; 80 or 183 when the target exists. Written through.
[[nodiscard]] std::uint32_t moveNoReplace(const std::wstring& from, const std::wstring& to);
void deleteFile(const std::wstring& path);
// A saved file that did not read back as written. POSIX deletes it, durably, so that no listing shows a
// backup the user was told was not saved; Windows leaves it where it is.
void discardUnconfirmedFile(const std::wstring& path);

struct FileRead {
    std::uint32_t error = 0;  // 0 on success
    bool tooLarge = false;    // larger than the limit; nothing was read
    std::vector<std::uint8_t> bytes;
};
// Only regular files are read (POSIX refuses FIFOs and devices without waiting on them).
[[nodiscard]] FileRead readWholeFile(const std::wstring& path, std::uint64_t maxBytes);

// True when a user with fewer rights than this process could have written the file or put it in its
// folder (POSIX, run as root: owned by another user or writable by group or others, file or folder, or
// the folder a symbolic link;
// Windows: a link, owned by other than Administrators, SYSTEM or TrustedInstaller, or writable for anyone
// else). Also true when the file cannot be examined.
[[nodiscard]] bool lessPrivilegedCouldWrite(const std::wstring& path);

// False for a folder on a file system that keeps no owners or access lists (FAT, exFAT, some network
// shares), where anyone with access to the folder could have placed what it holds. POSIX: always true.
[[nodiscard]] bool keepsOwners(const std::wstring& folder);

// Names of the entries of a folder (not recursive, without "." and ".."); empty when unreadable.
[[nodiscard]] std::vector<std::wstring> listFolder(const std::wstring& path);

// Last write time in the platform's finest unit (POSIX: nanoseconds, Windows: 100 ns); only for ordering
// files of one folder against each other. Absent when the file cannot be queried.
[[nodiscard]] std::optional<std::uint64_t> lastWriteTime(const std::wstring& path);

}  // namespace tlx
