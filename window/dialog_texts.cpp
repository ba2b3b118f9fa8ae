#include "dialog_texts.h"

namespace tlx {
namespace {

bool isSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::wstring windowTitle(bool elevated) { return elevated ? L"Plinthos (Administrator)" : L"Plinthos"; }

std::wstring whatIsContent() {
    return L"A short ID Windows assigns to a volume when it's formatted, shown by the \"vol\" command or in the "
           L"drive's Properties. It identifies the formatted volume, not the physical drive.\n\n"
           L"Is this the hardware serial? No. The hardware serial is built into the device and isn't changed by "
           L"this tool.\n\n"
           L"Why change it? Common reasons are restoring the original after a reformat so your own backups or "
           L"scripts still recognize the drive, giving cloned or imaged drives unique serials, and standardizing "
           L"serials for IT inventory.\n\n"
           L"Is it safe? A backup of the boot sector is saved before every change so you can revert, every write "
           L"is checked and rolled back automatically if anything fails, and your files are never touched.\n\n"
           L"Does it work with BitLocker? Yes. On an unlocked BitLocker drive, including a Windows drive with "
           L"Device Encryption, the serial is written through BitLocker, so the drive stays encrypted. Locked "
           L"drives are declined. Unlock them first.";
}

std::wstring aboutContent(const std::wstring& programFolder, bool consolePresent) {
    std::wstring text =
        L"What it changes: only the file-system Volume Serial Number, the software ID Windows shows with \"vol\" "
        L"or in drive Properties.\n"
        L"What it does not change: the drive's physical/hardware serial, your files, or anything outside the "
        L"boot sector. It makes a backup of the boot sector before writing.\n"
        L"Who it's for: administrators and owners managing their own drives, after a reformat, after cloning or "
        L"imaging, or for inventory. Use it only on drives you own or are authorized to manage.\n\n";
    if (consolePresent)
        text += L"Includes qorin, the command-line tool (Tools > Command-Line Tool): <a href=\"" +
                withoutMarkup(programFolder) + L"\">open its folder</a>.\n\n";
    text += L"<a href=\"" + std::wstring(kWebSite) + L"\">" + kWebSite + L"</a>    <a href=\"mailto:" +
            kSupportAddress + L"\">" + kSupportAddress + L"</a>";
    return text;
}

std::vector<std::wstring> aboutLinks(const std::wstring& programFolder, bool consolePresent) {
    std::vector<std::wstring> links{kWebSite, L"mailto:" + std::wstring(kSupportAddress)};
    if (consolePresent) links.push_back(programFolder);
    return links;
}

std::wstring withoutMarkup(std::wstring_view text) {
    std::wstring plain(text);
    for (wchar_t& c : plain)
        if (c == L'<') c = L'\uFF1C';  // FULLWIDTH LESS-THAN SIGN: reads the same, starts no link
    return plain;
}

std::wstring aboutFooter() { return L"Copyright \u00A9 2026 Morvane. All rights reserved."; }

std::wstring commandLineToolContent(const std::wstring& programFolder, bool consolePresent) {
    if (!consolePresent)
        return L"qorin.exe should be in " + programFolder + L", but it isn't there. Reinstall the program to " +
               L"restore it" + L".";
    return L"It does everything this window does, from a command prompt or a script, with --json output for IT "
           L"tools. Scripts written for version 2 keep working.\n\n" +
           programFolder + L"\\qorin.exe";
}

std::wstring commandPromptParameters(const std::wstring& programFolder) {
    return L"/k cd /d \"" + programFolder + L"\" & qorin help";
}

std::wstring programFolderOf(const std::wstring& modulePath) {
    std::wstring folder = modulePath;
    while (!folder.empty() && !isSlash(folder.back())) folder.pop_back();  // the file name
    while (!folder.empty() && isSlash(folder.back())) folder.pop_back();
    return folder;
}

}  // namespace tlx
