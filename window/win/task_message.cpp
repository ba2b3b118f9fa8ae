#include "task_message.h"

#include <commctrl.h>
#include <shellapi.h>

namespace tlx::win {
namespace {

HRESULT CALLBACK taskCallback(HWND dialog, UINT notification, WPARAM, LPARAM lParam, LONG_PTR data) {
    const auto* message = reinterpret_cast<const TaskMessage*>(data);
    if (notification == TDN_CREATED && message->shieldButton != 0)
        SendMessageW(dialog, TDM_SET_BUTTON_ELEVATION_REQUIRED_STATE, message->shieldButton, TRUE);
    if (notification == TDN_HYPERLINK_CLICKED) {
        // Only a target the program computed itself: a text from a backup or a volume never starts anything.
        const std::wstring clicked = reinterpret_cast<const wchar_t*>(lParam);
        for (const std::wstring& link : message->links)
            if (clicked == link) openInShell(link);
    }
    return S_OK;
}

const wchar_t* iconOf(TaskIcon icon) {
    switch (icon) {
    case TaskIcon::Information: return TD_INFORMATION_ICON;
    case TaskIcon::Warning: return TD_WARNING_ICON;
    case TaskIcon::Error: return TD_ERROR_ICON;
    case TaskIcon::Shield: return TD_SHIELD_ICON;
    case TaskIcon::None: break;
    }
    return nullptr;
}

const wchar_t* textOrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

int showTaskMessage(HWND owner, const TaskMessage& message) {
    std::vector<TASKDIALOG_BUTTON> buttons;
    for (const TaskButton& button : message.buttons) buttons.push_back({button.id, button.text.c_str()});

    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.hInstance = GetModuleHandleW(nullptr);
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW | TDF_SIZE_TO_CONTENT;
    if (!message.links.empty()) config.dwFlags |= TDF_ENABLE_HYPERLINKS;
    if (message.commandLinks && !buttons.empty()) config.dwFlags |= TDF_USE_COMMAND_LINKS;
    config.dwCommonButtons = message.commonButtons;
    if (buttons.empty() && message.commonButtons == 0) config.dwCommonButtons = TDCBF_OK_BUTTON;
    config.pszWindowTitle = message.title.empty() ? L"Plinthos" : message.title.c_str();
    config.pszMainIcon = iconOf(message.icon);
    config.pszMainInstruction = textOrNull(message.mainInstruction);
    config.pszContent = textOrNull(message.content);
    if (!message.footer.empty()) {
        config.pszFooter = message.footer.c_str();
        config.pszFooterIcon = TD_INFORMATION_ICON;
    }
    config.cButtons = static_cast<UINT>(buttons.size());
    config.pButtons = buttons.empty() ? nullptr : buttons.data();
    config.nDefaultButton = message.defaultButton;
    config.pfCallback = taskCallback;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&message);

    int pressed = IDCANCEL;
    if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr))) return IDCANCEL;
    return pressed;
}

void openInShell(const std::wstring& target) {
    ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace tlx::win
