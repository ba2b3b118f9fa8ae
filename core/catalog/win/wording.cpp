// The Windows programs speak of the Windows drive, restarting and chkdsk.
#include "catalog/wording.h"

namespace tlx {

Wording platformWording() {
    return Wording::Windows;
}

}  // namespace tlx
