#pragma once
// Every device a fstab-style tag (UUID=, LABEL=, PARTUUID=) names, not just the one libblkid would pick.
#include <string>
#include <vector>

namespace tlx::posix {

// Canonical device or image paths, sorted; empty when none has the tag.
[[nodiscard]] std::vector<std::string> devicesWithTag(const std::string& tag);

}  // namespace tlx::posix
