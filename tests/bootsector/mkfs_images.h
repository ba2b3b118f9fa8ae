#pragma once
// Scratch disk images made by the real mkfs tools at run time, and the tools that judge them.
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "bootsector/serial.h"
#include "sector_builders.h"

namespace tlx::test {

inline bool toolAvailable(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

struct ToolRun {
    int exitCode = -1;
    std::string output;  // standard output and standard error
};

inline ToolRun runTool(const std::string& command) {
    ToolRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buffer[512];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A file in the test's temporary folder, removed when the test ends.
class ScratchImage {
public:
    explicit ScratchImage(std::uint64_t size) {
        std::string pattern = testing::TempDir() + "plinthos-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) return;
        const bool sized = ftruncate(fd, static_cast<off_t>(size)) == 0;
        close(fd);
        if (sized) path_ = pattern;
        else std::remove(pattern.c_str());
    }
    ~ScratchImage() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    ScratchImage(const ScratchImage&) = delete;
    ScratchImage& operator=(const ScratchImage&) = delete;

    const std::string& path() const { return path_; }

    // The first `limit` bytes (fewer if the file is shorter).
    std::optional<Bytes> read(std::size_t limit = SIZE_MAX) const {
        std::ifstream in(path_, std::ios::binary);
        if (!in) return std::nullopt;
        Bytes bytes;
        char buffer[65536];
        while (bytes.size() < limit && in.read(buffer, sizeof buffer).gcount() > 0)
            bytes.insert(bytes.end(), buffer, buffer + in.gcount());
        if (bytes.size() > limit) bytes.resize(limit);
        return bytes;
    }
    // Overwrites the start of the file; the rest stays as it is.
    bool writePrefix(const Bytes& bytes) const {
        std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        return static_cast<bool>(out);
    }

private:
    std::string path_;
};

// The serial as blkid reads it from the image ("1234-ABCD", or 16 hex digits for NTFS).
inline std::string blkidSerial(const std::string& path) {
    ToolRun run = runTool("blkid -p -o value -s UUID '" + path + "'");
    while (!run.output.empty() && (run.output.back() == '\n' || run.output.back() == ' ')) run.output.pop_back();
    return run.output;
}

// How blkid prints a serial: 16 hex digits for a 64-bit field, else "XXXX-XXXX".
inline std::string blkidSerialText(VolumeSerial serial, std::uint32_t width) {
    if (width == 8) return formatSerialHex(serial, 8);
    const std::string hex = formatSerialHex(serial, 4);
    return hex.substr(0, 4) + "-" + hex.substr(4);
}

}  // namespace tlx::test
