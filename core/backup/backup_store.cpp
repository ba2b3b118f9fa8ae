// The backups folder: per-volume folders, file names, the crash-safe save and the listing.
#include "backup/backup_store.h"

#include <algorithm>
#include <cstdio>

#include "backup/backup_key.h"
#include "backup/path_separator.h"
#include "backup/sha256.h"
#include "catalog/resolve.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"

namespace tlx {

namespace {

constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorCrc = 23;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr unsigned kAttempts = 100;
constexpr std::wstring_view kExtension = L".tlxbak";

// File systems limit one path component to 255 bytes.
constexpr std::size_t kMaxComponentBytes = 255;

// A folder name too long for one component keeps its end (the image's own name) and gains "%%" and a
// digest of the whole path. The escaped name never holds "%%", so no short name can equal a shortened one.
std::wstring shortenedFolderName(const std::wstring& name, std::wstring_view path) {
    const std::string whole = toUtf8(std::wstring(path));
    const auto digest = sha256(std::span(reinterpret_cast<const std::uint8_t*>(whole.data()), whole.size()));
    if (!digest)
        return name;  // too long to create: the save then fails with the system's reason
    const std::wstring mark = L"%%" + widen(digestHex(*digest).substr(0, 32));
    std::size_t start = name.size();
    std::size_t bytes = mark.size();
    while (start > 0) {
        std::size_t piece = 1;  // an escape "%25" or "%5F" is kept whole
        if (start >= 3 && name[start - 3] == L'%')
            piece = 3;
        const std::size_t pieceBytes = toUtf8(name.substr(start - piece, piece)).size();
        if (bytes + pieceBytes > kMaxComponentBytes)
            break;
        bytes += pieceBytes;
        start -= piece;
    }
    return name.substr(start) + mark;
}

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

std::string format(const char* pattern, const UtcTime& time) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, pattern, time.year, time.month, time.day, time.hour, time.minute,
                  time.second);
    return buffer;
}

std::wstring resolvedVolume(const std::wstring& driveSpec) {
    return volumeNameFor(driveSpec).value_or(driveSpec);
}

std::wstring volumeFolder(const std::wstring& directory, const std::wstring& volume) {
    return joinPath(directory, backupFolderName(volume));
}

// The volume's folder, the backups folder and the two above it that the default names (Morvane\Plinthos),
// from the top down.
std::vector<std::wstring> heldFolders(const std::wstring& directory, const std::wstring& volumeFolder) {
    std::vector<std::wstring> folders{volumeFolder, directory};
    for (int level = 0; level < 2; ++level) {
        std::wstring parent = folders.back();
        while (!parent.empty() && (parent.back() == L'\\' || parent.back() == L'/')) parent.pop_back();
        const std::size_t cut = parent.find_last_of(L"\\/");
        if (cut == std::wstring::npos || cut == 0 || parent[cut - 1] == L':') break;
        folders.push_back(parent.substr(0, cut));
    }
    return {folders.rbegin(), folders.rend()};
}

// Paths are ordered by their UTF-16 code units on every platform, so both programs list alike.
std::u16string utf16Units(const std::wstring& text) {
    std::u16string units;
    units.reserve(text.size());
    for (const wchar_t c : text) {
        const auto point = static_cast<char32_t>(c);
        if (point >= 0x10000 && point <= 0x10FFFF) {
            units += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(point);
        }
    }
    return units;
}

// "YYYYMMDD-HHMMSSZ_" at the start of a name as the store writes it; empty for other names.
std::wstring secondStamp(const std::wstring& name) {
    constexpr std::wstring_view kPattern = L"dddddddd-ddddddZ_";
    if (name.size() < kPattern.size())
        return {};
    for (std::size_t i = 0; i < kPattern.size(); ++i) {
        const bool fits = kPattern[i] == L'd' ? (name[i] >= L'0' && name[i] <= L'9') : name[i] == kPattern[i];
        if (!fits)
            return {};
    }
    return name.substr(0, kPattern.size());
}

struct ListedFile {
    std::u16string name;   // the file name in UTF-16 code units, the listing's order
    std::u16string units;  // the path likewise, for equal names
    std::wstring stamp;
    std::uint64_t written = 0;
    BackupListEntry entry;
};

bool sameRegions(const BootSectorBackup& written, const BootSectorBackup& read) {
    if (written.regions.size() != read.regions.size())
        return false;
    for (std::size_t i = 0; i < written.regions.size(); ++i)
        if (written.regions[i].firstSector != read.regions[i].firstSector ||
            written.regions[i].bytes != read.regions[i].bytes)
            return false;
    return true;
}

