// Console words for the on-disk encryption answer.
#include "device/encryption.h"

namespace tlx {

const wchar_t* diskEncryptionText(DiskEncryption value) {
    switch (value) {
    case DiskEncryption::None: return L"none";
    case DiskEncryption::BitLocker: return L"BitLocker";
    case DiskEncryption::Undetermined: break;
    }
    return L"unknown";
}

}  // namespace tlx
