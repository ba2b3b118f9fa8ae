// udev's database records: "E:KEY=VALUE" lines, one file per device named b<major>:<minor>.
#include "catalog/posix/udev_data.h"

#include <cstdlib>
#include <unistd.h>

#include "device/posix/mount_table.h"

namespace tlx::posix {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// udev writes unsafe bytes of an encoded value as \xHH.
std::string decoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hexDigit(text[i + 2]) >= 0 &&
            hexDigit(text[i + 3]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 2]) * 16 + hexDigit(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::optional<ProbeValues> parseUdevRecord(std::string_view record) {
    ProbeValues values;
    std::string plainLabel;
    bool encodedLabel = false;
    std::size_t at = 0;
    while (at < record.size()) {
        std::size_t end = record.find('\n', at);
        if (end == std::string_view::npos) end = record.size();
        const std::string_view line = record.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with("E:")) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = line.substr(2, equals - 2);
        const std::string_view value = line.substr(equals + 1);
        if (key == "ID_FS_TYPE") values.type = value;
        else if (key == "ID_FS_VERSION") values.version = value;
        else if (key == "ID_FS_UUID") values.uuid = value;
        else if (key == "ID_PART_ENTRY_TYPE") values.partEntryType = value;
        else if (key == "ID_FS_LABEL") plainLabel = value;
        else if (key == "ID_FS_LABEL_ENC") {
            values.label = decoded(value);
            encodedLabel = true;
        }
    }
    if (!encodedLabel) values.label = plainLabel;
    if (values.type.empty()) return std::nullopt;
    return values;
}

std::optional<ProbeValues> udevValues(unsigned major, unsigned minor) {
    std::string folder = "/run/udev/data";
    if (const char* test = std::getenv("PLINTHOS_UDEV_DATA"); test != nullptr && *test != '\0' && geteuid() != 0)
        folder = test;
    const std::optional<std::string> record =
        readSmallFile(folder + "/b" + std::to_string(major) + ":" + std::to_string(minor));
    if (!record) return std::nullopt;
    return parseUdevRecord(*record);
}

}  // namespace tlx::posix
