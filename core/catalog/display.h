#pragma once
// Short texts for a volume: size, drive type, status words.
#include <cstdint>
#include <string>

#include "catalog/volume_info.h"
#include "catalog/wording.h"

namespace tlx {

[[nodiscard]] std::wstring formatSize(std::uint64_t bytes);
[[nodiscard]] std::wstring driveTypeName(DriveType type);
// The status words joined by ", ", and last the same-serial mark ("same serial as E:").
[[nodiscard]] std::wstring statusText(const VolumeInfo& info);  // in the platform's words
[[nodiscard]] std::wstring statusText(const VolumeInfo& info, Wording wording);

}  // namespace tlx
