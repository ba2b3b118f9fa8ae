#include "settings_registry.h"

#include <optional>

#include "settings.h"

namespace tlx::win {
namespace {

constexpr const wchar_t* kKey = L"Software\\Morvane\\Plinthos";

// The value's type and bytes; the decoding rules decide what a wrong type or size means.
std::optional<StoredValue> readValue(const wchar_t* name) {
    DWORD type = 0, size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    StoredValue value{type, std::vector<std::uint8_t>(size)};
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, value.bytes.data(), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    value.type = type;
    value.bytes.resize(size);
    return value;
}

void writeDword(const wchar_t* name, std::uint32_t number) {
    const DWORD value = number;
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_DWORD, &value, sizeof value);
}

}  // namespace

void loadListSettings(WindowState& state) {
    state.sortColumn = decodeSortColumn(readValue(L"SortColumn"));
    state.sortDescending = decodeFlag(readValue(L"SortDescending"));
    state.showHidden = decodeFlag(readValue(L"ShowHidden"));
}

void restorePlacement(WindowState& state) {
    const std::optional<SavedWindow> saved = decodeWindow(readValue(L"Window"));
    if (!saved || !meetsMinimumSize(*saved, state.minTrackSize.cx, state.minTrackSize.cy)) return;
    const RECT rect{saved->left, saved->top, saved->right, saved->bottom};
    if (!MonitorFromRect(&rect, MONITOR_DEFAULTTONULL)) return;  // its monitor is gone
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    placement.showCmd = SW_HIDE;
    placement.rcNormalPosition = rect;
    SetWindowPlacement(state.mainWindow, &placement);
    state.startMaximized = saved->maximized;
}

void saveSettings(const WindowState& state) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (GetWindowPlacement(state.mainWindow, &placement)) {
        const RECT& r = placement.rcNormalPosition;
        const auto bytes = encodeWindow({r.left, r.top, r.right, r.bottom, placement.showCmd == SW_SHOWMAXIMIZED});
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Window", REG_BINARY, bytes.data(), bytes.size());
    }
    writeDword(L"SortColumn", static_cast<std::uint32_t>(state.sortColumn));
    writeDword(L"SortDescending", state.sortDescending ? 1 : 0);
    writeDword(L"ShowHidden", state.showHidden ? 1 : 0);
}

}  // namespace tlx::win
