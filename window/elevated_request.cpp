// The elevated instance's command line: built by the window, checked by the child.
#include "elevated_request.h"

#include <cwctype>

#include "bootsector/serial.h"
#include "platform/text.h"
#include "quote.h"

namespace tlx {

namespace {

const wchar_t* flag(bool value) { return value ? L" 1" : L" 0"; }

bool endsWithIgnoringCase(std::wstring_view text, std::wstring_view ending) {
    if (text.size() < ending.size()) return false;
    text.remove_prefix(text.size() - ending.size());
    for (std::size_t i = 0; i < ending.size(); ++i) {
        const wchar_t c = text[i];
        const wchar_t lower = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
        if (lower != ending[i]) return false;
    }
    return true;
}

std::optional<VolumeSerial> parseSerialArgument(std::wstring_view text) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    VolumeSerial value = 0;
    for (const wchar_t c : text) {
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9') digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'A' && c <= L'F') digit = static_cast<unsigned>(c - L'A' + 10);
        else if (c >= L'a' && c <= L'f') digit = static_cast<unsigned>(c - L'a' + 10);
        else return std::nullopt;
        value = value << 4 | digit;
    }
    return value;
}

}  // namespace

std::wstring resultFileName(std::uint32_t processId, std::uint64_t milliseconds) {
    return L"Dravik-" + std::to_wstring(processId) + L"-" + std::to_wstring(milliseconds) +
           std::wstring(kResultExtension);
}

std::wstring childParameters(const std::wstring& resultFile, const ElevatedRequest& request) {
    std::wstring text = std::wstring(kElevatedOption) + L" " + quoteArgument(resultFile);
    if (request.operation == ElevatedOperation::Change) {
        text += L" change " + quoteArgument(request.volume) + L" " + widen(formatSerialHex(request.serial, 8));
        text += flag(request.full64);
    } else {
        text += L" restore " + quoteArgument(request.volume) + L" " + quoteArgument(request.backupFile);
        text += L" " + widen(digestHex(request.backupDigest));
        text += flag(request.raw);
        text += flag(request.force);
        text += flag(request.skipVolumeCheck);
    }
    return text;
}

std::optional<ChildArguments> parseChildArguments(const std::vector<std::wstring>& argv) {
    const std::size_t n = argv.size();
    if (n < 5 || argv[1] != kElevatedOption) return std::nullopt;
    if (argv[2].size() < kResultExtension.size() || !endsWithIgnoringCase(argv[2], kResultExtension))
        return std::nullopt;
    ChildArguments out;
    out.resultFile = argv[2];
    ElevatedRequest& request = out.request;
    request.volume = argv[4];
    if (argv[3] == L"change" && n == 7) {
        const std::optional<VolumeSerial> serial = parseSerialArgument(argv[5]);
        if (!serial) return std::nullopt;
        request.operation = ElevatedOperation::Change;
        request.serial = *serial;
        request.full64 = argv[6] == L"1";
        return out;
    }
    if (argv[3] == L"restore" && n == 10) {
        const std::optional<Sha256Digest> digest = parseDigestHex(toUtf8(argv[6]));
        if (!digest) return std::nullopt;
        request.operation = ElevatedOperation::Restore;
        request.backupFile = argv[5];
        request.backupDigest = *digest;
        request.raw = argv[7] == L"1";
        request.force = argv[8] == L"1";
        request.skipVolumeCheck = argv[9] == L"1";
        return out;
    }
    return std::nullopt;
}

bool namesVolumeOrDriveRoot(std::wstring_view volume) {
    const auto letter = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); };
    if (volume.size() == 3 && letter(volume[0]) && volume[1] == L':' && volume[2] == L'\\') return true;
    constexpr std::wstring_view prefix = L"\\\\?\\Volume{";
    if (volume.size() != prefix.size() + 36 + 2 || volume.substr(0, prefix.size()) != prefix) return false;
    if (volume.substr(volume.size() - 2) != L"}\\") return false;
    const std::wstring_view guid = volume.substr(prefix.size(), 36);
    for (std::size_t i = 0; i < guid.size(); ++i) {
        const wchar_t c = guid[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (dash ? c != L'-' : !hex) return false;
    }
    return true;
}

bool childMayWriteImage(const ElevatedRequest& request, bool holdsRecognisedBootSector) {
    return holdsRecognisedBootSector && !request.force;
}

}  // namespace tlx
