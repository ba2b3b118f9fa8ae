#pragma once
// What udev's database says about a block device: what lsblk shows a user who can't open the device.
#include <optional>
#include <string>
#include <string_view>

#include "catalog/posix/probe_fields.h"

namespace tlx::posix {

// The file-system values of one database record (lines "E:ID_FS_TYPE=vfat" ...); absent when it names
// no file system. The label is ID_FS_LABEL_ENC decoded (\x20 for a blank), else ID_FS_LABEL.
[[nodiscard]] std::optional<ProbeValues> parseUdevRecord(std::string_view record);

// The record of block device major:minor in /run/udev/data. For tests, an unprivileged run reads the
// folder PLINTHOS_UDEV_DATA names instead; root always reads the system's.
[[nodiscard]] std::optional<ProbeValues> udevValues(unsigned major, unsigned minor);

}  // namespace tlx::posix
