// File primitives over kernel32, with UTF-16 paths.
#include <algorithm>

#include "platform/files.h"
#include "platform/folder_trust.h"
#include "platform/system.h"
#include "platform/win/unique_handle.h"
#include "platform/win/windows.h"

#include <aclapi.h>
#include <sddl.h>

namespace tlx {

namespace {

constexpr DWORD kWritePiece = 1024 * 1024;

using win::FileHandle;

struct FindFileTraits {
    using Value = HANDLE;
    static Value invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(Value value) noexcept { return value != INVALID_HANDLE_VALUE; }
    static void close(Value value) noexcept { FindClose(value); }
};
using FindHandle = win::UniqueHandle<FindFileTraits>;

// SYSTEM and Administrators full control, Users read and execute, for the folder and all it holds;
// protected, so nothing is inherited from a parent such as ProgramData, where every user may add files.
constexpr wchar_t kAdministratorsOnlySddl[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";

// Rights that let their holder add, remove or replace what a folder holds, or take the folder over.
constexpr ACCESS_MASK kFolderWriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                                           WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct LocalTraits {
    using Value = HLOCAL;
    static Value invalid() noexcept { return nullptr; }
    static bool valid(Value value) noexcept { return value != nullptr; }
    static void close(Value value) noexcept { LocalFree(value); }
};
using LocalMemory = win::UniqueHandle<LocalTraits>;

bool isTrustedInstaller(PSID sid) {
    PSID installer = nullptr;
    if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer))
        return false;
    const LocalMemory owned(installer);
    return EqualSid(sid, installer) != FALSE;
}

// Not the elevated process's own account: in Admin Approval Mode it is every unelevated process's too.
Trustee trusteeOf(PSID sid) {
    if (!sid || !IsValidSid(sid)) return Trustee::Other;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return Trustee::Administrators;
    if (IsWellKnownSid(sid, WinLocalSystemSid)) return Trustee::System;
    if (isTrustedInstaller(sid)) return Trustee::TrustedInstaller;
    if (IsWellKnownSid(sid, WinCreatorOwnerSid)) return Trustee::CreatorOwner;
    return Trustee::Other;
}

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Length of the part that cannot be created: "C:\", "\\?\C:\", "\\server\share\", "\\?\UNC\server\share\".
std::size_t rootLength(const std::wstring& path) {
    std::size_t start = 0;
    bool unc = false;
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        start = 8;
        unc = true;
    } else if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
        start = 4;
        // "\\?\Volume{GUID}\" is a volume's root, never a folder to create.
        const std::size_t close = path.rfind(L"Volume{", 4) == 4 ? path.find(L'}', 4) : std::wstring::npos;
        if (close != std::wstring::npos) {
            start = close + 1;
            while (start < path.size() && isSeparator(path[start]))
                ++start;
            return start;
        }
    } else if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        start = 2;
        unc = true;
    }
    if (unc) {
        // Skip the server and the share.
        for (int part = 0; part < 2 && start < path.size(); ++part) {
            while (start < path.size() && !isSeparator(path[start]))
                ++start;
            if (start < path.size())
                ++start;
        }
        return start;
    }
    if (path.size() >= start + 2 && path[start + 1] == L':')
        start += 2;
    while (start < path.size() && isSeparator(path[start]))
        ++start;
    return start;
}

}  // namespace

std::uint32_t createDirectories(const std::wstring& path) {
    std::wstring full = path;
    while (full.size() > 1 && isSeparator(full.back()))
        full.pop_back();
    if (full.empty())
        return ERROR_PATH_NOT_FOUND;
    // Run as administrator, every folder made here may later hold what an administrator restores.
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    LocalMemory descriptor;
    if (isElevated()) {
        PSECURITY_DESCRIPTOR made = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnlySddl, SDDL_REVISION_1, &made,
                                                                  nullptr))
            return GetLastError();
        descriptor.reset(made);
        attributes.lpSecurityDescriptor = made;
    }
    const std::size_t root = rootLength(full);
    for (std::size_t end = root + 1; end <= full.size(); ++end) {
        if (end < full.size() && (!isSeparator(full[end]) || isSeparator(full[end - 1])))
            continue;
        const std::wstring prefix = full.substr(0, end);
        if (CreateDirectoryW(prefix.c_str(), descriptor.valid() ? &attributes : nullptr))
            continue;
        const DWORD error = GetLastError();
        if (isFolder(prefix))
            continue;
        if (error == ERROR_ALREADY_EXISTS && end < full.size())
            return ERROR_PATH_NOT_FOUND;  // a file stands in the way
        return error;
    }
    return 0;
}

std::uint32_t writeFileThrough(const std::wstring& path, std::span<const std::uint8_t> bytes) {
    // A file left at the name, or a hard link to an earlier backup, loses only its name; the file is then
    // created anew, so nothing that already exists (a reparse point, another backup) is written through.
    const DWORD existing = GetFileAttributesW(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES &&
        (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
        DeleteFileW(path.c_str());
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file.valid())
        return GetLastError();
    DWORD error = 0;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(kWritePiece, bytes.size() - done));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, piece, &written, nullptr) || written == 0) {
            error = GetLastError();
            if (error == 0)
                error = ERROR_WRITE_FAULT;
            break;
        }
        done += written;
    }
    if (error == 0 && !FlushFileBuffers(file.get()))
        error = GetLastError();
    file.reset();
    if (error != 0)
        DeleteFileW(path.c_str());
    return error;
}

