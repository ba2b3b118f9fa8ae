// File primitives over POSIX calls; errno becomes a Windows error code at each call.
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/errors.h"
#include "platform/posix/unique_fd.h"
#include "platform/text.h"

namespace tlx {

namespace {

constexpr std::size_t kWritePiece = 1024 * 1024;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorWriteFault = 29;
constexpr std::uint32_t kErrorHandleEof = 38;
constexpr std::uint32_t kErrorAlreadyExists = 183;

using posix::UniqueFd;

// close() can report a deferred write error, so the writer closes explicitly and checks.
std::uint32_t closeChecked(UniqueFd& fd) {
    return ::close(fd.release()) == 0 ? 0 : posix::lastWindowsError();
}

class Folder {
public:
    explicit Folder(DIR* handle) : handle_(handle) {}
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder() {
        if (handle_)
            ::closedir(handle_);
    }
    DIR* get() const { return handle_; }

private:
    DIR* handle_;
};

std::uint32_t writeAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t piece = std::min(kWritePiece, bytes.size() - done);
        const ssize_t written = ::write(fd, bytes.data() + done, piece);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return posix::lastWindowsError();
        }
        if (written == 0)
            return kErrorWriteFault;
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

std::uint32_t syncFolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return posix::lastWindowsError();
    // Some file systems cannot sync a folder; the rename itself has then been done as well as it can be.
    if (::fsync(fd.get()) != 0 && errno != EINVAL)
        return posix::lastWindowsError();
    return 0;
}

// Opened with O_NONBLOCK only so that a FIFO cannot hang the open; a regular file gets ordinary I/O.
std::uint32_t regularAndBlocking(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return posix::lastWindowsError();
    if (!S_ISREG(info.st_mode))
        return posix::notAFileError(info.st_mode);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return posix::lastWindowsError();
    return 0;
}

