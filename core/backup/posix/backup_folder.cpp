// The backups folder on POSIX systems: per machine for root, per user otherwise.
#include "backup/backup_folder.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

#include "platform/text.h"

namespace tlx {

namespace {

std::optional<std::wstring> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return fromSystemBytes(value);
}

}  // namespace

std::wstring defaultBackupDirectory() {
    const bool root = ::geteuid() == 0;
    std::optional<std::wstring> home = environment("HOME");
    if (!root && (!home || home->empty())) {
        if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir)
            home = fromSystemBytes(entry->pw_dir);
    }
    return posixBackupDirectoryFrom(root, environment("XDG_STATE_HOME"), home);
}

}  // namespace tlx