// A disk image on Windows is named by its full path: C:\x\a.img or \\server\share\a.img.
bool isWindowsFilePath(std::wstring_view volume) {
    const bool letter = volume.size() >= 3 && ((volume[0] >= L'A' && volume[0] <= L'Z') ||
                                               (volume[0] >= L'a' && volume[0] <= L'z'));
    if (letter && volume[1] == L':' && volume[2] == L'\\')
        return true;
    return volume.starts_with(L"\\\\") && !volume.starts_with(L"\\\\?\\") && !volume.starts_with(L"\\\\.\\");
}

// The rule of POSIX image paths: one component, separators as '_', the path's own '_' and '%'
// escaped; the drive's colon is dropped and any other colon (a stream name) escaped.
std::wstring windowsFileFolderName(std::wstring_view path) {
    std::wstring name;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const wchar_t c = path[i];
        if (c == L'\\' || c == L'/') name += L'_';
        else if (c == L'_') name += L"%5F";
        else if (c == L'%') name += L"%25";
        else if (c == L':' && i != 1) name += L"%3A";
        else if (c != L':') name += c;
    }
    return name;
}

}  // namespace

std::wstring backupFolderName(std::wstring_view volume) {
    std::wstring name;
    if (!volume.empty() && volume.front() == L'/') {
        // A device or image path becomes one component: /dev/sdb1 gives dev_sdb1. A '_' or '%'
        // of the path itself is escaped, so that /a_b/x and /a/b_x keep folders of their own.
        std::wstring_view path = volume.substr(1);
        while (!path.empty() && path.back() == L'/')
            path.remove_suffix(1);
        for (const wchar_t c : path) {
            if (c == L'/') name += L'_';
            else if (c == L'_') name += L"%5F";
            else if (c == L'%') name += L"%25";
            else name += c;
        }
        // "/.." must not name the backups folder's parent.
        if (name == L"." || name == L"..")
            name.insert(name.begin(), L'_');
        return toUtf8(name).size() <= kMaxComponentBytes ? name : shortenedFolderName(name, path);
    }
    if (isWindowsFilePath(volume)) {
        name = windowsFileFolderName(volume);
        return toUtf8(name).size() <= kMaxComponentBytes ? name : shortenedFolderName(name, volume);
    }
    const std::size_t at = volume.size() >= 7 ? volume.find(L"Volume{") : std::wstring_view::npos;
    name.assign(at == std::wstring_view::npos ? volume : volume.substr(at));
    while (!name.empty() && isSeparator(name.back()))
        name.pop_back();
    return name;
}

bool recordableInBackup(std::wstring_view text) {
    return text.find(L'\n') == std::wstring_view::npos;
}

std::wstring joinPath(std::wstring_view left, std::wstring_view right) {
    std::wstring path(left);
    const bool bareDrive = left.size() == 2 && left[1] == L':' &&
                           ((left[0] >= L'A' && left[0] <= L'Z') || (left[0] >= L'a' && left[0] <= L'z'));
    if (!left.empty() && !isSeparator(left.back()) && !bareDrive)
        path += joinSeparatorFor(left);
    path += right;
    return path;
}

std::wstring backupFileName(const std::string& stamp, const ChangePlan& plan, unsigned attempt) {
    std::wstring name = widen(stamp);
    name += L'_';
    name += widen(formatSerialHex(plan.oldSerial, plan.serialWidth));
    name += L'_';
    name += widen(formatSerialHex(plan.newSerial, plan.serialWidth));
    if (attempt != 0)
        name += L"-" + std::to_wstring(attempt);
    name += kExtension;
    return name;
}

FileBackupSink::FileBackupSink(std::wstring directory, const std::wstring& driveSpec, std::string app)
    : directory_(std::move(directory)), volume_(resolvedVolume(driveSpec)), app_(std::move(app)) {
    if (const auto info = findVolume(driveSpec); info && !info->mountPoints.empty())
        mount_ = info->mountPoints.front();
}

FileBackupSink::FileBackupSink(std::wstring directory, std::wstring volume, std::wstring mount, std::string app)
    : directory_(std::move(directory)), volume_(std::move(volume)), mount_(std::move(mount)), app_(std::move(app)) {}

