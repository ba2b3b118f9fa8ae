#pragma once
// Texts of the small dialogs: the explanation, About, the command-line tool, and the program folder.
#include <string>
#include <string_view>
#include <vector>

namespace tlx {

inline constexpr const wchar_t* kWindowVersion = L"3.0.1";
inline constexpr const wchar_t* kWebSite = L"https://plinthos.morvane.example/";
inline constexpr const wchar_t* kSupportAddress = L"support@plinthos.morvane.example";

// "Plinthos", and " (Administrator)" when elevated.
[[nodiscard]] std::wstring windowTitle(bool elevated);
[[nodiscard]] std::wstring whatIsContent();
// The About box's content; the qorin sentence only when qorin.exe lies in `programFolder`.
[[nodiscard]] std::wstring aboutContent(const std::wstring& programFolder, bool consolePresent);
[[nodiscard]] std::wstring aboutFooter();
// The only targets the About box's links may open: the web site, the support address, the program folder.
[[nodiscard]] std::vector<std::wstring> aboutLinks(const std::wstring& programFolder, bool consolePresent);
// Text from outside the program (backup fields, paths, labels, system texts) for a dialog that shows
// links: every "<" made a look-alike that starts no markup.
[[nodiscard]] std::wstring withoutMarkup(std::wstring_view text);
[[nodiscard]] std::wstring commandLineToolContent(const std::wstring& programFolder, bool consolePresent);
// Parameters of the command prompt opened in the program folder running "qorin help".
[[nodiscard]] std::wstring commandPromptParameters(const std::wstring& programFolder);
// The folder of an executable path: its file name and any trailing slashes removed.
[[nodiscard]] std::wstring programFolderOf(const std::wstring& modulePath);

}  // namespace tlx
