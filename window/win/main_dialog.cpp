#include "main_dialog.h"

#include <commctrl.h>
#include <uxtheme.h>
#include <windowsx.h>

#include "backups_panel.h"
#include "dialog_texts.h"
#include "dialogs.h"
#include "flows.h"
#include "list_view.h"
#include "panel.h"
#include "platform/system.h"
#include "platform/win/system_library.h"
#include "resources/resource.h"
#include "settings_registry.h"
#include "volume_list.h"

namespace tlx::win {
namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshDelayMs = 700;  // one refresh after a burst of device messages
constexpr UINT kRelayoutMessage = WM_APP + 1;

// Absent before Windows 10 1607, so looked up once instead of imported.
int windowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) return static_cast<int>(getDpiForWindow(window));
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

void captureLayout(WindowState& state) {
    RECT client{};
    GetClientRect(state.mainWindow, &client);
    state.layout.clientWidth = client.right;
    state.layout.clientHeight = client.bottom;
    for (std::size_t i = 0; i < kAnchorTable.size(); ++i) {
        RECT r{};
        GetWindowRect(GetDlgItem(state.mainWindow, kAnchorTable[i].id), &r);
        MapWindowPoints(nullptr, state.mainWindow, reinterpret_cast<POINT*>(&r), 2);
        state.layout.controls[i] = {r.left, r.top, r.right, r.bottom};
    }
    state.layout.valid = true;
}

// From the captured rectangles each time, so repeated resizing never accumulates rounding.
void applyLayout(WindowState& state) {
    if (!state.layout.valid) return;
    RECT client{};
    GetClientRect(state.mainWindow, &client);
    const int dx = client.right - state.layout.clientWidth;
    const int dy = client.bottom - state.layout.clientHeight;
    HDWP batch = BeginDeferWindowPos(static_cast<int>(kAnchorTable.size()));
    for (std::size_t i = 0; i < kAnchorTable.size() && batch; ++i) {
        const ControlRect r = anchoredRect(state.layout.controls[i], dx, dy, kAnchorTable[i].anchor);
        batch = DeferWindowPos(batch, GetDlgItem(state.mainWindow, kAnchorTable[i].id), nullptr, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (batch) EndDeferWindowPos(batch);
    fitLastColumn(state.volumeList);
    fitLastColumn(state.backupList);
    RedrawWindow(state.mainWindow, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// Version 6 of the common controls has it, but not every import library names it.
HICON loadProgramIcon(int width, int height) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    static const auto loadScaledDown = reinterpret_cast<LoadIconWithScaleDownFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
    HICON icon = nullptr;
    if (loadScaledDown && SUCCEEDED(loadScaledDown(instance, MAKEINTRESOURCEW(IDI_PROGRAM), width, height, &icon)))
        return icon;
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, width, height, 0));
}

void setWindowIcons(HWND window) {
    if (HICON big = loadProgramIcon(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)))
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (HICON smallIcon = loadProgramIcon(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)))
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
}

void destroyWindowIcons(HWND window) {
    for (WPARAM kind : {ICON_BIG, ICON_SMALL})
        if (auto icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, kind, 0))) DestroyIcon(icon);
}

void setUpList(HWND list) {
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    // uxtheme.dll is no KnownDLL: taken from System32, never from beside the program.
    static const auto setTheme = systemFunction<decltype(SetWindowTheme)>(L"uxtheme.dll", "SetWindowTheme");
    if (setTheme) setTheme(list, L"Explorer", nullptr);
}

void addColumns(const WindowState& state) {
    struct Column { const wchar_t* text; int width; };
    const Column volumeColumns[] = {{L"Drive", 58}, {L"Label", 110}, {L"File system", 74}, {L"Size", 70},
                                    {L"Type", 76},  {L"Serial", 80}, {L"Status", 150}};
    const Column backupColumns[] = {{L"Created", 110}, {L"Change", 170}, {L"File", 240}};
    int index = 0;
    for (const Column& c : volumeColumns) addColumn(state.volumeList, index++, c.text, MulDiv(c.width, state.dpi, 96));
    index = 0;
    for (const Column& c : backupColumns) addColumn(state.backupList, index++, c.text, MulDiv(c.width, state.dpi, 96));
}

