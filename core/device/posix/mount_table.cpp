// Parsing /proc/self/mountinfo and reading small kernel files.
#include "device/posix/mount_table.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/unique_fd.h"

namespace tlx::posix {

namespace {

// The kernel writes blanks, tabs, line breaks and backslashes in names as \ooo.
std::string unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string_view> splitBlanks(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool hasOption(std::string_view options, std::string_view wanted) {
    std::size_t i = 0;
    while (i <= options.size()) {
        const std::size_t comma = options.find(',', i);
        const std::size_t end = comma == std::string_view::npos ? options.size() : comma;
        if (options.substr(i, end - i) == wanted) return true;
        if (comma == std::string_view::npos) break;
        i = comma + 1;
    }
    return false;
}

// The number after "user_id=" among the options.
std::optional<unsigned> userIdIn(std::string_view options) {
    constexpr std::string_view key = "user_id=";
    std::size_t at = 0;
    while ((at = options.find(key, at)) != std::string_view::npos) {
        if (at == 0 || options[at - 1] == ',') {
            const std::string_view digits = options.substr(at + key.size());
            unsigned value = 0;
            if (std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc()) return value;
        }
        at += key.size();
    }
    return std::nullopt;
}

std::optional<MountEntry> parseLine(std::string_view line) {
    const std::vector<std::string_view> f = splitBlanks(line);
    // id parent major:minor root mountpoint options [optional fields...] - fstype source superoptions
    std::size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 6 || dash + 2 >= f.size()) return std::nullopt;
    MountEntry e;
    unsigned major = 0, minor = 0;
    if (std::sscanf(std::string(f[2]).c_str(), "%u:%u", &major, &minor) != 2) return std::nullopt;
    e.major = major;
    e.minor = minor;
    e.mountPoint = unescape(f[4]);
    e.fsType = unescape(f[dash + 1]);
    e.source = unescape(f[dash + 2]);
    const bool superReadOnly = dash + 3 < f.size() && hasOption(f[dash + 3], "ro");
    e.readOnly = hasOption(f[5], "ro") || superReadOnly;
    if (e.fsType == "fuse" || e.fsType == "fuseblk" || e.fsType.starts_with("fuse.")) {
        // The kernel always says; a mount it doesn't name an owner for is nobody's.
        const std::optional<unsigned> user = dash + 3 < f.size() ? userIdIn(f[dash + 3]) : std::nullopt;
        e.fuseUser = user.value_or(~0u);
    }
    return e;
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> entries;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = text.find('\n', i);
        if (end == std::string_view::npos) end = text.size();
        if (auto e = parseLine(text.substr(i, end - i))) entries.push_back(std::move(*e));
        i = end + 1;
    }
    return entries;
}

std::vector<std::string> loopDevicesIn(std::string_view partitions) {
    std::vector<std::string> names;
    std::size_t i = 0;
    while (i < partitions.size()) {
        std::size_t end = partitions.find('\n', i);
        if (end == std::string_view::npos) end = partitions.size();
        // major minor #blocks name
        const std::vector<std::string_view> f = splitBlanks(partitions.substr(i, end - i));
        i = end + 1;
        if (f.size() != 4 || !f[3].starts_with("loop")) continue;
        const std::string_view number = f[3].substr(4);
        // loop3p1 is a partition of loop3, whose loop attributes are its disk's.
        if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) continue;
        names.emplace_back(f[3]);
    }
    return names;
}

std::optional<std::string> readSmallFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    std::string text;
    char chunk[16384];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

std::vector<MountEntry> readMountTable() {
    const std::optional<std::string> text = readSmallFile("/proc/self/mountinfo");
    return text ? parseMountInfo(*text) : std::vector<MountEntry>{};
}

std::optional<std::string> readFirstLine(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    char buffer[4096];
    ssize_t got;
    do {
        got = ::read(fd.get(), buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return std::nullopt;
    std::string line(buffer, static_cast<std::size_t>(got));
    const std::size_t end = line.find('\n');
    if (end != std::string::npos) line.resize(end);
    return line;
}

}  // namespace tlx::posix