bool FileBackupSink::save(const ChangePlan& plan) {
    lastPath_.clear();
    refusedFolder_.clear();
    lastDigest_.reset();
    lastError_ = 0;
    const auto fail = [this](std::uint32_t error) {
        lastError_ = error != 0 ? error : kErrorGenFailure;
        return false;
    };

    const UtcTime now = utcNow();
    const std::string created = format("%04u-%02u-%02uT%02u:%02u:%02uZ", now);
    const std::string stamp = format("%04u%02u%02u-%02u%02u%02uZ", now);

    // A line break would end the header line that records the path, and the file would not read back.
    if (!recordableInBackup(volume_) || !recordableInBackup(mount_))
        return fail(kErrorInvalidName);

    const BootSectorBackup backup = backupFromPlan(plan, volume_, mount_, app_, created);
    // Without a digest the file could not be checked later, so nothing is written at all.
    const auto bytes = serializeBackup(backup);
    if (!bytes)
        return fail(kErrorGenFailure);

    const std::wstring folder = volumeFolder(directory_, backupKeyFor(volume_));
    if (folder.empty())
        return fail(kErrorPathNotFound);
    // What an administrator restores later must not lie where anyone else can plant files, nor below a
    // folder anyone else could replace: checked before anything is created in them, and again once the
    // missing ones exist. A folder the user named is used as named (it may lie on a file system without
    // security descriptors); the check for links and other users' folders holds for every folder.
    const auto heldToAdministrators = [&]() -> std::uint32_t {
        if (const auto refusal = untrustedBackupFolder(directory_, folder)) {
            refusedFolder_ = refusal->folder;
            return refusal->error;
        }
        if (namedFolder_)
            return 0;
        for (const std::wstring& existing : heldFolders(directory_, folder))
            if (const std::uint32_t error = checkAdministratorsOnlyFolder(existing); error != 0)
                return error;
        return 0;
    };
    if (const std::uint32_t error = heldToAdministrators(); error != 0)
        return fail(error);
    if (const std::uint32_t error = createDirectories(folder); error != 0)
        return fail(error);
    if (const std::uint32_t error = heldToAdministrators(); error != 0)
        return fail(error);

    std::wstring path;
    for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
        const std::wstring candidate = joinPath(folder, backupFileName(stamp, plan, attempt));
        const std::wstring temporary = candidate + L".tmp";
        // writeFileThrough deletes its file on failure.
        if (const std::uint32_t error = writeFileThrough(temporary, *bytes); error != 0)
            return fail(error);
        const std::uint32_t error = moveNoReplace(temporary, candidate);
        if (error == 0) {
            path = candidate;
            break;
        }
        deleteFile(temporary);
        if (error != kErrorAlreadyExists && error != kErrorFileExists)
            return fail(error);
    }
    if (path.empty())
        return fail(kErrorFileExists);

    const BackupReadResult check = readBackupFile(path);
    if (check.parseError != BackupParseError::None || !sameRegions(backup, check.backup)) {
        discardUnconfirmedFile(path);
        return fail(check.systemError != 0 ? check.systemError : kErrorCrc);
    }
    lastPath_ = path;
    lastDigest_ = check.fileDigest;
    return true;
}

std::vector<std::wstring> volumeBackupFolders(const std::wstring& directory, const std::wstring& driveSpec) {
    const std::wstring volume = resolvedVolume(driveSpec);
    std::vector<std::wstring> folders = {volumeFolder(directory, backupKeyFor(volume))};
    if (const std::wstring named = volumeFolder(directory, volume); named != folders.front())
        folders.push_back(named);
    return folders;
}

std::vector<BackupListEntry> listVolumeBackups(const std::wstring& directory, const std::wstring& driveSpec) {
    std::vector<BackupListEntry> entries;
    std::vector<ListedFile> files;
    for (const std::wstring& folder : volumeBackupFolders(directory, driveSpec)) {
        if (folder.empty())
            continue;
        for (const std::wstring& name : listFolder(folder)) {
            if (name.size() < kExtension.size() || name.compare(name.size() - kExtension.size(), kExtension.size(),
                                                                kExtension) != 0)
                continue;
            std::wstring path = joinPath(folder, name);
            BackupReadResult read = readBackupFile(path);
            if (read.parseError != BackupParseError::None)
                continue;
            const std::uint64_t written = lastWriteTime(path).value_or(0);
            files.push_back(ListedFile{utf16Units(name), utf16Units(path), secondStamp(name), written,
                                       BackupListEntry{path, std::move(read.backup), lessPrivilegedCouldWrite(path),
                                                       read.fileDigest}});
        }
    }
    // By name, then path: within one folder that is the path order; across the volume's folders it keeps
    // the newest first.
    std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) {
        return a.name != b.name ? a.name > b.name : a.units > b.units;
    });
    // A name's stamp has whole seconds only: inside one second, the path order says nothing about which
    // change came last (it follows the serial texts), so there the file written last comes first.
    for (auto run = files.begin(); run != files.end();) {
        const auto end = std::find_if(run, files.end(), [&run](const ListedFile& f) { return f.stamp != run->stamp; });
        if (!run->stamp.empty())
            std::stable_sort(run, end, [](const ListedFile& a, const ListedFile& b) { return a.written > b.written; });
        run = end;
    }
    entries.reserve(files.size());
    for (ListedFile& file : files)
        entries.push_back(std::move(file.entry));
    return entries;
}

}  // namespace tlx
