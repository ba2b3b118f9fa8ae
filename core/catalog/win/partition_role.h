#pragma once
// What a volume's partition is for, from its partition type.
#include <string>

#include "catalog/volume_info.h"

namespace tlx::win {

// volume: "\\?\Volume{GUID}\" (the trailing backslash is optional). None when the partition cannot be queried.
[[nodiscard]] PartitionRole partitionRoleOf(const std::wstring& volume);

}  // namespace tlx::win
