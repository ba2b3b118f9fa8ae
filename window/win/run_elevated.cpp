// The window's side of an operation: the elevated instance's launch, the wait and the read-back.
#include "win/run_elevated.h"

#include <shellapi.h>

#include <string>

#include "elevated_operation.h"
#include "platform/system.h"
#include "platform/win/program_path.h"
#include "platform/win/unique_handle.h"
#include "result_file.h"
#include "win/result_file_access.h"
#include "win/shutdown_change_window.h"

namespace tlx::win {

namespace {

std::uint32_t lastErrorOr(std::uint32_t fallback) {
    const DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

// Waits for the child while the window keeps painting and taking timers and device messages.
// A WM_QUIT taken from the queue is put back for the main loop; then the wait goes on unpumped.
void waitForChild(HWND owner, HANDLE process) {
    if (owner) EnableWindow(owner, FALSE);
    bool quit = false;
    int quitCode = 0;
    while (!quit) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1) break;  // the child ended, or the wait itself failed
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(message.wParam);
                break;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (quit) PostQuitMessage(quitCode);
    WaitForSingleObject(process, INFINITE);
    if (owner) {
        EnableWindow(owner, TRUE);
        if (!quit) SetForegroundWindow(owner);
    }
}

}  // namespace

ElevatedResult runElevated(HWND owner, const ElevatedRequest& request) {
    if (!isElevated()) return launchElevated(owner, request);
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    ShutdownChangeWindow window;
    ElevatedResult result = runOperation(request, window);
    SetCursor(previous);
    return result;
}

ElevatedResult launchElevated(HWND owner, const ElevatedRequest& request) {
    ElevatedResult result;
    wchar_t folder[MAX_PATH];
    const DWORD folderLength = GetTempPathW(MAX_PATH, folder);
    if (folderLength == 0 || folderLength >= MAX_PATH) {
        result.launchError = lastErrorOr(ERROR_PATH_NOT_FOUND);
        return result;
    }
    const std::wstring path =
        std::wstring(folder, folderLength) + resultFileName(GetCurrentProcessId(), GetTickCount64());
    CreatedResultFile created;
    if (const std::uint32_t error = createResultFile(path, created); error != 0) {
        result.launchError = error;
        return result;
    }

    const std::wstring executable = programPath();
    if (executable.empty()) {
        result.launchError = lastErrorOr(ERROR_INSUFFICIENT_BUFFER);
        static_cast<void>(takeResultFile(created));
        return result;
    }
    const std::wstring parameters = childParameters(path, request);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = executable.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info) || !info.hProcess) {
        const std::uint32_t error = lastErrorOr(ERROR_GEN_FAILURE);
        static_cast<void>(takeResultFile(created));
        result.launchError = error;
        result.cancelled = error == ERROR_CANCELLED;
        return result;
    }
    KernelHandle process(info.hProcess);
    waitForChild(owner, process.get());
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 0;
    process.reset();

    static_cast<void>(readChildResult(exitCode, takeResultFile(created), result));
    return result;
}

}  // namespace tlx::win
