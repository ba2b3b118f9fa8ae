// A FUSE daemon names its volume only by what it holds open.
#include "device/posix/fuse_source.h"

#include <algorithm>
#include <charconv>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tlx::posix {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

bool needsSource(const MountEntry& m) {
    const bool fuse = m.fsType == "fuse" || m.fsType.starts_with("fuse.");
    return fuse && m.major == 0 && !m.source.starts_with("/");
}

std::vector<std::string> numericEntries(const std::string& folder) {
    std::vector<std::string> names;
    UniqueDir dir(opendir(folder.c_str()));
    if (!dir) return names;
    while (const dirent* e = readdir(dir.get()))
        if (e->d_name[0] >= '0' && e->d_name[0] <= '9') names.emplace_back(e->d_name);
    return names;
}

std::optional<std::string> linkTarget(const std::string& link) {
    char target[4096];
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) return std::nullopt;
    return std::string(target, static_cast<std::size_t>(length));
}

// The arguments of a process, for daemons whose kernel doesn't name their connection.
bool hasArgument(const std::string& pid, const std::string& wanted) {
    const std::optional<std::string> cmdline = readSmallFile("/proc/" + pid + "/cmdline");
    if (!cmdline) return false;
    std::size_t at = 0;
    while (at < cmdline->size()) {
        const std::size_t end = std::min(cmdline->find('\0', at), cmdline->size());
        if (std::string_view(*cmdline).substr(at, end - at) == wanted) return true;
        at = end + 1;
    }
    return false;
}

struct Daemon {
    std::string pid;
    std::vector<std::string> fds;
    std::optional<unsigned> connection;  // absent: the kernel doesn't say
};

// Processes with /dev/fuse open, and the connection each serves.
std::vector<Daemon> fuseDaemons() {
    std::vector<Daemon> daemons;
    for (const std::string& pid : numericEntries("/proc")) {
        Daemon daemon{pid, numericEntries("/proc/" + pid + "/fd"), std::nullopt};
        bool serves = false;
        for (const std::string& fd : daemon.fds) {
            if (linkTarget("/proc/" + pid + "/fd/" + fd) != "/dev/fuse") continue;
            serves = true;
            if (const auto info = readSmallFile("/proc/" + pid + "/fdinfo/" + fd))
                if (const auto connection = fuseConnectionIn(*info)) daemon.connection = connection;
        }
        if (serves) daemons.push_back(std::move(daemon));
    }
    return daemons;
}

// The one block device or regular file the daemon holds open besides /dev/fuse.
std::optional<std::string> servedPath(const Daemon& daemon) {
    std::optional<std::string> found;
    dev_t foundDev = 0;
    ino_t foundIno = 0;
    for (const std::string& fd : daemon.fds) {
        const std::string link = "/proc/" + daemon.pid + "/fd/" + fd;
        struct stat st{};
        if (stat(link.c_str(), &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) continue;
        const std::optional<std::string> path = linkTarget(link);
        if (!path || !path->starts_with("/") || path->ends_with(" (deleted)")) return std::nullopt;
        if (found && st.st_dev == foundDev && st.st_ino == foundIno) continue;
        if (found) return std::nullopt;  // two candidates: can't tell which is the volume
        found = path;
        foundDev = st.st_dev;
        foundIno = st.st_ino;
    }
    return found;
}

}  // namespace

std::optional<unsigned> fuseConnectionIn(std::string_view fdinfo) {
    constexpr std::string_view key = "fuse_connection:";
    const std::size_t at = fdinfo.find(key);
    if (at == std::string_view::npos || (at != 0 && fdinfo[at - 1] != '\n')) return std::nullopt;
    std::size_t first = at + key.size();
    while (first < fdinfo.size() && (fdinfo[first] == ' ' || fdinfo[first] == '\t')) ++first;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(fdinfo.data() + first, fdinfo.data() + fdinfo.size(), value);
    if (error != std::errc() || end == fdinfo.data() + first) return std::nullopt;
    return value;
}

void nameFuseSources(std::vector<MountEntry>& mounts) {
    if (std::none_of(mounts.begin(), mounts.end(), needsSource)) return;
    const std::vector<Daemon> daemons = fuseDaemons();
    for (MountEntry& m : mounts) {
        if (!needsSource(m)) continue;
        const Daemon* match = nullptr;
        for (const Daemon& d : daemons) {
            const bool same = d.connection ? *d.connection == m.minor : hasArgument(d.pid, m.mountPoint);
            if (!same) continue;
            if (match) {  // two daemons claim it: tell nothing
                match = nullptr;
                break;
            }
            match = &d;
        }
        if (match)
            if (std::optional<std::string> path = servedPath(*match)) m.source = std::move(*path);
    }
}

}  // namespace tlx::posix