// Runs step until it succeeds or fails otherwise than a scanner briefly holding the new file (5, 32).
template <class Step>
DWORD retriedWhileHeld(Step step) {
    DWORD error = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0) Sleep(100);
        error = step();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
    }
    return error;
}

std::uint32_t moveNoReplace(const std::wstring& from, const std::wstring& to) {
    // Without MOVEFILE_REPLACE_EXISTING an existing backup is never overwritten.
    const DWORD moved = retriedWhileHeld([&]() -> DWORD {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? 0 : GetLastError();
    });
    if (moved != 0) return moved;
    // MOVEFILE_WRITE_THROUGH covers only a move by copy and delete; flushing the file under its
    // final name is what makes the rename itself durable.
    return retriedWhileHeld([&]() -> DWORD {
        FileHandle file(CreateFileW(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid() || !FlushFileBuffers(file.get())) return GetLastError();
        return 0;
    });
}

void deleteFile(const std::wstring& path) {
    DeleteFileW(path.c_str());
}

void discardUnconfirmedFile(const std::wstring&) {
    // The file that failed its read-back stays where it is, for inspection.
}

FileRead readWholeFile(const std::wstring& path, std::uint64_t maxBytes) {
    FileRead result;
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        result.error = GetLastError();
        return result;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        result.error = GetLastError();
        return result;
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
        result.tooLarge = true;
        return result;
    }
    result.bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < result.bytes.size()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(kWritePiece, result.bytes.size() - done));
        DWORD got = 0;
        if (!ReadFile(file.get(), result.bytes.data() + done, piece, &got, nullptr) || got == 0) {
            result.error = GetLastError();
            if (result.error == 0)
                result.error = ERROR_HANDLE_EOF;
            result.bytes.clear();
            return result;
        }
        done += got;
    }
    return result;
}

std::optional<FolderRefusal> untrustedBackupFolder(const std::wstring&, const std::wstring&) {
    return std::nullopt;
}

namespace {

// Owner, access entries and reparse flag of what handle names, for the administrators-only rule.
DWORD readSecurity(HANDLE handle, FolderSecurity& security) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        return GetLastError();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR made = nullptr;
    const DWORD status = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &dacl, nullptr, &made);
    if (status != ERROR_SUCCESS)
        return status;
    const LocalMemory descriptor(made);
    security.reparsePoint = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    security.hasDacl = dacl != nullptr;
    security.owner = trusteeOf(owner);
    for (DWORD index = 0; dacl && index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry))
            return GetLastError();
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        FolderAccessEntry access;
        access.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
            access.trustee = trusteeOf(const_cast<DWORD*>(&allowed->SidStart));
            access.grantsWrite = (allowed->Mask & kFolderWriteRights) != 0;
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_OBJECT_ACE_TYPE ||
                   header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
                   header->AceType == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE) {
            access.allows = false;
        } else {
            access.grantsWrite = true;  // a kind of grant not read here counts as anyone's
        }
        security.entries.push_back(access);
    }
    return 0;
}

// Opened without following a link: what is judged is what the name holds.
FileHandle openForSecurity(const std::wstring& path) {
    return FileHandle(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

}  // namespace

std::uint32_t checkAdministratorsOnlyFolder(const std::wstring& path) {
    if (!isElevated())
        return 0;
    // Examined on the handle, never through a link: what is checked is what the writes go into.
    const FileHandle folder = openForSecurity(path);
    if (!folder.valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }
    FolderSecurity security;
    if (const DWORD error = readSecurity(folder.get(), security); error != 0)
        return error;
    return administratorsOnly(security) ? 0 : ERROR_ACCESS_DENIED;
}

bool lessPrivilegedCouldWrite(const std::wstring& path) {
    // An administrator's file that others may write is theirs as much: held to the folder's rule.
    const FileHandle file = openForSecurity(path);
    FolderSecurity security;
    return !file.valid() || readSecurity(file.get(), security) != 0 || !administratorsOnly(security);
}

bool keepsOwners(const std::wstring& folder) {
    wchar_t root[MAX_PATH] = {};
    DWORD flags = 0;
    // Unknown counts as keeping them: files are then judged by their owners as everywhere else.
    if (!GetVolumePathNameW(folder.c_str(), root, MAX_PATH) ||
        !GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        return true;
    return (flags & FS_PERSISTENT_ACLS) != 0;
}

std::vector<std::wstring> listFolder(const std::wstring& path) {
    std::vector<std::wstring> names;
    std::wstring pattern = path;
    if (!pattern.empty() && !isSeparator(pattern.back()))
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data{};
    FindHandle find(FindFirstFileW(pattern.c_str(), &data));
    if (!find.valid())
        return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find.get(), &data));
    return names;
}

std::optional<std::uint64_t> lastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
}

}  // namespace tlx
