// qorin on Linux speaks of the system drive, remounting and fsck.
#include "catalog/wording.h"

namespace tlx {

Wording platformWording() {
    return Wording::Linux;
}

}  // namespace tlx
