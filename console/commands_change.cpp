// set and random: the change flow from confirmation to report.
#include "backup/backup_store.h"
#include "catalog/resolve.h"
#include "change_window.h"
#include "commands.h"
#include "device/volume_access.h"
#include "engine/change.h"
#include "output.h"
#include "platform/system.h"
#include "platform/text.h"
#include "usage.h"

namespace tlx {

namespace {

std::wstring resultSerialText(VolumeSerial value, std::uint32_t width) {
    // An empty plan has width 0 and counts as a 32-bit serial of 0.
    return width == 8 ? formatSerial64(value) : formatSerial32(static_cast<std::uint32_t>(value));
}

}  // namespace

std::wstring lineBreakInPathText() {
    return L"The path or mount point of this volume contains a line break, which a backup file can't record, so "
           L"nothing was written. Rename the image or mount it elsewhere and try again.";
}

bool pathsRecordable(const VolumeInfo& info) {
    return recordableInBackup(volumeNameOf(info)) &&
           (info.mountPoints.empty() || recordableInBackup(info.mountPoints.front()));
}

std::wstring administratorText() {
    return administratorText(platformWording());
}

std::wstring administratorText(Wording wording) {
    if (wording == Wording::Linux)
        return L"Changing a serial requires root rights. Please run qorin as root (for example with sudo); an image "
               L"file only needs to be writable by you.";
    return L"Changing a serial requires administrator rights. Please run qorin from an elevated command prompt (Run as administrator).";
}

std::optional<VolumeInfo> findDrive(const std::wstring& argument) {
    std::optional<VolumeInfo> info = findVolume(argument);
    if (!info) {
        printErrorLine(notFoundText(argument));
        return std::nullopt;
    }
    if (const std::wstring text = partitionsText(*info); !text.empty()) {
        printErrorLine(text);
        return std::nullopt;
    }
    return info;
}

int refusalBeforeWriting(const VolumeInfo& info) {
    if (!mayWriteVolume(info.volume)) {
        printErrorLine(administratorText());
        return 3;
    }
    if (const std::wstring text = readOnlyRefusal(displayDrive(info), platformWording()); info.readOnly && !text.empty()) {
        printErrorLine(text);
        return 1;
    }
    if (!pathsRecordable(info)) {
        printErrorLine(lineBreakInPathText());
        return 1;
    }
    return 0;
}

FileBackupSink backupSinkFor(const CommandLine& line, const VolumeInfo& info) {
    std::wstring mount = info.mountPoints.empty() ? std::wstring() : info.mountPoints.front();
    FileBackupSink sink(line.backupDir, volumeNameOf(info), std::move(mount), kAppVersion);
    if (line.backupDirNamed) sink.useNamedFolder();
    return sink;
}

std::wstring savedToFolder(const CommandLine& line, const FileBackupSink& sink) {
    return sink.refusedFolder().empty() ? line.backupDir : sink.refusedFolder();
}

void addInUseLine(OutcomeReport& report, const ChangeResult& result, const VolumeInfo& info,
                  const std::wstring& drive) {
    if (result.error != ApplyFailure::VolumeInUse && result.error != ApplyFailure::DismountFailed) return;
    std::wstring line = runningFromVolumeLine(info, drive);
    if (!line.empty()) report.lines.push_back(std::move(line));
}

int printOutcome(const CommandLine& line, const std::wstring& drive, const ChangeResult& result,
                 const OutcomeReport& report, const std::wstring& backupPath) {
    if (line.json) {
        printLine(changeResultJson(drive, result, report, backupPath));
    } else {
        const Stream stream = report.exitCode == 0 ? Stream::Output : Stream::Error;
        writeLine(stream, report.message);
        for (const std::wstring& text : report.lines) writeLine(stream, text);
    }
    return report.exitCode;
}

std::wstring notASerialText(const std::wstring& argument, bool full64) {
    return L"\"" + argument + L"\" isn't a serial number. Format: XXXX-XXXX (hexadecimal)" +
           (full64 ? L", or 16 hex digits with --full64." : L".");
}

std::wstring recoverHint(const std::wstring& drive, const std::wstring& backupPath) {
    return L"To recover, run:  qorin restore " + drive + L" \"" + backupPath + L"\" --raw";
}

std::vector<std::wstring> changeQuestion(const VolumeInfo& info, VolumeSerial newSerial, bool full64, bool bitLocker) {
    const std::wstring drive = displayDrive(info);
    const std::wstring newText =
        full64 ? formatSerial64(newSerial) : formatSerial32(static_cast<std::uint32_t>(newSerial));
    // The old serial is the one Windows reports, so always its 32-bit form.
    const std::wstring oldText = info.hasSerial ? formatSerial32(info.serial) : std::wstring(L"-");
    std::vector<std::wstring> lines = {confirmationText(drive, info.fileSystem, oldText, newText)};
    if (info.windowsDrive) lines.push_back(windowsDriveWarning(drive));
    if (info.partitionRole == PartitionRole::EfiSystem) lines.push_back(efiPartitionWarning(drive));
    if (bitLocker) lines.push_back(bitLockerWarning(drive));
    return lines;
}

std::wstring changeResultJson(const std::wstring& drive, const ChangeResult& result, const OutcomeReport& report,
                              const std::wstring& backupPath) {
    const ChangePlan& plan = result.plan;
    std::wstring out = L"{\"drive\":" + jsonString(drive);
    out += L",\"exit\":" + std::to_wstring(report.exitCode);
    out += L",\"error\":" + jsonString(widen(applyFailureName(result.error)));
    out += L",\"outcome\":" + jsonString(widen(applyOutcomeName(result.applyOutcome)));
    out += L",\"mode\":" + jsonString(widen(writeModeName(result.mode)));
    out += L",\"restartRequired\":" + std::wstring(result.restartRequired ? L"true" : L"false");
    out += L",\"oldSerial\":" + jsonString(resultSerialText(plan.oldSerial, plan.serialWidth));
    out += L",\"newSerial\":" + jsonString(resultSerialText(plan.newSerial, plan.serialWidth));
    out += L",\"backup\":" + (backupPath.empty() ? std::wstring(L"null") : jsonString(backupPath));
    out += L",\"message\":" + jsonString(report.message);
    out += L",\"notes\":[";
    for (std::size_t i = 0; i < report.lines.size(); ++i) {
        if (i != 0) out += L',';
        out += jsonString(report.lines[i]);
    }
    return out + L"]}";
}

int changeFlow(const CommandLine& line, const VolumeInfo& info, VolumeSerial newSerial) {
    const std::wstring drive = displayDrive(info);
    if (const int refused = refusalBeforeWriting(info); refused != 0) return refused;
    if (!line.yes) {
        const bool bitLocker = systemVolumes().probe(info.volume) == DiskEncryption::BitLocker;
        for (const std::wstring& question : changeQuestion(info, newSerial, line.full64, bitLocker)) printLine(question);
        if (!confirm(L"Change the serial?")) return 1;
    }
    FileBackupSink sink = backupSinkFor(line, info);
    ConsoleChangeWindow window;
    const ChangeResult result = changeSerial(info.volume, newSerial, !line.full64, sink, window);
    const std::wstring& backupPath = sink.lastPath();
    OutcomeReport report =
        buildReport(result, drive, backupPath, savedToFolder(line, sink), sink.lastError(), recoverHint(drive, backupPath));
    addInUseLine(report, result, info, drive);
    return printOutcome(line, drive, result, report, backupPath);
}

int setCommand(const CommandLine& line) {
    if (line.arguments.size() != 2) return argumentsError(line.command);
    const std::wstring& serialArgument = line.arguments[1];
    const std::optional<VolumeSerial> serial = parseHexSerial(serialArgument, line.full64 ? 16 : 8);
    if (!serial) {
        printErrorLine(notASerialText(serialArgument, line.full64));
        return 2;
    }
    const std::optional<VolumeInfo> info = findDrive(line.arguments[0]);
    if (!info) return 2;
    return changeFlow(line, *info, *serial);
}

int randomCommand(const CommandLine& line) {
    if (line.arguments.size() != 1) return argumentsError(line.command);
    const std::optional<VolumeInfo> info = findDrive(line.arguments[0]);
    if (!info) return 2;
    const std::optional<std::uint64_t> bits = randomBits64();
    if (!bits) return 1;
    return changeFlow(line, *info, line.full64 ? *bits : (*bits & 0xFFFFFFFFull));
}

}  // namespace tlx
