#pragma once
// Task dialogs described as values, and opening links and folders through the shell.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win/windows.h"

namespace tlx::win {

enum class TaskIcon : std::int32_t { None = 0, Information = 1, Warning = 2, Error = 3, Shield = 4 };

struct TaskButton {
    int id = 0;
    std::wstring text;
};

struct TaskMessage {
    std::wstring title;  // empty: "Plinthos"
    std::wstring mainInstruction;
    std::wstring content;  // may carry <a href="...">...</a> links, live only when named in links
    std::vector<std::wstring> links;  // the targets a click may open; none: links stay plain text
    std::wstring footer;
    TaskIcon icon = TaskIcon::None;
    std::vector<TaskButton> buttons;
    int commonButtons = 0;  // TDCBF_* flags
    int defaultButton = 0;
    int shieldButton = 0;
    bool commandLinks = false;
};

// Modal over `owner`; the id of the button that closed it, or IDCANCEL when it cannot be shown.
int showTaskMessage(HWND owner, const TaskMessage& message);
// "open" through the shell without an owner, for the program's own addresses and folders only.
void openInShell(const std::wstring& target);
// True for an existing folder (not a file).
bool isFolder(const std::wstring& path);

}  // namespace tlx::win
