// Dravik's entry: the elevated instance's role or the window. WinMain with GetCommandLineW, so every
// toolchain links it (not all of them know -municode).
#include <string>
#include <vector>

#include "platform/win/windows.h"

#include <commctrl.h>
#include <shellapi.h>

#include "backup/backup_folder.h"
#include "main_dialog.h"
#include "platform/win/com_scope.h"
#include "platform/win/system_library.h"
#include "win/elevated_child.h"
#include "resources/resource.h"
#include "window_state.h"

namespace {

std::vector<std::wstring> commandLineArguments() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> result;
    if (!arguments) return result;
    for (int i = 0; i < count; ++i) result.emplace_back(arguments[i]);
    LocalFree(arguments);
    return result;
}

// A current folder on a drive (the one Dravik was started from, say) keeps that drive in use.
void leaveCurrentFolder() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length != 0 && length < MAX_PATH) SetCurrentDirectoryW(system);
}

int runWindow(HINSTANCE instance, int showCommand) {
    // COM for the window's thread, for the shell calls made on it (ShellExecuteEx, the open-file dialog).
    const tlx::win::ComScope com;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS;
    InitCommonControlsEx(&controls);

    tlx::win::WindowState state;
    state.backupsFolder = tlx::defaultBackupDirectory();
    HWND window = tlx::win::createMainDialog(instance, state);
    if (!window) return 1;
    const bool normalStart = showCommand == SW_SHOWNORMAL || showCommand == SW_SHOW || showCommand == SW_SHOWDEFAULT;
    ShowWindow(window, normalStart && state.startMaximized ? SW_SHOWMAXIMIZED : showCommand);

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_MAIN));
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (accelerators && TranslateAcceleratorW(window, accelerators, &message)) continue;
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    tlx::win::restrictDllSearchToSystem32();
    leaveCurrentFolder();
    const std::vector<std::wstring> arguments = commandLineArguments();
    if (arguments.size() >= 2 && arguments[1] == L"--elevated-op") return tlx::win::runElevatedChild(arguments);
    return runWindow(instance, showCommand);
}
