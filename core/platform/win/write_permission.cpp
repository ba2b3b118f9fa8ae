#include "platform/system.h"

namespace tlx {

bool mayWriteVolume(const std::wstring&) {
    return isElevated();
}

}  // namespace tlx
