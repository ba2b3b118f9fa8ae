#include "panel.h"

#include <commctrl.h>

#include "backups_panel.h"
#include "bootsector/serial.h"
#include "panel_text.h"
#include "platform/system.h"
#include "resources/resource.h"

namespace tlx::win {
namespace {

HWND control(const WindowState& state, int id) { return GetDlgItem(state.mainWindow, id); }

bool full64Ticked(const WindowState& state) {
    return IsDlgButtonChecked(state.mainWindow, IDC_FULL64) == BST_CHECKED;
}

std::wstring entryText(const WindowState& state) {
    HWND entry = control(state, IDC_NEW_SERIAL);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(entry)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(entry, text.data(), static_cast<int>(text.size()))));
    return text;
}

void switchWidth(WindowState& state, bool to64) {
    const VolumeInfo* volume = selectedVolumeInfo(state);
    const std::optional<std::uint64_t> fullSerial = volume ? volume->fullSerial : std::nullopt;
    if (const std::optional<std::wstring> text = switchedEntry(entryText(state), to64, fullSerial))
        SetDlgItemTextW(state.mainWindow, IDC_NEW_SERIAL, text->c_str());
}

}  // namespace

void updatePanel(WindowState& state) {
    const VolumeInfo* volume = selectedVolumeInfo(state);
    const bool canChange = canChangeSerial(volume);
    const bool ntfs = isNtfs(volume);
    SetDlgItemTextW(state.mainWindow, IDC_DESCRIPTION, panelDescription(volume, state.pendingRestarts).c_str());
    if (!volume) SetDlgItemTextW(state.mainWindow, IDC_CURRENT_SERIAL, L"");

    ShowWindow(control(state, IDC_FULL64), ntfs ? SW_SHOW : SW_HIDE);
    if (!ntfs && full64Ticked(state)) {
        CheckDlgButton(state.mainWindow, IDC_FULL64, BST_UNCHECKED);
        switchWidth(state, false);
    }
    updateHints(state);

    EnableWindow(control(state, IDC_NEW_SERIAL), canChange);
    EnableWindow(control(state, IDC_RANDOM), canChange);
    EnableWindow(control(state, IDC_CHANGE), canChange);
    EnableWindow(control(state, IDC_FULL64), canChange && ntfs);
    EnableWindow(control(state, IDC_OPEN_FOLDER), volume != nullptr);
    fillBackupList(state);
}

void updateHints(WindowState& state) {
    const bool full64 = full64Ticked(state);
    const EntryRules rules = entryRules(full64);
    HWND hint = control(state, IDC_FORMAT_HINT);
    SetWindowTextW(hint, rules.hint.c_str());
    SetWindowLongPtrW(hint, GWL_STYLE, GetWindowLongPtrW(hint, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_TABSTOP));

    HWND entry = control(state, IDC_NEW_SERIAL);
    SendMessageW(entry, EM_LIMITTEXT, rules.maxLength, 0);
    SendMessageW(entry, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(rules.cueBanner.c_str()));

    if (const VolumeInfo* volume = selectedVolumeInfo(state))
        SetDlgItemTextW(state.mainWindow, IDC_CURRENT_SERIAL,
                        currentSerialLine(*volume, full64, state.pendingRestarts).c_str());
}

void onFull64Clicked(WindowState& state) {
    const VolumeInfo* volume = selectedVolumeInfo(state);
    if (!isNtfs(volume)) {
        CheckDlgButton(state.mainWindow, IDC_FULL64, BST_UNCHECKED);
        return;
    }
    switchWidth(state, full64Ticked(state));
    updateHints(state);
}

void randomSerial(WindowState& state) {
    // A failing generator leaves zero, which is still a valid serial.
    const std::uint64_t value = randomBits64().value_or(0);
    SetDlgItemTextW(state.mainWindow, IDC_NEW_SERIAL, randomEntryText(value, full64Ticked(state)).c_str());
}

std::optional<NewSerial> readNewSerial(WindowState& state) {
    const bool full64 = full64Ticked(state);
    const EntryRules rules = entryRules(full64);
    if (const std::optional<VolumeSerial> value = parseHexSerial(entryText(state), rules.maxDigits))
        return NewSerial{*value, full64};
    HWND entry = control(state, IDC_NEW_SERIAL);
    EDITBALLOONTIP tip{};
    tip.cbStruct = sizeof tip;
    tip.pszTitle = L"Not a serial number";
    tip.pszText = rules.balloonText.c_str();
    tip.ttiIcon = TTI_WARNING;
    SendMessageW(entry, EM_SHOWBALLOONTIP, 0, reinterpret_cast<LPARAM>(&tip));
    SetFocus(entry);
    return std::nullopt;
}

}  // namespace tlx::win
