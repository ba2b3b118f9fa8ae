#include <sys/stat.h>
#include <unistd.h>

#include "platform/system.h"
#include "platform/text.h"

namespace tlx {

bool mayWriteVolume(const std::wstring& volume) {
    if (isElevated()) return true;
    const std::string path = toUtf8(volume);
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), W_OK) == 0;
}

}  // namespace tlx
