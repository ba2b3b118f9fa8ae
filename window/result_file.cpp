// The result file the elevated instance writes for its parent.
#include "result_file.h"

#include <map>
#include <optional>
#include <vector>

#include "platform/text.h"

namespace tlx {

namespace {

constexpr std::uint32_t kErrorInvalidData = 13;

template <class Enum>
std::uint64_t number(Enum value) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

void line(std::string& out, std::string_view key, std::uint64_t value) {
    out.append(key).append("=").append(std::to_string(value)).append("\n");
}

// Unsigned decimal digits only; empty reads as 0. Absent on anything else or past 64 bits.
std::optional<std::uint64_t> parseDecimal(std::string_view text) {
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

class Fields {
public:
    explicit Fields(const std::map<std::string, std::string, std::less<>>& values) : values_(values) {}

    std::uint64_t get(std::string_view key) {
        const auto found = values_.find(key);
        if (found == values_.end()) return 0;
        const std::optional<std::uint64_t> value = parseDecimal(found->second);
        if (!value) valid_ = false;
        return value.value_or(0);
    }
    std::uint32_t get32(std::string_view key) { return static_cast<std::uint32_t>(get(key)); }
    bool flag(std::string_view key) { return get(key) != 0; }
    template <class Enum>
    Enum enumeration(std::string_view key) {
        return static_cast<Enum>(static_cast<std::int32_t>(get32(key)));
    }
    bool valid() const { return valid_; }

private:
    const std::map<std::string, std::string, std::less<>>& values_;
    bool valid_ = true;
};

}  // namespace

std::string writeResultFile(const ElevatedResult& result) {
    const ChangeResult& change = result.change;
    const ChangePlan& plan = change.plan;
    std::string out;
    line(out, "ran", result.ran);
    line(out, "differentVolume", result.differentVolume);
    line(out, "parseError", number(result.parseError));
    line(out, "error", number(change.error));
    line(out, "systemError", change.systemError);
    line(out, "planError", number(change.planError));
    line(out, "detect", number(change.detect));
    line(out, "mode", number(change.mode));
    line(out, "match", number(change.match));
    line(out, "encryption", number(change.encryption));
    line(out, "restartRequired", change.restartRequired);
    line(out, "applyOutcome", number(change.applyOutcome));
    line(out, "applyFailure", number(change.applyFailure));
    line(out, "applyRegion", change.applyRegion);
    line(out, "applySystemError", change.applySystemError);
    line(out, "fs", number(plan.fsType));
    line(out, "serialBytes", plan.serialWidth);
    line(out, "oldSerial", plan.oldSerial);
    line(out, "newSerial", plan.newSerial);
    for (const PlanNote note : plan.notes) line(out, "note", number(note));
    out.append("backupPath=").append(toUtf8(result.backupPath)).append("\n");
    out.append("backupDigest=").append(result.backupDigest ? digestHex(*result.backupDigest) : "").append("\n");
    line(out, "backupError", result.backupError);
    return out;
}

bool readChildResult(std::uint32_t exitCode, std::string_view bytes, ElevatedResult& result) {
    // The last key is written last: without it the child stopped half way, or someone else wrote the file.
    const bool complete = bytes.starts_with("backupError=") || bytes.find("\nbackupError=") != std::string_view::npos;
    if (exitCode == 0 && complete && readResultFile(bytes, result)) return true;
    result = ElevatedResult{};
    result.launchError = exitCode != 0 ? exitCode : kErrorInvalidData;
    return false;
}

bool readResultFile(std::string_view bytes, ElevatedResult& result) {
    if (bytes.size() > kMaxResultFileBytes) return false;
    std::map<std::string, std::string, std::less<>> values;
    std::vector<PlanNote> notes;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view text = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = text.substr(0, equals);
        const std::string_view value = text.substr(equals + 1);
        if (key == "note") {
            const std::optional<std::uint64_t> note = parseDecimal(value);
            if (!note) return false;
            notes.push_back(static_cast<PlanNote>(static_cast<std::int32_t>(static_cast<std::uint32_t>(*note))));
        } else {
            values.insert_or_assign(std::string(key), std::string(value));
        }
    }
    if (!values.contains("ran")) return false;

    Fields fields(values);
    ElevatedResult read;
    ChangeResult& change = read.change;
    ChangePlan& plan = change.plan;
    read.ran = fields.flag("ran");
    read.differentVolume = fields.flag("differentVolume");
    read.parseError = fields.enumeration<BackupParseError>("parseError");
    change.error = fields.enumeration<ApplyFailure>("error");
    change.systemError = fields.get32("systemError");
    change.planError = fields.enumeration<PlanError>("planError");
    change.detect = fields.enumeration<DetectStatus>("detect");
    change.mode = fields.enumeration<WriteMode>("mode");
    change.match = static_cast<std::int32_t>(fields.get32("match"));
    change.encryption = static_cast<std::int32_t>(fields.get32("encryption"));
    change.restartRequired = fields.flag("restartRequired");
    change.applyOutcome = fields.enumeration<ApplyOutcome>("applyOutcome");
    change.applyFailure = fields.enumeration<ApplyStep>("applyFailure");
    change.applyRegion = fields.get("applyRegion");
    change.applySystemError = fields.get32("applySystemError");
    plan.fsType = fields.enumeration<FsType>("fs");
    plan.serialWidth = fields.get32("serialBytes");
    plan.oldSerial = fields.get("oldSerial");
    plan.newSerial = fields.get("newSerial");
    plan.notes = std::move(notes);
    read.backupError = fields.get32("backupError");
    if (!fields.valid()) return false;
    if (const auto path = values.find("backupPath"); path != values.end()) read.backupPath = fromUtf8(path->second);
    if (const auto digest = values.find("backupDigest"); digest != values.end() && !digest->second.empty()) {
        read.backupDigest = parseDigestHex(digest->second);
        if (!read.backupDigest) return false;
    }
    result = std::move(read);
    return true;
}

}  // namespace tlx