// For file systems with neither a no-replace rename nor hard links (FAT through FUSE): the name is claimed
// by creating an empty file exclusively, and only that claim of our own is replaced. After a crash the
// name holds either the empty claim, which no listing takes for a backup, or the complete file.
std::uint32_t claimThenRename(const std::string& source, const std::string& target) {
    UniqueFd claim(::open(target.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!claim.valid())
        return posix::lastWindowsError();
    if (const std::uint32_t error = closeChecked(claim); error != 0) {
        ::unlink(target.c_str());
        return error;
    }
    if (::rename(source.c_str(), target.c_str()) != 0) {
        const std::uint32_t error = posix::lastWindowsError();
        ::unlink(target.c_str());
        return error;
    }
    return 0;
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::uint32_t createDirectories(const std::wstring& path) {
    std::string full = toUtf8(path);
    while (full.size() > 1 && full.back() == '/')
        full.pop_back();
    if (full.empty())
        return 3;  // ERROR_PATH_NOT_FOUND
    // From the root outwards: every prefix that ends before a separator, then the folder itself.
    for (std::size_t end = 1; end <= full.size(); ++end) {
        if (end < full.size() && (full[end] != '/' || full[end - 1] == '/'))
            continue;
        const std::string prefix = full.substr(0, end);
        if (::mkdir(prefix.c_str(), 0755) == 0)
            continue;
        const int failure = errno;
        if (isFolder(prefix))
            continue;
        if (failure == EEXIST)
            return end == full.size() ? kErrorAlreadyExists : 3;  // a file stands in the way
        return posix::windowsError(failure);
    }
    return 0;
}

std::uint32_t writeFileThrough(const std::wstring& path, std::span<const std::uint8_t> bytes) {
    const std::string name = toUtf8(path);
    // A file left at the name, or a hard link to an earlier backup, loses only its name; the file is then
    // created anew, so nothing that already exists (link, FIFO, another backup) is ever written through.
    struct stat existing {};
    if (::lstat(name.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::unlink(name.c_str());
    UniqueFd fd(::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
    if (!fd.valid())
        return posix::whatStandsAt(name, posix::lastWindowsError());
    if (const std::uint32_t error = regularAndBlocking(fd.get()); error != 0)
        return error;
    std::uint32_t error = writeAll(fd.get(), bytes);
    if (error == 0 && ::fsync(fd.get()) != 0)
        error = posix::lastWindowsError();
    const std::uint32_t closeError = closeChecked(fd);
    if (error == 0)
        error = closeError;
    if (error != 0)
        ::unlink(name.c_str());
    return error;
}

std::uint32_t moveNoReplace(const std::wstring& from, const std::wstring& to) {
    const std::string source = toUtf8(from);
    const std::string target = toUtf8(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS)
            return posix::lastWindowsError();
        // The file system refuses the flag: a hard link never replaces either.
        if (::link(source.c_str(), target.c_str()) == 0) {
            ::unlink(source.c_str());
        } else if (errno == EPERM || errno == EOPNOTSUPP) {
            if (const std::uint32_t error = claimThenRename(source, target); error != 0)
                return error;
        } else {
            return posix::lastWindowsError();
        }
    }
    if (const std::uint32_t error = syncFolderOf(target); error != 0) {
        // Not known to be durable: the file goes again, so no backup is listed that was reported unsaved.
        ::unlink(target.c_str());
        return error;
    }
    return 0;
}

void deleteFile(const std::wstring& path) {
    ::unlink(toUtf8(path).c_str());
}

void discardUnconfirmedFile(const std::wstring& path) {
    const std::string name = toUtf8(path);
    if (::unlink(name.c_str()) == 0)
        (void)syncFolderOf(name);
}

FileRead readWholeFile(const std::wstring& path, std::uint64_t maxBytes) {
    FileRead result;
    UniqueFd fd(::open(toUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        result.error = posix::lastWindowsError();
        return result;
    }
    if (const std::uint32_t error = regularAndBlocking(fd.get()); error != 0) {
        result.error = error;
        return result;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        result.error = posix::lastWindowsError();
        return result;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > maxBytes) {
        result.tooLarge = true;
        return result;
    }
    result.bytes.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < result.bytes.size()) {
        const ssize_t got = ::read(fd.get(), result.bytes.data() + done, result.bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            result.error = got < 0 ? posix::lastWindowsError() : kErrorHandleEof;
            result.bytes.clear();
            return result;
        }
        done += static_cast<std::size_t>(got);
    }
    return result;
}

bool keepsOwners(const std::wstring&) {
    return true;
}

std::uint32_t checkAdministratorsOnlyFolder(const std::wstring&) {
    return 0;
}

std::optional<FolderRefusal> untrustedBackupFolder(const std::wstring& directory, const std::wstring& volumeFolder) {
    const uid_t self = ::geteuid();
    if (self != 0)
        return std::nullopt;  // only the administrator has less privileged users to fear
    const auto refuse = [](const std::wstring& folder, std::uint32_t error) {
        return std::optional<FolderRefusal>(FolderRefusal{folder, error});
    };
    // The backups folder is the one the administrator named, links and all; a sticky one (like /tmp)
    // lets nobody else rename or replace the folders of root's in it.
    struct stat root {};
    if (::stat(toUtf8(directory).c_str(), &root) == 0) {
        if (root.st_uid != self)
            return refuse(directory, posix::kErrorFolderOfAnotherUser);
        if ((root.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (root.st_mode & S_ISVTX) == 0)
            return refuse(directory, posix::kErrorFolderWritableByOthers);
    }
    // The per-volume folder is examined on the folder itself, never through a link.
    UniqueFd folder(::open(toUtf8(volumeFolder).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid()) {
        // Absent, or a file in the way that creating the folder reports: nothing to trust or refuse yet.
        struct stat entry {};
        if (::lstat(toUtf8(volumeFolder).c_str(), &entry) == 0 && S_ISLNK(entry.st_mode))
            return refuse(volumeFolder, posix::kErrorFolderIsLink);
        return std::nullopt;
    }
    struct stat own {};
    if (::fstat(folder.get(), &own) != 0)
        return refuse(volumeFolder, posix::lastWindowsError());
    if (own.st_uid != self)
        return refuse(volumeFolder, posix::kErrorFolderOfAnotherUser);
    if ((own.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return refuse(volumeFolder, posix::kErrorFolderWritableByOthers);
    return std::nullopt;
}

bool lessPrivilegedCouldWrite(const std::wstring& path) {
    const uid_t self = ::geteuid();
    if (self != 0)
        return false;  // only the administrator has less privileged users to fear
    const std::string name = toUtf8(path);
    struct stat file {};
    if (::lstat(name.c_str(), &file) != 0 || !S_ISREG(file.st_mode))
        return true;
    if (file.st_uid != self || (file.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return true;
    // Whoever may write the folder may also swap the file; a sticky folder such as /tmp lets nobody
    // replace a file of root's. A folder that is a link was reached through a name someone planted:
    // asked after the file was read, this also catches a link put there just for the reading.
    const std::size_t slash = name.rfind('/');
    const std::string folderName = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    struct stat folder {};
    if (::lstat(folderName.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return true;
    const bool othersWrite = (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (folder.st_mode & S_ISVTX) == 0;
    return folder.st_uid != self || othersWrite;
}

std::vector<std::wstring> listFolder(const std::wstring& path) {
    std::vector<std::wstring> names;
    Folder folder(::opendir(toUtf8(path).c_str()));
    if (!folder.get())
        return names;
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        names.push_back(fromSystemBytes(name));
    }
    return names;
}

std::optional<std::uint64_t> lastWriteTime(const std::wstring& path) {
    struct stat info {};
    if (::stat(toUtf8(path).c_str(), &info) != 0 || info.st_mtim.tv_sec < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
}

}  // namespace tlx
