#include "dialogs.h"

#include <shellapi.h>

#include <commctrl.h>

#include "dialog_texts.h"
#include "platform/system.h"
#include "platform/win/program_path.h"
#include "settings_registry.h"
#include "task_message.h"

namespace tlx::win {
namespace {

constexpr int kOpenCommandPrompt = 201;
constexpr int kOpenFolder = 202;

std::wstring programFolder() { return programFolderOf(programPath()); }

// By its full path: a cmd.exe in the current folder or on a user's PATH would run elevated.
std::wstring commandPrompt() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(system, length) + L"\\cmd.exe";
}

// Only existence counts: a file or any other kind of entry.
bool consolePresent(const std::wstring& folder) {
    return GetFileAttributesW((folder + L"\\qorin.exe").c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool shellExecute(HWND owner, const wchar_t* verb, const std::wstring& file, const std::wstring& parameters) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = verb;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}

}  // namespace

void showWhatIs(const WindowState& state) {
    TaskMessage message;
    message.title = L"What is a Volume Serial Number?";
    message.mainInstruction = message.title;
    message.content = whatIsContent();
    message.icon = TaskIcon::Information;
    message.commonButtons = TDCBF_OK_BUTTON;
    showTaskMessage(state.mainWindow, message);
}

void showAbout(const WindowState& state) {
    const std::wstring folder = programFolder();
    TaskMessage message;
    message.title = L"About";
    message.mainInstruction = std::wstring(L"Plinthos ") + kWindowVersion;
    message.content = aboutContent(folder, consolePresent(folder));
    message.links = aboutLinks(folder, consolePresent(folder));
    message.footer = aboutFooter();
    message.icon = TaskIcon::Information;
    message.commonButtons = TDCBF_OK_BUTTON;
    showTaskMessage(state.mainWindow, message);
}

void showCommandLineTool(const WindowState& state) {
    const std::wstring folder = programFolder();
    const bool present = consolePresent(folder);
    TaskMessage message;
    message.title = L"Command-Line Tool";
    message.mainInstruction = L"qorin, the command-line version, is included";
    message.content = commandLineToolContent(folder, present);
    message.icon = TaskIcon::Information;
    message.commonButtons = TDCBF_CLOSE_BUTTON;
    message.commandLinks = true;
    if (present) {
        message.buttons = {{kOpenCommandPrompt, L"Open a command prompt here\nAs administrator, since changing a "
                                                L"serial needs one"},
                           {kOpenFolder, L"Open the folder"}};
        message.defaultButton = kOpenCommandPrompt;
        message.shieldButton = state.elevated ? 0 : kOpenCommandPrompt;
    }
    switch (showTaskMessage(state.mainWindow, message)) {
    case kOpenCommandPrompt:
        // A declined elevation prompt is the user's answer, not an error.
        if (const std::wstring cmd = commandPrompt(); !cmd.empty())
            shellExecute(state.mainWindow, state.elevated ? L"open" : L"runas", cmd, commandPromptParameters(folder));
        break;
    case kOpenFolder: ShellExecuteW(state.mainWindow, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL); break;
    default: break;
    }
}

void restartAsAdministrator(WindowState& state) {
    saveSettings(state);  // the new instance opens where this one is
    if (shellExecute(state.mainWindow, L"runas", programPath(), L"")) {
        DestroyWindow(state.mainWindow);
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_CANCELLED) return;
    TaskMessage message;
    message.mainInstruction = L"Couldn't restart as administrator";
    message.content = errorText(error);
    message.icon = TaskIcon::Error;
    showTaskMessage(state.mainWindow, message);
}

}  // namespace tlx::win
