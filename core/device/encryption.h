#pragma once
// Whether a volume is BitLocker-encrypted on disk, judged from its partition's stored first sector.
#include <cstdint>
#include <string>

namespace tlx {

enum class DiskEncryption : std::int32_t { None = 0, BitLocker = 1, Undetermined = 2 };

// "none", "BitLocker", "unknown".
[[nodiscard]] const wchar_t* diskEncryptionText(DiskEncryption value);

struct EncryptionProbe {
    DiskEncryption answer = DiskEncryption::Undetermined;
    std::uint32_t error = 0;
};

// Platform implementation; never fails outright (obstacles give Undetermined).
[[nodiscard]] EncryptionProbe probeDiskEncryption(const std::wstring& driveSpec);

}  // namespace tlx
