// File primitives over kernel32, with UTF-16 paths.
#include <algorithm>

#include "platform/files.h"
#include "platform/win/unique_handle.h"
#include "platform/win/windows.h"

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
    const std::size_t root = rootLength(full);
    for (std::size_t end = root + 1; end <= full.size(); ++end) {
        if (end < full.size() && (!isSeparator(full[end]) || isSeparator(full[end - 1])))
            continue;
        const std::wstring prefix = full.substr(0, end);
        if (CreateDirectoryW(prefix.c_str(), nullptr))
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
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr));
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
