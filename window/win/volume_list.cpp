#include "volume_list.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "bootsector/serial.h"
#include "list_view.h"
#include "panel.h"
#include "resources/resource.h"

namespace tlx::win {
namespace {

void fillVolumeList(WindowState& state) {
    HWND list = state.volumeList;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list);
    bool anyHidden = false;
    for (std::size_t i = 0; i < state.volumes.size(); ++i) {
        const VolumeInfo& info = state.volumes[i];
        const int row = static_cast<int>(i);
        insertRow(list, row, cellText(info, 0, state.pendingRestarts));
        for (int column = 1; column < kVolumeColumnCount; ++column)
            setCell(list, row, column, cellText(info, column, state.pendingRestarts));
        anyHidden = anyHidden || info.mountPoints.empty();
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);

    // Wide enough for the short GUID form of a hidden volume.
    const int guidWidth = MulDiv(124, state.dpi, 96);
    if (anyHidden && ListView_GetColumnWidth(list, 0) < guidWidth) {
        ListView_SetColumnWidth(list, 0, guidWidth);
        fitLastColumn(list);
    }

    // By volume path, not row: the same volume stays selected when rows move, appear or go.
    const int chosen = rowToSelect(state.volumes, state.selectedVolume);
    state.selectedVolume = chosen >= 0 ? state.volumes[chosen].volume : std::wstring();
    if (chosen >= 0) {
        ListView_SetItemState(list, chosen, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list, chosen, FALSE);
    }
    updatePanel(state);
}

}  // namespace

void refreshVolumes(WindowState& state) {
    state.volumes = shownVolumes(enumerateVolumes(), state.showHidden);
    sortVolumes(state.volumes, state.sortColumn, state.sortDescending, state.pendingRestarts);
    fillVolumeList(state);
}

void updateSortArrows(const WindowState& state) {
    HWND header = ListView_GetHeader(state.volumeList);
    const int count = Header_GetItemCount(header);
    for (int i = 0; i < count; ++i) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        if (!Header_GetItem(header, i, &item)) continue;
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == state.sortColumn) item.fmt |= state.sortDescending ? HDF_SORTDOWN : HDF_SORTUP;
        Header_SetItem(header, i, &item);
    }
}

void onColumnClick(WindowState& state, int column) {
    if (column == state.sortColumn) {
        state.sortDescending = !state.sortDescending;
    } else {
        state.sortColumn = column;
        state.sortDescending = false;
    }
    sortVolumes(state.volumes, state.sortColumn, state.sortDescending, state.pendingRestarts);
    updateSortArrows(state);
    fillVolumeList(state);
}

void onVolumeItemChanged(WindowState& state, const NMLISTVIEW& change) {
    if (!(change.uChanged & LVIF_STATE) || !(change.uNewState & LVIS_SELECTED)) return;
    if (change.iItem < 0 || static_cast<std::size_t>(change.iItem) >= state.volumes.size()) return;
    state.selectedVolume = state.volumes[change.iItem].volume;
    updatePanel(state);
}

void onVolumeKeyDown(WindowState& state, const NMLVKEYDOWN& key) {
    if (key.wVKey == 'C' && GetKeyState(VK_CONTROL) < 0) copySerial(state, false);
}

void showVolumeContextMenu(WindowState& state, int screenX, int screenY) {
    POINT at{screenX, screenY};
    if (screenX == -1 && screenY == -1) {  // the menu key or Shift+F10
        RECT anchor{};
        const int selected = ListView_GetNextItem(state.volumeList, -1, LVNI_SELECTED);
        anchor.left = LVIR_LABEL;
        if (selected < 0 || !SendMessageW(state.volumeList, LVM_GETITEMRECT, selected, reinterpret_cast<LPARAM>(&anchor)))
            GetClientRect(state.volumeList, &anchor);
        at = {anchor.left + 8, anchor.bottom};
        ClientToScreen(state.volumeList, &at);
    }
    const VolumeInfo* volume = selectedVolumeInfo(state);
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    AppendMenuW(menu, MF_STRING | (volume && volume->mediaPresent ? 0 : MF_GRAYED), IDM_COPY_SERIAL,
                L"&Copy Serial\tCtrl+C");
    if (volume && volume->fullSerial) AppendMenuW(menu, MF_STRING, IDM_COPY_SERIAL64, L"Copy All &64 Bits");
    AppendMenuW(menu, MF_STRING | (volume && !volume->mountPoints.empty() ? 0 : MF_GRAYED), IDM_OPEN_IN_EXPLORER,
                L"&Open in Explorer");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | (state.showHidden ? MF_CHECKED : 0), IDM_SHOW_HIDDEN, L"Show &Hidden Volumes");
    AppendMenuW(menu, MF_STRING, IDM_REFRESH, L"&Refresh\tF5");
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, state.mainWindow, nullptr);
    DestroyMenu(menu);
}

void copySerial(const WindowState& state, bool all64) {
    const VolumeInfo* volume = selectedVolumeInfo(state);
    if (!volume || !volume->mediaPresent) return;
    const std::wstring text =
        all64 && volume->fullSerial ? formatSerial64(*volume->fullSerial) : formatSerial32(volume->serial);
    if (!OpenClipboard(state.mainWindow)) return;
    EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* target = GlobalLock(memory)) {
            std::memcpy(target, text.c_str(), bytes);
            GlobalUnlock(memory);
            if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
        } else {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
}

void openInExplorer(const WindowState& state) {
    const VolumeInfo* volume = selectedVolumeInfo(state);
    if (!volume || volume->mountPoints.empty()) return;
    ShellExecuteW(state.mainWindow, L"open", volume->mountPoints.front().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace tlx::win
