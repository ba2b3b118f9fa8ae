// qorin on Windows: arguments split from the command line by the system, so every toolchain links
// the same plain main().
#include "platform/win/windows.h"

#include <algorithm>
#include <string>
#include <vector>

#include "command_line.h"
#include "dispatch.h"
#include "output.h"
#include "platform/win/arguments.h"
#include "platform/win/system_library.h"

namespace {

// No Windows path holds a double quote: one in an argument is a quoted path whose closing quote a
// trailing backslash swallowed ("C:\My Backups\" "), taking the arguments after it along.
const std::wstring* swallowedQuote(const tlx::CommandLine& line) {
    const auto quoted = [](const std::wstring& text) { return text.find(L'"') != std::wstring::npos; };
    if (quoted(line.backupDir)) return &line.backupDir;
    const auto found = std::find_if(line.arguments.begin(), line.arguments.end(), quoted);
    return found != line.arguments.end() ? &*found : nullptr;
}

}  // namespace

int main() {
    tlx::win::restrictDllSearchToSystem32();
    tlx::CommandLine line = tlx::parseCommandLine(tlx::win::processArguments());
    if (const std::wstring* bad = swallowedQuote(line)) {
        tlx::printErrorLine(L"A path can't hold a double quote: " + *bad +
                            L" (a backslash just before a closing quote must be doubled, as in \"C:\\My Backups\\\\\").");
        return 2;
    }
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
