// Opening the result file on both sides without being sent elsewhere by a link.
#include "win/result_file_access.h"

#include "catalog/volume_info.h"
#include "result_file.h"

namespace tlx::win {

namespace {

std::wstring finalPathOf(HANDLE file) {
    const DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (size == 0) return {};
    std::wstring path(size, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file, path.data(), size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= size) return {};
    path.resize(length);
    return path;
}

// What GetFinalPathNameByHandleW gives for a path that passes through no link: the full long form with
// the "\\?\" prefix. Empty when the system cannot form it (a folder that is not there).
std::wstring expectedFinalPath(const std::wstring& path) {
    const DWORD fullSize = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (fullSize == 0) return {};
    std::wstring full(fullSize, L'\0');
    const DWORD fullLength = GetFullPathNameW(path.c_str(), fullSize, full.data(), nullptr);
    if (fullLength == 0 || fullLength >= fullSize) return {};
    full.resize(fullLength);
    const DWORD longSize = GetLongPathNameW(full.c_str(), nullptr, 0);
    if (longSize == 0) return {};
    std::wstring longPath(longSize, L'\0');
    const DWORD longLength = GetLongPathNameW(full.c_str(), longPath.data(), longSize);
    if (longLength == 0 || longLength >= longSize) return {};
    longPath.resize(longLength);
    if (longPath.rfind(L"\\\\?\\", 0) == 0) return longPath;
    if (longPath.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + longPath.substr(2);
    return L"\\\\?\\" + longPath;
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && compareOrdinalIgnoreCase(a, b) == 0;
}

// A plain file with one name, reached at expected; its identity in info.
bool plainFileAt(HANDLE file, const std::wstring& expected, BY_HANDLE_FILE_INFORMATION& info) {
    if (!GetFileInformationByHandle(file, &info)) return false;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
    if (info.nNumberOfLinks != 1) return false;
    return samePath(finalPathOf(file), expected);
}

std::uint64_t indexOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

}  // namespace

std::uint32_t createResultFile(const std::wstring& path, CreatedResultFile& created) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
    BY_HANDLE_FILE_INFORMATION info{};
    const std::wstring finalPath = finalPathOf(file.get());
    if (finalPath.empty() || !GetFileInformationByHandle(file.get(), &info)) {
        const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
        FILE_DISPOSITION_INFO remove{TRUE};
        SetFileInformationByHandle(file.get(), FileDispositionInfo, &remove, sizeof remove);
        return error;
    }
    created = CreatedResultFile{path, finalPath, info.dwVolumeSerialNumber, indexOf(info)};
    return 0;
}

std::string takeResultFile(const CreatedResultFile& created) {
    std::string bytes;
    FileHandle file(CreateFileW(created.path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return bytes;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!plainFileAt(file.get(), created.finalPath, info) || info.dwVolumeSerialNumber != created.volumeSerial ||
        indexOf(info) != created.fileIndex)
        return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (bytes.size() <= kMaxResultFileBytes && ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got != 0)
        bytes.append(chunk, got);
    FILE_DISPOSITION_INFO remove{TRUE};
    SetFileInformationByHandle(file.get(), FileDispositionInfo, &remove, sizeof remove);
    return bytes;
}

FileHandle openResultFileForChild(const std::wstring& path) {
    // Never created here, never truncated: only the parent's own empty file is written.
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return file;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!plainFileAt(file.get(), expectedFinalPath(path), info) || info.nFileSizeHigh != 0 || info.nFileSizeLow != 0)
        return FileHandle();
    return file;
}

}  // namespace tlx::win
