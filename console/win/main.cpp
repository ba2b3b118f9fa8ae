// qorin on Windows: wide arguments straight from the system.
#include "platform/win/windows.h"

#include <string>
#include <vector>

#include "command_line.h"
#include "dispatch.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    tlx::CommandLine line = tlx::parseCommandLine(arguments);
    // Changes run from the system folder (so qorin's own current folder never holds the volume),
    // so a backups folder given relative to the current folder is made absolute first.
    if (!line.backupDir.empty()) {
        const DWORD size = GetFullPathNameW(line.backupDir.c_str(), 0, nullptr, nullptr);
        std::wstring full(size, L'\0');
        const DWORD length = size == 0 ? 0 : GetFullPathNameW(line.backupDir.c_str(), size, full.data(), nullptr);
        if (length != 0 && length < size) {
            full.resize(length);
            line.backupDir = std::move(full);
        }
    }
    return tlx::dispatch(line);
}
