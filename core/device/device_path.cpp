// Windows drive text to a device path; pure, so it is tested everywhere.
#include "device/device_path.h"

namespace tlx {

namespace {

bool isLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

std::wstring drivePath(wchar_t letter) {
    const wchar_t upper = (letter >= L'a' && letter <= L'z') ? static_cast<wchar_t>(letter - L'a' + L'A') : letter;
    return std::wstring(L"\\\\.\\") + upper + L':';
}

std::wstring_view trimBlanks(std::wstring_view text) {
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos) return {};
    const auto last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

void dropTrailingBackslash(std::wstring& text) {
    if (!text.empty() && text.back() == L'\\') text.pop_back();
}

}  // namespace

std::optional<std::wstring> windowsDevicePathFor(std::wstring_view driveSpec, const MountPointQuery& query) {
    const std::wstring_view text = trimBlanks(driveSpec);
    if (text.empty()) return std::nullopt;

    if (text.size() >= 11 && (text.starts_with(L"\\\\?\\Volume{") || text.starts_with(L"\\\\.\\Volume{"))) {
        std::wstring path(text);
        dropTrailingBackslash(path);
        path[2] = L'?';
        return path;
    }

    if (text.size() >= 4 && text.starts_with(L"\\\\.\\")) {
        std::wstring rest(text.substr(4));
        dropTrailingBackslash(rest);
        if (rest.size() == 2 && isLetter(rest[0]) && rest[1] == L':') return drivePath(rest[0]);
        return std::nullopt;
    }

    if (isLetter(text[0]) &&
        (text.size() == 1 || (text.size() == 2 && text[1] == L':') ||
         (text.size() == 3 && text[1] == L':' && text[2] == L'\\')))
        return drivePath(text[0]);

    std::wstring folder(text);
    if (folder.back() != L'\\') folder += L'\\';
    if (!query) return std::nullopt;
    std::optional<std::wstring> name = query(folder);
    if (!name) return std::nullopt;
    dropTrailingBackslash(*name);
    // An empty answer names nothing that could be opened.
    if (name->empty()) return std::nullopt;
    return name;
}

}  // namespace tlx