void setUpMenu(const WindowState& state) {
    HMENU menu = GetMenu(state.mainWindow);
    CheckMenuItem(menu, IDM_SHOW_HIDDEN, MF_BYCOMMAND | (state.showHidden ? MF_CHECKED : MF_UNCHECKED));
    if (!state.elevated) return;
    HMENU file = GetSubMenu(menu, 0);
    DeleteMenu(file, IDM_RESTART_AS_ADMIN, MF_BYCOMMAND);
    DeleteMenu(file, 0, MF_BYPOSITION);  // the separator that followed it
    DrawMenuBar(state.mainWindow);
}

void onInitDialog(WindowState& state, HWND window) {
    state.mainWindow = window;
    state.volumeList = GetDlgItem(window, IDC_VOLUME_LIST);
    state.backupList = GetDlgItem(window, IDC_BACKUP_LIST);
    state.dpi = windowDpi(window);
    state.elevated = isElevated();
    loadListSettings(state);
    setWindowIcons(window);
    SetWindowTextW(window, windowTitle(state.elevated).c_str());
    setUpList(state.volumeList);
    setUpList(state.backupList);
    addColumns(state);
    updateSortArrows(state);
    SendDlgItemMessageW(window, IDC_CURRENT_SERIAL, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    if (!state.elevated) {
        SendDlgItemMessageW(window, IDC_CHANGE, BCM_SETSHIELD, 0, TRUE);
        SendDlgItemMessageW(window, IDC_RESTORE, BCM_SETSHIELD, 0, TRUE);
    }
    RECT outer{};
    GetWindowRect(window, &outer);
    state.minTrackSize = {outer.right - outer.left, outer.bottom - outer.top};
    captureLayout(state);
    restorePlacement(state);
    setUpMenu(state);
    refreshVolumes(state);
    applyLayout(state);
}

void onDpiChanged(WindowState& state, int newDpi) {
    for (HWND list : {state.volumeList, state.backupList}) {
        const int count = Header_GetItemCount(ListView_GetHeader(list));
        for (int i = 0; i < count; ++i)
            ListView_SetColumnWidth(list, i, MulDiv(ListView_GetColumnWidth(list, i), newDpi, state.dpi));
    }
    state.minTrackSize.cx = MulDiv(state.minTrackSize.cx, newDpi, state.dpi);
    state.minTrackSize.cy = MulDiv(state.minTrackSize.cy, newDpi, state.dpi);
    state.dpi = newDpi;
    PostMessageW(state.mainWindow, kRelayoutMessage, 0, 0);
}

void onCommand(WindowState& state, int id, int code) {
    // The window is disabled then, but any program may still post it a command.
    if (state.operationRunning) return;
    switch (id) {
    case IDC_RANDOM: randomSerial(state); break;
    case IDC_FULL64:
        if (code == BN_CLICKED) onFull64Clicked(state);
        break;
    case IDC_CHANGE: changeFlow(state); break;
    case IDC_RESTORE: restoreSelectedBackup(state); break;
    case IDC_OPEN_FOLDER: openBackupFolder(state, true); break;
    case IDM_RESTORE_FROM_FILE: restoreFromFileFlow(state, false); break;
    case IDM_RECOVER_FROM_FILE: restoreFromFileFlow(state, true); break;
    case IDM_OPEN_BACKUP_FOLDER: openBackupFolder(state, false); break;
    case IDM_REFRESH: refreshVolumes(state); break;
    case IDM_EXIT: DestroyWindow(state.mainWindow); break;
    case IDM_WHAT_IS: showWhatIs(state); break;
    case IDM_ABOUT: showAbout(state); break;
    case IDM_COPY_SERIAL: copySerial(state, false); break;
    case IDM_COPY_SERIAL64: copySerial(state, true); break;
    case IDM_OPEN_IN_EXPLORER: openInExplorer(state); break;
    case IDM_SHOW_HIDDEN:
        state.showHidden = !state.showHidden;
        CheckMenuItem(GetMenu(state.mainWindow), IDM_SHOW_HIDDEN,
                      MF_BYCOMMAND | (state.showHidden ? MF_CHECKED : MF_UNCHECKED));
        refreshVolumes(state);
        break;
    case IDM_RESTART_AS_ADMIN: restartAsAdministrator(state); break;
    case IDM_COMMAND_LINE_TOOL: showCommandLineTool(state); break;
    default: break;
    }
}

void onNotify(WindowState& state, const NMHDR& header) {
    if (header.hwndFrom == state.volumeList) {
        switch (header.code) {
        case LVN_ITEMCHANGED: onVolumeItemChanged(state, reinterpret_cast<const NMLISTVIEW&>(header)); break;
        case LVN_KEYDOWN: onVolumeKeyDown(state, reinterpret_cast<const NMLVKEYDOWN&>(header)); break;
        case LVN_COLUMNCLICK: onColumnClick(state, reinterpret_cast<const NMLISTVIEW&>(header).iSubItem); break;
        case NM_DBLCLK: SetFocus(GetDlgItem(state.mainWindow, IDC_NEW_SERIAL)); break;
        default: break;
        }
    } else if (header.hwndFrom == state.backupList && header.code == NM_DBLCLK && !state.operationRunning) {
        restoreSelectedBackup(state);
    } else if (header.idFrom == IDC_WHATS_THIS && (header.code == NM_CLICK || header.code == NM_RETURN)) {
        showWhatIs(state);
    }
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        onInitDialog(*reinterpret_cast<WindowState*>(lParam), window);
        return TRUE;
    }
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!state) return FALSE;  // messages before initialisation and after destruction
    switch (message) {
    case WM_COMMAND: onCommand(*state, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_NOTIFY: onNotify(*state, *reinterpret_cast<const NMHDR*>(lParam)); return FALSE;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) != state->volumeList) return FALSE;
        showVolumeContextMenu(*state, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return TRUE;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) applyLayout(*state);  // a minimized client area is empty
        return TRUE;
    case WM_GETMINMAXINFO:
        if (state->minTrackSize.cx > 0) reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {
                state->minTrackSize.cx, state->minTrackSize.cy};
        return TRUE;
    case WM_DEVICECHANGE:
        if (wParam == 0x8000 || wParam == 0x8004)  // DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE
            SetTimer(window, kRefreshTimer, kRefreshDelayMs, nullptr);
        return TRUE;
    case WM_TIMER:
        if (wParam == kRefreshTimer) {
            KillTimer(window, kRefreshTimer);
            refreshVolumes(*state);
        }
        return TRUE;
    case WM_DPICHANGED: onDpiChanged(*state, HIWORD(wParam)); return FALSE;  // the system scales the dialog
    case kRelayoutMessage: captureLayout(*state); return TRUE;
    case WM_CLOSE:
        // While the elevated child runs, the wait loop still dispatches: closing now would leave its
        // result without a window to show it in.
        if (!state->operationRunning) DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        saveSettings(*state);
        destroyWindowIcons(window);
        PostQuitMessage(0);
        return TRUE;
    case WM_NCDESTROY: SetWindowLongPtrW(window, DWLP_USER, 0); return FALSE;
    default: return FALSE;
    }
}

}  // namespace

HWND createMainDialog(HINSTANCE instance, WindowState& state) {
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProc,
                              reinterpret_cast<LPARAM>(&state));
}

}  // namespace tlx::win
