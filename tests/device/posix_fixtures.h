#pragma once
// Temporary folders, image files, loop devices and a second process for the POSIX device tests.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace tlx::testing {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/plinthos-test-XXXXXX";
        if (mkdtemp(pattern)) path_ = pattern;
    }
    explicit TempDir(const std::string& parent) {
        std::string pattern = parent + "/plinthos-test-XXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        if (path_.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Byte i of a pattern image: differs from sector to sector and inside each sector.
inline std::uint8_t patternByte(std::uint64_t i) {
    return static_cast<std::uint8_t>((i * 7 + i / 512 * 13 + 1) & 0xFF);
}

inline std::vector<std::uint8_t> patternBytes(std::uint64_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint64_t i = 0; i < size; ++i) bytes[i] = patternByte(i);
    return bytes;
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::optional<std::string> commandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char buffer[512];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    const int status = pclose(pipe);
    if (status != 0) return std::nullopt;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

inline bool run(const std::string& command) {
    return std::system(("{ " + command + "\n} >/dev/null 2>&1").c_str()) == 0;
}

inline bool hasTool(const std::string& name) {
    return run("command -v " + name);
}

// A loop device over an image, detached on destruction. Root only.
class LoopDevice {
public:
    LoopDevice(const std::string& image, unsigned sectorSize = 512) {
        std::string command = "losetup -f --show";
        if (sectorSize != 512) command += " --sector-size " + std::to_string(sectorSize);
        if (auto out = commandOutput(command + " '" + image + "' 2>/dev/null")) path_ = *out;
    }
    ~LoopDevice() {
        if (!path_.empty()) run("losetup -d " + path_);
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Another process that keeps a file open until this object is destroyed.
class OtherProcessHolding {
public:
    explicit OtherProcessHolding(const std::string& path) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            const int fd = ::open(path.c_str(), O_RDONLY);
            const char answer = fd >= 0 ? 'y' : 'n';
            (void)!write(ready[1], &answer, 1);
            char ignored;
            (void)!read(release[0], &ignored, 1);  // returns when the parent closes its end
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char answer = 'n';
        holding_ = read(ready[0], &answer, 1) == 1 && answer == 'y';
        close(ready[0]);
    }
    ~OtherProcessHolding() {
        if (release_ >= 0) close(release_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    OtherProcessHolding(const OtherProcessHolding&) = delete;
    OtherProcessHolding& operator=(const OtherProcessHolding&) = delete;
    bool holding() const { return holding_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool holding_ = false;
};

}  // namespace tlx::testing
